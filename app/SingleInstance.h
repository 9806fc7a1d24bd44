#pragma once

#include "app/LaunchArguments.h"

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QStringList>
#include <memory>

// Keeps one running Zavrin per user and display. The first launch becomes
// the primary: it holds a lock file and listens on a local socket beside it,
// both in the user's private runtime folder. A later launch hands its
// documents to the primary over the socket and should then exit. The lock
// names a live process, so the socket and lock left by a crashed primary are
// taken over by the next launch. Main thread only.
class SingleInstance final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SingleInstance)

public:
    enum class Role {
        Primary, // this process serves later launches
        HandedOver, // the running primary took the documents
        Standalone, // no primary could be reached or become: run on our own
    };

    explicit SingleInstance(QObject* parent = nullptr);
    ~SingleInstance() override;

    // Becomes the primary, or hands `launch` (absolute paths and what to do
    // with them) to the running one. Needs the application object, whose
    // platform tells the display apart. Waits at most about three seconds
    // for a primary that is starting or stopping; never fails the launch.
    Role start(const LaunchArguments& launch);

    // "<runtime folder>/app.zavrin.Zavrin-<display>" without the suffixes
    // ".socket" and ".lock"; empty when no private folder can be had.
    static QString basePath();

signals:
    // A later launch's request, possibly without documents (the user
    // started the program again: the window should come forward).
    void launchReceived(const LaunchArguments& launch);

private:
    bool becomePrimary(const QString& socketPath);
    static bool handOver(const QString& socketPath, const LaunchArguments& launch);
    void onNewConnection();

    std::unique_ptr<QLockFile> m_lock;
    QLocalServer m_server;
};
