#include "telemetry/HttpClient.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TestMain.h"

#include <QCoreApplication>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

struct Answer {
    bool delivered = false;
    QJsonDocument response;
    QString error;
    bool onMainThread = false;
    int calls = 0;
};

// Posts and waits for the completion.
Answer postAndWait(const QUrl& url, const QJsonObject& body)
{
    auto answer = std::make_shared<Answer>();
    HttpClient::post(url, body, [answer](bool delivered, const QJsonDocument& response, const QString& error) {
        answer->delivered = delivered;
        answer->response = response;
        answer->error = error;
        answer->onMainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        ++answer->calls;
    });
    if (!QTest::qWaitFor([&] { return answer->calls > 0; }, 10000))
        qWarning("no completion");
    QTest::qWait(20); // a second completion would show up here
    return *answer;
}

} // namespace

class HttpClientTest final : public QObject {
    Q_OBJECT

private slots:
    void answersAreJudged_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("delivered");
        QTest::newRow("json") << 200 << QByteArray("application/json") << QByteArray("{\"ok\":1}") << true;
        QTest::newRow("html, charset") << 200 << QByteArray("text/html; charset=UTF-8") << QByteArray("{}") << true;
        QTest::newRow("plain, upper case") << 200 << QByteArray("Text/Plain") << QByteArray("{}") << true;
        QTest::newRow("no content") << 204 << QByteArray() << QByteArray() << true;
        QTest::newRow("xml") << 200 << QByteArray("application/xml") << QByteArray("{}") << false;
        QTest::newRow("no content type") << 200 << QByteArray() << QByteArray("{}") << false;
        QTest::newRow("unreadable body") << 200 << QByteArray("text/plain") << QByteArray("OK") << false;
        QTest::newRow("server error") << 500 << QByteArray("application/json") << QByteArray("{}") << false;
        QTest::newRow("not found") << 404 << QByteArray("text/html") << QByteArray("{}") << false;
    }

    void answersAreJudged()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, body);
        QFETCH(bool, delivered);
        LoopbackHttpServer server;
        QVERIFY(server.start());
        server.setReply(status, contentType, body);
        QUrl url = server.baseUrl();
        url.setPath(u"/api/log/receive"_s);

        const QJsonObject sent { { u"eventName"_s, u"启动"_s }, { u"eventTime"_s, 17 } };
        const Answer answer = postAndWait(url, sent);
        QCOMPARE(answer.calls, 1);
        QVERIFY(answer.onMainThread);
        QCOMPARE(answer.delivered, delivered);
        QCOMPARE(answer.error.isEmpty(), delivered);
        if (delivered && !body.isEmpty())
            QCOMPARE(answer.response, QJsonDocument::fromJson(body));

        QCOMPARE(server.requestCount(), 1);
        const LoopbackHttpServer::Request request = server.requests().first();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.path, QByteArray("/api/log/receive"));
        QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(request.body, QJsonDocument(sent).toJson(QJsonDocument::Compact));
    }

    void failedPostsAreTriedOnce_data()
    {
        QTest::addColumn<LoopbackHttpServer::Reply>("reply");
        QTest::addColumn<bool>("refuse");
        QTest::addColumn<bool>("listening");
        QTest::newRow("dropped before an answer") << LoopbackHttpServer::Reply() << true << true;
        QTest::newRow("garbage") << LoopbackHttpServer::Reply::garbage() << false << true;
        QTest::newRow("cut after the headers") << LoopbackHttpServer::Reply::cutAfterHeaders() << false << true;
        QTest::newRow("nobody listening") << LoopbackHttpServer::Reply() << false << false;
    }

    void failedPostsAreTriedOnce()
    {
        QFETCH(LoopbackHttpServer::Reply, reply);
        QFETCH(bool, refuse);
        QFETCH(bool, listening);
        LoopbackHttpServer server;
        QVERIFY(server.start());
        server.setReply(reply);
        server.setRefusing(refuse);
        const QUrl url = server.baseUrl();
        if (!listening)
            server.close();
        const Answer answer = postAndWait(url, { { u"eventName"_s, u"launch"_s } });
        QCOMPARE(answer.calls, 1);
        QVERIFY(!answer.delivered);
        QVERIFY(!answer.error.isEmpty());
        QTest::qWait(100); // a resend by the network layer would arrive now
        QCOMPARE(server.requestCount(), listening ? 1 : 0);
        QCOMPARE(HttpClient::requestsInFlight(), 0);
    }

    void httpsTrustsOnlyTheGivenCertificate()
    {
        if (!QSslSocket::supportsSsl())
            QSKIP("no TLS back-end");
        QTemporaryDir dir;
        QSslCertificate certificate;
        QSslKey key;
        if (!LoopbackHttpServer::makeSelfSignedCertificate(dir.path(), &certificate, &key))
            QSKIP("openssl could not make a certificate");
        LoopbackHttpServer server;
        QVERIFY(server.startTls(certificate, key));
        QCOMPARE(server.baseUrl().scheme(), u"https"_s);
        const QJsonObject sent { { u"eventName"_s, u"launch"_s } };

        HttpClient::setExtraCaCertificates({});
        Answer answer = postAndWait(server.baseUrl(), sent);
        QVERIFY(!answer.delivered);
        QCOMPARE(server.requestCount(), 0); // the handshake failed before any request

        HttpClient::setExtraCaCertificates({ certificate });
        answer = postAndWait(server.baseUrl(), sent);
        HttpClient::setExtraCaCertificates({});
        QVERIFY2(answer.delivered, qPrintable(answer.error));
        QCOMPARE(server.requestCount(), 1);
        QCOMPARE(server.requests().first().body, QJsonDocument(sent).toJson(QJsonDocument::Compact));
    }
};

ZAVRIN_TEST(HttpClientTest)
#include "tst_httpclient.moc"
