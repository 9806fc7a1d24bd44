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

// "t/cd" of each hit received, in order.
QStringList hitsOf(const QList<LoopbackHttpServer::Request>& requests)
{
    QStringList hits;
    for (const LoopbackHttpServer::Request& request : requests)
        hits.append(valueOf(request.body, QStringLiteral("t")) + u'/' + valueOf(request.body, QStringLiteral("cd")));
    return hits;
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

        // Configured again: a hit from a worker thread goes out too.
        qputenv("ZAVRIN_ENDPOINT_BASE", m_server->baseUrl().toString().toUtf8());
        std::unique_ptr<QThread> worker(QThread::create([this] {
            m_tracker->trackEventOfCategory(QStringLiteral("Zip"), QStringLiteral("bg"), QString(), QString());
        }));
        worker->start();
        QVERIFY(worker->wait(5000));
        QTRY_COMPARE(m_server->requestCount(), 1);
        QCOMPARE(valueOf(body(0), QStringLiteral("ea")), QStringLiteral("bg"));
    }

    void categoriesRouteToTheirTrackingIds_data()
    {
        QTest::addColumn<QString>("category");
        QTest::addColumn<bool>("stopped");
        QTest::addColumn<QStringList>("tids");
        const QString main = QStringLiteral("UA-1-1");
        QTest::newRow("duplicated") << QStringLiteral("Zip") << false << QStringList { main, QStringLiteral("UA-2-2") };
        QTest::newRow("additional") << QStringLiteral("Share") << false << QStringList { QStringLiteral("UA-3-3") };
        QTest::newRow("additional wins") << QStringLiteral("Both") << false << QStringList { QStringLiteral("UA-3-3") };
        QTest::newRow("other") << QStringLiteral("Other") << false << QStringList { main };
        QTest::newRow("no longer duplicated") << QStringLiteral("Zip") << true << QStringList { main };
        QTest::newRow("no longer added") << QStringLiteral("Share") << true << QStringList { main };
    }

    void categoriesRouteToTheirTrackingIds()
    {
        QFETCH(QString, category);
        QFETCH(bool, stopped);
        QFETCH(QStringList, tids);
        makeTracker(true);
        MPAnalyticsConfiguration configuration(QStringLiteral("UA-1-1"));
        configuration.duplicateEventsForCategory(QStringLiteral("Zip"), QStringLiteral("UA-2-2"));
        configuration.addEventsForCategory(QStringLiteral("Share"), QStringLiteral("UA-3-3"));
        configuration.duplicateEventsForCategory(QStringLiteral("Both"), QStringLiteral("UA-2-2"));
        configuration.addEventsForCategory(QStringLiteral("Both"), QStringLiteral("UA-3-3"));
        // Pairs with a missing half are not kept.
        configuration.addEventsForCategory(QStringLiteral("Zip"), QString());
        configuration.duplicateEventsForCategory(QString(), QStringLiteral("UA-9-9"));
        if (stopped) {
            configuration.stopAddingEventsForCategory(QStringLiteral("Share"));
            configuration.stopDuplicatingEventsForCategory(QStringLiteral("Zip"));
        }
        activate(configuration);
        m_tracker->trackEventOfCategory(category, QStringLiteral("go"), QString(), QString());
        settle();
        QStringList sent;
        for (const LoopbackHttpServer::Request& request : m_server->requests())
            sent.append(valueOf(request.body, QStringLiteral("tid")));
        QCOMPARE(sent, tids);
        // Each copy is announced with its own id.
        QCOMPARE(m_announced.size(), tids.size());
        QCOMPARE(m_announced.last().value(QStringLiteral("gaid")).toString(), tids.last());
        QCOMPARE(m_announced.last().value(QStringLiteral("ec")).toString(), category);
    }

    void screensSetTheContentDescription_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("hits");
        QTest::newRow("pop before any screen") << QStringList { QStringLiteral("modal Intro"), QStringLiteral("pop") }
                                               << QStringList { QStringLiteral("appview/Intro") };
        QTest::newRow("a modal screen names events")
            << QStringList { QStringLiteral("screen Home"), QStringLiteral("modal Unzip"),
                   QStringLiteral("modal Unzip"), QStringLiteral("event"), QStringLiteral("event Own") }
            << QStringList { QStringLiteral("appview/Home"), QStringLiteral("appview/Unzip"),
                   QStringLiteral("event/Unzip"), QStringLiteral("event/Own") };
        QTest::newRow("switch, stack and pop")
            << QStringList { QStringLiteral("screen Home"), QStringLiteral("modal Unzip"),
                   QStringLiteral("switch Progress"), QStringLiteral("modal Password"), QStringLiteral("pop"),
                   QStringLiteral("event") }
            << QStringList { QStringLiteral("appview/Home"), QStringLiteral("appview/Unzip"),
                   QStringLiteral("appview/Password"), QStringLiteral("event/Progress") };
        QTest::newRow("the last pop returns to the screen")
            << QStringList { QStringLiteral("screen Home"), QStringLiteral("modal Unzip"), QStringLiteral("pop"),
                   QStringLiteral("pop"), QStringLiteral("event"), QStringLiteral("timing") }
            << QStringList { QStringLiteral("appview/Home"), QStringLiteral("appview/Unzip"),
                   QStringLiteral("appview/Home"), QStringLiteral("event/Home"), QStringLiteral("timing/Home") };
    }

    void screensSetTheContentDescription()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, hits);
        makeTracker(false);
        activate();
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
                m_tracker->trackEventOfCategory(
                    QStringLiteral("Zip"), QStringLiteral("go"), QString(), QString(), name, QString());
            else
                m_tracker->trackTimingOfCategory(
                    QStringLiteral("Zip"), QStringLiteral("run"), QStringLiteral("5"), QString());
        }
        settle();
        QCOMPARE(hitsOf(m_server->requests()), hits);
    }

    void bodiesEscapeEveryReservedCharacter()
    {
        makeTracker(true);
        activate();
        m_tracker->trackEventOfCategory(QStringLiteral("Zip"), QStringLiteral("a b"),
            QStringLiteral("!*'();:@&=+$,/?%#[]é-_.~"), QStringLiteral("3"), QString(), QStringLiteral("x"));
        m_tracker->trackTimingOfCategory(
            QStringLiteral("Zip"), QStringLiteral("compress"), QStringLiteral("1200"), QString());
        settle();
        QCOMPARE(m_server->requestCount(), 2);
        const LoopbackHttpServer::Request request = m_server->requests().first();
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
        QCOMPARE(body(1),
            QByteArray("v=1&tid=UA-1-1&an=Zavrin&av=42&cid=ab%2B%2Fc%3D%3D&t=timing&utc=Zip&utv=compress&utt=1200"
                       "&cd2=Debian%20GNU%2FLinux%2012%20en-US"));
        QCOMPARE(m_announced.size(), 1); // only event hits are announced
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
        for (const auto& [name, content] : { std::pair { "machine-id", "0123456789abcdef0123456789abcdef\n" },
                 std::pair { "os-release", "NAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n" } }) {
            QFile file(root.filePath(QStringLiteral("etc/") + QLatin1StringView(name)));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) > 0);
        }
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
