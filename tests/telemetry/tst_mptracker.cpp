#include "platform/Bundle.h"
#include "platform/Defaults.h"
#include "platform/NotificationCenter.h"
#include "telemetry/HTTPFormExtensions.h"
#include "telemetry/MPGoogleAnalyticsTracker.h"
#include "telemetry/TrackerHelper.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TestMain.h"
#include "tests/support/ZipInspection.h"
#include "tests/telemetry/WireGolden.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

using namespace Qt::StringLiterals;

// Every body is compared whole with its case in golden/mp-bodies.form.
class MPTrackerTest final : public QObject {
    Q_OBJECT

    std::unique_ptr<LoopbackHttpServer> m_server;
    std::unique_ptr<MPGoogleAnalyticsTracker> m_tracker;
    std::unique_ptr<QObject> m_observerContext;
    QStringList m_announced; // each announcement's map as form text

    void makeTracker(bool debug,
        const std::optional<MPAnalyticsConfiguration>& configuration = MPAnalyticsConfiguration(u"UA-1-1"_s))
    {
        Defaults::standard().setValue(u"ShowDebugMenu"_s, debug);
        m_tracker = std::make_unique<MPGoogleAnalyticsTracker>();
        TrackerHelper& helper = m_tracker->trackerInfoHelper();
        helper.setApplicationName(u"Zavrin"_s);
        helper.setApplicationVersion(u"42"_s);
        helper.setUserIdentifier(u"ab+/c=="_s);
        helper.setSystemInfo(u"Debian GNU/Linux 12 en-US"_s);
        helper.setUserAgentString(u"Mozilla/5.0 (X11; Linux x86_64) Zavrin/1.0.0"_s);
        m_tracker->activateConfiguration(configuration);
    }
    void event(const QString& category, const QString& value = {})
    {
        m_tracker->trackEventOfCategory(category, u"go"_s, QString(), value);
    }
    QStringList golden(const QString& name = WireGolden::currentCase()) const
    {
        return WireGolden::lines(u"mp-bodies.form"_s, {}, name);
    }
    // Lets queued requests reach the server before asserting that none came.
    void settle() { QTRY_COMPARE(m_tracker->pendingRequestCount(), 0); }

private slots:
    void init()
    {
        QVERIFY((m_server = LoopbackHttpServer::servingEndpoints()));
        m_announced.clear();
        m_observerContext = std::make_unique<QObject>();
        NotificationCenter::defaultCenter().addObserver(
            u"AnalyticsEvent"_s, m_observerContext.get(), [this](const Notification& n) {
                m_announced.append(HTTPFormExtensions::stringAsWWWURLEncodedFormFromDictionary(n.userInfo));
            });
    }

    void cleanup()
    {
        if (m_tracker)
            settle();
        m_tracker.reset();
        m_observerContext.reset();
        Defaults::standard().remove(u"ShowDebugMenu"_s);
        m_server.reset();
    }

    void nothingGoesOutWithoutConfigurationOrEndpoint()
    {
        makeTracker(true, std::nullopt);
        event(u"Zip"_s);
        m_tracker->trackScreen(u"Home"_s);
        m_tracker->trackTimingOfCategory(u"Zip"_s, u"run"_s, u"5"_s, QString());
        QTest::qWait(50);
        QCOMPARE(m_server->requestCount(), 0);
        QCOMPARE(m_announced.size(), 0);

        // Active but unconfigured endpoint: nothing sent, still announced.
        m_tracker->activateConfiguration(MPAnalyticsConfiguration(u"UA-1-1"_s));
        m_server->serveEndpoints(false);
        event(u"Zip"_s);
        settle();
        QCOMPARE(m_server->requestCount(), 0);
        QCOMPARE(m_announced.size(), 1);

        // Configured again: a hit from a worker thread goes out too.
        m_server->serveEndpoints();
        std::unique_ptr<QThread> worker(QThread::create([this] { event(u"Worker"_s); }));
        worker->start();
        QVERIFY(worker->wait(5000));
        QTRY_COMPARE(m_server->requestCount(), 1);
        QCOMPARE(m_server->bodies(), golden());
    }

    void categoriesRouteToTheirTrackingIds()
    {
        MPAnalyticsConfiguration configuration(u"UA-1-1"_s);
        configuration.duplicateEventsForCategory(u"Zip"_s, u"UA-2-2"_s);
        configuration.addEventsForCategory(u"Share"_s, u"UA-3-3"_s);
        configuration.duplicateEventsForCategory(u"Both"_s, u"UA-2-2"_s);
        configuration.addEventsForCategory(u"Both"_s, u"UA-3-3"_s); // the additional id wins
        // Pairs with a missing half are not kept.
        configuration.addEventsForCategory(u"Zip"_s, QString());
        configuration.duplicateEventsForCategory(QString(), u"UA-9-9"_s);
        makeTracker(true, configuration);
        for (const QString& category : { u"Zip"_s, u"Share"_s, u"Both"_s, u"Other"_s })
            event(category);
        configuration.stopAddingEventsForCategory(u"Share"_s);
        configuration.stopDuplicatingEventsForCategory(u"Zip"_s);
        m_tracker->activateConfiguration(configuration);
        event(u"Zip"_s);
        event(u"Share"_s);
        settle();
        QCOMPARE(m_server->bodies(), golden());
        QCOMPARE(m_announced, golden(u"each copy announced with its id"_s));
    }

    void screensSetTheContentDescription_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::newRow("pop before any screen") << QStringList { u"modal Intro"_s, u"pop"_s };
        QTest::newRow("a modal screen names events")
            << QStringList { u"screen Home"_s, u"modal Unzip"_s, u"modal Unzip"_s, u"event"_s, u"event Own"_s };
        QTest::newRow("switch, stack and pop") << QStringList { u"screen Home"_s, u"modal Unzip"_s,
            u"switch Progress"_s, u"modal Password"_s, u"pop"_s, u"event"_s };
        QTest::newRow("the last pop returns to the screen")
            << QStringList { u"screen Home"_s, u"modal Unzip"_s, u"pop"_s, u"pop"_s, u"event"_s, u"timing"_s };
    }

    void screensSetTheContentDescription()
    {
        QFETCH(QStringList, steps);
        makeTracker(false);
        // The debug flag is read once: switched on later, it announces nothing.
        QVERIFY(!m_tracker->isDebugEnabled());
        Defaults::standard().setValue(u"ShowDebugMenu"_s, true);
        for (const QString& step : std::as_const(steps)) {
            const QString verb = step.section(u' ', 0, 0);
            const QString name = step.section(u' ', 1);
            if (verb == u"screen")
                m_tracker->trackScreen(name);
            else if (verb == u"modal")
                m_tracker->trackModalScreen(name);
            else if (verb == u"switch")
                m_tracker->switchToModalScreen(name);
            else if (verb == u"pop")
                m_tracker->stopTrackingModalScreen();
            else if (verb == u"event")
                m_tracker->trackEventOfCategory(u"Zip"_s, u"go"_s, QString(), QString(), name, QString());
            else
                m_tracker->trackTimingOfCategory(u"Zip"_s, u"run"_s, u"5"_s, QString());
        }
        settle();
        QCOMPARE(m_server->bodies(), golden());
        QCOMPARE(m_announced.size(), 0);
    }

    void bodiesEscapeEveryReservedCharacter()
    {
        makeTracker(true);
        m_tracker->trackEventOfCategory(u"Zip"_s, u"a b"_s, u"!*'();:@&=+$,/?%#[]é-_.~"_s, u"3"_s, QString(), u"x"_s);
        m_tracker->trackTimingOfCategory(u"Zip"_s, u"compress"_s, u"1200"_s, QString());
        settle();
        QCOMPARE(m_server->bodies(), golden());
        const LoopbackHttpServer::Request request = m_server->requests().first();
        QCOMPARE(request.path, QByteArray("/collect"));
        QCOMPARE(request.header("user-agent"), QByteArray("Mozilla/5.0 (X11; Linux x86_64) Zavrin/1.0.0"));
        QCOMPARE(request.header("content-type"), QByteArray("application/x-www-form-urlencoded"));
        QVERIFY(request.header("cookie").isEmpty());
        QCOMPARE(m_announced, golden(u"only event hits announced"_s));
    }

    void requestsGoOutOneAtATimeAndFailuresAreDropped_data()
    {
        QTest::addColumn<LoopbackHttpServer::Reply>("failure");
        QTest::newRow("500") << LoopbackHttpServer::Reply::formed(500);
        QTest::newRow("garbage") << LoopbackHttpServer::Reply::garbage();
        QTest::newRow("cut after the headers") << LoopbackHttpServer::Reply::cutAfterHeaders();
    }

    void requestsGoOutOneAtATimeAndFailuresAreDropped()
    {
        QFETCH(LoopbackHttpServer::Reply, failure);
        m_server->setReply(failure);
        m_server->setHolding(true);
        makeTracker(false);
        for (int i = 1; i <= 3; ++i)
            event(u"Zip"_s, QString::number(i));
        QTRY_COMPARE(m_server->requestCount(), 1);
        QTest::qWait(100);
        QCOMPARE(m_server->requestCount(), 1);
        QCOMPARE(m_tracker->pendingRequestCount(), 3);

        // A failed hit is dropped, never resent, and the next one goes out, in order.
        for (int i = 1; i <= 3; ++i) {
            QTRY_COMPARE(m_server->requestCount(), i);
            m_server->release();
            m_server->setHolding(true);
        }
        settle();
        QTest::qWait(50);
        QCOMPARE(m_server->bodies(), golden(u"one at a time"_s));
    }

    void clientIdIsTheAppSpecificMachineId()
    {
        // Vectors worked out with an independent HMAC-SHA256.
        const QString machineApp = u"e8f08631-030a-47bb-a7c6-4d13c65335e7"_s;
        QCOMPARE(TrackerHelper::appSpecificId(u"0123456789abcdef0123456789abcdef"_s), machineApp);
        QCOMPARE(TrackerHelper::appSpecificId(u"0123456789ABCDEF0123456789ABCDEF"_s), machineApp);
        for (const QString& unusable : { QString(), u"feedface"_s, u"uninitialized"_s })
            QCOMPARE(TrackerHelper::appSpecificId(unusable), u"8fd15968-3815-4be7-a6a0-77b7e0e9543c"_s);

        QTemporaryDir root;
        QVERIFY(ZipInspection::writeFile(root.filePath(u"etc/machine-id"_s), "0123456789abcdef0123456789abcdef\n"));
        QVERIFY(ZipInspection::writeFile(
            root.filePath(u"etc/os-release"_s), "NAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n"));
        Bundle::setPreferredLanguages({ u"zh-TW"_s, u"en"_s });
        TrackerHelper helper { SystemFacts(root.path()) };
        QCOMPARE(helper.systemInfo(), u"Debian GNU/Linux 12 zh-TW"_s);
        Bundle::setPreferredLanguages({});
        QCOMPARE(helper.userIdentifier(), machineApp);

        // The running machine's id agrees with systemd's own derivation.
        const QString tool = QStandardPaths::findExecutable(u"systemd-id128"_s);
        if (tool.isEmpty() || SystemFacts::running().machineId().isEmpty())
            QSKIP("no systemd-id128 or no machine id");
        QProcess process;
        process.start(tool,
            { u"machine-id"_s, u"-u"_s,
                u"--app-specific="_s + QString::fromLatin1(TrackerHelper::applicationId().toHex()) });
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(TrackerHelper().userIdentifier(), QString::fromLatin1(process.readAllStandardOutput().trimmed()));
    }
};

ZAVRIN_TEST(MPTrackerTest)
#include "tst_mptracker.moc"
