#pragma once

#include "platform/Panels.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <deque>
#include <optional>

// Answers panels and password sheets from a script, on the main thread, in
// the order queued. A request with nothing queued is cancelled. Every request
// is recorded so that tests can tell what was asked.
class ScriptedPanels final : public Panels {
public:
    ScriptedPanels();
    ~ScriptedPanels() override;

    void queueOpen(const QStringList& paths);
    void queueOpen(const QString& path) { queueOpen(QStringList { path }); }
    void queueSave(const QString& path);
    void queuePassword(const QString& password);
    void queueCancel();

    void open(const OpenRequest& request, PathsCompletion completion) override;
    void save(const SaveRequest& request, PathCompletion completion) override;
    void askPassword(const PasswordRequest& request, PasswordCompletion completion) override;

    QList<OpenRequest> openRequests;
    QList<SaveRequest> saveRequests;
    QList<PasswordRequest> passwordRequests;
    int pending() const { return static_cast<int>(m_answers.size()); }

private:
    struct Answer {
        bool cancel = true;
        QStringList paths;
        std::optional<QString> password;
    };
    Answer next();

    std::deque<Answer> m_answers;
};
