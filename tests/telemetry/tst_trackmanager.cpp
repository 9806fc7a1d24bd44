#include "platform/Bundle.h"
#include "platform/Defaults.h"
#include "platform/NotificationCenter.h"
#include "telemetry/HttpClient.h"
#include "telemetry/KKGADictionaryBuilder.h"
#include "telemetry/KKGoogleAnalytics.h"
#include "telemetry/LWTracker.h"
#include "telemetry/TrackManager.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TestMain.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTest>
#include <QUrlQuery>
#include <QUuid>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

bool isUpperCaseUuid(const QString& text)
{
    return !QUuid::fromString(text).isNull() && text == text.toUpper() && text.size() == 36;
}

// One stored analytics line, decoded.
QMap<QString, QString> decodedHit(const QString& line)
{
    QMap<QString, QString> hit;
    for (const auto& [key, value] : QUrlQuery(line).queryItems(QUrl::FullyDecoded))
        hit.insert(key, value);
    return hit;
}

} // namespace

// Drives the facade against a loopback server standing for both services.
// The tracking switch cannot be turned off again, so the first case is the
// one that runs before start-up.
class TrackManagerTest final : public QObject {
    Q_OBJECT

    std::unique_ptr<LoopbackHttpServer> m_server;

    QList<QJsonObject> logEvents() const
    {
        QList<QJsonObject> events;
        for (const LoopbackHttpServer::Request& request : m_server->requestsTo("/api/log/receive"))
            events.append(request.json());
        return events;
    }

    QJsonObject eventParams(const QString& name) const
    {
        for (const QJsonObject& event : logEvents()) {
            if (event[u"eventName"].toString() == name)
                return event[u"eventParam"].toObject();
        }
        return {};
    }

    QStringList eventNames() const
    {
        QStringList names;
        for (const QJsonObject& event : logEvents())
            names.append(event[u"eventName"].toString());
        names.sort();
        return names;
    }

    bool waitForEvents(int count) const
    {
        return QTest::qWaitFor([&] { return logEvents().size() >= count; }, 5000);
    }

    // Sends what the analytics client has stored and returns those lines;
    // the store is empty afterwards.
    QStringList flushHits()
    {
        KKGoogleAnalytics& analytics = KKGoogleAnalytics::sharedInstance();
        const qsizetype before = m_server->requestsTo("/batch").size();
        if (!analytics.dispatch())
            return {};
        if (!QTest::qWaitFor([&] { return !analytics.isBatchInFlight(); }, 5000))
            return { u"batch never answered"_s };
        QStringList lines;
        for (const LoopbackHttpServer::Request& batch : m_server->requestsTo("/batch").mid(before))
            lines += QString::fromUtf8(batch.body).split(u'\n', Qt::SkipEmptyParts);
        return lines;
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
        m_server = std::make_unique<LoopbackHttpServer>();
        QVERIFY(m_server->start());
        m_server->serveEndpoints();
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

        QCOMPARE(announced.size(), 1);
        const QStringList lines = flushHits();
        QCOMPARE(lines.size(), 1);
        const QMap<QString, QString> hit = decodedHit(lines.first());
        QCOMPARE(QStringList({ hit[u"t"_s], hit[u"ec"_s], hit[u"ea"_s], hit[u"el"_s], hit[u"ev"_s] }),
            QStringList({ u"event"_s, u"button_click"_s, u"VC_Home"_s, u"FileZip"_s, u"0"_s }));

        // The advertising id goes to the log tracker alone, switch or not.
        TrackManager::TrackADID(u"abc"_s);
        QVERIFY(waitForEvents(1));
        QCOMPARE(eventNames(), QStringList { u"ADID"_s });
        QCOMPARE(eventParams(u"ADID"_s)[u"ID"], QJsonValue(u"900150983CD24FB0D6963F7D28E17F72"_s));
        QCOMPARE(flushHits(), QStringList());
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
        QCOMPARE(eventNames(), (QStringList { u"launch"_s, u"qv_launch_event"_s, u"zd_callback_event"_s }));

        const QJsonValue launchTime = eventParams(u"launch"_s)[u"launch_time"];
        QVERIFY(launchTime.isString());
        bool numeric = false;
        const qint64 launchMsecs = launchTime.toString().toLongLong(&numeric);
        QVERIFY(numeric && launchMsecs >= before && launchMsecs <= QDateTime::currentMSecsSinceEpoch());
        const QJsonValue activeTime = eventParams(u"zd_callback_event"_s)[u"active_time"];
        QVERIFY(activeTime.isDouble());
        QCOMPARE(activeTime.toInteger(), LWTracker::appInstallTime());

        // Start-up's "launch" marker, the launch event's hit, the launch hit, the activation's hit.
        const QStringList lines = flushHits();
        QCOMPARE(lines.size(), 4);
        QCOMPARE(decodedHit(lines.at(0)).value(u"launch"_s), u"1"_s);
        QCOMPARE(QJsonDocument::fromJson(decodedHit(lines.at(1)).value(u"launch"_s).toUtf8()).object()[u"launch_time"],
            launchTime);
        QMap<QString, QString> launchHit = decodedHit(lines.at(2));
        QCOMPARE(QStringList({ launchHit[u"ec"_s], launchHit[u"ea"_s], launchHit[u"el"_s] }),
            QStringList({ u"App启动"_s, u"Web"_s, Bundle::shortVersion() }));
        QVERIFY(!launchHit.contains(u"ev"_s));
        QVERIFY(decodedHit(lines.at(3)).contains(u"zd_callback_event"_s));
    }

    void emptyNamesAndMapsSendNothing()
    {
        ensureStarted();
        TrackManager::TrackPage(QString(), u"FileZip"_s);
        TrackManager::TrackPage(u"VC_Home"_s, QString());
        TrackManager::TrackEventWithName(u"launch"_s, {}, true);
        TrackManager::TrackEventWithName(QString(), { { u"a"_s, 1 } }, false);
        TrackManager::TrackADID(QString());
        // Outcomes without a start, and after a start was dropped.
        TrackManager::TrackFuncCompleteWithFuncName(u"zip"_s);
        TrackManager::TrackFuncStartWithFuncName(u"zip"_s);
        TrackManager::ClearFuncStartID();
        TrackManager::TrackFuncFailedWithFuncName(u"zip"_s, u"disk full"_s);
        QCOMPARE(HttpClient::requestsInFlight(), 1); // the start only
        QVERIFY(waitForEvents(1));
        QCOMPARE(eventNames(), QStringList { u"Func_start"_s });
        QCOMPARE(flushHits().size(), 1);
    }

    void funnelIdsSurviveRestarts()
    {
        ensureStarted();
        const QString key = TrackManager::kLastTrackIdKey;
        TrackManager::TrackCompleteRate(u"Complete_Zip"_s, u"zip_start"_s, 1);
        const QString first = Defaults::standard().stringForKey(key);
        QVERIFY(isUpperCaseUuid(first));
        QVERIFY(waitForEvents(1));
        QCOMPARE(eventParams(u"Complete_Zip"_s),
            (QJsonObject { { u"step_name"_s, u"zip_start"_s }, { u"step_order"_s, 1 }, { u"requestId"_s, first } }));

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
        QCOMPARE(eventParams(u"Complete_Zip"_s)[u"requestId"].toString(), previous);
        TrackManager::TrackCompleteRate(u"Complete_Zip"_s, u"zip_success"_s, 99);
        QCOMPARE(Defaults::standard().stringForKey(key), previous);
        TrackManager::TrackCompleteRate(u"Complete_Unzip"_s, u"unzip_start"_s, 1);
        const QString next = Defaults::standard().stringForKey(key);
        QVERIFY(isUpperCaseUuid(next) && next != previous && next != first);
    }

    void satisfactionSendsNumbersAndTexts()
    {
        ensureStarted();
        TrackManager::TrackSatisfyWithFuncName(u"使用满意度"_s, false);
        QVERIFY(waitForEvents(2));
        QCOMPARE(eventParams(u"satisfication"_s),
            (QJsonObject { { u"func_name"_s, u"使用满意度"_s }, { u"satisfiable"_s, 0 } }));
        QCOMPARE(eventParams(u"satisfy"_s),
            (QJsonObject { { u"function_name"_s, u"使用满意度"_s }, { u"is_like"_s, u"false"_s } }));
    }
};

ZAVRIN_TEST(TrackManagerTest)
#include "tst_trackmanager.moc"
