#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QStringList>

// What one launch of "zavrin" asks for, read from its command line:
//   zavrin FILE...                    open (the first) archive for extraction
//   zavrin --extract-here ARCHIVE...  extract each beside itself
//   zavrin --compress ITEM...         set up an archive of the items
// Arguments are read as the bytes they are: a path that is not valid text
// in the file-name encoding is refused, never acted on under another name.
struct LaunchArguments final {
    enum class Action {
        Open,
        ExtractHere,
        Compress,
    };

    Action action = Action::Open;
    QStringList paths; // absolute, each naming exactly the file given
    QStringList refused; // arguments refused, escaped for the log

    // `arguments` are argv after the program name (Qt's own options taken
    // out). Relative paths are resolved against `workingFolder` (bytes).
    static LaunchArguments parse(const QList<QByteArray>& arguments, const QByteArray& workingFolder);
    // The same from the process's argv and working folder.
    static LaunchArguments fromArgv(int argc, char** argv);

    // The message a later launch hands to the running one, and back.
    QJsonObject toJson() const;
    static LaunchArguments fromJson(const QJsonObject& message);

    static QString actionName(Action action);
};
