#pragma once

#include <QObject>
#include <QString>
#include <deque>
#include <optional>

struct Notification;

// Opens one entry of an archive: extracts it alone, with every rule of an
// extraction, into a new folder inside PreviewFolder, makes the file
// read-only and hands it to the desktop's application for its type. No
// progress sheet; the engine's toasts tell a failure, and the password
// sheet comes up when the entry needs a password nobody knows yet. One
// entry at a time: a request while one runs waits for it. Main thread only.
class EntryOpener final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(EntryOpener)

public:
    explicit EntryOpener(QObject* parent = nullptr);
    ~EntryOpener() override;

    // Opens the entry at listing position `entry` of `entries`.
    void open(const QString& archive, qsizetype entries, qsizetype entry, const std::optional<QString>& password);
    bool isBusy() const { return m_running.has_value(); }

    // The key of the opener's jobs: the archive's path with "./" before its
    // name. It names the same file, but never the key of a job the progress
    // sheet follows, which notifications would otherwise mix up.
    static QString jobKey(const QString& archive);

signals:
    // The entry is on the disk as `file` and was handed to the desktop.
    void opened(const QString& file);
    // The job ended without a file to open (also when cancelled).
    void failed();

private:
    struct Request {
        QString archive;
        qsizetype entries = 0;
        qsizetype entry = 0;
        std::optional<QString> password;
        QString folder;
    };
    void startNext();
    void onJobEnd(const Notification& notification);
    static QString extractedFile(const QString& folder);

    std::deque<Request> m_waiting;
    std::optional<Request> m_running;
};
