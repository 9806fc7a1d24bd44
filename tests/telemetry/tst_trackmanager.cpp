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
            return { QStringLiteral("batch never answered") };
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
        qputenv("ZAVRIN_ENDPOINT_BASE", m_server->baseUrl().toString().toUtf8());
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
        qunsetenv("ZAVRIN_ENDPOINT_BASE");
        m_server.reset();
    }

    void beforeStartUpOnlyHitsFunnelIdsAndAdidPass()
    {
        QList<QVariantMap> announced;
        QObject context;
        NotificationCenter::defaultCenter().addObserver(KKGADictionaryBuilder::kAnalyticsEventNotification, &context,
            [&](const auto& notification) { announced.append(notification.userInfo); });

        TrackManager::TrackPage(QStringLiteral("VC_Home"), QStringLiteral("FileZip"));
        TrackManager::TrackLaunch();
        TrackManager::TrackEventWithName(QStringLiteral("PopToRate"), { { QStringLiteral("Source"), 1 } }, true);
        TrackManager::TrackCompleteRate(QStringLiteral("Complete_Zip"), QStringLiteral("zip_start"), 1);
        QCOMPARE(HttpClient::requestsInFlight(), 0);
        // The funnel's id is kept even though its event is dropped.
        QVERIFY(isUpperCaseUuid(Defaults::standard().stringForKey(TrackManager::kLastTrackIdKey)));

        QCOMPARE(announced.size(), 1);
        const QStringList lines = flushHits();
        QCOMPARE(lines.size(), 1);
        const QMap<QString, QString> hit = decodedHit(lines.first());
        QCOMPARE(QStringList({ hit[QStringLiteral("t")], hit[QStringLiteral("ec")], hit[QStringLiteral("ea")],
                     hit[QStringLiteral("el")], hit[QStringLiteral("ev")] }),
            QStringList({ QStringLiteral("event"), QStringLiteral("button_click"), QStringLiteral("VC_Home"),
                QStringLiteral("FileZip"), QStringLiteral("0") }));

        // The advertising id goes to the log tracker alone, switch or not.
        TrackManager::TrackADID(QStringLiteral("abc"));
        QVERIFY(waitForEvents(1));
        QCOMPARE(eventNames(), QStringList { QStringLiteral("ADID") });
        QCOMPARE(
            eventParams(QStringLiteral("ADID"))[u"ID"], QJsonValue(QStringLiteral("900150983CD24FB0D6963F7D28E17F72")));
        QCOMPARE(flushHits(), QStringList());
        QCOMPARE(announced.size(), 1);
    }

    void startUpAndLaunchActivateOnce()
    {
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        TrackManager::initialWithLaunchOptions({});
        TrackManager::TrackLaunch();
        QVERIFY(TrackManager::TrackEnable());
        QCOMPARE(Defaults::standard().stringForKey(TrackManager::kActivationKey), QStringLiteral("sendActivation"));
        QVERIFY(waitForEvents(3));
        QCOMPARE(eventNames(),
            (QStringList {
                QStringLiteral("launch"), QStringLiteral("qv_launch_event"), QStringLiteral("zd_callback_event") }));

        const QJsonValue launchTime = eventParams(QStringLiteral("launch"))[u"launch_time"];
        QVERIFY(launchTime.isString());
        bool numeric = false;
        const qint64 launchMsecs = launchTime.toString().toLongLong(&numeric);
        QVERIFY(numeric && launchMsecs >= before && launchMsecs <= QDateTime::currentMSecsSinceEpoch());
        const QJsonValue activeTime = eventParams(QStringLiteral("zd_callback_event"))[u"active_time"];
        QVERIFY(activeTime.isDouble());
        QCOMPARE(activeTime.toInteger(), LWTracker::appInstallTime());

        // Start-up's "launch" marker, the launch event's hit, the launch hit, the activation's hit.
        const QStringList lines = flushHits();
        QCOMPARE(lines.size(), 4);
        QCOMPARE(decodedHit(lines.at(0)).value(QStringLiteral("launch")), QStringLiteral("1"));
        QCOMPARE(QJsonDocument::fromJson(decodedHit(lines.at(1)).value(QStringLiteral("launch")).toUtf8())
                     .object()[u"launch_time"],
            launchTime);
        QMap<QString, QString> launchHit = decodedHit(lines.at(2));
        QCOMPARE(QStringList({ launchHit[QStringLiteral("ec")], launchHit[QStringLiteral("ea")],
                     launchHit[QStringLiteral("el")] }),
            QStringList({ QStringLiteral("App启动"), QStringLiteral("Web"), Bundle::shortVersion() }));
        QVERIFY(!launchHit.contains(QStringLiteral("ev")));
        QVERIFY(decodedHit(lines.at(3)).contains(QStringLiteral("zd_callback_event")));
    }

    void emptyNamesAndMapsSendNothing()
    {
        ensureStarted();
        TrackManager::TrackPage(QString(), QStringLiteral("FileZip"));
        TrackManager::TrackPage(QStringLiteral("VC_Home"), QString());
        TrackManager::TrackEventWithName(QStringLiteral("launch"), {}, true);
        TrackManager::TrackEventWithName(QString(), { { QStringLiteral("a"), 1 } }, false);
        TrackManager::TrackADID(QString());
        // Outcomes without a start, and after a start was dropped.
        TrackManager::TrackFuncCompleteWithFuncName(QStringLiteral("zip"));
        TrackManager::TrackFuncStartWithFuncName(QStringLiteral("zip"));
        TrackManager::ClearFuncStartID();
        TrackManager::TrackFuncFailedWithFuncName(QStringLiteral("zip"), QStringLiteral("disk full"));
        QCOMPARE(HttpClient::requestsInFlight(), 1); // the start only
        QVERIFY(waitForEvents(1));
        QCOMPARE(eventNames(), QStringList { QStringLiteral("Func_start") });
        QCOMPARE(flushHits().size(), 1);
    }

    void funnelIdsSurviveRestarts()
    {
        ensureStarted();
        const QString key = TrackManager::kLastTrackIdKey;
        TrackManager::TrackCompleteRate(QStringLiteral("Complete_Zip"), QStringLiteral("zip_start"), 1);
        const QString first = Defaults::standard().stringForKey(key);
        QVERIFY(isUpperCaseUuid(first));
        QVERIFY(waitForEvents(1));
        QCOMPARE(eventParams(QStringLiteral("Complete_Zip")),
            (QJsonObject { { QStringLiteral("step_name"), QStringLiteral("zip_start") },
                { QStringLiteral("step_order"), 1 }, { QStringLiteral("requestId"), first } }));

        // On disk at once, where the next run reads it.
        QSettings onDisk(
            QSettings::IniFormat, QSettings::UserScope, Bundle::organizationName(), Bundle::applicationName());
        QCOMPARE(onDisk.value(key).toString(), first);

        // A previous run left its id: later steps reuse it, step 1 replaces it.
        const QString previous = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        Defaults::standard().setValue(key, previous);
        m_server->clearRequests();
        TrackManager::TrackCompleteRate(QStringLiteral("Complete_Zip"), QStringLiteral("zip_changePath"), 2);
        QVERIFY(waitForEvents(1));
        QCOMPARE(eventParams(QStringLiteral("Complete_Zip"))[u"requestId"].toString(), previous);
        TrackManager::TrackCompleteRate(QStringLiteral("Complete_Zip"), QStringLiteral("zip_success"), 99);
        QCOMPARE(Defaults::standard().stringForKey(key), previous);
        TrackManager::TrackCompleteRate(QStringLiteral("Complete_Unzip"), QStringLiteral("unzip_start"), 1);
        const QString next = Defaults::standard().stringForKey(key);
        QVERIFY(isUpperCaseUuid(next) && next != previous && next != first);
    }

    void satisfactionSendsNumbersAndTexts()
    {
        ensureStarted();
        TrackManager::TrackSatisfyWithFuncName(QStringLiteral("使用满意度"), false);
        QVERIFY(waitForEvents(2));
        QCOMPARE(eventParams(QStringLiteral("satisfication")),
            (QJsonObject {
                { QStringLiteral("func_name"), QStringLiteral("使用满意度") }, { QStringLiteral("satisfiable"), 0 } }));
        QCOMPARE(eventParams(QStringLiteral("satisfy")),
            (QJsonObject { { QStringLiteral("function_name"), QStringLiteral("使用满意度") },
                { QStringLiteral("is_like"), QStringLiteral("false") } }));
    }
};

ZAVRIN_TEST(TrackManagerTest)
#include "tst_trackmanager.moc"
