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
    // The client id: this application's id on this machine (`appSpecificId`).
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

    // An id for this application on the machine with `machineId` (32
    // hexadecimal digits) that does not reveal the machine id: the first 16
    // bytes of HMAC-SHA256 keyed with the machine id over our application id,
    // made a version 4 UUID and written in its lower-case 8-4-4-4-12 form.
    // Machines without a readable machine id share one id.
    static QString appSpecificId(const QString& machineId);
    // Our application id, 16 bytes; the client ids of every installation
    // derive from it, so it never changes.
    static QByteArray applicationId();
    // The running system's name and version from os-release ("Debian GNU/Linux 12").
    static QString systemVersionText(const SystemFacts& facts);

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
