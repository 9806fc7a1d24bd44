#include "platform/Bundle.h"
#include "platform/Defaults.h"
#include "platform/NotificationCenter.h"
#include "telemetry/MPGoogleAnalyticsTracker.h"
#include "telemetry/MPParamBuilder.h"
#include "telemetry/TrackerHelper.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TestMain.h"
#include "tests/support/ZipInspection.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QUrl>
#include <memory>

using namespace Qt::StringLiterals;

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
        hits.append(valueOf(request.body, u"t"_s) + u'/' + valueOf(request.body, u"cd"_s));
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
        Defaults::standard().setValue(u"ShowDebugMenu"_s, debug);
        m_tracker = std::make_unique<MPGoogleAnalyticsTracker>();
        TrackerHelper& helper = m_tracker->trackerInfoHelper();
        helper.setApplicationName(u"Zavrin"_s);
        helper.setApplicationVersion(u"42"_s);
        helper.setUserIdentifier(u"ab+/c=="_s);
        helper.setSystemInfo(u"Debian GNU/Linux 12 en-US"_s);
        helper.setUserAgentString(u"Mozilla/5.0 (X11; Linux x86_64) Zavrin/1.0.0"_s);
    }
    void activate(const MPAnalyticsConfiguration& configuration = MPAnalyticsConfiguration(u"UA-1-1"_s))
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
        m_server->serveEndpoints();
        m_announced.clear();
        m_observerContext = std::make_unique<QObject>();
        NotificationCenter::defaultCenter().addObserver(u"AnalyticsEvent"_s, m_observerContext.get(),
            [this](const Notification& n) { m_announced.append(n.userInfo); });
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
        makeTracker(true);
        m_tracker->trackEventOfCategory(u"Zip"_s, u"start"_s, QString(), QString());
        m_tracker->trackScreen(u"Home"_s);
        m_tracker->trackTimingOfCategory(u"Zip"_s, u"run"_s, u"5"_s, QString());
        QTest::qWait(50);
        QCOMPARE(m_server->requestCount(), 0);
        QCOMPARE(m_announced.size(), 0);

        // Active but unconfigured endpoint: nothing sent, still announced.
        activate();
        m_server->serveEndpoints(false);
        m_tracker->trackEventOfCategory(u"Zip"_s, u"start"_s, QString(), QString());
        settle();
        QCOMPARE(m_server->requestCount(), 0);
        QCOMPARE(m_announced.size(), 1);

        // Configured again: a hit from a worker thread goes out too.
        m_server->serveEndpoints();
        std::unique_ptr<QThread> worker(
            QThread::create([this] { m_tracker->trackEventOfCategory(u"Zip"_s, u"bg"_s, QString(), QString()); }));
        worker->start();
        QVERIFY(worker->wait(5000));
        QTRY_COMPARE(m_server->requestCount(), 1);
        QCOMPARE(valueOf(body(0), u"ea"_s), u"bg"_s);
    }

    void categoriesRouteToTheirTrackingIds_data()
    {
        QTest::addColumn<QString>("category");
        QTest::addColumn<bool>("stopped");
        QTest::addColumn<QStringList>("tids");
        const QString main = u"UA-1-1"_s;
        QTest::newRow("duplicated") << u"Zip"_s << false << QStringList { main, u"UA-2-2"_s };
        QTest::newRow("additional") << u"Share"_s << false << QStringList { u"UA-3-3"_s };
        QTest::newRow("additional wins") << u"Both"_s << false << QStringList { u"UA-3-3"_s };
        QTest::newRow("other") << u"Other"_s << false << QStringList { main };
        QTest::newRow("no longer duplicated") << u"Zip"_s << true << QStringList { main };
        QTest::newRow("no longer added") << u"Share"_s << true << QStringList { main };
    }

    void categoriesRouteToTheirTrackingIds()
    {
        QFETCH(QString, category);
        QFETCH(bool, stopped);
        QFETCH(QStringList, tids);
        makeTracker(true);
        MPAnalyticsConfiguration configuration(u"UA-1-1"_s);
        configuration.duplicateEventsForCategory(u"Zip"_s, u"UA-2-2"_s);
        configuration.addEventsForCategory(u"Share"_s, u"UA-3-3"_s);
        configuration.duplicateEventsForCategory(u"Both"_s, u"UA-2-2"_s);
        configuration.addEventsForCategory(u"Both"_s, u"UA-3-3"_s);
        // Pairs with a missing half are not kept.
        configuration.addEventsForCategory(u"Zip"_s, QString());
        configuration.duplicateEventsForCategory(QString(), u"UA-9-9"_s);
        if (stopped) {
            configuration.stopAddingEventsForCategory(u"Share"_s);
            configuration.stopDuplicatingEventsForCategory(u"Zip"_s);
        }
        activate(configuration);
        m_tracker->trackEventOfCategory(category, u"go"_s, QString(), QString());
        settle();
        QStringList sent;
        for (const LoopbackHttpServer::Request& request : m_server->requests())
            sent.append(valueOf(request.body, u"tid"_s));
        QCOMPARE(sent, tids);
        // Each copy is announced with its own id.
        QCOMPARE(m_announced.size(), tids.size());
        QCOMPARE(m_announced.last().value(u"gaid"_s).toString(), tids.last());
        QCOMPARE(m_announced.last().value(u"ec"_s).toString(), category);
    }

    void screensSetTheContentDescription_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("hits");
        QTest::newRow("pop before any screen")
            << QStringList { u"modal Intro"_s, u"pop"_s } << QStringList { u"appview/Intro"_s };
        QTest::newRow("a modal screen names events")
            << QStringList { u"screen Home"_s, u"modal Unzip"_s, u"modal Unzip"_s, u"event"_s, u"event Own"_s }
            << QStringList { u"appview/Home"_s, u"appview/Unzip"_s, u"event/Unzip"_s, u"event/Own"_s };
        QTest::newRow("switch, stack and pop") << QStringList {
            u"screen Home"_s, u"modal Unzip"_s, u"switch Progress"_s, u"modal Password"_s, u"pop"_s, u"event"_s
        } << QStringList { u"appview/Home"_s, u"appview/Unzip"_s, u"appview/Password"_s, u"event/Progress"_s };
        QTest::newRow("the last pop returns to the screen")
            << QStringList { u"screen Home"_s, u"modal Unzip"_s, u"pop"_s, u"pop"_s, u"event"_s, u"timing"_s }
            << QStringList { u"appview/Home"_s, u"appview/Unzip"_s, u"appview/Home"_s, u"event/Home"_s,
                   u"timing/Home"_s };
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
                m_tracker->trackEventOfCategory(u"Zip"_s, u"go"_s, QString(), QString(), name, QString());
            else
                m_tracker->trackTimingOfCategory(u"Zip"_s, u"run"_s, u"5"_s, QString());
        }
        settle();
        QCOMPARE(hitsOf(m_server->requests()), hits);
    }

    void bodiesEscapeEveryReservedCharacter()
    {
        makeTracker(true);
        activate();
        m_tracker->trackEventOfCategory(u"Zip"_s, u"a b"_s, u"!*'();:@&=+$,/?%#[]é-_.~"_s, u"3"_s, QString(), u"x"_s);
        m_tracker->trackTimingOfCategory(u"Zip"_s, u"compress"_s, u"1200"_s, QString());
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
            m_tracker->trackEventOfCategory(u"Zip"_s, u"go"_s, QString(), QString::number(i));
        QTRY_COMPARE(m_server->requestCount(), 1);
        QTest::qWait(100);
        QCOMPARE(m_server->requestCount(), 1);
        QCOMPARE(m_tracker->pendingRequestCount(), 3);

        // A failed hit is dropped, never resent, and the next one goes out, in order.
        for (int i = 0; i < 3; ++i) {
            QTRY_COMPARE(m_server->requestCount(), i + 1);
            QCOMPARE(valueOf(body(i), u"ev"_s), QString::number(i + 1));
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
        Defaults::standard().setValue(u"ShowDebugMenu"_s, true);
        m_tracker->trackEventOfCategory(u"Zip"_s, u"go"_s, QString(), QString());
        QTRY_COMPARE(m_server->requestCount(), 1);
        QCOMPARE(m_announced.size(), 0);
    }

    void clientIdIsTheAppSpecificMachineId()
    {
        // Vectors worked out with an independent HMAC-SHA256.
        QCOMPARE(TrackerHelper::appSpecificId(u"0123456789abcdef0123456789abcdef"_s),
            u"e8f08631-030a-47bb-a7c6-4d13c65335e7"_s);
        QCOMPARE(TrackerHelper::appSpecificId(u"0123456789ABCDEF0123456789ABCDEF"_s),
            u"e8f08631-030a-47bb-a7c6-4d13c65335e7"_s);
        for (const QString& unusable : { QString(), u"feedface"_s, u"uninitialized"_s })
            QCOMPARE(TrackerHelper::appSpecificId(unusable), u"8fd15968-3815-4be7-a6a0-77b7e0e9543c"_s);

        QTemporaryDir root;
        QVERIFY(ZipInspection::writeFile(root.filePath(u"etc/machine-id"_s), "0123456789abcdef0123456789abcdef\n"));
        QVERIFY(ZipInspection::writeFile(
            root.filePath(u"etc/os-release"_s), "NAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n"));
        const SystemFacts facts(root.path());
        Bundle::setPreferredLanguages({ u"zh-TW"_s, u"en"_s });
        TrackerHelper helper(facts);
        QCOMPARE(helper.systemInfo(), u"Debian GNU/Linux 12 zh-TW"_s);
        Bundle::setPreferredLanguages({});
        QCOMPARE(helper.userIdentifier(), u"e8f08631-030a-47bb-a7c6-4d13c65335e7"_s);

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
