#include "app/cli/ListCommand.h"

#include "app/cli/CommandHelpers.h"
#include "app/cli/CommandLine.h"
#include "engine/ArchiveListing.h"
#include "engine/ZipManager.h"
#include "platform/Bundle.h"
#include "platform/Panels.h"

#include <QDateTime>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

namespace {

using Listing = std::shared_ptr<const ArchiveListing>;

Outcome listOnce(const QString& archive, const std::optional<QString>& password, Listing* listing)
{
    QEventLoop loop;
    Outcome result;
    ZipManager::shared().list(archive, password, {}, [&](const Outcome& outcome, Listing list) {
        result = outcome;
        *listing = std::move(list);
        loop.quit();
    });
    loop.exec();
    return result;
}

std::optional<QString> askPassword(const QString& archive)
{
    QEventLoop loop;
    std::optional<QString> answer;
    Panels::PasswordRequest request;
    request.message = L(QStringLiteral("请输入解压密码"));
    request.archivePath = archive;
    Panels::shared().askPassword(request, [&](const std::optional<QString>& password) {
        answer = password;
        loop.quit();
    });
    loop.exec();
    return answer;
}

const char* kindName(ArchiveEntry::Kind kind)
{
    switch (kind) {
    case ArchiveEntry::Kind::Folder:
        return "folder";
    case ArchiveEntry::Kind::Link:
        return "link";
    case ArchiveEntry::Kind::HardLink:
        return "hardlink";
    case ArchiveEntry::Kind::Special:
        return "special";
    case ArchiveEntry::Kind::File:
        break;
    }
    return "file";
}

QString modified(const ArchiveListing& listing, qsizetype i)
{
    const std::optional<qint64> seconds = listing.modified(i);
    return seconds ? QDateTime::fromSecsSinceEpoch(*seconds, Qt::UTC).toString(Qt::ISODate) : QString();
}

void printJson(const ArchiveListing& listing)
{
    // A row at a time: a listing may hold millions of entries.
    std::fputs("[", stdout);
    for (qsizetype i = 0; i < listing.size(); ++i) {
        QJsonObject row { { QStringLiteral("path"), listing.path(i) },
            { QStringLiteral("type"), QString::fromLatin1(kindName(listing.kind(i))) },
            { QStringLiteral("size"), listing.size(i) }, { QStringLiteral("packedSize"), listing.packedSize(i) },
            { QStringLiteral("encrypted"), listing.encrypted(i) } };
        if (const QString time = modified(listing, i); !time.isEmpty())
            row.insert(QStringLiteral("modified"), time);
        std::fputs(i == 0 ? "\n  " : ",\n  ", stdout);
        std::fputs(QJsonDocument(row).toJson(QJsonDocument::Compact).constData(), stdout);
    }
    std::fputs("\n]\n", stdout);
}

void printColumns(const ArchiveListing& listing)
{
    const auto number = [](qint64 value) { return value < 0 ? QByteArray("-") : QByteArray::number(value); };
    for (qsizetype i = 0; i < listing.size(); ++i) {
        const QByteArray time = modified(listing, i).toUtf8();
        std::printf("%-8s %12s %12s %-20s %s %s\n", kindName(listing.kind(i)), number(listing.size(i)).constData(),
            number(listing.packedSize(i)).constData(), time.isEmpty() ? "-" : time.constData(),
            listing.encrypted(i) ? "*" : " ", listing.pathBytes(i).toByteArray().constData());
    }
}

} // namespace

namespace Cli {

Outcome listArchive(const QString& archive, Listing* listing)
{
    Outcome result = listOnce(archive, std::nullopt, listing);
    if (result.status == Outcome::Status::WrongPassword) {
        const std::optional<QString> password = askPassword(archive);
        if (!password)
            return { .status = Outcome::Status::WrongPassword, .message = QStringLiteral("the names are encrypted") };
        result = listOnce(archive, password, listing);
    }
    if (result.status == Outcome::Status::Unsupported)
        result.status = Outcome::Status::Usage;
    return result;
}

int runList(const CommandLine& line)
{
    if (!QFileInfo(line.archive).isFile())
        return usageError(QStringLiteral("no such archive: ") + line.archive);
    Listing listing;
    const Outcome listed = listArchive(QFileInfo(line.archive).absoluteFilePath(), &listing);
    if (listed.status == Outcome::Status::Usage)
        return usageError(QStringLiteral("not an archive of a format Zavrin reads: ") + line.archive);
    if (!listed.ok()) {
        std::fprintf(stderr, "zavrin-cli: %s\n", qUtf8Printable(listed.message));
        return 1;
    }
    if (line.json)
        printJson(*listing);
    else
        printColumns(*listing);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

} // namespace Cli
