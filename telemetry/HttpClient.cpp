#include "telemetry/HttpClient.h"

#include "platform/Logging.h"
#include "platform/MainQueue.h"
#include "telemetry/OneShotPost.h"

#include <QJsonParseError>
#include <QMutex>
#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <atomic>

namespace {

QMutex g_caMutex;
QList<QSslCertificate> g_extraCaCertificates;
std::atomic<int> g_inFlight { 0 };

struct Outcome {
    bool delivered = false;
    QJsonDocument response;
    QString error;
};

// Reads a finished reply the way the services' answers are judged: transport
// and HTTP errors fail, then the status, the content type and the body.
Outcome judge(QNetworkReply* reply)
{
    Outcome outcome;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError) {
        outcome.error = reply->errorString();
        return outcome;
    }
    if (status < 200 || status > 299) {
        outcome.error = QStringLiteral("unacceptable status %1").arg(status);
        return outcome;
    }
    const QByteArray body = reply->readAll();
    // An empty answer (such as 204 No Content) means the service took the
    // request; there is nothing to read, so its content type does not matter.
    if (body.trimmed().isEmpty()) {
        outcome.delivered = true;
        return outcome;
    }
    const QString header = reply->header(QNetworkRequest::ContentTypeHeader).toString();
    const QString mimeType = header.section(u';', 0, 0).trimmed().toLower();
    if (!HttpClient::acceptableContentTypes().contains(mimeType)) {
        outcome.error = QStringLiteral("unacceptable content type \"%1\"").arg(header);
        return outcome;
    }
    QJsonParseError parseError {};
    outcome.response = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        outcome.error = QStringLiteral("unreadable response: %1").arg(parseError.errorString());
        outcome.response = {};
        return outcome;
    }
    outcome.delivered = true;
    return outcome;
}

} // namespace

QStringList HttpClient::acceptableContentTypes()
{
    return { QStringLiteral("application/json"), QStringLiteral("text/json"), QStringLiteral("text/javascript"),
        QStringLiteral("text/html"), QStringLiteral("text/plain") };
}

void HttpClient::setExtraCaCertificates(const QList<QSslCertificate>& certificates)
{
    QMutexLocker lock(&g_caMutex);
    g_extraCaCertificates = certificates;
}

int HttpClient::requestsInFlight()
{
    return g_inFlight.load();
}

void HttpClient::post(const QUrl& url, const QJsonObject& body, Completion completion)
{
    ++g_inFlight;
    // QNetworkAccessManager and its replies belong to the thread that makes them.
    MainQueue::async([url, body, completion = std::move(completion)]() mutable {
        auto* manager = new QNetworkAccessManager;
        QNetworkRequest request(url);
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
        request.setTransferTimeout(kTransferTimeoutMsecs);
        {
            QMutexLocker lock(&g_caMutex);
            if (!g_extraCaCertificates.isEmpty()) {
                QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
                ssl.addCaCertificates(g_extraCaCertificates);
                request.setSslConfiguration(ssl);
            }
        }
        QNetworkReply* reply = OneShotPost::post(*manager, request, QJsonDocument(body).toJson(QJsonDocument::Compact));
        QObject::connect(
            reply, &QNetworkReply::finished, manager, [manager, reply, url, completion = std::move(completion)] {
                const Outcome outcome = judge(reply);
                manager->deleteLater();
                --g_inFlight;
                if (!outcome.delivered)
                    qCDebug(lcTelemetryHttp, "POST %s failed: %s", qUtf8Printable(url.toString()),
                        qUtf8Printable(outcome.error));
                if (completion)
                    completion(outcome.delivered, outcome.response, outcome.error);
            });
    });
}
