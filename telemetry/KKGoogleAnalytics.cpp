#include "telemetry/KKGoogleAnalytics.h"

#include "platform/Bundle.h"
#include "platform/Defaults.h"
#include "platform/Logging.h"
#include "platform/MainQueue.h"
#include "telemetry/HTTPFormExtensions.h"
#include "telemetry/KKGAFields.h"
#include "telemetry/KKGARecordStore.h"
#include "telemetry/KKGASystemInfo.h"

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

KKGoogleAnalytics::KKGoogleAnalytics(const QString& storeFolder, Defaults& defaults, QObject* parent)
    : QObject(parent)
    , m_clientID(loadOrMakeClientID(defaults))
    , m_screenResolution(KKGASystemInfo::screenResolutionString())
    , m_screenDepth(KKGASystemInfo::screenDepthString())
    , m_language(KKGASystemInfo::primaryLanguage())
    , m_storeFolder(storeFolder)
    , m_store(std::make_unique<KKGARecordStore>(storeFolder))
    , m_network(new QNetworkAccessManager(this))
    , m_timer(new QTimer(this))
{
    m_timer->setInterval(kDispatchIntervalSeconds * 1000);
    connect(m_timer, &QTimer::timeout, this, &KKGoogleAnalytics::timer);

    // The network manager and the timer must live on the main thread.
    auto* app = QCoreApplication::instance();
    if (!parent && app && thread() != app->thread())
        moveToThread(app->thread());

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

void KKGoogleAnalytics::send(const QVariantMap& hit)
{
    const QString line = encodedHit(hit);
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
    const QList<KKGARecordStore::Record> records = m_store->fetchAll();
    if (records.isEmpty())
        return false;
    const QUrl url = Bundle::endpointUrl(Bundle::Endpoint::Analytics, QStringLiteral("/batch"));
    if (url.isEmpty()) {
        // Nothing leaves an unconfigured build; the hits wait in the store.
        qCDebug(lcTelemetry) << "analytics endpoint not configured;" << records.size() << "hits kept";
        return false;
    }

    QByteArray body;
    QList<qint64> ids;
    ids.reserve(records.size());
    for (const KKGARecordStore::Record& record : records) {
        body += record.text.toUtf8() + '\n';
        ids.append(record.id);
    }
    QNetworkRequest request(url);
    request.setTransferTimeout(kRequestTimeoutSeconds * 1000);
    request.setHeader(QNetworkRequest::UserAgentHeader, userAgent());
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    QNetworkReply* reply = m_network->post(request, body);
    m_reply = reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply, ids] { onBatchFinished(reply, ids); });
    return true;
}

void KKGoogleAnalytics::onBatchFinished(QNetworkReply* reply, const QList<qint64>& ids)
{
    reply->deleteLater();
    m_reply = nullptr;
    // Any HTTP status means the service has the batch; only a failed
    // connection (refused, timed out, no route) keeps the records.
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) {
        qCDebug(lcTelemetry) << "analytics batch not delivered, kept:" << reply->errorString();
        return;
    }
    qCDebug(lcTelemetry) << "analytics batch of" << ids.size() << "hits answered" << status.toInt();
    m_store->remove(ids);
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
    static const QString text = QStringLiteral("%1/%2 (X11; %3 Linux %4; %5)")
                                    .arg(QStringLiteral("Holvane"), KKGASystemInfo::appVersion(),
                                         KKGASystemInfo::CPUType(), KKGASystemInfo::kernelVersionString(),
                                         KKGASystemInfo::machineModel());
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
