#include "tests/support/LoopbackHttpServer.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QSslSocket>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

LoopbackHttpServer::Reply LoopbackHttpServer::Reply::formed(
    int status, const QByteArray& contentType, const QByteArray& body)
{
    Reply reply;
    reply.status = status;
    reply.contentType = contentType;
    reply.body = body;
    return reply;
}

LoopbackHttpServer::Reply LoopbackHttpServer::Reply::garbage()
{
    Reply reply;
    reply.raw = QByteArrayLiteral("garbage, not a status line\r\n\r\n");
    return reply;
}

LoopbackHttpServer::Reply LoopbackHttpServer::Reply::cutAfterHeaders(bool hang)
{
    Reply reply;
    reply.raw = QByteArrayLiteral("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 100\r\n\r\n");
    reply.hang = hang;
    return reply;
}

LoopbackHttpServer::LoopbackHttpServer(QObject* parent)
    : QTcpServer(parent)
{
    connect(this, &QTcpServer::newConnection, this, [this] {
        while (hasPendingConnections())
            serve(nextPendingConnection());
    });
}

LoopbackHttpServer::~LoopbackHttpServer()
{
    if (m_servesEndpoints)
        qunsetenv("ZAVRIN_ENDPOINT_BASE");
    close();
}

bool LoopbackHttpServer::start()
{
    return listen(QHostAddress::LocalHost);
}

std::unique_ptr<LoopbackHttpServer> LoopbackHttpServer::servingEndpoints()
{
    auto server = std::make_unique<LoopbackHttpServer>();
    if (!server->start())
        return nullptr;
    server->serveEndpoints();
    return server;
}

bool LoopbackHttpServer::startTls(const QSslCertificate& certificate, const QSslKey& key)
{
    m_tls = true;
    m_certificate = certificate;
    m_key = key;
    return listen(QHostAddress::LocalHost);
}

QUrl LoopbackHttpServer::baseUrl() const
{
    QUrl url;
    url.setScheme(m_tls ? u"https"_s : u"http"_s);
    url.setHost(u"127.0.0.1"_s);
    url.setPort(serverPort());
    return url;
}

void LoopbackHttpServer::serveEndpoints(bool serve)
{
    m_servesEndpoints = serve;
    if (serve)
        qputenv("ZAVRIN_ENDPOINT_BASE", baseUrl().toString().toUtf8());
    else
        qunsetenv("ZAVRIN_ENDPOINT_BASE");
}

void LoopbackHttpServer::setReply(const Reply& reply)
{
    m_reply = reply;
}

void LoopbackHttpServer::setReply(int status, const QByteArray& contentType, const QByteArray& body)
{
    m_reply = Reply::formed(status, contentType, body);
}

void LoopbackHttpServer::setRefusing(bool refusing)
{
    m_refusing = refusing;
}

void LoopbackHttpServer::setHolding(bool holding)
{
    m_holding = holding;
}

void LoopbackHttpServer::release()
{
    m_holding = false;
    for (const QPointer<QTcpSocket>& socket : std::exchange(m_held, {})) {
        if (socket)
            answer(socket);
    }
}

QStringList LoopbackHttpServer::bodies() const
{
    QStringList bodies;
    for (const Request& request : m_requests)
        bodies.append(QString::fromUtf8(request.body));
    return bodies;
}

QList<LoopbackHttpServer::Request> LoopbackHttpServer::requestsTo(const QByteArray& path) const
{
    QList<Request> found;
    for (const Request& request : m_requests) {
        if (request.path == path)
            found.append(request);
    }
    return found;
}

void LoopbackHttpServer::clearRequests()
{
    m_requests.clear();
}

void LoopbackHttpServer::incomingConnection(qintptr socketDescriptor)
{
    if (!m_tls) {
        QTcpServer::incomingConnection(socketDescriptor);
        return;
    }
    auto* socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(socketDescriptor)) {
        delete socket;
        return;
    }
    socket->setLocalCertificate(m_certificate);
    socket->setPrivateKey(m_key);
    socket->setPeerVerifyMode(QSslSocket::VerifyNone);
    socket->startServerEncryption();
    addPendingConnection(socket);
}

void LoopbackHttpServer::serve(QTcpSocket* socket)
{
    m_buffers.insert(socket, {});
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        m_buffers.remove(socket);
        socket->deleteLater();
    });
}

void LoopbackHttpServer::onReadyRead(QTcpSocket* socket)
{
    if (!m_buffers.contains(socket))
        return;
    QByteArray& buffer = m_buffers[socket];
    buffer += socket->readAll();
    const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return;

    Request request;
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.path = requestLine.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines.at(i).indexOf(':');
        if (colon > 0)
            request.headers.insert(lines.at(i).left(colon).trimmed().toLower(), lines.at(i).mid(colon + 1).trimmed());
    }
    const qsizetype length = request.header("content-length").toLongLong();
    if (buffer.size() < headerEnd + 4 + length)
        return; // the body is still on its way
    request.body = buffer.mid(headerEnd + 4, length);
    m_buffers.remove(socket);
    m_requests.append(request);
    if (m_holding)
        m_held.append(socket);
    else
        answer(socket);
    emit requestReceived();
}

void LoopbackHttpServer::answer(QTcpSocket* socket)
{
    if (m_refusing) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    if (!m_reply.raw.isEmpty()) {
        socket->write(m_reply.raw);
        if (!m_reply.hang)
            socket->disconnectFromHost();
        return;
    }
    // Clients read the status code alone; one reason phrase serves them all.
    QByteArray response = "HTTP/1.1 " + QByteArray::number(m_reply.status) + " Status\r\n";
    if (!m_reply.contentType.isEmpty())
        response += "Content-Type: " + m_reply.contentType + "\r\n";
    response += "Content-Length: " + QByteArray::number(m_reply.body.size()) + "\r\nConnection: close\r\n\r\n";
    socket->write(response + m_reply.body);
    socket->disconnectFromHost();
}

bool LoopbackHttpServer::makeSelfSignedCertificate(const QString& folder, QSslCertificate* certificate, QSslKey* key)
{
    const QString openssl = QStandardPaths::findExecutable(u"openssl"_s);
    if (openssl.isEmpty())
        return false;
    const QDir dir(folder);
    const QString certPath = dir.filePath(u"cert.pem"_s);
    const QString keyPath = dir.filePath(u"key.pem"_s);
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    // An EC key is made in milliseconds; the address is in the subject's
    // alternative names so that host name checks pass for 127.0.0.1.
    process.start(openssl,
        { u"req"_s, u"-x509"_s, u"-newkey"_s, u"ec"_s, u"-pkeyopt"_s, u"ec_paramgen_curve:prime256v1"_s, u"-nodes"_s,
            u"-keyout"_s, keyPath, u"-out"_s, certPath, u"-days"_s, u"2"_s, u"-subj"_s, u"/CN=127.0.0.1"_s,
            u"-addext"_s, u"subjectAltName=IP:127.0.0.1"_s });
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        qWarning("openssl failed: %s", process.readAll().constData());
        return false;
    }
    const QList<QSslCertificate> certificates = QSslCertificate::fromPath(certPath);
    QFile keyFile(keyPath);
    if (certificates.isEmpty() || !keyFile.open(QIODevice::ReadOnly))
        return false;
    *certificate = certificates.first();
    *key = QSslKey(keyFile.readAll(), QSsl::Ec, QSsl::Pem);
    return !certificate->isNull() && !key->isNull();
}
