#include "telemetry/TrackerHelper.h"

#include "platform/Bundle.h"

#include <QMessageAuthenticationCode>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QUuid>

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
    // Stable across launches like a serial number, but machine-id(5) must not
    // leave the machine, so only a one-way derivation of it is sent.
    return cached(m_userIdentifier, [this] { return appSpecificId(m_facts.machineId()); });
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

QByteArray TrackerHelper::applicationId()
{
    return QByteArray::fromHex("d6db4de0eec3436fa658570415bfb351");
}

QString TrackerHelper::appSpecificId(const QString& machineId)
{
    // As sd_id128_get_machine_app_specific(3) derives it, so the id matches
    // what systemd tools would compute for the same application id.
    static const QRegularExpression hex32(QStringLiteral("^[0-9a-fA-F]{32}$"));
    const QByteArray key = hex32.match(machineId).hasMatch() ? QByteArray::fromHex(machineId.toLatin1()) : QByteArray();
    QByteArray id = QMessageAuthenticationCode::hash(applicationId(), key, QCryptographicHash::Sha256).left(16);
    id[6] = static_cast<char>((id[6] & 0x0F) | 0x40);
    id[8] = static_cast<char>((id[8] & 0x3F) | 0x80);
    return QUuid::fromRfc4122(id).toString(QUuid::WithoutBraces);
}

QString TrackerHelper::systemVersionText(const SystemFacts& facts)
{
    const QString version = facts.osVersion();
    return version.isEmpty() ? facts.osName() : facts.osName() + u' ' + version;
}
