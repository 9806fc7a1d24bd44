#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QPointer>
#include <QSslCertificate>
#include <QSslKey>
#include <QStringList>
#include <QTcpServer>
#include <QUrl>
#include <memory>

// A small HTTP/1.1 server on 127.0.0.1 for tests, plain or TLS. It records
// every complete request (bodies framed by Content-Length) and answers it
// with the configured reply, or drops the connection without answering
// while refusing. While holding, answers wait for `release()`. A
// reply can also be raw bytes (garbage, or headers cut short), optionally
// leaving the connection open. One reply per connection ("Connection: close").
// Lives on the thread that made it; serve with the event loop (QTRY_*).
class LoopbackHttpServer final : public QTcpServer {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LoopbackHttpServer)

public:
    struct Request {
        QByteArray method;
        QByteArray path; // with the query, as sent
        QMap<QByteArray, QByteArray> headers; // names in lower case
        QByteArray body;
        QByteArray header(const QByteArray& name) const { return headers.value(name.toLower()); }
        // The body read as a JSON object; empty when it is none.
        QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
    };
    struct Reply {
        int status = 200;
        QByteArray contentType = QByteArrayLiteral("application/json");
        QByteArray body = QByteArrayLiteral("{}");
        // When set, these bytes are written instead of a formed answer.
        QByteArray raw;
        // Leaves the connection open after `raw` instead of closing it.
        bool hang = false;

        // A formed answer with this status, content type and body.
        static Reply formed(int status, const QByteArray& contentType = QByteArrayLiteral("application/json"),
            const QByteArray& body = QByteArrayLiteral("{}"));
        // Bytes that are no HTTP at all.
        static Reply garbage();
        // A 200 status and headers promising a body that never comes: the
        // connection closes (or, hanging, stays silent) after the headers.
        static Reply cutAfterHeaders(bool hang = false);
    };

    explicit LoopbackHttpServer(QObject* parent = nullptr);
    ~LoopbackHttpServer() override;

    // Listens on a free port of 127.0.0.1, plain or with TLS.
    bool start();
    // A started server that the program's services point at; none when it cannot listen.
    static std::unique_ptr<LoopbackHttpServer> servingEndpoints();
    bool startTls(const QSslCertificate& certificate, const QSslKey& key);
    // "http://127.0.0.1:<port>" or "https://…".
    QUrl baseUrl() const;
    // Points the program's services (ZAVRIN_ENDPOINT_BASE) at this server,
    // or at none; they point at none again when the server goes.
    void serveEndpoints(bool serve = true);

    void setReply(const Reply& reply);
    void setReply(int status, const QByteArray& contentType, const QByteArray& body);
    // While refusing, requests are recorded and their connections dropped.
    void setRefusing(bool refusing);
    // While holding, requests are recorded but not answered; `release`
    // answers the held ones (with the reply in force then) and stops holding.
    void setHolding(bool holding);
    void release();

    QList<Request> requests() const { return m_requests; }
    int requestCount() const { return static_cast<int>(m_requests.size()); }
    // The bodies received, as UTF-8 text, in order.
    QStringList bodies() const;
    // The requests received for `path`, in order.
    QList<Request> requestsTo(const QByteArray& path) const;
    // Forgets the recorded requests; held ones stay held.
    void clearRequests();

    // Makes a self-signed certificate for 127.0.0.1 with the openssl program,
    // in `folder`. False when openssl is missing or fails.
    static bool makeSelfSignedCertificate(const QString& folder, QSslCertificate* certificate, QSslKey* key);

signals:
    void requestReceived();

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    void serve(QTcpSocket* socket);
    void onReadyRead(QTcpSocket* socket);
    void answer(QTcpSocket* socket);

    bool m_tls = false;
    bool m_servesEndpoints = false;
    QSslCertificate m_certificate;
    QSslKey m_key;
    bool m_refusing = false;
    bool m_holding = false;
    QList<QPointer<QTcpSocket>> m_held;
    Reply m_reply;
    QList<Request> m_requests;
    QMap<QTcpSocket*, QByteArray> m_buffers;
};
