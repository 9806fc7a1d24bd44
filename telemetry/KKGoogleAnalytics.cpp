#include "telemetry/KKGoogleAnalytics.h"

#include "platform/Bundle.h"
#include "platform/Defaults.h"
#include "platform/Logging.h"
#include "platform/MainQueue.h"
#include "telemetry/HTTPFormExtensions.h"
#include "telemetry/KKGAFields.h"
#include "telemetry/KKGARecordStore.h"
#include "telemetry/KKGASystemInfo.h"
#include "telemetry/OneShotPost.h"

#include <QCoreApplication>
#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QUuid>

namespace {

struct ErrorPresentation {
    QMutex mutex;
    std::function<void(const QString&)> presenter;
    bool presented = false;
};

ErrorPresentation& errorPresentation()
{
    static ErrorPresentation state;
    return state;
}

QString loadOrMakeClientID(Defaults& defaults)
{
    QString id = defaults.stringForKey(KKGoogleAnalytics::kClientIDKey);
    if (id.isEmpty()) {
        id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        defaults.setValue(KKGoogleAnalytics::kClientIDKey, id);
        defaults.synchronize();
    }
    return id;
}

} // namespace

KKGoogleAnalytics& KKGoogleAnalytics::sharedInstance()
{
    // Lives for the whole process; never destroyed, so no hit is cut short
    // by static destruction order.
    static KKGoogleAnalytics* shared = new KKGoogleAnalytics(defaultStoreFolder(), Defaults::standard());
    return *shared;
}

QString KKGoogleAnalytics::defaultStoreFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + u'/' + Bundle::identifier();
}

KKGoogleAnalytics::KKGoogleAnalytics(const QString& storeFolder, Defaults& defaults, QObject* parent, int storeCapacity)
    : QObject(parent)
    , m_clientID(loadOrMakeClientID(defaults))
    , m_screenResolution(KKGASystemInfo::screenResolutionString())
    , m_screenDepth(KKGASystemInfo::screenDepthString())
    , m_language(KKGASystemInfo::primaryLanguage())
    , m_storeFolder(storeFolder)
    , m_store(std::make_unique<KKGARecordStore>(storeFolder, storeCapacity))
    , m_network(new QNetworkAccessManager(this))
    , m_timer(new QTimer(this))
{
    m_timer->setInterval(kDispatchIntervalSeconds * 1000);
    connect(m_timer, &QTimer::timeout, this, &KKGoogleAnalytics::timer);

    // The network manager and the timer must live on the main thread.
    auto* app = QCoreApplication::instance();
    if (!parent && app && thread() != app->thread())
        moveToThread(app->thread());

    // An unconfigured build keeps nothing that a later run could send.
    if (!isConfigured()) {
        qCDebug(lcTelemetry) << "analytics endpoint not configured; hits are logged only";
        return;
    }
    dispatch();
    QPointer<KKGoogleAnalytics> self(this);
    if (MainQueue::isMainThread()) {
        startDispatching();
    } else {
        MainQueue::async([self] {
            if (self)
                self->startDispatching();
        });
    }
}

KKGoogleAnalytics::~KKGoogleAnalytics()
{
    m_timer->stop();
    if (QNetworkReply* reply = m_reply.data(); reply != nullptr) {
        // The batch's records stay stored for the next run.
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

void KKGoogleAnalytics::setTrackingID(const QString& trackingID)
{
    QMutexLocker lock(&m_mutex);
    m_trackingID = trackingID;
}

QString KKGoogleAnalytics::trackingID() const
{
    QMutexLocker lock(&m_mutex);
    return m_trackingID;
}

void KKGoogleAnalytics::setUserID(const QString& userID)
{
    QMutexLocker lock(&m_mutex);
    m_userID = userID;
}

QString KKGoogleAnalytics::userID() const
{
    QMutexLocker lock(&m_mutex);
    return m_userID;
}

QString KKGoogleAnalytics::encodedHit(const QVariantMap& hit) const
{
    QVariantMap completed = hit;
    completed.insert(KKGA::kProtocolVersion, 1);
    completed.insert(KKGA::kTrackingId, trackingID());
    completed.insert(KKGA::kClientId, m_clientID);
    const QString user = userID();
    if (!user.isEmpty())
        completed.insert(KKGA::kUserId, user);
    if (!m_screenResolution.isEmpty())
        completed.insert(KKGA::kScreenResolution, m_screenResolution);
    if (m_screenDepth)
        completed.insert(KKGA::kScreenColors, *m_screenDepth);
    if (!m_language.isEmpty())
        completed.insert(KKGA::kLanguage, m_language);
    return HTTPFormExtensions::stringAsWWWURLEncodedFormFromDictionary(completed);
}

bool KKGoogleAnalytics::isConfigured()
{
    return !Bundle::endpointBase(Bundle::Endpoint::Analytics).isEmpty();
}

void KKGoogleAnalytics::send(const QVariantMap& hit)
{
    const QString line = encodedHit(hit);
    if (!isConfigured()) {
        qCDebug(lcTelemetry) << "analytics endpoint not configured, hit not kept:" << line;
        return;
    }
    if (MainQueue::isMainThread()) {
        store(line);
        return;
    }
    QPointer<KKGoogleAnalytics> self(this);
    MainQueue::async([self, line] {
        if (self)
            self->store(line);
    });
}

void KKGoogleAnalytics::store(const QString& line)
{
    if (!m_store->insert(line))
        qCDebug(lcTelemetry) << "analytics hit lost, no store:" << line;
}

bool KKGoogleAnalytics::dispatch()
{
    bool started = false;
    MainQueue::sync([this, &started] { started = startBatch(); });
    return started;
}

bool KKGoogleAnalytics::startBatch()
{
    if (m_reply)
        return false;
    // Checked before the store is touched: an unconfigured build opens none.
    const QUrl url = Bundle::endpointUrl(Bundle::Endpoint::Analytics, QStringLiteral("/batch"));
    if (url.isEmpty())
        return false;
    const QList<KKGARecordStore::Record> records = m_store->fetchOldest(kBatchMaxHits);
    if (records.isEmpty())
        return false;

    // The service takes 20 hits and 16 KB per request and drops the rest;
    // the first line always goes, so that one oversized hit cannot block the store.
    QByteArray body;
    QList<qint64> ids;
    for (const KKGARecordStore::Record& record : records) {
        const QByteArray line = record.text.toUtf8() + '\n';
        if (!ids.isEmpty() && body.size() + line.size() > kBatchMaxBytes)
            break;
        body += line;
        ids.append(record.id);
    }
    QNetworkRequest request(url);
    request.setTransferTimeout(m_requestTimeoutMsecs);
    request.setHeader(QNetworkRequest::UserAgentHeader, userAgent());
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    QNetworkReply* reply = OneShotPost::post(*m_network, request, body);
    m_reply = reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply, ids] { onBatchFinished(reply, ids); });
    return true;
}

bool KKGoogleAnalytics::answeredInFull(const QNetworkReply* reply)
{
    // An HTTP status alone is not enough: a connection cut or timed out after
    // the headers has one too. Qt reports a status it read in full as an
    // error of the content, protocol-operation or server kind; what is left
    // are failures of the connection or of the answer's framing.
    if (!reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
        return false;
    const QNetworkReply::NetworkError error = reply->error();
    if (error == QNetworkReply::NoError)
        return true;
    if (error < QNetworkReply::ContentAccessDenied || error == QNetworkReply::ContentReSendError)
        return false;
    return error != QNetworkReply::ProtocolUnknownError && error != QNetworkReply::ProtocolFailure;
}

void KKGoogleAnalytics::onBatchFinished(QNetworkReply* reply, const QList<qint64>& ids)
{
    reply->deleteLater();
    m_reply = nullptr;
    // Any complete HTTP answer means the service has the batch, whatever its
    // status; anything less keeps the lines for the next tick.
    if (!answeredInFull(reply)) {
        qCDebug(lcTelemetry) << "analytics batch not delivered, kept:" << reply->errorString();
        return;
    }
    qCDebug(lcTelemetry) << "analytics batch of" << ids.size() << "hits answered"
                         << reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (m_store->remove(ids))
        startBatch();
}

bool KKGoogleAnalytics::isBatchInFlight() const
{
    return !m_reply.isNull();
}

void KKGoogleAnalytics::startDispatching()
{
    m_timer->stop();
    m_timer->start();
}

void KKGoogleAnalytics::pauseDispatching()
{
    m_timer->stop();
}

bool KKGoogleAnalytics::isDispatching() const
{
    return m_timer->isActive();
}

void KKGoogleAnalytics::timer()
{
    dispatch();
}

QString KKGoogleAnalytics::applicationFilesDirectory() const
{
    return m_storeFolder;
}

QString KKGoogleAnalytics::userAgent()
{
    static const QString text
        = QStringLiteral("%1/%2 (X11; %3 Linux %4; %5)")
              .arg(QStringLiteral("Holvane"), KKGASystemInfo::appVersion(), KKGASystemInfo::CPUType(),
                  KKGASystemInfo::systemVersionString(), KKGASystemInfo::machineModel());
    return text;
}

void KKGoogleAnalytics::setErrorPresenter(std::function<void(const QString& message)> presenter)
{
    ErrorPresentation& state = errorPresentation();
    QMutexLocker lock(&state.mutex);
    state.presenter = std::move(presenter);
    state.presented = false;
}

void KKGoogleAnalytics::presentError(const QString& message)
{
    ErrorPresentation& state = errorPresentation();
    std::function<void(const QString&)> presenter;
    {
        QMutexLocker lock(&state.mutex);
        if (state.presented) {
            lock.unlock();
            qCWarning(lcTelemetry).noquote() << message;
            return;
        }
        state.presented = true;
        presenter = state.presenter;
    }
    if (presenter)
        presenter(message);
    else
        qCWarning(lcTelemetry).noquote() << message;
}
