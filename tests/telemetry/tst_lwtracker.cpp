#include "platform/Bundle.h"
#include "platform/Defaults.h"
#include "telemetry/HttpClient.h"
#include "telemetry/LWTracker.h"
#include "telemetry/SystemFacts.h"
#include "telemetry/UABuilder.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TestMain.h"

#include <QDate>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>
#include <QTimeZone>
#include <QUuid>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

// The object's keys, those of nested objects as "outer.inner", in order.
QStringList keysOf(const QJsonObject& object, const QString& prefix = {})
{
    QStringList keys;
    for (auto it = object.begin(); it != object.end(); ++it) {
        keys.append(prefix + it.key());
        if (it->isObject() && it.key() != u"eventParam")
            keys += keysOf(it->toObject(), prefix + it.key() + u'.');
    }
    return keys;
}

} // namespace

class LWTrackerTest final : public QObject {
    Q_OBJECT

    std::unique_ptr<LoopbackHttpServer> m_server;

private slots:
    void init()
    {
        m_server = std::make_unique<LoopbackHttpServer>();
        QVERIFY(m_server->start());
        m_server->serveEndpoints();
    }

    void cleanup()
    {
        // A request still in flight would fail against the next test's server and be retried there.
        QTRY_COMPARE(HttpClient::requestsInFlight(), 0);
        m_server.reset();
    }

    void eventDocumentCarriesTheEnvelope()
    {
        Defaults::standard().remove(u"KUserTrackID"_s);
        const qint64 before = QDateTime::currentSecsSinceEpoch();
        LWTracker::TrackEvent(u"button_click"_s, { { u"page_name"_s, u"VC_Home"_s }, { u"step_order"_s, 3u } });
        LWTracker::TrackEvent(u"launch"_s, { { u"launch_time"_s, u"1"_s } });
        QTRY_COMPARE(m_server->requestCount(), 2);
        const qint64 after = QDateTime::currentSecsSinceEpoch();

        // Each event has its own connection: either may arrive first.
        const int first = m_server->requests().first().json()[u"eventName"].toString() == u"launch" ? 1 : 0;
        QCOMPARE(m_server->requests().at(first).path, QByteArray("/api/log/receive"));
        const QJsonObject doc = m_server->requests().at(first).json();
        QCOMPARE(keysOf(doc).join(u' '),
            u"appInfo appInfo.appBundle appInfo.appVersion appInfo.appVersionCode appInfo.firstActiveChannelName "
            "appInfo.installSource channelName deviceInfo deviceInfo.category deviceInfo.deviceBrand "
            "deviceInfo.deviceId deviceInfo.deviceModels deviceInfo.first_install deviceInfo.language "
            "deviceInfo.last_update deviceInfo.os deviceInfo.osVersion deviceInfo.ua eventName eventParam eventTime "
            "geoInfo geoInfo.country geoInfo.zone sessionId userId userInfo userInfo.userIp"_s);
        QCOMPARE(doc[u"eventName"].toString(), u"button_click"_s);
        QCOMPARE(
            doc[u"eventParam"].toObject(), (QJsonObject { { u"page_name"_s, u"VC_Home"_s }, { u"step_order"_s, 3 } }));
        // Seconds, taken when the event was recorded.
        QVERIFY(doc[u"eventTime"].toInteger() >= before && doc[u"eventTime"].toInteger() <= after);

        // One stored user id, standing for the device too, and one session id per process.
        const QString userId = doc[u"userId"].toString();
        QVERIFY(!QUuid::fromString(userId).isNull());
        QCOMPARE(Defaults::standard().stringForKey(u"KUserTrackID"_s), userId);
        const QJsonObject second = m_server->requests().at(1 - first).json();
        QCOMPARE(second[u"userId"].toString(), userId);
        QCOMPARE(second[u"sessionId"], doc[u"sessionId"]);

        const QString userIp = doc[u"userInfo"].toObject()[u"userIp"].toString();
        QVERIFY2(UABuilder::isValidatIP(userIp), qPrintable(userIp));

        const QJsonObject device = doc[u"deviceInfo"].toObject();
        QCOMPARE(device[u"deviceId"].toString(), userId);
        QCOMPARE(device[u"os"].toString(), SystemFacts::running().osName());
        QCOMPARE(device[u"category"].toString(), u"linux"_s);
        QVERIFY(device[u"ua"].toString().endsWith(u' ' + userIp));
        // Milliseconds, unlike "eventTime": the data folder was made moments ago.
        for (const char* key : { "first_install", "last_update" }) {
            const qint64 value = device[QLatin1StringView(key)].toInteger();
            QVERIFY2(value > 1'000'000'000'000LL && value <= (after + 1) * 1000, key);
        }
        QVERIFY(device[u"first_install"].toInteger() >= (before - 60) * 1000);
    }

    void sessionStartReportsInstallationFacts()
    {
        Defaults::standard().remove(u"app_firstLaunchTime"_s);
        Defaults::standard().remove(u"KUserInstallDate"_s);
        const qint64 before = QDateTime::currentSecsSinceEpoch();
        LWTracker::StartSession();
        QTRY_COMPARE(m_server->requestCount(), 1);

        const QJsonObject doc = m_server->requests().first().json();
        QCOMPARE(doc[u"eventName"].toString(), u"qv_launch_event"_s);
        const QJsonObject param = doc[u"eventParam"].toObject();
        QCOMPARE(
            keysOf(param), (QStringList { u"first_install"_s, u"first_launch"_s, u"last_update"_s, u"wareNewUser"_s }));
        QCOMPARE(param[u"wareNewUser"], QJsonValue(u"true"_s));
        QVERIFY(param[u"first_launch"].isDouble());
        const qint64 firstLaunch = param[u"first_launch"].toInteger();
        QVERIFY(firstLaunch >= before && firstLaunch <= doc[u"eventTime"].toInteger() + 1);
        QCOMPARE(Defaults::standard().value(u"app_firstLaunchTime"_s).toLongLong(), firstLaunch);
        QCOMPARE(param[u"first_install"].toInteger(), LWTracker::appInstallTime());
        QCOMPARE(param[u"last_update"].toInteger(), LWTracker::appUpdateTime());
        QCOMPARE(param[u"first_install"], doc[u"deviceInfo"].toObject()[u"first_install"]);

        // The first launch time is written once; a later session reports the stored one.
        Defaults::standard().setValue(u"app_firstLaunchTime"_s, 1'600'000'000LL);
        LWTracker::StartSession();
        QTRY_COMPARE(m_server->requestCount(), 2);
        QCOMPARE(
            m_server->requests().at(1).json()[u"eventParam"].toObject()[u"first_launch"].toInteger(), 1'600'000'000LL);
    }

    void importantEventsAreRetriedOrdinaryOnesNot()
    {
        // The service answers garbage: each attempt must reach it exactly once.
        m_server->setReply(LoopbackHttpServer::Reply::garbage());
        QElapsedTimer clock;
        clock.start();
        QList<qint64> importantTimes;
        QObject context; // ends the connection with this function
        connect(m_server.get(), &LoopbackHttpServer::requestReceived, &context, [&] {
            if (m_server->requests().last().json()[u"eventName"].toString() == u"zd_callback_event")
                importantTimes.append(clock.elapsed());
        });

        LWTracker::TrackEvent(u"PopToRate"_s, { { u"Source"_s, u"menu"_s } });
        LWTracker::TrackImportantEvent(u"zd_callback_event"_s, { { u"active_time"_s, 1'700'000'000'000LL } });
        QTRY_VERIFY_WITH_TIMEOUT(importantTimes.size() >= 3, 6000);
        const int refused = static_cast<int>(importantTimes.size());
        m_server->setReply(LoopbackHttpServer::Reply());
        QTRY_VERIFY_WITH_TIMEOUT(importantTimes.size() > refused, 3000);
        const int delivered = static_cast<int>(importantTimes.size());
        QTest::qWait(1300);

        // Delivered exactly once more, then nothing; the ordinary event went out once.
        QCOMPARE(importantTimes.size(), delivered);
        QList<QByteArray> importantBodies;
        int ordinary = 0;
        for (const LoopbackHttpServer::Request& request : m_server->requests()) {
            if (request.json()[u"eventName"].toString() == u"PopToRate")
                ++ordinary;
            else
                importantBodies.append(request.body);
        }
        QCOMPARE(ordinary, 1);
        QCOMPARE(importantBodies.size(), delivered);
        QCOMPARE(importantBodies.count(importantBodies.first()), delivered); // the same document each time
        for (qsizetype i = 1; i < importantTimes.size(); ++i) {
            const qint64 gap = importantTimes.at(i) - importantTimes.at(i - 1);
            QVERIFY2(gap >= 900 && gap < 2500, qPrintable(QString::number(gap)));
        }
    }

    void unconfiguredEndpointSendsNothing()
    {
        m_server->serveEndpoints(false);
        QVERIFY(LWTracker::logEndpoint().isEmpty());
        LWTracker::StartSession();
        LWTracker::TrackImportantEvent(u"zd_callback_event"_s, { { u"active_time"_s, 1 } });
        LWTracker::TrackEvent(u"launch"_s, { { u"launch_time"_s, u"1"_s } });
        bool answered = false;
        bool delivered = true;
        LWTracker::shareInstance().sendTrackData(
            QJsonObject { { u"eventName"_s, u"x"_s } }, [&](bool ok, const QJsonDocument&, const QString&) {
                answered = true;
                delivered = ok;
            });
        QVERIFY(answered);
        QVERIFY(!delivered);
        QCOMPARE(HttpClient::requestsInFlight(), 0);
        // A retry scheduled despite the missing service would reach the server once it is configured.
        m_server->serveEndpoints();
        QTest::qWait(1300);
        QCOMPARE(m_server->requestCount(), 0);
    }

    void newUserOnlyOnTheFirstDay()
    {
        const QString key = u"KUserInstallDate"_s;
        const QString today = QDate::currentDate().toString(u"yyyy-MM-dd"_s);
        Defaults::standard().remove(key);
        QCOMPARE(LWTracker::getIsNewUser(), u"true"_s);
        QCOMPARE(Defaults::standard().stringForKey(key), today);
        QCOMPARE(LWTracker::getIsNewUser(), u"true"_s); // a second launch that day

        const QString yesterday = QDate::currentDate().addDays(-1).toString(u"yyyy-MM-dd"_s);
        Defaults::standard().setValue(key, yesterday);
        QCOMPARE(LWTracker::getIsNewUser(), u"false"_s);
        QCOMPARE(Defaults::standard().stringForKey(key), yesterday);
    }
};

ZAVRIN_TEST(LWTrackerTest)
#include "tst_lwtracker.moc"
