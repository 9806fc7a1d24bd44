#include "app/LaunchArguments.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QUrl>
#include <unistd.h>

namespace {

const QString kDocuments = QStringLiteral("documents");
const QString kAction = QStringLiteral("action");
const QString kRefused = QStringLiteral("refused");

// A path as the system spells it, or nothing when its bytes do not survive
// the trip through text (not valid in the file-name encoding): acting on
// the decoded text would act on another file.
std::optional<QString> faithfulPath(const QByteArray& bytes)
{
    const QString text = QFile::decodeName(bytes);
    if (QFile::encodeName(text) != bytes)
        return std::nullopt;
    return text;
}

// File managers hand over paths (%F); some pass "file://" addresses, whose
// escapes stand for bytes.
QByteArray pathBytes(const QByteArray& argument)
{
    if (!argument.startsWith("file://"))
        return argument;
    QByteArray rest = argument.mid(7);
    if (rest.startsWith("localhost/"))
        rest = rest.mid(9);
    return QByteArray::fromPercentEncoding(rest);
}

} // namespace

LaunchArguments LaunchArguments::parse(const QList<QByteArray>& arguments, const QByteArray& workingFolder)
{
    LaunchArguments parsed;
    bool options = true;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QByteArray& argument = arguments.at(i);
        if (options && argument == "--") {
            options = false;
            continue;
        }
        if (options && i == 0 && argument == "--extract-here") {
            parsed.action = Action::ExtractHere;
            continue;
        }
        if (options && i == 0 && argument == "--compress") {
            parsed.action = Action::Compress;
            continue;
        }
        if (argument.isEmpty())
            continue; // names nothing
        QByteArray bytes = pathBytes(argument);
        if (!bytes.startsWith('/'))
            bytes = workingFolder + '/' + bytes;
        if (const std::optional<QString> path = faithfulPath(bytes))
            parsed.paths.append(QDir::cleanPath(*path));
        else
            parsed.refused.append(QString::fromLatin1(argument.toPercentEncoding("/ ")));
    }
    return parsed;
}

LaunchArguments LaunchArguments::fromArgv(int argc, char** argv)
{
    QList<QByteArray> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QByteArray(argv[i]));
    QByteArray folder(4096, '\0');
    if (!::getcwd(folder.data(), static_cast<size_t>(folder.size())))
        folder = QFile::encodeName(QDir::currentPath());
    folder.truncate(static_cast<qsizetype>(qstrlen(folder.constData())));
    return parse(arguments, folder);
}

QString LaunchArguments::actionName(Action action)
{
    switch (action) {
    case Action::Open:
        return QStringLiteral("open");
    case Action::ExtractHere:
        return QStringLiteral("extract-here");
    case Action::Compress:
        return QStringLiteral("compress");
    }
    return QStringLiteral("open");
}

QJsonObject LaunchArguments::toJson() const
{
    QJsonObject message;
    message.insert(kDocuments, QJsonArray::fromStringList(paths));
    // A running Zavrin of an older build knows only documents: it opens them.
    if (action != Action::Open)
        message.insert(kAction, actionName(action));
    if (!refused.isEmpty())
        message.insert(kRefused, QJsonArray::fromStringList(refused));
    return message;
}

LaunchArguments LaunchArguments::fromJson(const QJsonObject& message)
{
    LaunchArguments parsed;
    const QString action = message.value(kAction).toString();
    for (Action known : { Action::ExtractHere, Action::Compress }) {
        if (action == actionName(known))
            parsed.action = known;
    }
    for (const QJsonValue& value : message.value(kDocuments).toArray()) {
        // Only absolute paths: the sender's working folder is not ours.
        if (value.isString() && QDir::isAbsolutePath(value.toString()))
            parsed.paths.append(value.toString());
    }
    for (const QJsonValue& value : message.value(kRefused).toArray())
        parsed.refused.append(value.toString());
    return parsed;
}
