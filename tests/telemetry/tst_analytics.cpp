#include "platform/Bundle.h"
#include "platform/Defaults.h"
#include "platform/NotificationCenter.h"
#include "telemetry/HTTPFormExtensions.h"
#include "telemetry/KKGADictionaryBuilder.h"
#include "telemetry/KKGASystemInfo.h"
#include "telemetry/KKGoogleAnalytics.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TestMain.h"
#include "tests/support/ZipInspection.h"
#include "tests/telemetry/WireGolden.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QUuid>

using namespace Qt::StringLiterals;

namespace {

using Reply = LoopbackHttpServer::Reply;
using B = KKGADictionaryBuilder;

QVariantMap eventHit(int n, qsizetype labelSize = 0)
{
    const QString label = u"hit %1 "_s.arg(n) + QString(labelSize, u'x');
    return B::createEventWithCategory(u"cat"_s, u"act"_s, label, n).build();
}

// A batch's lines; a batch must end in a line feed.
QStringList linesOf(const LoopbackHttpServer::Request& request)
{
    const QString body = QString::fromUtf8(request.body);
    return body.endsWith(u'\n') ? body.chopped(1).split(u'\n') : QStringList { u"unterminated"_s };
}

} // namespace

class AnalyticsTest final : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Defaults> m_defaults;
    std::unique_ptr<LoopbackHttpServer> m_server;

    QString storeFolder() const { return m_dir->filePath(u"app.zavrin.Zavrin"_s); }
    std::unique_ptr<KKGoogleAnalytics> makeClient(int capacity = 10000)
    {
        auto client = std::make_unique<KKGoogleAnalytics>(storeFolder(), *m_defaults, nullptr, capacity);
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
        QVERIFY((m_server = LoopbackHttpServer::servingEndpoints()));
        Bundle::setPreferredLanguages({ u"C"_s }); // names no language: no "ul"
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

    // The form encoder, then every kind of hit completed with the client's
    // identity and system facts, against golden/analytics-hits.form.
    void encodingMatchesTheGolden()
    {
        const auto one = [](const QVariant& value) { return QVariantMap { { u"a"_s, value } }; };
        QStringList lines;
        for (const QVariantMap& map : { one(u"x&y+z"_s), one(u"a b"_s), one(u"=/?:@;,$!*'()-_.~"_s), one(u"50%#1"_s),
                 one(u"解压é"_s), QVariantMap { { u"n"_s, 0 }, { u"r"_s, 2.5 }, { u"b"_s, true } },
                 one(QVariantMap { { u"k"_s, u"v"_s } }), QVariantMap { { u"b"_s, 2 }, { u"a&"_s, 1 } } })
            lines << HTTPFormExtensions::stringAsWWWURLEncodedFormFromDictionary(map);
        QVERIFY(HTTPFormExtensions::stringAsWWWURLEncodedFormFromDictionary({}).isEmpty());

        // Each kind of hit the builder makes is announced.
        QList<QVariantMap> announced;
        QObject context;
        NotificationCenter::defaultCenter().addObserver(
            u"AnalyticsEvent"_s, &context, [&](const Notification& n) { announced.append(n.userInfo); });
        const QList<QVariantMap> hits { B::createEventWithCategory(u"c"_s, u"a"_s, std::nullopt, std::nullopt).build(),
            B::createPageViewWithName(u"Home"_s, u"h.example"_s, u"/home"_s).build(),
            B::createScreenView(u"Home"_s).build(),
            B::createTransaction(u"T1"_s, u"shop"_s, 9.5, 1, 0.25, u"CNY"_s).build(),
            B::createItem(u"T1"_s, u"box"_s, u"B-1"_s, u"tools"_s, 2.5, 3, std::nullopt).build(),
            B::createSocialWithNetwork(u"mail"_s, u"share"_s, u"/a.zip"_s).build(),
            B::createTimingWithCategory(u"Zip"_s, 1200, u"run"_s, u"fast"_s).build(),
            B::createExceptionWithDescription(u"disk full"_s, true).build(), eventHit(1) };
        B().setAll({ { u"only"_s, 1 } }); // plain setters announce nothing
        QCOMPARE(announced, hits);

        auto client = makeClient(); // no screen, and the C locale names no language
        QVERIFY(!QUuid::fromString(client->clientID()).isNull());
        for (const QVariantMap& hit : hits)
            lines << client->encodedHit(hit);
        client->setUserID(u"user 7"_s);
        lines << client->encodedHit(hits.last());
        KKGASystemInfo::setScreenProvider([] { return KKGASystemInfo::ScreenFacts { 1920, 1080, 24 }; });
        Bundle::setPreferredLanguages({ u"zh-Hans-CN"_s, u"en"_s });
        lines << makeClient()->encodedHit(hits.last());
        QCOMPARE(lines,
            WireGolden::lines(u"analytics-hits.form"_s,
                { { u"cid"_s, client->clientID() }, { u"appName"_s, Bundle::displayName() },
                    { u"appVersion"_s, Bundle::buildVersion() } }));
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
            const QStringList lines = linesOf(request);
            QCOMPARE(lines.size(), batches.at(b));
            for (const QString& line : lines) // oldest first
                QVERIFY2(
                    line.contains(u"&el=hit%20"_s + QString::number(next++) + u"%20"_s), qPrintable(line.left(80)));
        }
        QVERIFY(!client->dispatch()); // delivered records are gone
    }

    void onlyACompleteAnswerDeletesTheBatch_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<bool>("refuse");
        QTest::addColumn<bool>("delivered");
        QTest::newRow("503") << Reply::formed(503) << false << true;
        QTest::newRow("400") << Reply::formed(400) << false << true;
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

        m_server->setReply(Reply());
        m_server->setRefusing(false);
        QCOMPARE(client->dispatch(), !delivered);
        if (!delivered) {
            QTRY_COMPARE(m_server->requestCount(), 2);
            QCOMPARE(m_server->requests().at(1).body, m_server->requests().at(0).body);
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

    // A full store keeps the newest hits; they survive the client and go out at
    // the next start, in one batch: golden/analytics-hits.form.
    void theNewestHitsSurviveANewClientAndGoOutAtStart()
    {
        m_server->setRefusing(true);
        QString clientID;
        {
            auto first = makeClient(10);
            for (int i = 0; i < 15; ++i)
                first->send(eventHit(i));
            drain(*first);
            clientID = first->clientID();
        }
        m_server->setRefusing(false);
        m_server->clearRequests();
        auto second = makeClient(10); // start-up dispatches once
        QCOMPARE(second->clientID(), clientID);
        QTRY_COMPARE(m_server->requestCount(), 1);
        // Trimmed to nine tenths whenever the cap is passed: hits 6 to 14 are left.
        QCOMPARE(linesOf(m_server->requests().first()),
            WireGolden::lines(u"analytics-hits.form"_s, { { u"cid"_s, clientID } }));
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
        const QString file = folderTaken ? storeFolder() : QDir(storeFolder()).filePath(u"GoogleAnalytics.storedata"_s);
        QVERIFY(ZipInspection::writeFile(file, content));
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
