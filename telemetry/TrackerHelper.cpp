#include "telemetry/TrackerHelper.h"

#include "platform/Bundle.h"

#include <QMutexLocker>
#include <pwd.h>
#include <unistd.h>

namespace {

QString orUnknown(const QString& text, const QString& unknown = QStringLiteral("Unknown"))
{
    return text.isEmpty() ? unknown : text;
}

} // namespace

TrackerHelper::TrackerHelper(const SystemFacts& facts)
    : m_facts(facts)
{
}

QString TrackerHelper::cached(std::optional<QString>& slot, const std::function<QString()>& make)
{
    QMutexLocker lock(&m_mutex);
    if (!slot)
        slot = make();
    return *slot;
}

QString TrackerHelper::applicationName()
{
    return cached(m_applicationName, [] { return orUnknown(Bundle::name()); });
}

QString TrackerHelper::applicationVersion()
{
    return cached(m_applicationVersion, [] { return orUnknown(Bundle::buildVersion()); });
}

QString TrackerHelper::userIdentifier()
{
    // The machine id stands where a serial number would: stable across
    // launches and shared by the machine's users, hence the login name.
    return cached(m_userIdentifier, [this] { return clientIdFor(m_facts.machineId(), loginName()); });
}

QString TrackerHelper::userAgentString()
{
    return cached(m_userAgentString,
        [this] { return orUnknown(m_facts.browserUserAgent(), QStringLiteral("Unknown-userAgentString")); });
}

QString TrackerHelper::systemInfo()
{
    return cached(m_systemInfo, [this] {
        return QString(systemVersionText(m_facts) + u' ' + Bundle::preferredLanguages().value(0)).trimmed();
    });
}

void TrackerHelper::setApplicationName(const QString& text)
{
    QMutexLocker lock(&m_mutex);
    m_applicationName = text;
}

void TrackerHelper::setApplicationVersion(const QString& text)
{
    QMutexLocker lock(&m_mutex);
    m_applicationVersion = text;
}

void TrackerHelper::setUserIdentifier(const QString& text)
{
    QMutexLocker lock(&m_mutex);
    m_userIdentifier = text;
}

void TrackerHelper::setUserAgentString(const QString& text)
{
    QMutexLocker lock(&m_mutex);
    m_userAgentString = text;
}

void TrackerHelper::setSystemInfo(const QString& text)
{
    QMutexLocker lock(&m_mutex);
    m_systemInfo = text;
}

QString TrackerHelper::clientIdFor(const QString& machineId, const QString& loginName)
{
    // Without a machine id every machine of one login name shares a client
    // id; that beats inventing one that changes with each launch.
    const QString text = orUnknown(machineId) + loginName;
    return QString::fromLatin1(text.toUtf8().toBase64());
}

QString TrackerHelper::systemVersionText(const SystemFacts& facts)
{
    const QString version = facts.osVersion();
    return version.isEmpty() ? facts.osName() : facts.osName() + u' ' + version;
}

QString TrackerHelper::loginName()
{
    // The account the process runs as; $USER only when the password
    // database has no entry for it (some containers).
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    QByteArray buffer(size > 0 ? size : 16384, Qt::Uninitialized);
    passwd entry {};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), static_cast<size_t>(buffer.size()), &found) == 0 && found
        && found->pw_name)
        return QString::fromLocal8Bit(found->pw_name);
    return qEnvironmentVariable("USER");
}
