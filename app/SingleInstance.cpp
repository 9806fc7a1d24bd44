#include "app/SingleInstance.h"

#include "platform/Bundle.h"
#include "platform/Logging.h"
#include "platform/PrivateFolder.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qint64 kMaxMessageBytes = 1 << 20;
constexpr int kReadTimeoutMsecs = 5000;
constexpr int kStartDeadlineMsecs = 3000;
const QByteArray kAnswer = QByteArrayLiteral("ok\n");

// The display this process talks to: different displays get different
// primaries, as a window can only come forward on its own display.
QString displayKey()
{
    const QString platform = QGuiApplication::platformName();
    QString display;
    if (platform.startsWith(QLatin1String("wayland")))
        display = qEnvironmentVariable("WAYLAND_DISPLAY", QStringLiteral("wayland-0"));
    else if (platform == QLatin1String("xcb"))
        display = qEnvironmentVariable("DISPLAY");
    QString key = platform;
    if (!display.isEmpty())
        key += u'-' + display;
    for (QChar& c : key) {
        if (!c.isLetterOrNumber() && c != u'-' && c != u'.')
            c = u'_';
    }
    // Socket paths are short (108 bytes); a long display name is hashed.
    if (key.size() > 40)
        key = QString::fromLatin1(QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex().left(16));
    return key;
}

// XDG_RUNTIME_DIR when it is a folder of ours that nobody else may enter,
// else the private folder in the temporary directory.
QString runtimeFolder()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    struct stat st { };
    if (!runtime.isEmpty() && ::lstat(runtime.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid()
        && (st.st_mode & 077) == 0)
        return QFile::decodeName(runtime);
    QString root;
    if (const Outcome made = PrivateFolder::temporaryRoot(&root); !made.ok())
        qCWarning(lcApp, "no private folder for the instance socket: %s", qUtf8Printable(made.message));
    return root;
}

// One JSON line. A selection of thousands of files would not fit the
// primary's limit; only the first document is opened anyway, so the list is
// cut short rather than lost as a whole.
QByteArray encodeLaunch(LaunchArguments launch)
{
    qint64 size = 0;
    qsizetype fits = 0;
    for (const QString& document : std::as_const(launch.paths)) {
        size += document.toUtf8().size() + 8;
        if (fits > 0 && size > kMaxMessageBytes / 2)
            break;
        ++fits;
    }
    launch.paths = launch.paths.mid(0, fits);
    launch.refused = launch.refused.mid(0, 16);
    return QJsonDocument(launch.toJson()).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<LaunchArguments> decodeLaunch(const QByteArray& line)
{
    const QJsonDocument document = QJsonDocument::fromJson(line);
    if (!document.isObject() || !document.object().value(QStringLiteral("documents")).isArray())
        return std::nullopt;
    return LaunchArguments::fromJson(document.object());
}

} // namespace

SingleInstance::SingleInstance(QObject* parent)
    : QObject(parent)
{
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::onNewConnection);
}

SingleInstance::~SingleInstance()
{
    // The socket file goes first, then the lock that vouches for it.
    m_server.close();
    m_lock.reset();
}

QString SingleInstance::basePath()
{
    const QString folder = runtimeFolder();
    if (folder.isEmpty())
        return {};
    return folder + u'/' + Bundle::identifier() + u'-' + displayKey();
}

SingleInstance::Role SingleInstance::start(const LaunchArguments& launch)
{
    const QString base = basePath();
    if (base.isEmpty())
        return Role::Standalone;
    const QString socketPath = base + QStringLiteral(".socket");
    m_lock = std::make_unique<QLockFile>(base + QStringLiteral(".lock"));
    // Only a dead owner makes a lock stale, never its age: a primary may run for weeks.
    m_lock->setStaleLockTime(0);

    // The primary may hold the lock before it listens, or still hold it while
    // it quits; both last a moment, so try again until the deadline.
    const QDeadlineTimer deadline(kStartDeadlineMsecs);
    do {
        if (m_lock->tryLock(0))
            return becomePrimary(socketPath) ? Role::Primary : Role::Standalone;
        if (m_lock->error() != QLockFile::LockFailedError) {
            qCWarning(lcApp, "cannot lock %s; running on our own", qUtf8Printable(m_lock->fileName()));
            return Role::Standalone;
        }
        if (handOver(socketPath, launch))
            return Role::HandedOver;
        QThread::msleep(50);
    } while (!deadline.hasExpired());
    qCWarning(lcApp, "the running instance does not answer; running on our own");
    m_lock.reset();
    return Role::Standalone;
}

bool SingleInstance::becomePrimary(const QString& socketPath)
{
    // A socket file here was left by a primary that died without cleaning up:
    // we hold the lock, so nobody else listens on it.
    QLocalServer::removeServer(socketPath);
    if (m_server.listen(socketPath))
        return true;
    qCWarning(lcApp, "cannot listen on %s: %s", qUtf8Printable(socketPath), qUtf8Printable(m_server.errorString()));
    m_lock->unlock();
    return false;
}

bool SingleInstance::handOver(const QString& socketPath, const LaunchArguments& launch)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(500))
        return false;
    socket.write(encodeLaunch(launch));
    if (!socket.waitForBytesWritten(kReadTimeoutMsecs))
        return false;
    // The answer comes once the primary has read the whole message.
    QByteArray answer;
    const QDeadlineTimer deadline(kReadTimeoutMsecs);
    while (!answer.endsWith('\n') && socket.waitForReadyRead(int(deadline.remainingTime())))
        answer += socket.readAll();
    answer += socket.readAll();
    return answer == kAnswer;
}

void SingleInstance::onNewConnection()
{
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // A sender that stalls or never finishes its line is dropped.
        QTimer::singleShot(kReadTimeoutMsecs, socket, [socket] { socket->abort(); });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > kMaxMessageBytes)
                    socket->abort();
                return;
            }
            const std::optional<LaunchArguments> launch = decodeLaunch(socket->readLine(kMaxMessageBytes));
            if (!launch) {
                socket->abort();
                return;
            }
            socket->write(kAnswer);
            socket->disconnectFromServer();
            emit launchReceived(*launch);
        });
    }
}
