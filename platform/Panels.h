#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// File panels and the password sheet. Every request returns at once and
// answers later through its completion, on the main thread; a panel never
// blocks the caller. The application shows Qt dialogs, the command-line front
// end asks on the terminal, and tests answer from a script.
class Panels {
public:
    struct OpenRequest {
        bool canChooseFiles = true;
        bool canChooseDirectories = false;
        bool allowsMultipleSelection = false;
        bool canCreateDirectories = false;
        QStringList allowedExtensions; // empty: any file
        QString directory; // start folder; empty: the panel's own choice
    };
    struct SaveRequest {
        QString directory;
        QString fileName;
        QStringList allowedExtensions;
    };
    struct PasswordRequest {
        QString message; // already localised
        QString archivePath; // the archive asking; for the front ends' own use
    };

    // Chosen paths, in the panel's order; empty when cancelled.
    using PathsCompletion = std::function<void(const QStringList& paths)>;
    // The chosen path; empty when cancelled.
    using PathCompletion = std::function<void(const QString& path)>;
    // The typed text (possibly empty) on confirm; no value on cancel.
    using PasswordCompletion = std::function<void(const std::optional<QString>& password)>;

    virtual ~Panels();

    virtual void open(const OpenRequest& request, PathsCompletion completion) = 0;
    virtual void save(const SaveRequest& request, PathCompletion completion) = 0;
    virtual void askPassword(const PasswordRequest& request, PasswordCompletion completion) = 0;

    // The panels in use. Main thread only; the installed object is not owned.
    static Panels& shared();
    static void setShared(Panels* panels);
};
