#include "platform/Bundle.h"
#include "platform/Defaults.h"
#include "platform/NotificationCenter.h"
#include "telemetry/HTTPFormExtensions.h"
#include "telemetry/KKGADictionaryBuilder.h"
#include "telemetry/KKGAFields.h"
#include "telemetry/KKGASystemInfo.h"
#include "telemetry/KKGoogleAnalytics.h"
#include "tests/support/TestMain.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>

namespace {

struct ReceivedRequest {
    QByteArray method;
    QByteArray path;
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
};

// A minimal HTTP/1.1 server on loopback: records each request and answers
// with `status`, or holds the answers back while `hold` is set.
class BatchServer final {
public:
    BatchServer()
    {
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] { accept(); });
    }

    bool listen(quint16 port = 0) { return m_server.listen(QHostAddress::LocalHost, port); }
    void close() { m_server.close(); }
    quint16 port() const { return m_server.serverPort(); }
    QByteArray base() const { return "http://127.0.0.1:" + QByteArray::number(port()); }

    void release()
    {
        hold = false;
        for (QTcpSocket* socket : std::exchange(m_held, {}))
            answer(socket);
    }

    int status = 200;
    bool hold = false;
    QList<ReceivedRequest> requests;

private:
    void accept()
    {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            socket->setParent(&m_sockets);
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { read(socket); });
        }
    }

    void read(QTcpSocket* socket)
    {
        QByteArray& buffer = m_buffers[socket];
        buffer += socket->readAll();
        const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        ReceivedRequest request;
        const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
        const QList<QByteArray> start = lines.first().trimmed().split(' ');
        request.method = start.value(0);
        request.path = start.value(1);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon > 0)
                request.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
        }
        const qsizetype length = request.headers.value("content-length").toLongLong();
        if (buffer.size() < headerEnd + 4 + length)
            return;
        request.body = buffer.mid(headerEnd + 4, length);
        m_buffers.remove(socket);
        requests.append(request);
        if (hold)
            m_held.append(socket);
        else
            answer(socket);
    }

    void answer(QTcpSocket* socket)
    {
        socket->write("HTTP/1.1 " + QByteArray::number(status)
                      + " Status\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QObject m_sockets;
    QMap<QTcpSocket*, QByteArray> m_buffers;
    QList<QTcpSocket*> m_held;
};

QVariantMap eventHit(int n)
{
    return KKGADictionaryBuilder::createEventWithCategory(QStringLiteral("cat"), QStringLiteral("act"),
                                                          QStringLiteral("hit %1").arg(n), n)
        .build();
}

} // namespace

class AnalyticsTest final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Defaults> m_defaults;

    QString storeFolder() const { return m_dir->filePath(QStringLiteral("app.zavrin.Zavrin")); }
    std::unique_ptr<KKGoogleAnalytics> makeClient(const QString& folder = {})
    {
        auto client = std::make_unique<KKGoogleAnalytics>(folder.isEmpty() ? storeFolder() : folder, *m_defaults);
        client->setTrackingID(QStringLiteral("UA-1234-5"));
        return client;
    }
    static void pointAt(const BatchServer& server) { qputenv("ZAVRIN_ENDPOINT_BASE", server.base()); }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_defaults = std::make_unique<Defaults>(m_dir->filePath(QStringLiteral("defaults.ini")));
    }

    void cleanup()
    {
        qunsetenv("ZAVRIN_ENDPOINT_BASE");
        KKGASystemInfo::setScreenProvider({});
        Bundle::setPreferredLanguages({});
        m_defaults.reset();
        m_dir.reset();
    }

    void formEncoderEscapesOnlyWhatBreaksAPair_data()
    {
        QTest::addColumn<QVariantMap>("map");
        QTest::addColumn<QString>("encoded");
        const auto one = [](const QVariant& value) { return QVariantMap{{QStringLiteral("a"), value}}; };
        QTest::newRow("amp and plus") << one(QStringLiteral("x&y+z")) << QStringLiteral("a=x%26y%2Bz");
        QTest::newRow("space") << one(QStringLiteral("a b")) << QStringLiteral("a=a%20b");
        QTest::newRow("reserved stay") << one(QStringLiteral("=/?:@;,$!*'()-_.~"))
                                       << QStringLiteral("a==/?:@;,$!*'()-_.~");
        QTest::newRow("percent and hash") << one(QStringLiteral("50%#1")) << QStringLiteral("a=50%25%231");
        QTest::newRow("utf-8 upper hex") << one(QStringLiteral("解压é"))
                                         << QStringLiteral("a=%E8%A7%A3%E5%8E%8B%C3%A9");
        QTest::newRow("integer") << one(0) << QStringLiteral("a=0");
        QTest::newRow("double") << one(2.5) << QStringLiteral("a=2.5");
        QTest::newRow("bool") << one(true) << QStringLiteral("a=1");
        QTest::newRow("nested map as json")
            << QVariantMap{{QStringLiteral("launch"), QVariantMap{{QStringLiteral("k"), QStringLiteral("v")}}}}
            << QStringLiteral("launch=%7B%22k%22:%22v%22%7D");
        QTest::newRow("keys escaped, pairs in key order")
            << QVariantMap{{QStringLiteral("b"), 2}, {QStringLiteral("a&"), 1}} << QStringLiteral("a%26=1&b=2");
        QTest::newRow("empty") << QVariantMap() << QString();
    }

    void formEncoderEscapesOnlyWhatBreaksAPair()
    {
        QFETCH(QVariantMap, map);
        QFETCH(QString, encoded);
        QCOMPARE(HTTPFormExtensions::stringAsWWWURLEncodedFormFromDictionary(map), encoded);
    }

    void systemFactsForLinux()
    {
        QCOMPARE(KKGAFields::customDimensionForIndex(1), QStringLiteral("cd1"));
        QCOMPARE(KKGAFields::customMetricForIndex(20), QStringLiteral("cm20"));

        QCOMPARE(KKGASystemInfo::CPUTypeForArchitecture(QStringLiteral("x86_64")), QStringLiteral("Intel"));
        QCOMPARE(KKGASystemInfo::CPUTypeForArchitecture(QStringLiteral("i386")), QStringLiteral("Intel"));
        QCOMPARE(KKGASystemInfo::CPUTypeForArchitecture(QStringLiteral("power64")), QStringLiteral("PowerPC"));
        QCOMPARE(KKGASystemInfo::CPUTypeForArchitecture(QStringLiteral("arm64")), QStringLiteral("Unknown"));
        // The kernel's names for the same machines.
        QCOMPARE(KKGASystemInfo::CPUTypeForArchitecture(QStringLiteral("i686")), QStringLiteral("Intel"));
        QCOMPARE(KKGASystemInfo::CPUTypeForArchitecture(QStringLiteral("ppc64le")), QStringLiteral("PowerPC"));
        QCOMPARE(KKGASystemInfo::CPUTypeForArchitecture(QStringLiteral("aarch64")), QStringLiteral("Unknown"));
        QCOMPARE(KKGASystemInfo::CPUTypeForArchitecture(QString()), QStringLiteral("an Unknown Processor"));

        QCOMPARE(KKGASystemInfo::screenDepthStringForDepth(24), QStringLiteral("24-bits"));
        QCOMPARE(KKGASystemInfo::screenDepthStringForDepth(32), QStringLiteral("24-bits"));
        QCOMPARE(KKGASystemInfo::screenDepthStringForDepth(64), QStringLiteral("64-bits"));
        QCOMPARE(KKGASystemInfo::screenDepthStringForDepth(30), std::nullopt);
        QCOMPARE(KKGASystemInfo::screenDepthStringForDepth(0), std::nullopt);

        QCOMPARE(KKGASystemInfo::versionTriple(QStringLiteral("6.1.0-18-amd64")), QStringLiteral("6_1_0"));
        QCOMPARE(KKGASystemInfo::versionTriple(QStringLiteral("6.18")), QStringLiteral("6_18_0"));
        QCOMPARE(KKGASystemInfo::versionTriple(QStringLiteral("odd")), QStringLiteral("0_0_0"));

        static const QRegularExpression agent(QStringLiteral(
            R"(^Holvane/[^ ]+ \(X11; (Intel|PowerPC|Unknown|an Unknown Processor) Linux \d+_\d+_\d+; [^;)]+\)$)"));
        QVERIFY2(agent.match(KKGoogleAnalytics::userAgent()).hasMatch(), qPrintable(KKGoogleAnalytics::userAgent()));
        QVERIFY(KKGoogleAnalytics::userAgent().contains(KKGASystemInfo::CPUType()));
    }

    void builderMapsAndAnnouncesEachHit()
    {
        QList<QVariantMap> announced;
        QObject context;
        NotificationCenter::defaultCenter().addObserver(QStringLiteral("AnalyticsEvent"), &context,
                                                        [&](const Notification& n) { announced.append(n.userInfo); });

        using B = KKGADictionaryBuilder;
        const auto s = [](const char* text) { return QString::fromUtf8(text); };
        const QVariantMap bare = B::createEventWithCategory(s("c"), s("a"), std::nullopt, std::nullopt).build();
        QCOMPARE(bare, (QVariantMap{{s("t"), s("event")}, {s("ec"), s("c")}, {s("ea"), s("a")}}));
        const QVariantMap full = B::createEventWithCategory(s("c"), s("a"), s("l"), 0).build();
        QCOMPARE(full.value(s("el")).toString(), s("l"));
        QCOMPARE(full.value(s("ev")), QVariant(qint64(0)));

        const QVariantMap page = B::createPageViewWithName(s("Home"), s("h.example"), s("/home")).build();
        QCOMPARE(page, (QVariantMap{{s("t"), s("pageview")}, {s("dh"), s("h.example")}, {s("dp"), s("/home")},
                                    {s("dt"), s("Home")}}));

        const QVariantMap screen = B::createScreenView(s("Main")).build();
        QCOMPARE(screen.value(s("an")).toString(), KKGASystemInfo::appName());
        QCOMPARE(screen.value(s("av")).toString(), KKGASystemInfo::appVersion());
        QCOMPARE(screen.value(s("cd")).toString(), s("Main"));

        const QVariantMap exception = B::createExceptionWithDescription(s("boom"), true).build();
        QVERIFY(HTTPFormExtensions::stringAsWWWURLEncodedFormFromDictionary(exception).contains(s("exf=1")));
        const QVariantMap item = B::createItem(s("T1"), s("n"), s("s"), s("c"), 1.5, 2, std::nullopt).build();
        QCOMPARE(item.size(), 7); // no "cu"
        QCOMPARE(item.value(s("ip")).toDouble(), 1.5);

        QCOMPARE(announced.size(), 6);
        QCOMPARE(announced.first(), bare);
        QCOMPARE(announced.last(), item);

        KKGADictionaryBuilder builder;
        builder.set(QStringLiteral("x"), QStringLiteral("k"));
        builder[QStringLiteral("n")] = 3;
        QCOMPARE(builder.get(QStringLiteral("k")).toString(), QStringLiteral("x"));
        QCOMPARE(std::as_const(builder)[QStringLiteral("n")].toInt(), 3);
        builder.setAll({{QStringLiteral("only"), 1}});
        QCOMPARE(builder.build().keys(), QStringList{QStringLiteral("only")});
        QCOMPARE(announced.size(), 6); // plain setters announce nothing
    }

    void hitsAreCompletedWithIdentityAndScreen()
    {
        KKGASystemInfo::setScreenProvider([] { return KKGASystemInfo::ScreenFacts{1920, 1080, 24}; });
        Bundle::setPreferredLanguages({QStringLiteral("zh-Hans-CN"), QStringLiteral("en")});
        auto client = makeClient();
        const QString line = client->encodedHit(eventHit(1));
        const QStringList pairs = line.split(u'&');
        QVERIFY(pairs.contains(QStringLiteral("v=1")));
        QVERIFY(pairs.contains(QStringLiteral("tid=UA-1234-5")));
        QVERIFY(pairs.contains(QStringLiteral("cid=") + client->clientID()));
        QVERIFY(pairs.contains(QStringLiteral("sr=1920x1080")));
        QVERIFY(pairs.contains(QStringLiteral("sd=24-bits")));
        QVERIFY(pairs.contains(QStringLiteral("ul=zh-Hans-CN")));
        QVERIFY(!line.contains(QStringLiteral("uid=")));
        client->setUserID(QStringLiteral("user 7"));
        QVERIFY(client->encodedHit({}).split(u'&').contains(QStringLiteral("uid=user%207")));

        // The client id is an upper-case UUID kept in the defaults at once.
        static const QRegularExpression uuid(
            QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
        QVERIFY(uuid.match(client->clientID()).hasMatch());
        const Defaults reread(m_dir->filePath(QStringLiteral("defaults.ini")));
        QCOMPARE(reread.stringForKey(QStringLiteral("GoogleAnalyticsClientID")), client->clientID());
        QCOMPARE(makeClient()->clientID(), client->clientID());

        // Without a screen source: "0x0" and no depth; the C locale names no language.
        KKGASystemInfo::setScreenProvider({});
        Bundle::setPreferredLanguages({QStringLiteral("C")});
        const QString bare = makeClient()->encodedHit({});
        QVERIFY(bare.split(u'&').contains(QStringLiteral("sr=0x0")));
        QVERIFY(!bare.contains(QStringLiteral("sd=")));
        QVERIFY(!bare.contains(QStringLiteral("ul=")));
    }

    void hitsStoredOfflineGoOutInOneBatch()
    {
        BatchServer server;
        QVERIFY(server.listen());
        const quint16 port = server.port();
        pointAt(server);
        auto client = makeClient();
        QVERIFY(!client->dispatch()); // nothing stored: no request
        QTest::qWait(50);
        QCOMPARE(server.requests.size(), 0);

        server.close(); // connections are refused from now on
        for (int i = 0; i < 3; ++i)
            client->send(eventHit(i));
        std::unique_ptr<QThread> worker(QThread::create([&client] {
            client->send(eventHit(3));
            client->send(eventHit(4));
        }));
        worker->start();
        QVERIFY(worker->wait(5000));
        QTest::qWait(0); // the worker's hits are queued to the main thread
        QVERIFY(client->dispatch());
        QVERIFY(!client->dispatch()); // one batch at a time
        QTRY_VERIFY(!client->isBatchInFlight());

        QVERIFY(server.listen(port));
        QVERIFY(client->dispatch());
        QTRY_COMPARE(server.requests.size(), 1);
        const ReceivedRequest& request = server.requests.first();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.path, QByteArray("/batch"));
        QCOMPARE(QString::fromUtf8(request.headers.value("user-agent")), KKGoogleAnalytics::userAgent());
        QVERIFY(request.body.endsWith('\n'));
        const QList<QByteArray> lines = request.body.chopped(1).split('\n');
        QCOMPARE(lines.size(), 5);
        for (int i = 0; i < 5; ++i) {
            const QList<QByteArray> pairs = lines[i].split('&');
            QVERIFY(pairs.contains("v=1"));
            QVERIFY(pairs.contains("tid=UA-1234-5"));
            QVERIFY(pairs.contains("cid=" + client->clientID().toLatin1()));
            QVERIFY(pairs.contains("el=hit%20" + QByteArray::number(i)));
            QVERIFY(!lines[i].contains("uid="));
        }
        QTRY_VERIFY(!client->isBatchInFlight());
        QVERIFY(!client->dispatch()); // delivered records are gone
    }

    void hitsSurviveANewClientAndGoOutAtStart()
    {
        QString clientID;
        {
            auto first = makeClient(); // endpoint not configured: hits are kept
            for (int i = 0; i < 3; ++i)
                first->send(eventHit(i));
            QVERIFY(!first->dispatch());
            clientID = first->clientID();
        }
        BatchServer server;
        QVERIFY(server.listen());
        pointAt(server);
        auto second = makeClient(); // start-up dispatches once
        QCOMPARE(second->clientID(), clientID);
        QVERIFY(second->isDispatching());
        QTRY_COMPARE(server.requests.size(), 1);
        QCOMPARE(server.requests.first().body.count('\n'), 3);
    }

    void aHitStoredDuringABatchWaitsForTheNext()
    {
        BatchServer server;
        QVERIFY(server.listen());
        pointAt(server);
        server.hold = true;
        auto client = makeClient();
        client->send(eventHit(1));
        QVERIFY(client->dispatch());
        QTRY_COMPARE(server.requests.size(), 1);
        client->send(eventHit(2));
        QVERIFY(!client->dispatch());
        server.release();
        QTRY_VERIFY(!client->isBatchInFlight());

        QVERIFY(client->dispatch());
        QTRY_COMPARE(server.requests.size(), 2);
        QCOMPARE(server.requests.last().body, client->encodedHit(eventHit(2)).toUtf8() + '\n');
    }

    void anHttpErrorStatusCountsAsDelivered()
    {
        BatchServer server;
        QVERIFY(server.listen());
        pointAt(server);
        server.status = 500;
        auto client = makeClient();
        client->send(eventHit(1));
        QVERIFY(client->dispatch());
        QTRY_COMPARE(server.requests.size(), 1);
        QTRY_VERIFY(!client->isBatchInFlight());
        QVERIFY(!client->dispatch());
    }

    void aStoreFolderTakenByAFileIsReportedOnce()
    {
        const QString path = m_dir->filePath(QStringLiteral("taken"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();

        QStringList shown;
        KKGoogleAnalytics::setErrorPresenter([&shown](const QString& message) { shown.append(message); });
        BatchServer server;
        QVERIFY(server.listen());
        pointAt(server);
        {
            auto client = makeClient(path);
            for (int i = 0; i < 3; ++i)
                client->send(eventHit(i));
            QVERIFY(!client->dispatch());
            auto another = makeClient(path);
            another->send(eventHit(4));
        }
        KKGoogleAnalytics::setErrorPresenter({});
        const QString expected = QStringLiteral("Expected a folder to store application data, found a file (%1).");
        QCOMPARE(shown, QStringList{expected.arg(path)});
        QCOMPARE(server.requests.size(), 0);
        QVERIFY(QFileInfo(path).isFile());
    }
};

ZAVRIN_TEST(AnalyticsTest)
#include "tst_analytics.moc"
