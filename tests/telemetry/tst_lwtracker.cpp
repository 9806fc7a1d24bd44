#include "platform/Bundle.h"
#include "platform/Defaults.h"
#include "telemetry/HttpClient.h"
#include "telemetry/LWTracker.h"
#include "telemetry/SystemFacts.h"
#include "telemetry/UABuilder.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TestMain.h"
#include "tests/telemetry/WireGolden.h"

#include <QDate>
#include <QElapsedTimer>
#include <QLocale>
#include <QTimeZone>
#include <QUuid>
#include <algorithm>
#include <limits>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

// What the documents carry, read where the tracker reads it.
WireGolden::Values documentFacts()
{
    const SystemFacts& system = SystemFacts::running();
    return { { u"userId"_s, Defaults::standard().stringForKey(u"KUserTrackID"_s) },
        { u"sessionId"_s, LWTracker::shareInstance().sessionId() }, { u"appBundle"_s, Bundle::identifier() },
        { u"shortVersion"_s, Bundle::shortVersion() }, { u"buildVersion"_s, Bundle::buildVersion() },
        { u"userIp"_s, UABuilder::getIPAddress(true) }, { u"zone"_s, QString::fromUtf8(QTimeZone::systemTimeZoneId()) },
        { u"country"_s, QLocale::system().name() }, { u"model"_s, system.productName() }, { u"os"_s, system.osName() },
        { u"osVersion"_s, system.osVersion() }, { u"vendor"_s, system.vendor() },
        { u"language"_s, Bundle::preferredLocalization() }, { u"browserUserAgent"_s, system.browserUserAgent() },
        { u"installMsecs"_s, QString::number(SystemFacts::installTimeMsecs()) },
        { u"updateMsecs"_s, QString::number(SystemFacts::updateTimeMsecs()) } };
}

} // namespace

class LWTrackerTest final : public QObject {
    Q_OBJECT

    std::unique_ptr<LoopbackHttpServer> m_server;

private slots:
    void init() { QVERIFY((m_server = LoopbackHttpServer::servingEndpoints())); }

    void cleanup()
    {
        // A request still in flight would fail against the next test's server and be retried there.
        QTRY_COMPARE(HttpClient::requestsInFlight(), 0);
        m_server.reset();
    }

    // The whole document of an event and of the session start, against golden/log-documents.json.
    void documentsMatchTheGolden()
    {
        for (const QString& key : { u"KUserTrackID"_s, u"app_firstLaunchTime"_s, u"KUserInstallDate"_s })
            Defaults::standard().remove(key);
        const qint64 before = QDateTime::currentSecsSinceEpoch();
        LWTracker::TrackEvent(u"button_click"_s, { { u"page_name"_s, u"VC_Home"_s }, { u"step_order"_s, 3u } });
        LWTracker::StartSession();
        QTRY_COMPARE(m_server->requestCount(), 2);
        const qint64 after = QDateTime::currentSecsSinceEpoch();

        // One stored user id, standing for the device too, and one session id per process.
        WireGolden::Values values = documentFacts();
        QVERIFY(!QUuid::fromString(values[u"userId"_s]).isNull());
        const qint64 firstLaunch = Defaults::standard().value(u"app_firstLaunchTime"_s).toLongLong();
        QVERIFY(firstLaunch >= before && firstLaunch <= after);
        values[u"firstLaunch"_s] = QString::number(firstLaunch);
        for (const LoopbackHttpServer::Request& request : m_server->requests()) {
            QCOMPARE(request.path, QByteArray("/api/log/receive"));
            const QJsonObject document = request.json();
            // Seconds, taken when the event was recorded.
            const qint64 eventTime = document[u"eventTime"].toInteger();
            QVERIFY(eventTime >= before && eventTime <= after);
            values[u"eventTime"_s] = QString::number(eventTime);
            QCOMPARE(WireGolden::canonical(document),
                WireGolden::document(u"log-documents.json"_s, values, document[u"eventName"].toString()));
        }

        // The first launch time is written once; a later session reports the stored one.
        Defaults::standard().setValue(u"app_firstLaunchTime"_s, 1'600'000'000LL);
        LWTracker::StartSession();
        QTRY_COMPARE(m_server->requestCount(), 3);
        QCOMPARE(m_server->requests().at(2).json()[u"eventParam"][u"first_launch"], QJsonValue(1'600'000'000LL));
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
        const qsizetype refused = importantTimes.size();
        m_server->setReply(LoopbackHttpServer::Reply());
        QTRY_VERIFY_WITH_TIMEOUT(importantTimes.size() > refused, 3000);
        const qsizetype delivered = importantTimes.size();
        QTest::qWait(1300);

        // Delivered exactly once more, then nothing; the ordinary event went out once, and
        // the important one with the same document each time.
        QCOMPARE(importantTimes.size(), delivered);
        QCOMPARE(m_server->requestCount(), delivered + 1);
        const QStringList important = m_server->bodies().filter(u"\"zd_callback_event\""_s);
        QCOMPARE(important.count(important.first()), delivered);
        // A second apart: load only lengthens a gap, so the shortest one tells the interval.
        qint64 shortest = std::numeric_limits<qint64>::max();
        for (qsizetype i = 1; i < importantTimes.size(); ++i) {
            const qint64 gap = importantTimes.at(i) - importantTimes.at(i - 1);
            QVERIFY2(gap >= 900 && gap < 2500, qPrintable(QString::number(gap)));
            shortest = std::min(shortest, gap);
        }
        QVERIFY2(shortest < 1500, qPrintable(QString::number(shortest)));
    }

    void unconfiguredEndpointSendsNothing()
    {
        m_server->serveEndpoints(false);
        QVERIFY(LWTracker::logEndpoint().isEmpty());
        LWTracker::StartSession();
        LWTracker::TrackImportantEvent(u"zd_callback_event"_s, { { u"active_time"_s, 1 } });
        LWTracker::TrackEvent(u"launch"_s, { { u"launch_time"_s, u"1"_s } });
        std::optional<bool> delivered;
        LWTracker::shareInstance().sendTrackData(QJsonObject { { u"eventName"_s, u"x"_s } },
            [&](bool ok, const QJsonDocument&, const QString&) { delivered = ok; });
        QCOMPARE(delivered, std::optional<bool>(false)); // answered at once
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
