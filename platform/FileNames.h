#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// File names as the system stores them (any bytes but '/' and NUL) and as
// text, without losing a byte either way. Valid UTF-8 reads as usual; each
// byte that is not part of a valid UTF-8 sequence (a Latin-1 or GBK name,
// say) reads as the lone surrogate U+DC00 + byte, U+DC80 to U+DCFF, as
// Python's "surrogateescape" does, and is written back as that byte. Plain
// functions, any thread.
namespace FileNames {

// The text for the name `bytes`; encode() gives the same bytes back.
QString decode(QByteArrayView bytes);
// The bytes for `name`: UTF-8, except that U+DC80 to U+DCFF become the byte
// they stand for. Any other lone surrogate (never made by decode()) is
// written as QString::toUtf8() writes it, as "?".
QByteArray encode(QStringView name);

} // namespace FileNames
