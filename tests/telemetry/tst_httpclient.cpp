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
    // Each post is tried once, never resent by the network layer, and
    // completes once on the main thread.
    void answersAreJudged_data()
    {
        using Reply = LoopbackHttpServer::Reply;
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<QString>("server"); // "refusing", "gone" or empty
        QTest::addColumn<bool>("delivered");
        QTest::newRow("json") << Reply::formed(200, "application/json", "{\"ok\":1}") << QString() << true;
        QTest::newRow("html, charset") << Reply::formed(200, "text/html; charset=UTF-8", "{}") << QString() << true;
        QTest::newRow("plain, upper case") << Reply::formed(200, "Text/Plain", "{}") << QString() << true;
        QTest::newRow("no content") << Reply::formed(204, "", "") << QString() << true;
        QTest::newRow("xml") << Reply::formed(200, "application/xml", "{}") << QString() << false;
        QTest::newRow("no content type") << Reply::formed(200, "", "{}") << QString() << false;
        QTest::newRow("unreadable body") << Reply::formed(200, "text/plain", "OK") << QString() << false;
        QTest::newRow("server error") << Reply::formed(500) << QString() << false;
        QTest::newRow("not found") << Reply::formed(404, "text/html", "{}") << QString() << false;
        QTest::newRow("dropped before an answer") << Reply() << u"refusing"_s << false;
        QTest::newRow("garbage") << Reply::garbage() << QString() << false;
        QTest::newRow("cut after the headers") << Reply::cutAfterHeaders() << QString() << false;
        QTest::newRow("nobody listening") << Reply() << u"gone"_s << false;
    }

    void answersAreJudged()
    {
        QFETCH(LoopbackHttpServer::Reply, reply);
        QFETCH(QString, server);
        QFETCH(bool, delivered);
        LoopbackHttpServer loopback;
        QVERIFY(loopback.start());
        loopback.setReply(reply);
        loopback.setRefusing(server == u"refusing");
        QUrl url = loopback.baseUrl();
        url.setPath(u"/api/log/receive"_s);
        if (server == u"gone")
            loopback.close();

        const QJsonObject sent { { u"eventName"_s, u"启动"_s }, { u"eventTime"_s, 17 } };
        const Answer answer = postAndWait(url, sent);
        QCOMPARE(answer.calls, 1);
        QVERIFY(answer.onMainThread);
        QCOMPARE(answer.delivered, delivered);
        QCOMPARE(answer.error.isEmpty(), delivered);
        if (delivered && !reply.body.isEmpty())
            QCOMPARE(answer.response, QJsonDocument::fromJson(reply.body));
        QTest::qWait(100); // a resend by the network layer would arrive now
        QCOMPARE(HttpClient::requestsInFlight(), 0);
        QCOMPARE(loopback.requestCount(), server == u"gone" ? 0 : 1);
        if (server == u"gone")
            return;
        const LoopbackHttpServer::Request request = loopback.requests().first();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.path, QByteArray("/api/log/receive"));
        QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(request.body, QJsonDocument(sent).toJson(QJsonDocument::Compact));
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
