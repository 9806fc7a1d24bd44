// Legacy zip names: the input is a list of names separated by NUL bytes (a
// zip name cannot hold one). Whatever code page is chosen for the list, every
// name of it must decode in that code page, and plain ASCII must stay as it is.
#include "engine/extract/NameDecoder.h"
#include "fuzz/FuzzSupport.h"

#include <QStringDecoder>
#include <algorithm>
#include <iconv.h>

namespace {

bool isAscii(const QByteArray& bytes)
{
    return std::all_of(bytes.cbegin(), bytes.cend(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The name in `codePage`, converted strictly; no value when iconv refuses it.
std::optional<QString> strictly(const QByteArray& codePage, const QByteArray& name)
{
    const iconv_t cd = iconv_open("UTF-8", codePage.constData());
    FUZZ_CHECK(
        cd != reinterpret_cast<iconv_t>(-1), "the chosen code page %s is unknown to iconv", codePage.constData());
    QByteArray out(name.size() * 8 + 16, Qt::Uninitialized);
    char* src = const_cast<char*>(name.constData());
    size_t srcLeft = static_cast<size_t>(name.size());
    char* dst = out.data();
    size_t dstLeft = static_cast<size_t>(out.size());
    const bool ok = iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<size_t>(-1)
        && iconv(cd, nullptr, nullptr, &dst, &dstLeft) != static_cast<size_t>(-1);
    iconv_close(cd);
    if (!ok)
        return std::nullopt;
    out.truncate(out.size() - static_cast<qsizetype>(dstLeft));
    return QString::fromUtf8(out);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::quietLogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayList names
        = QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)).split('\0');
    const QByteArray codePage = NameDecoder::detect(names);
    const NameDecoder decoder(codePage);
    for (const QByteArray& name : names) {
        const QString decoded = decoder.decode(name);
        if (isAscii(name)) {
            FUZZ_CHECK(decoded == QString::fromLatin1(name), "ASCII changed in %s", codePage.constData());
            continue;
        }
        if (codePage == "UTF-8") {
            QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            const QString expected = utf8.decode(name);
            FUZZ_CHECK(!utf8.hasError(), "UTF-8 chosen for a name that is not UTF-8");
            FUZZ_CHECK(decoded == expected, "a UTF-8 name decoded differently");
            continue;
        }
        const std::optional<QString> expected = strictly(codePage, name);
        FUZZ_CHECK(expected.has_value(), "%s chosen for a name that does not decode in it", codePage.constData());
        FUZZ_CHECK(decoded == *expected, "a name decoded differently from %s", codePage.constData());
    }
    return 0;
}
