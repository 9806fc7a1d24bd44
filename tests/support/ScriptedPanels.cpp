#include "tests/support/ScriptedPanels.h"

#include "platform/MainQueue.h"

ScriptedPanels::ScriptedPanels()
{
    Panels::setShared(this);
}

ScriptedPanels::~ScriptedPanels()
{
    Panels::setShared(nullptr);
}

void ScriptedPanels::queueOpen(const QStringList& paths)
{
    m_answers.push_back({ false, paths, std::nullopt });
}
void ScriptedPanels::queueSave(const QString& path)
{
    m_answers.push_back({ false, { path }, std::nullopt });
}
void ScriptedPanels::queuePassword(const QString& password)
{
    m_answers.push_back({ false, {}, password });
}
void ScriptedPanels::queueCancel()
{
    m_answers.push_back({});
}

ScriptedPanels::Answer ScriptedPanels::next()
{
    if (m_answers.empty())
        return {};
    Answer answer = m_answers.front();
    m_answers.pop_front();
    return answer;
}

void ScriptedPanels::open(const OpenRequest& request, PathsCompletion completion)
{
    openRequests.append(request);
    const Answer answer = next();
    const QStringList paths = answer.cancel ? QStringList() : answer.paths;
    MainQueue::async([completion = std::move(completion), paths] { completion(paths); });
}

void ScriptedPanels::save(const SaveRequest& request, PathCompletion completion)
{
    saveRequests.append(request);
    const Answer answer = next();
    const QString path = answer.cancel ? QString() : answer.paths.value(0);
    MainQueue::async([completion = std::move(completion), path] { completion(path); });
}

void ScriptedPanels::askPassword(const PasswordRequest& request, PasswordCompletion completion)
{
    passwordRequests.append(request);
    const Answer answer = next();
    const std::optional<QString> password = answer.cancel ? std::nullopt : answer.password;
    MainQueue::async([completion = std::move(completion), password] { completion(password); });
}
