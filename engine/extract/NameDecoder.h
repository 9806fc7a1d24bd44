#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <memory>

// Decodes entry names that an archive stores without declaring their
// encoding (zip entries without the UTF-8 flag). One code page is chosen for
// all names of an archive together, because single short names are too
// little to go on: valid UTF-8 first, then the detector's choice when it
// names a CJK code page, then GB18030 (when it reads as Chinese), Big5,
// Shift_JIS and Korean, then a non-Latin code page the detector named, and
// CP437, the zip format's own default, last. Conversion goes through iconv.
class NameDecoder final {
public:
    // Chooses the code page (an iconv name) for `names`; pure ASCII names may
    // be left out. Thread-safe.
    static QByteArray detect(const QList<QByteArray>& names);

    explicit NameDecoder(const QByteArray& codePage);
    ~NameDecoder();
    NameDecoder(const NameDecoder&) = delete;
    NameDecoder& operator=(const NameDecoder&) = delete;

    QByteArray codePage() const { return m_codePage; }
    // Decodes one name; invalid bytes become U+FFFD.
    QString decode(const QByteArray& name) const;

private:
    struct Converter;
    QByteArray m_codePage;
    std::unique_ptr<Converter> m_converter;
};
