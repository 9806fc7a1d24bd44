#pragma once

#include "app/LaunchArguments.h"

#include <QList>
#include <optional>

// What the file manager asked for while the home screen was busy (a sheet,
// a job, a panel, the feedback window, or the window not yet on screen),
// kept in order until the home screen can take it. One request is one
// sheet: an archive to open, an archive to extract beside itself, or the
// items of one archive to make. A request already waiting is not queued
// twice. Main thread only.
class DocumentQueue final {
public:
    struct Request {
        LaunchArguments::Action action = LaunchArguments::Action::Open;
        QStringList paths;
        bool operator==(const Request& other) const = default;
    };

    // The sheets a launch asks for: the first document to open, each
    // archive to extract, all the items to pack together.
    static QList<Request> requestsOf(const LaunchArguments& launch);

    // False when the same request is already waiting.
    bool enqueue(const Request& request);
    std::optional<Request> takeNext();
    bool isEmpty() const { return m_waiting.isEmpty(); }
    qsizetype size() const { return m_waiting.size(); }

private:
    QList<Request> m_waiting;
};
