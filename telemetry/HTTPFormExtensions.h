#pragma once

#include <QString>
#include <QVariantMap>

// The form encoding of analytics hits: "key=value" pairs joined by "&".
class HTTPFormExtensions final {
public:
    // Encodes `dictionary` in its own key order (QVariantMap keeps its keys
    // sorted). Numbers are written in their decimal text form, booleans as
    // "1" or "0", maps and lists as compact JSON text; everything else through
    // its text form. Keys and values are escaped by `escape`. An empty map
    // gives an empty text. Pure; callable from any thread.
    static QString stringAsWWWURLEncodedFormFromDictionary(const QVariantMap& dictionary);

    // Percent-escapes `text` as UTF-8 with upper-case hexadecimal digits:
    // everything outside the URI characters of RFC 2396 (letters, digits,
    // "-_.!~*'()" and ";/?:@=$,"), plus "&" and "+", which would otherwise
    // split or alter a pair. "%" and "#" are escaped too.
    static QString escape(const QString& text);

    // The text a hit value is written as, before escaping.
    static QString textForValue(const QVariant& value);
};
