#pragma once

#include <QString>
#include <QUrl>

// The desktop's file manager and URL handlers. Calls return at once and never
// fail loudly: the outcome is logged. Main thread only.
class Workspace {
public:
    virtual ~Workspace();

    // Shows a folder's contents, or a file selected in its folder, in the
    // file manager (org.freedesktop.FileManager1 over D-Bus); without D-Bus,
    // opens the folder (or the file's folder) with the desktop's handler.
    virtual void openInFileManager(const QString& path);
    // Opens an address with the desktop's handler; false when no handler
    // could be started.
    virtual bool openUrl(const QUrl& url);

    static Workspace& shared();
    // Replaces the shared workspace (tests); the object is not owned, null restores the default.
    static void setShared(Workspace* workspace);
};
