#include "engine/extract/NameDecoder.h"

#include <QStringDecoder>
#include <algorithm>
#include <cerrno>
#include <iconv.h>
#include <optional>
#include <uchardet/uchardet.h>

namespace {

// Code pages whose detection is trusted when the detector names them.
const char* const kCjkFromDetector[]
    = { "GB18030", "GB2312", "GBK", "BIG5", "SHIFT_JIS", "EUC-JP", "EUC-KR", "UHC", "EUC-TW" };
const char* const kNonLatinFromDetector[] = { "IBM866", "IBM855", "WINDOWS-1251", "KOI8-R", "ISO-8859-5",
    "MAC-CYRILLIC", "ISO-8859-7", "WINDOWS-1253", "ISO-8859-8", "WINDOWS-1255", "TIS-620" };

// The superset iconv should decode with, for a name the detector gives.
QByteArray supersetOf(const QByteArray& detected)
{
    if (detected == "GB2312" || detected == "GBK")
        return "GB18030";
    if (detected == "SHIFT_JIS")
        return "CP932";
    if (detected == "EUC-KR" || detected == "UHC")
        return "CP949";
    if (detected == "BIG5")
        return "CP950";
    return detected;
}

class Iconv final {
public:
    explicit Iconv(const QByteArray& from)
        : m_cd(iconv_open("UTF-8", from.constData()))
    {
    }
    ~Iconv()
    {
        if (ok())
            iconv_close(m_cd);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    bool ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    // Strict conversion: no value on any invalid or incomplete sequence.
    std::optional<QByteArray> convert(const QByteArray& in)
    {
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        QByteArray out(in.size() * 4 + 16, Qt::Uninitialized);
        char* src = const_cast<char*>(in.constData());
        size_t srcLeft = static_cast<size_t>(in.size());
        char* dst = out.data();
        size_t dstLeft = static_cast<size_t>(out.size());
        if (iconv(m_cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1))
            return std::nullopt;
        if (iconv(m_cd, nullptr, nullptr, &dst, &dstLeft) == static_cast<size_t>(-1))
            return std::nullopt;
        out.truncate(out.size() - static_cast<qsizetype>(dstLeft));
        return out;
    }

private:
    iconv_t m_cd;
};

bool hasPrivateUse(const QString& text)
{
    return std::any_of(
        text.cbegin(), text.cend(), [](QChar c) { return c.unicode() >= 0xE000 && c.unicode() <= 0xF8FF; });
}

// GB18030 accepts almost any run of high bytes. Names from a Chinese system
// use mostly the characters and punctuation of GB2312 (lead 0xB0-0xF7 or
// 0xA1-0xA3, trail 0xA1-0xFE); Cyrillic or other single-byte text read as GB18030 does not.
bool readsAsChinese(const QByteArray& bytes)
{
    int pairs = 0;
    int common = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto lead = static_cast<unsigned char>(bytes.at(i));
        if (lead < 0x80)
            continue;
        if (i + 1 >= bytes.size())
            return false;
        const auto trail = static_cast<unsigned char>(bytes.at(i + 1));
        if (trail >= 0x30 && trail <= 0x39) { // four-byte sequence: rare in names
            i += 3;
            ++pairs;
            continue;
        }
        ++pairs;
        common += ((lead >= 0xB0 && lead <= 0xF7) || (lead >= 0xA1 && lead <= 0xA3)) && trail >= 0xA1;
        ++i;
    }
    return pairs > 0 && common * 2 >= pairs;
}

bool decodesAll(const QByteArray& codePage, const QByteArray& joined)
{
    Iconv iconv(codePage);
    if (!iconv.ok())
        return false;
    const std::optional<QByteArray> utf8 = iconv.convert(joined);
    return utf8 && !hasPrivateUse(QString::fromUtf8(*utf8));
}

QByteArray detectorGuess(const QByteArray& joined)
{
    uchardet_t detector = uchardet_new();
    uchardet_handle_data(
        detector, joined.constData(), static_cast<size_t>(std::min<qsizetype>(joined.size(), 1 << 20)));
    uchardet_data_end(detector);
    const QByteArray guess = QByteArray(uchardet_get_charset(detector)).toUpper();
    uchardet_delete(detector);
    return guess;
}

} // namespace

struct NameDecoder::Converter {
    explicit Converter(const QByteArray& codePage)
        : iconv(codePage)
    {
    }
    Iconv iconv;
};

QByteArray NameDecoder::detect(const QList<QByteArray>& names)
{
    QByteArray joined;
    for (const QByteArray& name : names) {
        const bool ascii
            = std::all_of(name.cbegin(), name.cend(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        if (!ascii)
            joined += name + '\n';
    }
    if (joined.isEmpty())
        return "UTF-8";
    {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString decoded = utf8.decode(joined); // the conversion runs only when assigned
        if (!utf8.hasError())
            return "UTF-8";
    }
    const QByteArray guess = detectorGuess(joined);
    for (const char* cjk : kCjkFromDetector) {
        if (guess == cjk && decodesAll(supersetOf(guess), joined))
            return supersetOf(guess);
    }
    if (readsAsChinese(joined) && decodesAll("GB18030", joined))
        return "GB18030";
    for (const char* fallback : { "CP950", "CP932", "CP949" }) {
        if (decodesAll(fallback, joined))
            return fallback;
    }
    for (const char* other : kNonLatinFromDetector) {
        if (guess == other && decodesAll(guess, joined))
            return guess;
    }
    return "CP437";
}

NameDecoder::NameDecoder(const QByteArray& codePage)
    : m_codePage(codePage)
    , m_converter(codePage == "UTF-8" ? nullptr : std::make_unique<Converter>(codePage))
{
}

NameDecoder::~NameDecoder() = default;

QString NameDecoder::decode(const QByteArray& name) const
{
    if (m_converter && m_converter->iconv.ok()) {
        if (const std::optional<QByteArray> utf8 = m_converter->iconv.convert(name))
            return QString::fromUtf8(*utf8);
    }
    return QString::fromUtf8(name);
}
