#include "platform/FileNames.h"

#include <algorithm>

namespace {

constexpr char16_t kEscapeBase = 0xDC00;
constexpr char16_t kFirstEscape = 0xDC80;
constexpr char16_t kLastEscape = 0xDCFF;

bool isAscii(QByteArrayView bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool isContinuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

// The length of the well-formed UTF-8 sequence at `at` (Unicode's table of
// well-formed byte sequences: no overlong forms, no surrogates, nothing past
// U+10FFFF) and its code point; 0 when there is none.
int sequenceAt(QByteArrayView bytes, qsizetype at, char32_t* codePoint)
{
    const auto byte = [&](qsizetype i) { return static_cast<unsigned char>(bytes[at + i]); };
    const unsigned char lead = byte(0);
    const qsizetype left = bytes.size() - at;
    int length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (left < length || byte(1) < low || byte(1) > high)
        return 0;
    char32_t value = lead & (0x7F >> length);
    for (int i = 1; i < length; ++i) {
        if (!isContinuation(byte(i)))
            return 0;
        value = value << 6 | (byte(i) & 0x3F);
    }
    *codePoint = value;
    return length;
}

} // namespace

namespace FileNames {

QString decode(QByteArrayView bytes)
{
    if (isAscii(bytes))
        return QString::fromLatin1(bytes);
    QString text;
    text.reserve(bytes.size());
    for (qsizetype at = 0; at < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[at]);
        char32_t codePoint = 0;
        if (lead < 0x80) {
            text.append(QChar(static_cast<char16_t>(lead)));
            ++at;
        } else if (const int length = sequenceAt(bytes, at, &codePoint)) {
            text.append(QChar::fromUcs4(codePoint));
            at += length;
        } else {
            text.append(QChar(static_cast<char16_t>(kEscapeBase + lead)));
            ++at;
        }
    }
    return text;
}

QByteArray encode(QStringView name)
{
    // An escape is a low surrogate that no high surrogate pairs with: the
    // second half of a character past U+FFFF may have the same value.
    const auto escapeAt = [&](qsizetype i) {
        const char16_t c = name[i].unicode();
        return c >= kFirstEscape && c <= kLastEscape && (i == 0 || !name[i - 1].isHighSurrogate());
    };
    QByteArray bytes;
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (!escapeAt(i))
            continue;
        if (bytes.isEmpty())
            bytes.reserve(name.size() * 3);
        bytes += name.mid(runStart, i - runStart).toUtf8();
        bytes += static_cast<char>(name[i].unicode() - kEscapeBase);
        runStart = i + 1;
    }
    if (runStart == 0)
        return name.toUtf8();
    bytes += name.mid(runStart).toUtf8();
    return bytes;
}

} // namespace FileNames
