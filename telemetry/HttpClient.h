#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QSslCertificate>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>

// JSON POST requests to the collection services. Each request is independent:
// it gets its own network access manager and its own connection, and goes
// out once: a failed request is never sent again behind the caller's back. Callable from
// any thread; the request runs on the main thread and the completion is
// called there exactly once.
class HttpClient final {
public:
    // `delivered` is true for a 2xx answer whose content type is acceptable and
    // whose body reads as JSON (or is empty); `response` then holds the body.
    // Otherwise `error` says what went wrong.
    using Completion = std::function<void(bool delivered, const QJsonDocument& response, const QString& error)>;

    // POSTs `body`, written compactly, as "application/json" to `url`.
    static void post(const QUrl& url, const QJsonObject& body, Completion completion);

    // The response content types taken as a reply.
    static QStringList acceptableContentTypes();

    // Certificates trusted besides the system's, for every later request;
    // tests use it to trust a self-signed loopback server.
    static void setExtraCaCertificates(const QList<QSslCertificate>& certificates);

    // Requests sent whose completion has not run yet.
    static int requestsInFlight();

    // A request with no progress for this long fails.
    static constexpr int kTransferTimeoutMsecs = 60000;
};
