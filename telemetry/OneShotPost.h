#pragma once

#include <QByteArray>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;

// Starts POST requests that go out at most once. Qt Network sends a request
// again by itself when the connection closes before a readable answer
// (a dropped connection, garbage); for telemetry that means duplicate events.
// The body is handed over as upload data that cannot be rewound, so Qt fails
// such a request with ContentReSendError instead of sending it again.
class OneShotPost final {
public:
    OneShotPost() = delete;

    // Posts `body` through `manager`; call on the manager's thread. The
    // reply is the caller's, as with QNetworkAccessManager::post.
    static QNetworkReply* post(QNetworkAccessManager& manager, QNetworkRequest request, const QByteArray& body);
};
