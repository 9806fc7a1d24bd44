#include "telemetry/LWTracker.h"

#include "platform/Bundle.h"
#include "platform/Defaults.h"
#include "platform/Logging.h"
#include "platform/MainQueue.h"
#include "telemetry/SystemFacts.h"
#include "telemetry/UABuilder.h"

#include <QCryptographicHash>
#include <QDate>
#include <QDateTime>
#include <QJsonDocument>
#include <QLocale>
#include <QTimeZone>
#include <QUuid>

namespace {

const QString kUserIdKey = QStringLiteral("KUserTrackID");
const QString kInstallDateKey = QStringLiteral("KUserInstallDate");
const QString kFirstLaunchKey = QStringLiteral("app_firstLaunchTime");
const QString kChannel = QStringLiteral("Web");
const QString kSessionStartEvent = QStringLiteral("qv_launch_event");
// The device category the service files this edition's reports under.
const QString kDeviceCategory = QStringLiteral("linux");

QString newUuidText()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

void onMainThread(MainQueue::Block block)
{
    if (MainQueue::isMainThread())
        block();
    else
        MainQueue::async(std::move(block));
}

// Seconds since 1970 of the first session start, stored the first time.
qint64 firstLaunchTime()
{
    Defaults& defaults = Defaults::standard();
    if (!defaults.contains(kFirstLaunchKey))
        defaults.setValue(kFirstLaunchKey, LWTracker::getCurrentTimes());
    return defaults.value(kFirstLaunchKey).toLongLong();
}

} // namespace

LWTracker::LWTracker()
    : m_sessionId(newUuidText())
{
}

LWTracker& LWTracker::shareInstance()
{
    static LWTracker instance;
    return instance;
}

QUrl LWTracker::logEndpoint()
{
    return Bundle::endpointUrl(Bundle::Endpoint::Log, QStringLiteral("/api/log/receive"));
}

void LWTracker::StartSession()
{
    const qint64 now = getCurrentTimes();
    onMainThread([now] {
        shareInstance().getBaseInfo([now](QJsonObject record) {
            const QJsonObject param {
                { QStringLiteral("last_update"), appUpdateTime() },
                { QStringLiteral("first_install"), appInstallTime() },
                { QStringLiteral("wareNewUser"), getIsNewUser() },
                { QStringLiteral("first_launch"), firstLaunchTime() },
            };
            record.insert(QStringLiteral("eventName"), kSessionStartEvent);
            record.insert(QStringLiteral("eventParam"), param);
            record.insert(QStringLiteral("eventTime"), now);
            shareInstance().forceSendTrackData(record);
        });
    });
}

void LWTracker::TrackEvent(const QString& name, const QVariantMap& params)
{
    track(name, params, false);
}

void LWTracker::TrackImportantEvent(const QString& name, const QVariantMap& params)
{
    track(name, params, true);
}

void LWTracker::track(const QString& name, const QVariantMap& params, bool important)
{
    // The event time is the moment of the call, not of sending.
    const qint64 now = getCurrentTimes();
    onMainThread([name, params, important, now] {
        shareInstance().getBaseInfo([name, params, important, now](QJsonObject record) {
            record.insert(QStringLiteral("eventName"), name);
            record.insert(QStringLiteral("eventParam"), QJsonObject::fromVariantMap(params));
            record.insert(QStringLiteral("eventTime"), now);
            if (important)
                shareInstance().forceSendTrackData(record);
            else
                shareInstance().sendTrackData(record);
        });
    });
}

qint64 LWTracker::getCurrentTimes()
{
    return QDateTime::currentSecsSinceEpoch();
}

qint64 LWTracker::appInstallTime()
{
    return SystemFacts::installTimeMsecs();
}

qint64 LWTracker::appUpdateTime()
{
    return SystemFacts::updateTimeMsecs();
}

QString LWTracker::MD5_32BIT(const QString& text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex().toUpper());
}

QString LWTracker::getIsNewUser()
{
    const QString today = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    Defaults& defaults = Defaults::standard();
    const QString stored = defaults.stringForKey(kInstallDateKey);
    if (!stored.isEmpty() && stored != today)
        return QStringLiteral("false");
    defaults.setValue(kInstallDateKey, today);
    return QStringLiteral("true");
}

QString LWTracker::getUserID()
{
    Defaults& defaults = Defaults::standard();
    QString id = defaults.stringForKey(kUserIdKey);
    if (id.isEmpty()) {
        id = newUuidText();
        defaults.setValue(kUserIdKey, id);
    }
    return id;
}

QString LWTracker::sessionId()
{
    if (m_sessionId.isEmpty())
        m_sessionId = newUuidText();
    return m_sessionId;
}

QJsonObject LWTracker::getAppInfo()
{
    return {
        { QStringLiteral("appBundle"), Bundle::identifier() },
        { QStringLiteral("appVersion"), Bundle::shortVersion() },
        { QStringLiteral("appVersionCode"), Bundle::buildVersion() },
        { QStringLiteral("installSource"), kChannel },
        { QStringLiteral("firstActiveChannelName"), kChannel },
    };
}

QJsonObject LWTracker::getUserinfo()
{
    return { { QStringLiteral("userIp"), UABuilder::getIPAddress(true) } };
}

QJsonObject LWTracker::getGeoinfo()
{
    return {
        { QStringLiteral("zone"), QString::fromUtf8(QTimeZone::systemTimeZoneId()) },
        { QStringLiteral("country"), QLocale::system().name() },
    };
}

void LWTracker::getBaseInfo(const std::function<void(QJsonObject)>& completion)
{
    QJsonObject record {
        { QStringLiteral("userId"), getUserID() },
        { QStringLiteral("appInfo"), getAppInfo() },
        { QStringLiteral("userInfo"), getUserinfo() },
        { QStringLiteral("geoInfo"), getGeoinfo() },
        { QStringLiteral("channelName"), kChannel },
        { QStringLiteral("sessionId"), sessionId() },
    };
    getDeviceInfo([record, completion](const QJsonObject& device) mutable {
        record.insert(QStringLiteral("deviceInfo"), device);
        completion(record);
    });
}

void LWTracker::getDeviceInfo(const std::function<void(QJsonObject)>& completion)
{
    const SystemFacts& facts = SystemFacts::running();
    const QString userId = getUserID();
    const QString deviceName = UABuilder::getRealDeviceName();
    qCDebug(lcTelemetry, "系统信息=======");
    qCDebug(lcTelemetry, "%s", qUtf8Printable(userId));
    qCDebug(lcTelemetry, "%s", qUtf8Printable(deviceName));
    qCDebug(lcTelemetry, "%s", qUtf8Printable(facts.osName()));
    qCDebug(lcTelemetry, "%s", qUtf8Printable(facts.osVersion()));
    qCDebug(lcTelemetry, "系统信息结束=======");

    QJsonObject device {
        { QStringLiteral("deviceId"), userId },
        { QStringLiteral("deviceModels"), deviceName },
        { QStringLiteral("os"), facts.osName() },
        { QStringLiteral("osVersion"), facts.osVersion() },
        { QStringLiteral("category"), kDeviceCategory },
        { QStringLiteral("deviceBrand"), facts.vendor() },
        { QStringLiteral("language"), Bundle::preferredLocalization() },
        { QStringLiteral("last_update"), appUpdateTime() },
        { QStringLiteral("first_install"), appInstallTime() },
    };
    getUserAgent([device, completion](const QString& userAgent) mutable {
        device.insert(QStringLiteral("ua"), QString(userAgent + u' ' + UABuilder::getIPAddress(true)));
        completion(device);
    });
}

void LWTracker::getUserAgent(const std::function<void(QString)>& completion)
{
    // No browser engine is embedded; the text is built from the system's facts.
    if (m_userAgent.isEmpty())
        m_userAgent = SystemFacts::running().browserUserAgent();
    completion(m_userAgent);
}

void LWTracker::sendTrackData(const QJsonObject& record)
{
    sendTrackData(record, nullptr);
}

void LWTracker::forceSendTrackData(const QJsonObject& record)
{
    // Without a service there is nothing to try again against.
    if (logEndpoint().isEmpty()) {
        sendTrackData(record);
        return;
    }
    sendTrackData(record, [this, record](bool delivered, const QJsonDocument&, const QString&) {
        if (!delivered)
            MainQueue::after(1.0, [this, record] { forceSendTrackData(record); });
    });
}

void LWTracker::sendTrackData(const QJsonObject& record, HttpClient::Completion complete)
{
    const QUrl url = logEndpoint();
    if (url.isEmpty()) {
        qCDebug(lcTelemetry, "log endpoint not configured, event not sent: %s",
            QJsonDocument(record).toJson(QJsonDocument::Compact).constData());
        if (complete)
            complete(false, {}, QStringLiteral("log endpoint not configured"));
        return;
    }
    HttpClient::post(url, record,
        [complete = std::move(complete)](bool delivered, const QJsonDocument& response, const QString& error) {
            if (!delivered)
                qCInfo(lcTelemetry, "事件发送失败");
            if (complete)
                complete(delivered, response, error);
        });
}
