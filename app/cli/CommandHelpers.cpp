#include "app/cli/CommandHelpers.h"

#include "platform/Interrupts.h"

#include <QStringDecoder>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace Cli {

namespace {

// Non-ASCII and control bytes as \xHH, so that the message itself is text.
QString escaped(const QByteArray& bytes)
{
    QString text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F)
            text += QLatin1Char(c);
        else
            text += QStringLiteral("\\x") + QString::number(byte, 16).rightJustified(2, u'0').toUpper();
    }
    return text;
}

} // namespace

int usageError(const QString& message)
{
    std::fprintf(stderr, "zavrin-cli: %s\n", qUtf8Printable(message));
    return kUsageStatus;
}

Outcome decodeUtf8(const QByteArray& bytes, QString* text)
{
    // A byte order mark at the start is part of the name, not to be dropped.
    QStringDecoder decoder(
        QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString decoded = decoder.decode(bytes);
    if (decoder.hasError())
        return { .status = Outcome::Status::Usage,
            .message = escaped(bytes)
                + QStringLiteral(": not valid UTF-8; names and passwords in other encodings are not supported") };
    *text = std::move(decoded);
    return {};
}

Outcome checkCurrentFolder()
{
    QByteArray folder(4096, '\0');
    while (!::getcwd(folder.data(), static_cast<size_t>(folder.size()))) {
        // Gone, or unreachable: the commands find that out themselves.
        if (errno != ERANGE)
            return {};
        folder.resize(folder.size() * 2);
    }
    folder.truncate(static_cast<qsizetype>(std::strlen(folder.constData())));
    QString text;
    const Outcome decoded = decodeUtf8(folder, &text);
    return decoded.ok() ? decoded
                        : Outcome { .status = Outcome::Status::Usage,
                              .message = QStringLiteral("the current folder: ") + decoded.message };
}

Outcome readPassword(int fd, QString* password)
{
    std::optional<QByteArray> line = Interrupts::readLine(fd);
    if (!line)
        return { .status = Outcome::Status::Cancelled, .message = QStringLiteral("no password given") };
    if (line->endsWith('\r'))
        line->chop(1);
    if (line->contains('\0'))
        return { .status = Outcome::Status::Usage,
            .message = QStringLiteral("the password holds a NUL character, which archives cannot keep") };
    QString text;
    if (const Outcome decoded = decodeUtf8(*line, &text); !decoded.ok())
        return { .status = Outcome::Status::Usage,
            .message = QStringLiteral("the password is not valid UTF-8, which archives cannot keep reliably") };
    *password = std::move(text);
    return {};
}

} // namespace Cli
