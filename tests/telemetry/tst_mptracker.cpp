#include "platform/Bundle.h"
#include "platform/Defaults.h"
#include "platform/NotificationCenter.h"
#include "telemetry/MPGoogleAnalyticsTracker.h"
#include "telemetry/MPParamBuilder.h"
#include "telemetry/TrackerHelper.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QUrl>
#include <memory>

namespace {

using Pairs = QList<std::pair<QString, QString>>;

// The body's pairs, decoded, in order.
Pairs pairsOf(const QByteArray& body)
{
    Pairs pairs;
    for (const QByteArray& pair : body.split('&')) {
        const qsizetype eq = pair.indexOf('=');
        pairs.append({ QString::fromUtf8(pair.left(eq)), QUrl::fromPercentEncoding(pair.mid(eq + 1)) });
    }
    return pairs;
}

QString valueOf(const QByteArray& body, const QString& key)
{
    for (const auto& [k, v] : pairsOf(body)) {
        if (k == key)
            return v;
    }
    return {};
}

QStringList keysOf(const QByteArray& body)
{
    QStringList keys;
    for (const auto& pair : pairsOf(body))
        keys.append(pair.first);
    return keys;
}

} // namespace

class MPTrackerTest final : public QObject {
    Q_OBJECT

    std::unique_ptr<LoopbackHttpServer> m_server;
    std::unique_ptr<MPGoogleAnalyticsTracker> m_tracker;
    std::unique_ptr<QObject> m_observerContext;
    QList<QVariantMap> m_announced;

    void makeTracker(bool debug)
    {
        Defaults::standard().setValue(QStringLiteral("ShowDebugMenu"), debug);
        m_tracker = std::make_unique<MPGoogleAnalyticsTracker>();
        TrackerHelper& helper = m_tracker->trackerInfoHelper();
        helper.setApplicationName(QStringLiteral("Zavrin"));
        helper.setApplicationVersion(QStringLiteral("42"));
        helper.setUserIdentifier(QStringLiteral("ab+/c=="));
        helper.setSystemInfo(QStringLiteral("Debian GNU/Linux 12 en-US"));
        helper.setUserAgentString(QStringLiteral("Mozilla/5.0 (X11; Linux x86_64) Zavrin/1.0.0"));
    }
    void activate(const MPAnalyticsConfiguration& configuration = MPAnalyticsConfiguration(QStringLiteral("UA-1-1")))
    {
        m_tracker->activateConfiguration(configuration);
    }
    QByteArray body(int index) const { return m_server->requests().at(index).body; }
    QStringList sentTids() const
    {
        QStringList tids;
        for (const auto& request : m_server->requests())
            tids.append(valueOf(request.body, QStringLiteral("tid")));
        return tids;
    }
    // Lets queued requests reach the server before asserting that none came.
    void settle() { QTRY_COMPARE(m_tracker->pendingRequestCount(), 0); }

private slots:
    void init()
    {
        m_server = std::make_unique<LoopbackHttpServer>();
        QVERIFY(m_server->start());
        qputenv("ZAVRIN_ENDPOINT_BASE", m_server->baseUrl().toString().toUtf8());
        m_announced.clear();
        m_observerContext = std::make_unique<QObject>();
        NotificationCenter::defaultCenter().addObserver(QStringLiteral("AnalyticsEvent"), m_observerContext.get(),
            [this](const Notification& n) { m_announced.append(n.userInfo); });
    }

    void cleanup()
    {
        if (m_tracker)
            settle();
        m_tracker.reset();
        m_observerContext.reset();
        Defaults::standard().remove(QStringLiteral("ShowDebugMenu"));
        qunsetenv("ZAVRIN_ENDPOINT_BASE");
        m_server.reset();
    }

    void nothingGoesOutWithoutConfigurationOrEndpoint()
    {
        makeTracker(true);
        m_tracker->trackEventOfCategory(QStringLiteral("Zip"), QStringLiteral("start"), QString(), QString());
        m_tracker->trackScreen(QStringLiteral("Home"));
        m_tracker->trackTimingOfCategory(QStringLiteral("Zip"), QStringLiteral("run"), QStringLiteral("5"), QString());
        QTest::qWait(50);
        QCOMPARE(m_server->requestCount(), 0);
        QCOMPARE(m_announced.size(), 0);

        // Active but unconfigured endpoint: nothing sent, still announced.
        activate();
        qunsetenv("ZAVRIN_ENDPOINT_BASE");
        m_tracker->trackEventOfCategory(QStringLiteral("Zip"), QStringLiteral("start"), QString(), QString());
        settle();
        QCOMPARE(m_server->requestCount(), 0);
        QCOMPARE(m_announced.size(), 1);

        qputenv("ZAVRIN_ENDPOINT_BASE", m_server->baseUrl().toString().toUtf8());
        m_tracker->trackEventOfCategory(QStringLiteral("Zip"), QStringLiteral("start"), QString(), QString());
        QTRY_COMPARE(m_server->requestCount(), 1);
    }

    void categoriesRouteToTheirTrackingIds()
    {
        makeTracker(true);
        MPAnalyticsConfiguration configuration(QStringLiteral("UA-1-1"));
        configuration.duplicateEventsForCategory(QStringLiteral("Zip"), QStringLiteral("UA-2-2"));
        configuration.addEventsForCategory(QStringLiteral("Share"), QStringLiteral("UA-3-3"));
        // An additional id wins over a duplicate one.
        configuration.duplicateEventsForCategory(QStringLiteral("Both"), QStringLiteral("UA-2-2"));
        configuration.addEventsForCategory(QStringLiteral("Both"), QStringLiteral("UA-3-3"));
        // Pairs with a missing half are not kept.
        configuration.addEventsForCategory(QStringLiteral("Zip"), QString());
        configuration.duplicateEventsForCategory(QString(), QStringLiteral("UA-9-9"));
        QCOMPARE(configuration.addtionalEventIdentifiers().size(), 2);
        QCOMPARE(configuration.duplicatedEventIdentifiers().size(), 2);
        activate(configuration);

        const auto event = [this](const char* category) {
            m_tracker->trackEventOfCategory(QString::fromLatin1(category), QStringLiteral("go"), QString(), QString());
        };
        event("Zip");
        QTRY_COMPARE(m_server->requestCount(), 2);
        QCOMPARE(sentTids(), QStringList({ QStringLiteral("UA-1-1"), QStringLiteral("UA-2-2") }));
        QCOMPARE(pairsOf(body(0)).mid(5), pairsOf(body(1)).mid(5));
        QCOMPARE(m_announced.size(), 2);
        QCOMPARE(m_announced.at(0).value(QStringLiteral("gaid")).toString(), QStringLiteral("UA-1-1"));
        QCOMPARE(m_announced.at(1).value(QStringLiteral("gaid")).toString(), QStringLiteral("UA-2-2"));
        QCOMPARE(m_announced.at(1).value(QStringLiteral("ec")).toString(), QStringLiteral("Zip"));

        m_server->clearRequests();
        event("Share");
        event("Both");
        event("Other");
        // Screen views and timings are not routed by category.
        m_tracker->trackTimingOfCategory(QStringLiteral("Zip"), QStringLiteral("run"), QStringLiteral("5"), QString());
        m_tracker->trackScreen(QStringLiteral("Zip"));
        QTRY_COMPARE(m_server->requestCount(), 5);
        QCOMPARE(sentTids(),
            QStringList({ QStringLiteral("UA-3-3"), QStringLiteral("UA-3-3"), QStringLiteral("UA-1-1"),
                QStringLiteral("UA-1-1"), QStringLiteral("UA-1-1") }));
        // Only event hits are announced.
        QCOMPARE(m_announced.size(), 5);

        configuration.stopAddingEventsForCategory(QStringLiteral("Share"));
        configuration.stopDuplicatingEventsForCategory(QStringLiteral("Zip"));
        activate(configuration);
        m_server->clearRequests();
        event("Share");
        event("Zip");
        QTRY_COMPARE(m_server->requestCount(), 2);
        QCOMPARE(sentTids(), QStringList({ QStringLiteral("UA-1-1"), QStringLiteral("UA-1-1") }));
    }

    void screensAndModalScreensSetTheContentDescription()
    {
        makeTracker(false);
        activate();
        const auto event = [this](const QString& ownScreen = {}) {
            m_tracker->trackEventOfCategory(
                QStringLiteral("Zip"), QStringLiteral("go"), QString(), QString(), ownScreen, QString());
        };
        int expected = 0;
        // The newest request once `expected` have come; a marker that fails
        // the comparisons when another number came.
        const auto last = [this, &expected] {
            static_cast<void>(QTest::qWaitFor([&] { return m_server->requestCount() >= expected; }));
            if (m_server->requestCount() != expected)
                return QByteArray(QByteArray("cd=requests:") + QByteArray::number(m_server->requestCount()));
            return body(expected - 1);
        };

        // Popping before any current screen has nothing to return to.
        m_tracker->trackModalScreen(QStringLiteral("Intro"));
        m_tracker->stopTrackingModalScreen();
        expected = 1;
        QCOMPARE(valueOf(last(), QStringLiteral("cd")), QStringLiteral("Intro"));

        m_tracker->trackScreen(QStringLiteral("Home"));
        ++expected;
        QCOMPARE(
            keysOf(last()).mid(5), QStringList({ QStringLiteral("t"), QStringLiteral("cd"), QStringLiteral("cd2") }));
        QCOMPARE(valueOf(last(), QStringLiteral("t")), QStringLiteral("appview"));
        QCOMPARE(valueOf(last(), QStringLiteral("cd")), QStringLiteral("Home"));

        m_tracker->trackModalScreen(QStringLiteral("Unzip"));
        m_tracker->trackModalScreen(QStringLiteral("Unzip"));
        ++expected;
        QCOMPARE(valueOf(last(), QStringLiteral("cd")), QStringLiteral("Unzip"));
        event();
        ++expected;
        QCOMPARE(valueOf(last(), QStringLiteral("t")), QStringLiteral("event"));
        QCOMPARE(valueOf(last(), QStringLiteral("cd")), QStringLiteral("Unzip"));
        event(QStringLiteral("Own"));
        ++expected;
        QCOMPARE(valueOf(last(), QStringLiteral("cd")), QStringLiteral("Own"));

        // Switching replaces the top screen silently; a second modal stacks.
        m_tracker->switchToModalScreen(QStringLiteral("Progress"));
        m_tracker->trackModalScreen(QStringLiteral("Password"));
        ++expected;
        QCOMPARE(m_tracker->modalScreens(), QStringList({ QStringLiteral("Password"), QStringLiteral("Progress") }));
        m_tracker->stopTrackingModalScreen();
        event();
        ++expected;
        QCOMPARE(valueOf(last(), QStringLiteral("cd")), QStringLiteral("Progress"));

        // Popping the last modal screen sends the current screen again.
        m_tracker->stopTrackingModalScreen();
        ++expected;
        QCOMPARE(valueOf(last(), QStringLiteral("t")), QStringLiteral("appview"));
        QCOMPARE(valueOf(last(), QStringLiteral("cd")), QStringLiteral("Home"));
        m_tracker->stopTrackingModalScreen();
        event();
        ++expected;
        QCOMPARE(valueOf(last(), QStringLiteral("cd")), QStringLiteral("Home"));
        settle();
        QCOMPARE(m_server->requestCount(), expected);
    }

    void timingHitCarriesItsFields()
    {
        makeTracker(true);
        activate();
        m_tracker->trackScreen(QStringLiteral("Home"));
        m_tracker->trackTimingOfCategory(
            QStringLiteral("Zip"), QStringLiteral("compress"), QStringLiteral("1200"), QString());
        QTRY_COMPARE(m_server->requestCount(), 2);
        const Pairs pairs = pairsOf(body(1)).mid(5);
        QCOMPARE(pairs,
            Pairs({ { QStringLiteral("t"), QStringLiteral("timing") }, { QStringLiteral("utc"), QStringLiteral("Zip") },
                { QStringLiteral("utv"), QStringLiteral("compress") },
                { QStringLiteral("utt"), QStringLiteral("1200") }, { QStringLiteral("cd"), QStringLiteral("Home") },
                { QStringLiteral("cd2"), QStringLiteral("Debian GNU/Linux 12 en-US") } }));
        QCOMPARE(m_announced.size(), 0);
    }

    void bodyEscapesEveryReservedCharacter()
    {
        makeTracker(false);
        activate();
        m_tracker->trackEventOfCategory(QStringLiteral("Zip"), QStringLiteral("a b"),
            QStringLiteral("!*'();:@&=+$,/?%#[]é-_.~"), QStringLiteral("3"), QString(), QStringLiteral("x"));
        QTRY_COMPARE(m_server->requestCount(), 1);
        const LoopbackHttpServer::Request request = m_server->requests().first();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.path, QByteArray("/collect"));
        QCOMPARE(request.header("user-agent"), QByteArray("Mozilla/5.0 (X11; Linux x86_64) Zavrin/1.0.0"));
        QCOMPARE(request.header("content-type"), QByteArray("application/x-www-form-urlencoded"));
        QVERIFY(request.header("cookie").isEmpty());
        // The identity values are escaped like any value, and the system text
        // is a pair of its own at the end.
        QCOMPARE(request.body,
            QByteArray("v=1&tid=UA-1-1&an=Zavrin&av=42&cid=ab%2B%2Fc%3D%3D&t=event&cd1=x&ec=Zip&ea=a%20b"
                       "&el=%21%2A%27%28%29%3B%3A%40%26%3D%2B%24%2C%2F%3F%25%23%5B%5D%C3%A9-_.~&ev=3"
                       "&cd2=Debian%20GNU%2FLinux%2012%20en-US"));
    }

    void requestsGoOutOneAtATimeAndFailuresAreDropped_data()
    {
        QTest::addColumn<LoopbackHttpServer::Reply>("failure");
        LoopbackHttpServer::Reply rejected;
        rejected.status = 500;
        QTest::newRow("500") << rejected;
        QTest::newRow("garbage") << LoopbackHttpServer::Reply::garbage();
        QTest::newRow("cut after the headers") << LoopbackHttpServer::Reply::cutAfterHeaders();
    }

    void requestsGoOutOneAtATimeAndFailuresAreDropped()
    {
        QFETCH(LoopbackHttpServer::Reply, failure);
        m_server->setReply(failure);
        m_server->setHolding(true);
        makeTracker(false);
        activate();
        for (int i = 1; i <= 3; ++i)
            m_tracker->trackEventOfCategory(QStringLiteral("Zip"), QStringLiteral("go"), QString(), QString::number(i));
        QTRY_COMPARE(m_server->requestCount(), 1);
        QTest::qWait(100);
        QCOMPARE(m_server->requestCount(), 1);
        QCOMPARE(m_tracker->pendingRequestCount(), 3);

        // A failed hit is dropped, never resent, and the next one goes out, in order.
        for (int i = 0; i < 3; ++i) {
            QTRY_COMPARE(m_server->requestCount(), i + 1);
            QCOMPARE(valueOf(body(i), QStringLiteral("ev")), QString::number(i + 1));
            m_server->release();
            m_server->setHolding(true);
        }
        settle();
        QTest::qWait(50);
        QCOMPARE(m_server->requestCount(), 3);
    }

    void hitsFromAWorkerThreadGoOut()
    {
        makeTracker(true);
        activate();
        std::unique_ptr<QThread> worker(QThread::create([this] {
            m_tracker->trackEventOfCategory(QStringLiteral("Zip"), QStringLiteral("bg"), QString(), QString());
        }));
        worker->start();
        QVERIFY(worker->wait(5000));
        QTRY_COMPARE(m_server->requestCount(), 1);
        QCOMPARE(valueOf(body(0), QStringLiteral("ea")), QStringLiteral("bg"));
        QCOMPARE(m_announced.size(), 1);
    }

    void debugFlagIsReadOnce()
    {
        makeTracker(false);
        activate();
        QVERIFY(!m_tracker->isDebugEnabled());
        Defaults::standard().setValue(QStringLiteral("ShowDebugMenu"), true);
        m_tracker->trackEventOfCategory(QStringLiteral("Zip"), QStringLiteral("go"), QString(), QString());
        QTRY_COMPARE(m_server->requestCount(), 1);
        QCOMPARE(m_announced.size(), 0);
    }

    void parametersLeaveOutEmptyFields()
    {
        const MPEventParams event = MPParamBuilder::eventParamsForCategory(
            QStringLiteral("Zip"), QStringLiteral("go"), QString(), QStringLiteral(""));
        QCOMPARE(event.dictionaryRepresentation(),
            MPParameters({ { QStringLiteral("t"), QStringLiteral("event") },
                { QStringLiteral("ec"), QStringLiteral("Zip") }, { QStringLiteral("ea"), QStringLiteral("go") } }));
        QCOMPARE(MPParamBuilder::appViewParamsForScreen(QStringLiteral("Home")).dictionaryRepresentation(),
            MPParameters({ { QStringLiteral("t"), QStringLiteral("appview") },
                { QStringLiteral("cd"), QStringLiteral("Home") } }));
        // Timings carry no screen of their own; the tracker adds the current one.
        MPTimingParams timing = MPParamBuilder::timingParamsForCategory(
            QStringLiteral("Zip"), QStringLiteral("run"), QStringLiteral("5"), QStringLiteral("big"));
        timing.contentDescription = QStringLiteral("ignored");
        QCOMPARE(timing.dictionaryRepresentation().keys(),
            QStringList({ QStringLiteral("t"), QStringLiteral("utc"), QStringLiteral("utv"), QStringLiteral("utt"),
                QStringLiteral("utl") }));
    }

    void clientIdIsTheAppSpecificMachineId()
    {
        // Vectors worked out with an independent HMAC-SHA256.
        QCOMPARE(TrackerHelper::appSpecificId(QStringLiteral("0123456789abcdef0123456789abcdef")),
            QStringLiteral("e8f08631-030a-47bb-a7c6-4d13c65335e7"));
        QCOMPARE(TrackerHelper::appSpecificId(QStringLiteral("0123456789ABCDEF0123456789ABCDEF")),
            QStringLiteral("e8f08631-030a-47bb-a7c6-4d13c65335e7"));
        for (const QString& unusable : { QString(), QStringLiteral("feedface"), QStringLiteral("uninitialized") })
            QCOMPARE(TrackerHelper::appSpecificId(unusable), QStringLiteral("8fd15968-3815-4be7-a6a0-77b7e0e9543c"));

        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkpath(QStringLiteral("etc")));
        QFile machineId(root.filePath(QStringLiteral("etc/machine-id")));
        QVERIFY(machineId.open(QIODevice::WriteOnly));
        machineId.write("0123456789abcdef0123456789abcdef\n");
        machineId.close();
        QFile release(root.filePath(QStringLiteral("etc/os-release")));
        QVERIFY(release.open(QIODevice::WriteOnly));
        release.write("NAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n");
        release.close();
        const SystemFacts facts(root.path());
        Bundle::setPreferredLanguages({ QStringLiteral("zh-TW"), QStringLiteral("en") });
        TrackerHelper helper(facts);
        QCOMPARE(helper.systemInfo(), QStringLiteral("Debian GNU/Linux 12 zh-TW"));
        Bundle::setPreferredLanguages({});
        QCOMPARE(helper.userIdentifier(), QStringLiteral("e8f08631-030a-47bb-a7c6-4d13c65335e7"));

        // The running machine's id agrees with systemd's own derivation.
        const QString tool = QStandardPaths::findExecutable(QStringLiteral("systemd-id128"));
        if (tool.isEmpty() || SystemFacts::running().machineId().isEmpty())
            QSKIP("no systemd-id128 or no machine id");
        QProcess process;
        process.start(tool,
            { QStringLiteral("machine-id"), QStringLiteral("-u"),
                QStringLiteral("--app-specific=") + QString::fromLatin1(TrackerHelper::applicationId().toHex()) });
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(TrackerHelper().userIdentifier(), QString::fromLatin1(process.readAllStandardOutput().trimmed()));
    }
};

ZAVRIN_TEST(MPTrackerTest)
#include "tst_mptracker.moc"
