#include "platform/Bundle.h"
#include "platform/Defaults.h"
#include "platform/NotificationCenter.h"
#include "telemetry/HttpClient.h"
#include "telemetry/KKGADictionaryBuilder.h"
#include "telemetry/KKGoogleAnalytics.h"
#include "telemetry/SystemFacts.h"
#include "telemetry/TrackManager.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TestMain.h"
#include "tests/telemetry/WireGolden.h"

#include <QSettings>
#include <QUuid>
#include <functional>

using namespace Qt::StringLiterals;

namespace {

bool isUpperCaseUuid(const QString& text)
{
    return !QUuid::fromString(text).isNull() && text == text.toUpper() && text.size() == 36;
}

// A stored hit line without the pairs the analytics client adds to every hit
// (tst_analytics checks those): what the facade itself put in.
QString ownPairs(const QString& line)
{
    static const QStringList added { u"v"_s, u"tid"_s, u"cid"_s, u"uid"_s, u"sr"_s, u"sd"_s, u"ul"_s };
    QStringList pairs = line.split(u'&');
    pairs.removeIf([](const QString& pair) { return added.contains(pair.section(u'=', 0, 0)); });
    return pairs.join(u'&');
}

} // namespace

// Drives the facade against a loopback server standing for both services;
// what reaches them is compared with golden/facade-events.json and
// golden/facade-hits.form. The tracking switch cannot be turned off again,
// so the first case is the one that runs before start-up.
class TrackManagerTest final : public QObject {
    Q_OBJECT

    std::unique_ptr<LoopbackHttpServer> m_server;

    // The log events received, name → parameters, a repeated name marked
    // "again". The session start's document is the log tracker's own
    // (tst_lwtracker checks it).
    QJsonObject logEvents() const
    {
        QJsonObject events;
        for (const LoopbackHttpServer::Request& request : m_server->requestsTo("/api/log/receive")) {
            QString name = request.json()[u"eventName"].toString();
            const QJsonValue params
                = name == u"qv_launch_event" ? QJsonValue(QJsonObject()) : request.json()[u"eventParam"];
            while (events.contains(name))
                name += u" again"_s;
            events.insert(name, params);
        }
        return events;
    }

    bool waitForEvents(int count) const
    {
        return QTest::qWaitFor([&] { return m_server->requestsTo("/api/log/receive").size() >= count; }, 5000);
    }

    // Sends what the analytics client has stored and returns those lines, their
    // own pairs only; the store is empty afterwards.
    QStringList flushHits()
    {
        KKGoogleAnalytics& analytics = KKGoogleAnalytics::sharedInstance();
        const qsizetype before = m_server->requestsTo("/batch").size();
        if (!analytics.dispatch())
            return {};
        if (!QTest::qWaitFor([&] { return !analytics.isBatchInFlight(); }, 5000))
            return { u"batch never answered"_s };
        QStringList lines;
        for (const LoopbackHttpServer::Request& batch : m_server->requestsTo("/batch").mid(before)) {
            for (const QString& line : QString::fromUtf8(batch.body).split(u'\n', Qt::SkipEmptyParts))
                lines.append(ownPairs(line));
        }
        return lines;
    }

    // The log events and the hits of the running test against its golden cases.
    void expectGolden(const WireGolden::Values& values = {})
    {
        QCOMPARE(WireGolden::canonical(logEvents()), WireGolden::document(u"facade-events.json"_s, values));
        QCOMPARE(flushHits(), WireGolden::lines(u"facade-hits.form"_s, values));
    }

    void ensureStarted()
    {
        if (TrackManager::TrackEnable())
            return;
        TrackManager::initialWithLaunchOptions({});
        QVERIFY(waitForEvents(1));
        flushHits();
        m_server->clearRequests();
    }

private slots:
    void init()
    {
        QVERIFY((m_server = LoopbackHttpServer::servingEndpoints()));
        Defaults::standard().remove(TrackManager::kLastTrackIdKey);
        Defaults::standard().remove(TrackManager::kActivationKey);
        TrackManager::resetForTesting();
        flushHits(); // left by an earlier case
        m_server->clearRequests();
    }

    void cleanup()
    {
        QTRY_COMPARE(HttpClient::requestsInFlight(), 0);
        QTRY_VERIFY(!KKGoogleAnalytics::sharedInstance().isBatchInFlight());
        m_server.reset();
    }

    void beforeStartUpOnlyHitsFunnelIdsAndAdidPass()
    {
        QList<QVariantMap> announced;
        QObject context;
        NotificationCenter::defaultCenter().addObserver(KKGADictionaryBuilder::kAnalyticsEventNotification, &context,
            [&](const auto& notification) { announced.append(notification.userInfo); });

        TrackManager::TrackPage(u"VC_Home"_s, u"FileZip"_s);
        TrackManager::TrackLaunch();
        TrackManager::TrackEventWithName(u"PopToRate"_s, { { u"Source"_s, 1 } }, true);
        TrackManager::TrackCompleteRate(u"Complete_Zip"_s, u"zip_start"_s, 1);
        QCOMPARE(HttpClient::requestsInFlight(), 0);
        // The funnel's id is kept even though its event is dropped.
        QVERIFY(isUpperCaseUuid(Defaults::standard().stringForKey(TrackManager::kLastTrackIdKey)));
        // The advertising id goes to the log tracker alone, switch or not.
        TrackManager::TrackADID(u"abc"_s);
        QVERIFY(waitForEvents(1));
        expectGolden();
        QCOMPARE(announced.size(), 1);
    }

    void startUpAndLaunchActivateOnce()
    {
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        TrackManager::initialWithLaunchOptions({});
        TrackManager::TrackLaunch();
        QVERIFY(TrackManager::TrackEnable());
        QCOMPARE(Defaults::standard().stringForKey(TrackManager::kActivationKey), u"sendActivation"_s);
        QVERIFY(waitForEvents(3));

        const QString launchTime = logEvents()[u"launch"][u"launch_time"].toString();
        QVERIFY(launchTime.toLongLong() >= before && launchTime.toLongLong() <= QDateTime::currentMSecsSinceEpoch());
        const WireGolden::Values values { { u"launchMsecs"_s, launchTime },
            { u"installMsecs"_s, QString::number(SystemFacts::installTimeMsecs()) },
            { u"shortVersion"_s, Bundle::shortVersion() } };
        expectGolden(values);
    }

    void afterStartUp_data()
    {
        QTest::addColumn<std::function<void()>>("calls");
        QTest::addColumn<int>("events");
        QTest::newRow("empty names and maps send nothing") << std::function<void()>([] {
            TrackManager::TrackPage(QString(), u"FileZip"_s);
            TrackManager::TrackPage(u"VC_Home"_s, QString());
            TrackManager::TrackEventWithName(u"launch"_s, {}, true);
            TrackManager::TrackEventWithName(QString(), { { u"a"_s, 1 } }, false);
            TrackManager::TrackADID(QString());
            // Outcomes without a start, and after a start was dropped: only the start goes.
            TrackManager::TrackFuncCompleteWithFuncName(u"zip"_s);
            TrackManager::TrackFuncStartWithFuncName(u"zip"_s);
            TrackManager::ClearFuncStartID();
            TrackManager::TrackFuncFailedWithFuncName(u"zip"_s, u"disk full"_s);
        }) << 1;
        QTest::newRow("one outcome per start") << std::function<void()>([] {
            TrackManager::TrackFuncStartWithFuncName(u"unzip"_s);
            TrackManager::TrackFuncFailedWithFuncName(u"unzip"_s, u"disk full"_s);
            TrackManager::TrackFuncCompleteWithFuncName(u"unzip"_s);
            TrackManager::TrackPopRate(u"menu"_s);
        }) << 3;
        QTest::newRow("satisfaction") << std::function<void()>([] {
            TrackManager::TrackSatisfyWithFuncName(u"使用满意度"_s, false);
        }) << 2;
    }

    void afterStartUp()
    {
        QFETCH(std::function<void()>, calls);
        QFETCH(int, events);
        ensureStarted();
        calls();
        QCOMPARE(HttpClient::requestsInFlight(), events);
        QVERIFY(waitForEvents(events));
        expectGolden();
    }

    void funnelIdsSurviveRestarts()
    {
        ensureStarted();
        const QString key = TrackManager::kLastTrackIdKey;
        TrackManager::TrackCompleteRate(u"Complete_Zip"_s, u"zip_start"_s, 1);
        const QString first = Defaults::standard().stringForKey(key);
        QVERIFY(isUpperCaseUuid(first));
        QVERIFY(waitForEvents(1));
        expectGolden({ { u"requestId"_s, first } });

        // On disk at once, where the next run reads it.
        QSettings onDisk(
            QSettings::IniFormat, QSettings::UserScope, Bundle::organizationName(), Bundle::applicationName());
        QCOMPARE(onDisk.value(key).toString(), first);

        // A previous run left its id: later steps reuse it, step 1 replaces it.
        const QString previous = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        Defaults::standard().setValue(key, previous);
        m_server->clearRequests();
        TrackManager::TrackCompleteRate(u"Complete_Zip"_s, u"zip_changePath"_s, 2);
        QVERIFY(waitForEvents(1));
        QCOMPARE(logEvents()[u"Complete_Zip"][u"requestId"].toString(), previous);
        TrackManager::TrackCompleteRate(u"Complete_Zip"_s, u"zip_success"_s, 99);
        QCOMPARE(Defaults::standard().stringForKey(key), previous);
        TrackManager::TrackCompleteRate(u"Complete_Unzip"_s, u"unzip_start"_s, 1);
        const QString next = Defaults::standard().stringForKey(key);
        QVERIFY(isUpperCaseUuid(next) && next != previous && next != first);
    }
};

ZAVRIN_TEST(TrackManagerTest)
#include "tst_trackmanager.moc"
