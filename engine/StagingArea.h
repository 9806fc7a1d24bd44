#pragma once

#include <QString>

// Where compression jobs gather the chosen items: one staging folder per
// archive name, holding one symbolic link per item, inside a folder of the
// temporary directory that belongs to the user alone. The temporary
// directory is shared by every user, so the private folder is checked to be
// a real folder of ours that nobody else may enter; otherwise another user
// could plant or swap what gets packed. Any thread; errors come back as
// descriptions for the log.
class StagingArea final {
public:
    // "<temp>/zavrin-<uid>", made with mode 0700 when missing. Empty, with
    // `error` set, when it is a link, not a folder, or another user's.
    static QString privateRoot(QString* error);
    // The staging folder's name for an archive: its file name without the
    // extension ("Archive.zip" -> "Archive"), never empty, "." or "..".
    static QString folderName(const QString& archivePath);

    static bool exists(const QString& path);
    // Removes the item at `path` with everything in it; links are removed,
    // never followed.
    static bool removeItem(const QString& path, QString* error);
    // Makes the folder itself (its parent must exist), mode 0700.
    static bool createFolder(const QString& path, QString* error);
    // Places in `folder` a link to `item` (made absolute) named by the
    // item's last path component. Fails when the item cannot be found or
    // the name is already taken.
    static bool linkItem(const QString& item, const QString& folder, QString* error);
};
