#pragma once

#include "telemetry/SystemFacts.h"

#include <QMutex>
#include <QString>
#include <functional>
#include <optional>

// The identity texts of Measurement Protocol hits. Each is worked out on first
// read and then kept; a setter replaces the kept value. Safe from any thread.
class TrackerHelper final {
public:
    explicit TrackerHelper(const SystemFacts& facts = SystemFacts::running());

    // The bundle name and build version; "Unknown" when not set.
    QString applicationName();
    QString applicationVersion();
    // The client id: Base64 of the machine id followed by the login name.
    QString userIdentifier();
    // A browser-style user agent for this system; "Unknown-userAgentString" when there is none.
    QString userAgentString();
    // The system version text, a space and the user's first preferred language.
    QString systemInfo();

    void setApplicationName(const QString& text);
    void setApplicationVersion(const QString& text);
    void setUserIdentifier(const QString& text);
    void setUserAgentString(const QString& text);
    void setSystemInfo(const QString& text);

    // Base64 (standard alphabet, one line) of the UTF-8 bytes of the machine
    // id and the login name; an unreadable machine id counts as "Unknown".
    static QString clientIdFor(const QString& machineId, const QString& loginName);
    // The running system's name and version from os-release ("Debian GNU/Linux 12").
    static QString systemVersionText(const SystemFacts& facts);
    // The login name of the process's user; empty when it cannot be found.
    static QString loginName();

private:
    QString cached(std::optional<QString>& slot, const std::function<QString()>& make);

    QMutex m_mutex;
    SystemFacts m_facts;
    std::optional<QString> m_applicationName;
    std::optional<QString> m_applicationVersion;
    std::optional<QString> m_userIdentifier;
    std::optional<QString> m_userAgentString;
    std::optional<QString> m_systemInfo;
};
