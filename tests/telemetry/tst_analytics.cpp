#include "platform/Bundle.h"
#include "platform/Defaults.h"
#include "platform/NotificationCenter.h"
#include "telemetry/HTTPFormExtensions.h"
#include "telemetry/KKGADictionaryBuilder.h"
#include "telemetry/KKGASystemInfo.h"
#include "telemetry/KKGoogleAnalytics.h"
#include "telemetry/SystemFacts.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QUuid>
#include <memory>

namespace {

using Reply = LoopbackHttpServer::Reply;

QVariantMap eventHit(int n, qsizetype labelSize = 0)
{
    const QString label = QStringLiteral("hit %1 ").arg(n) + QString(labelSize, u'x');
    return KKGADictionaryBuilder::createEventWithCategory(QStringLiteral("cat"), QStringLiteral("act"), label, n)
        .build();
}

QList<QByteArray> linesOf(const LoopbackHttpServer::Request& request)
{
    return request.body.endsWith('\n') ? request.body.chopped(1).split('\n') : QList<QByteArray> { "unterminated" };
}

} // namespace

class AnalyticsTest final : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Defaults> m_defaults;
    std::unique_ptr<LoopbackHttpServer> m_server;

    QString storeFolder() const { return m_dir->filePath(QStringLiteral("app.zavrin.Zavrin")); }
    QString storeFile() const { return QDir(storeFolder()).filePath(QStringLiteral("GoogleAnalytics.storedata")); }
    std::unique_ptr<KKGoogleAnalytics> makeClient(const QString& folder = {}, int capacity = 10000)
    {
        auto client = std::make_unique<KKGoogleAnalytics>(
            folder.isEmpty() ? storeFolder() : folder, *m_defaults, nullptr, capacity);
        client->setTrackingID(QStringLiteral("UA-1234-5"));
        return client;
    }
    void pointAtServer() { qputenv("ZAVRIN_ENDPOINT_BASE", m_server->baseUrl().toString().toUtf8()); }
    // Dispatches and waits until the chain of batches has ended.
    void drain(KKGoogleAnalytics& client)
    {
        client.dispatch();
        QTRY_VERIFY(!client.isBatchInFlight());
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_defaults = std::make_unique<Defaults>(m_dir->filePath(QStringLiteral("defaults.ini")));
        m_server = std::make_unique<LoopbackHttpServer>();
        QVERIFY(m_server->start());
        pointAtServer();
    }

    void cleanup()
    {
        qunsetenv("ZAVRIN_ENDPOINT_BASE");
        KKGASystemInfo::setScreenProvider({});
        Bundle::setPreferredLanguages({});
        KKGoogleAnalytics::setErrorPresenter({});
        m_server.reset();
        m_defaults.reset();
        m_dir.reset();
    }

    void formEncoderEscapesOnlyWhatBreaksAPair_data()
    {
        QTest::addColumn<QVariantMap>("map");
        QTest::addColumn<QString>("encoded");
        const auto one = [](const QVariant& value) { return QVariantMap { { QStringLiteral("a"), value } }; };
        QTest::newRow("amp and plus") << one(QStringLiteral("x&y+z")) << QStringLiteral("a=x%26y%2Bz");
        QTest::newRow("space") << one(QStringLiteral("a b")) << QStringLiteral("a=a%20b");
        QTest::newRow("reserved stay") << one(QStringLiteral("=/?:@;,$!*'()-_.~"))
                                       << QStringLiteral("a==/?:@;,$!*'()-_.~");
        QTest::newRow("percent and hash") << one(QStringLiteral("50%#1")) << QStringLiteral("a=50%25%231");
        QTest::newRow("utf-8 upper hex") << one(QStringLiteral("解压é"))
                                         << QStringLiteral("a=%E8%A7%A3%E5%8E%8B%C3%A9");
        QTest::newRow("numbers") << QVariantMap { { QStringLiteral("a"), 0 }, { QStringLiteral("b"), 2.5 } }
                                 << QStringLiteral("a=0&b=2.5");
        QTest::newRow("nested map as json") << QVariantMap {
            { QStringLiteral("launch"), QVariantMap { { QStringLiteral("k"), QStringLiteral("v") } } }
        } << QStringLiteral("launch=%7B%22k%22:%22v%22%7D");
        QTest::newRow("keys escaped, pairs in key order")
            << QVariantMap { { QStringLiteral("b"), 2 }, { QStringLiteral("a&"), 1 } } << QStringLiteral("a%26=1&b=2");
        QTest::newRow("empty") << QVariantMap() << QString();
    }

    void formEncoderEscapesOnlyWhatBreaksAPair()
    {
        QFETCH(QVariantMap, map);
        QFETCH(QString, encoded);
        QCOMPARE(HTTPFormExtensions::stringAsWWWURLEncodedFormFromDictionary(map), encoded);
    }

    void userAgentNamesTheSystemVersion()
    {
        QCOMPARE(KKGASystemInfo::versionTriple(QStringLiteral("12")), QStringLiteral("12_0_0"));
        QCOMPARE(KKGASystemInfo::versionTriple(QStringLiteral("22.04.3 LTS")), QStringLiteral("22_4_3"));
        const QString agent = KKGoogleAnalytics::userAgent();
        const QString system = KKGASystemInfo::versionTriple(SystemFacts::running().osVersion());
        QVERIFY2(agent.startsWith(u"Holvane/") && agent.contains(QStringLiteral(" Linux ") + system + u';'),
            qPrintable(agent));
    }

    void builderMapsAndAnnouncesEachHit()
    {
        QList<QVariantMap> announced;
        QObject context;
        NotificationCenter::defaultCenter().addObserver(
            QStringLiteral("AnalyticsEvent"), &context, [&](const Notification& n) { announced.append(n.userInfo); });
        using B = KKGADictionaryBuilder;
        const auto s = [](const char* text) { return QString::fromUtf8(text); };
        const QVariantMap bare = B::createEventWithCategory(s("c"), s("a"), std::nullopt, std::nullopt).build();
        QCOMPARE(bare, (QVariantMap { { s("t"), s("event") }, { s("ec"), s("c") }, { s("ea"), s("a") } }));
        const QVariantMap page = B::createPageViewWithName(s("Home"), s("h.example"), s("/home")).build();
        QCOMPARE(page.value(s("dh")).toString() + page.value(s("dt")).toString(), s("h.exampleHome"));
        KKGADictionaryBuilder builder;
        builder.setAll({ { QStringLiteral("only"), 1 } }); // plain setters announce nothing
        QCOMPARE(announced, (QList<QVariantMap> { bare, page }));
    }

    void hitsAreCompletedWithIdentityAndScreen()
    {
        KKGASystemInfo::setScreenProvider([] { return KKGASystemInfo::ScreenFacts { 1920, 1080, 24 }; });
        Bundle::setPreferredLanguages({ QStringLiteral("zh-Hans-CN"), QStringLiteral("en") });
        auto client = makeClient();
        const QStringList pairs = client->encodedHit(eventHit(1)).split(u'&');
        for (const QString& pair : { QStringLiteral("v=1"), QStringLiteral("tid=UA-1234-5"),
                 QString(QStringLiteral("cid=") + client->clientID()), QStringLiteral("sr=1920x1080"),
                 QStringLiteral("sd=24-bits"), QStringLiteral("ul=zh-Hans-CN") })
            QVERIFY2(pairs.contains(pair), qPrintable(pair));
        QVERIFY(!pairs.join(u'&').contains(QStringLiteral("uid=")));
        client->setUserID(QStringLiteral("user 7"));
        QVERIFY(client->encodedHit({}).split(u'&').contains(QStringLiteral("uid=user%207")));
        // The client id is kept: a later client of the installation has the same.
        QVERIFY(!QUuid::fromString(client->clientID()).isNull());
        QCOMPARE(makeClient()->clientID(), client->clientID());

        // Without a screen source: "0x0" and no depth; the C locale names no language.
        KKGASystemInfo::setScreenProvider({});
        Bundle::setPreferredLanguages({ QStringLiteral("C") });
        const QString bare = makeClient()->encodedHit({});
        QVERIFY(bare.split(u'&').contains(QStringLiteral("sr=0x0")));
        QVERIFY(!bare.contains(QStringLiteral("sd=")) && !bare.contains(QStringLiteral("ul=")));
    }

    void withoutAnEndpointNothingIsKept()
    {
        qunsetenv("ZAVRIN_ENDPOINT_BASE");
        {
            auto client = makeClient();
            QVERIFY(!client->isDispatching());
            for (int i = 0; i < 3; ++i)
                client->send(eventHit(i));
            QVERIFY(!client->dispatch());
        }
        QVERIFY(!QFileInfo::exists(storeFolder()));
        // A later run with an endpoint finds no backlog to send.
        pointAtServer();
        auto configured = makeClient();
        QVERIFY(configured->isDispatching());
        QTest::qWait(50);
        QCOMPARE(m_server->requestCount(), 0);
    }

    void hitsGoOutInBoundedBatchesUntilNoneIsLeft_data()
    {
        QTest::addColumn<int>("hits");
        QTest::addColumn<int>("labelSize");
        QTest::addColumn<QList<int>>("batches");
        QTest::newRow("by count") << 45 << 0 << QList<int> { 20, 20, 5 };
        QTest::newRow("by size") << 10 << 3000 << QList<int> { 5, 5 };
        QTest::newRow("an oversized hit goes alone") << 2 << 20000 << QList<int> { 1, 1 };
    }

    void hitsGoOutInBoundedBatchesUntilNoneIsLeft()
    {
        QFETCH(int, hits);
        QFETCH(int, labelSize);
        QFETCH(QList<int>, batches);
        auto client = makeClient();
        QVERIFY(!client->dispatch()); // nothing stored: no request
        for (int i = 0; i < hits - 1; ++i)
            client->send(eventHit(i, labelSize));
        std::unique_ptr<QThread> worker(QThread::create([&] { client->send(eventHit(hits - 1, labelSize)); }));
        worker->start();
        QVERIFY(worker->wait(5000));
        QTest::qWait(0); // the worker's hit is queued to the main thread

        drain(*client);
        QTRY_COMPARE(m_server->requestCount(), batches.size());
        int next = 0;
        for (qsizetype b = 0; b < batches.size(); ++b) {
            const LoopbackHttpServer::Request request = m_server->requests().at(b);
            QCOMPARE(request.path, QByteArray("/batch"));
            QCOMPARE(QString::fromUtf8(request.header("user-agent")), KKGoogleAnalytics::userAgent());
            QVERIFY(request.body.size() <= KKGoogleAnalytics::kBatchMaxBytes || batches.at(b) == 1);
            const QList<QByteArray> lines = linesOf(request);
            QCOMPARE(lines.size(), batches.at(b));
            for (const QByteArray& line : lines) // oldest first
                QVERIFY2(line.contains(QByteArray("&el=hit%20" + QByteArray::number(next++) + "%20")),
                    line.left(80).constData());
        }
        QVERIFY(!client->dispatch()); // delivered records are gone
    }

    void onlyACompleteAnswerDeletesTheBatch_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<bool>("refuse");
        QTest::addColumn<bool>("delivered");
        Reply error;
        error.status = 503;
        Reply badRequest;
        badRequest.status = 400;
        QTest::newRow("503") << error << false << true;
        QTest::newRow("400") << badRequest << false << true;
        QTest::newRow("dropped before an answer") << Reply() << true << false;
        QTest::newRow("garbage") << Reply::garbage() << false << false;
        QTest::newRow("cut after the headers") << Reply::cutAfterHeaders() << false << false;
        QTest::newRow("silent after the headers") << Reply::cutAfterHeaders(true) << false << false;
    }

    void onlyACompleteAnswerDeletesTheBatch()
    {
        QFETCH(Reply, reply);
        QFETCH(bool, refuse);
        QFETCH(bool, delivered);
        m_server->setReply(reply);
        m_server->setRefusing(refuse);
        auto client = makeClient();
        client->setRequestTimeout(300);
        client->send(eventHit(1));
        client->send(eventHit(2));
        drain(*client);
        QTest::qWait(50);
        QCOMPARE(m_server->requestCount(), 1); // tried once, never resent by the network layer
        const QByteArray sent = m_server->requests().first().body;

        m_server->setReply(Reply());
        m_server->setRefusing(false);
        QCOMPARE(client->dispatch(), !delivered);
        if (!delivered) {
            QTRY_COMPARE(m_server->requestCount(), 2);
            QCOMPARE(m_server->requests().at(1).body, sent);
        }
    }

    void aHitStoredDuringABatchGoesInTheNext()
    {
        m_server->setHolding(true);
        auto client = makeClient();
        client->send(eventHit(1));
        QVERIFY(client->dispatch());
        QTRY_COMPARE(m_server->requestCount(), 1);
        client->send(eventHit(2));
        QVERIFY(!client->dispatch()); // one batch at a time
        m_server->release();
        QTRY_COMPARE(m_server->requestCount(), 2);
        QCOMPARE(m_server->requests().at(1).body, client->encodedHit(eventHit(2)).toUtf8() + '\n');
        QTRY_VERIFY(!client->isBatchInFlight());
        QVERIFY(!client->dispatch());
    }

    void hitsSurviveANewClientAndGoOutAtStart()
    {
        m_server->setRefusing(true);
        QString clientID;
        {
            auto first = makeClient();
            for (int i = 0; i < 3; ++i)
                first->send(eventHit(i));
            drain(*first);
            clientID = first->clientID();
        }
        m_server->setRefusing(false);
        m_server->clearRequests();
        auto second = makeClient(); // start-up dispatches once
        QCOMPARE(second->clientID(), clientID);
        QTRY_COMPARE(m_server->requestCount(), 1);
        QCOMPARE(linesOf(m_server->requests().first()).size(), 3);
    }

    void aFullStoreDropsTheOldestHits()
    {
        auto client = makeClient({}, 10);
        for (int i = 0; i < 15; ++i)
            client->send(eventHit(i));
        drain(*client);
        QCOMPARE(m_server->requestCount(), 1);
        const QList<QByteArray> lines = linesOf(m_server->requests().first());
        // Trimmed to nine tenths whenever the cap is passed: hits 6 to 14 are left.
        QCOMPARE(lines.size(), 9);
        QVERIFY(lines.first().contains("&el=hit%206%20"));
        QVERIFY(lines.last().contains("&el=hit%2014%20"));
    }

    void aStoreFailureIsReportedOnce_data()
    {
        QTest::addColumn<QString>("takenBy");
        QTest::addColumn<QByteArray>("content");
        QByteArray noise(8192, Qt::Uninitialized);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
        QTest::newRow("store folder taken by a file") << QStringLiteral("folder") << QByteArray();
        // An unreadable store is moved aside, kept as it was, and replaced.
        QTest::newRow("random bytes") << QStringLiteral("store") << noise;
        QTest::newRow("a database header over noise")
            << QStringLiteral("store") << QByteArray("SQLite format 3\0", 16) + noise;
    }

    void aStoreFailureIsReportedOnce()
    {
        QFETCH(QString, takenBy);
        QFETCH(QByteArray, content);
        const bool folderTaken = takenBy == u"folder";
        QVERIFY(QDir().mkpath(folderTaken ? m_dir->path() : storeFolder()));
        QFile file(folderTaken ? storeFolder() : storeFile());
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        file.close();
        QStringList shown;
        KKGoogleAnalytics::setErrorPresenter([&shown](const QString& message) { shown.append(message); });

        auto client = makeClient();
        client->send(eventHit(1));
        client->send(eventHit(2));
        drain(*client);
        makeClient()->send(eventHit(3)); // a second client of the process shows nothing more
        QCOMPARE(shown.size(), 1);
        if (folderTaken) {
            QCOMPARE(shown.first(),
                QStringLiteral("Expected a folder to store application data, found a file (%1).").arg(storeFolder()));
            QCOMPARE(m_server->requestCount(), 0);
            QVERIFY(QFileInfo(storeFolder()).isFile());
            return;
        }
        QCOMPARE(m_server->requestCount(), 1);
        QCOMPARE(linesOf(m_server->requests().first()).size(), 2);
        const QStringList aside = QDir(storeFolder()).entryList({ QStringLiteral("*.broken-*") }, QDir::Files);
        QCOMPARE(aside.size(), 1);
        QFile kept(QDir(storeFolder()).filePath(aside.first()));
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), content);
    }
};

ZAVRIN_TEST(AnalyticsTest)
#include "tst_analytics.moc"
