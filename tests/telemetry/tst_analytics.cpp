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
#include "tests/support/ZipInspection.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QUuid>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

using Reply = LoopbackHttpServer::Reply;

QVariantMap eventHit(int n, qsizetype labelSize = 0)
{
    const QString label = u"hit %1 "_s.arg(n) + QString(labelSize, u'x');
    return KKGADictionaryBuilder::createEventWithCategory(u"cat"_s, u"act"_s, label, n).build();
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

    QString storeFolder() const { return m_dir->filePath(u"app.zavrin.Zavrin"_s); }
    QString storeFile() const { return QDir(storeFolder()).filePath(u"GoogleAnalytics.storedata"_s); }
    std::unique_ptr<KKGoogleAnalytics> makeClient(const QString& folder = {}, int capacity = 10000)
    {
        auto client = std::make_unique<KKGoogleAnalytics>(
            folder.isEmpty() ? storeFolder() : folder, *m_defaults, nullptr, capacity);
        client->setTrackingID(u"UA-1234-5"_s);
        return client;
    }
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
        m_defaults = std::make_unique<Defaults>(m_dir->filePath(u"defaults.ini"_s));
        m_server = std::make_unique<LoopbackHttpServer>();
        QVERIFY(m_server->start());
        m_server->serveEndpoints();
    }

    void cleanup()
    {
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
        const auto one = [](const QVariant& value) { return QVariantMap { { u"a"_s, value } }; };
        QTest::newRow("amp and plus") << one(u"x&y+z"_s) << u"a=x%26y%2Bz"_s;
        QTest::newRow("space") << one(u"a b"_s) << u"a=a%20b"_s;
        QTest::newRow("reserved stay") << one(u"=/?:@;,$!*'()-_.~"_s) << u"a==/?:@;,$!*'()-_.~"_s;
        QTest::newRow("percent and hash") << one(u"50%#1"_s) << u"a=50%25%231"_s;
        QTest::newRow("utf-8 upper hex") << one(u"解压é"_s) << u"a=%E8%A7%A3%E5%8E%8B%C3%A9"_s;
        QTest::newRow("numbers") << QVariantMap { { u"a"_s, 0 }, { u"b"_s, 2.5 } } << u"a=0&b=2.5"_s;
        QTest::newRow("nested map as json")
            << QVariantMap { { u"launch"_s, QVariantMap { { u"k"_s, u"v"_s } } } } << u"launch=%7B%22k%22:%22v%22%7D"_s;
        QTest::newRow("keys escaped, pairs in key order")
            << QVariantMap { { u"b"_s, 2 }, { u"a&"_s, 1 } } << u"a%26=1&b=2"_s;
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
        QCOMPARE(KKGASystemInfo::versionTriple(u"12"_s), u"12_0_0"_s);
        QCOMPARE(KKGASystemInfo::versionTriple(u"22.04.3 LTS"_s), u"22_4_3"_s);
        const QString agent = KKGoogleAnalytics::userAgent();
        const QString system = KKGASystemInfo::versionTriple(SystemFacts::running().osVersion());
        QVERIFY2(agent.startsWith(u"Holvane/") && agent.contains(u" Linux "_s + system + u';'), qPrintable(agent));
    }

    void builderMapsAndAnnouncesEachHit()
    {
        QList<QVariantMap> announced;
        QObject context;
        NotificationCenter::defaultCenter().addObserver(
            u"AnalyticsEvent"_s, &context, [&](const Notification& n) { announced.append(n.userInfo); });
        using B = KKGADictionaryBuilder;
        const auto s = [](const char* text) { return QString::fromUtf8(text); };
        const QVariantMap bare = B::createEventWithCategory(s("c"), s("a"), std::nullopt, std::nullopt).build();
        QCOMPARE(bare, (QVariantMap { { s("t"), s("event") }, { s("ec"), s("c") }, { s("ea"), s("a") } }));
        const QVariantMap page = B::createPageViewWithName(s("Home"), s("h.example"), s("/home")).build();
        QCOMPARE(page.value(s("dh")).toString() + page.value(s("dt")).toString(), s("h.exampleHome"));
        KKGADictionaryBuilder builder;
        builder.setAll({ { u"only"_s, 1 } }); // plain setters announce nothing
        QCOMPARE(announced, (QList<QVariantMap> { bare, page }));
    }

    void hitsAreCompletedWithIdentityAndScreen()
    {
        KKGASystemInfo::setScreenProvider([] { return KKGASystemInfo::ScreenFacts { 1920, 1080, 24 }; });
        Bundle::setPreferredLanguages({ u"zh-Hans-CN"_s, u"en"_s });
        auto client = makeClient();
        const QStringList pairs = client->encodedHit(eventHit(1)).split(u'&');
        for (const QString& pair : { u"v=1"_s, u"tid=UA-1234-5"_s, QString(u"cid="_s + client->clientID()),
                 u"sr=1920x1080"_s, u"sd=24-bits"_s, u"ul=zh-Hans-CN"_s })
            QVERIFY2(pairs.contains(pair), qPrintable(pair));
        QVERIFY(!pairs.join(u'&').contains(u"uid="_s));
        client->setUserID(u"user 7"_s);
        QVERIFY(client->encodedHit({}).split(u'&').contains(u"uid=user%207"_s));
        // The client id is kept: a later client of the installation has the same.
        QVERIFY(!QUuid::fromString(client->clientID()).isNull());
        QCOMPARE(makeClient()->clientID(), client->clientID());

        // Without a screen source: "0x0" and no depth; the C locale names no language.
        KKGASystemInfo::setScreenProvider({});
        Bundle::setPreferredLanguages({ u"C"_s });
        const QString bare = makeClient()->encodedHit({});
        QVERIFY(bare.split(u'&').contains(u"sr=0x0"_s));
        QVERIFY(!bare.contains(u"sd="_s) && !bare.contains(u"ul="_s));
    }

    void withoutAnEndpointNothingIsKept()
    {
        m_server->serveEndpoints(false);
        {
            auto client = makeClient();
            QVERIFY(!client->isDispatching());
            for (int i = 0; i < 3; ++i)
                client->send(eventHit(i));
            QVERIFY(!client->dispatch());
        }
        QVERIFY(!QFileInfo::exists(storeFolder()));
        // A later run with an endpoint finds no backlog to send.
        m_server->serveEndpoints();
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
        const QByteArray noise = ZipInspection::randomBytes(8192);
        QTest::newRow("store folder taken by a file") << u"folder"_s << QByteArray();
        // An unreadable store is moved aside, kept as it was, and replaced.
        QTest::newRow("random bytes") << u"store"_s << noise;
        QTest::newRow("a database header over noise") << u"store"_s << QByteArray("SQLite format 3\0", 16) + noise;
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
            QCOMPARE(
                shown.first(), u"Expected a folder to store application data, found a file (%1)."_s.arg(storeFolder()));
            QCOMPARE(m_server->requestCount(), 0);
            QVERIFY(QFileInfo(storeFolder()).isFile());
            return;
        }
        QCOMPARE(m_server->requestCount(), 1);
        QCOMPARE(linesOf(m_server->requests().first()).size(), 2);
        const QStringList aside = QDir(storeFolder()).entryList({ u"*.broken-*"_s }, QDir::Files);
        QCOMPARE(aside.size(), 1);
        QCOMPARE(ZipInspection::readFile(QDir(storeFolder()).filePath(aside.first())), content);
    }
};

ZAVRIN_TEST(AnalyticsTest)
#include "tst_analytics.moc"
