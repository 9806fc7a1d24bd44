#include "telemetry/MPGoogleAnalyticsTracker.h"

#include "platform/Bundle.h"
#include "platform/Defaults.h"
#include "platform/Logging.h"
#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"
#include "telemetry/KKGADictionaryBuilder.h"
#include "telemetry/MPParamBuilder.h"
#include "telemetry/OneShotPost.h"

#include <QCoreApplication>
#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {

const QString kShowDebugMenuKey = QStringLiteral("ShowDebugMenu");

// Every character but ALPHA, DIGIT and "-._~" as UTF-8 percent-escapes, so
// no value can end a pair early or be read as a space.
QString escaped(const QString& text)
{
    return QString::fromLatin1(text.toUtf8().toPercentEncoding());
}

} // namespace

MPGoogleAnalyticsTracker& MPGoogleAnalyticsTracker::sharedTracker()
{
    // Never destroyed: a hit sent during shutdown must not meet a dead tracker.
    static MPGoogleAnalyticsTracker* shared = new MPGoogleAnalyticsTracker;
    return *shared;
}

MPGoogleAnalyticsTracker::MPGoogleAnalyticsTracker(QObject* parent)
    : QObject(parent)
    , m_session(new QNetworkAccessManager(this))
{
    // The session and its replies belong to the main thread.
    auto* app = QCoreApplication::instance();
    if (!parent && app && thread() != app->thread())
        moveToThread(app->thread());
}

MPGoogleAnalyticsTracker::~MPGoogleAnalyticsTracker()
{
    if (QNetworkReply* reply = m_reply.data(); reply != nullptr) {
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

void MPGoogleAnalyticsTracker::activateConfiguration(const std::optional<MPAnalyticsConfiguration>& configuration)
{
    QMutexLocker lock(&m_mutex);
    m_activeConfiguration = configuration;
}

std::optional<MPAnalyticsConfiguration> MPGoogleAnalyticsTracker::activeConfiguration() const
{
    QMutexLocker lock(&m_mutex);
    return m_activeConfiguration;
}

void MPGoogleAnalyticsTracker::trackEventWithParameters(const MPEventParams& params)
{
    sendAnalyticsWithParameters(filteredDictionaryForParameters(params, true), params);
}

void MPGoogleAnalyticsTracker::trackTimingWithParameters(const MPTimingParams& params)
{
    sendAnalyticsWithParameters(filteredDictionaryForParameters(params, true), params);
}

void MPGoogleAnalyticsTracker::trackEventOfCategory(
    const QString& category, const QString& action, const QString& label, const QString& value)
{
    trackEventWithParameters(MPParamBuilder::eventParamsForCategory(category, action, label, value));
}

void MPGoogleAnalyticsTracker::trackEventOfCategory(const QString& category, const QString& action,
    const QString& label, const QString& value, const QString& contentDescription, const QString& customDimension)
{
    trackEventWithParameters(
        MPParamBuilder::eventParamsForCategory(category, action, label, value, contentDescription, customDimension));
}

void MPGoogleAnalyticsTracker::trackTimingOfCategory(
    const QString& category, const QString& variable, const QString& time, const QString& label)
{
    trackTimingWithParameters(MPParamBuilder::timingParamsForCategory(category, variable, time, label));
}

void MPGoogleAnalyticsTracker::sendAppView(const QString& screen)
{
    const MPAppViewParams params = MPParamBuilder::appViewParamsForScreen(screen);
    sendAnalyticsWithParameters(filteredDictionaryForParameters(params, false), params);
}

void MPGoogleAnalyticsTracker::trackScreen(const QString& screen)
{
    {
        QMutexLocker lock(&m_mutex);
        m_currentScreen = screen;
    }
    sendAppView(screen);
}

void MPGoogleAnalyticsTracker::trackModalScreen(const QString& screen)
{
    {
        QMutexLocker lock(&m_mutex);
        if (m_modalScreens.contains(screen))
            return;
        m_modalScreens.prepend(screen);
    }
    sendAppView(screen);
}

void MPGoogleAnalyticsTracker::switchToModalScreen(const QString& screen)
{
    QMutexLocker lock(&m_mutex);
    if (m_modalScreens.isEmpty())
        m_modalScreens.prepend(screen);
    else
        m_modalScreens[0] = screen;
}

void MPGoogleAnalyticsTracker::stopTrackingModalScreen()
{
    QString current;
    {
        QMutexLocker lock(&m_mutex);
        if (m_modalScreens.isEmpty())
            return;
        m_modalScreens.removeFirst();
        if (!m_modalScreens.isEmpty())
            return;
        current = m_currentScreen;
    }
    // Back on the main screen. Before any `trackScreen` there is none to
    // return to, and a screen view without a screen name would be rejected.
    if (!current.isEmpty())
        trackScreen(current);
}

QString MPGoogleAnalyticsTracker::currentScreen() const
{
    QMutexLocker lock(&m_mutex);
    return m_currentScreen;
}

QStringList MPGoogleAnalyticsTracker::modalScreens() const
{
    QMutexLocker lock(&m_mutex);
    return m_modalScreens;
}

QString MPGoogleAnalyticsTracker::contentDescription() const
{
    QMutexLocker lock(&m_mutex);
    return m_modalScreens.isEmpty() ? m_currentScreen : m_modalScreens.first();
}

MPParameters MPGoogleAnalyticsTracker::filteredDictionaryForParameters(
    const MPTrackingRequestParams& params, bool includeContentDescription) const
{
    MPParameters parameters = params.dictionaryRepresentation();
    if (includeContentDescription && params.contentDescription.isEmpty()) {
        const QString screen = contentDescription();
        if (!screen.isEmpty())
            parameters.insert(QStringLiteral("cd"), screen);
    }
    return parameters;
}

QString MPGoogleAnalyticsTracker::requestStringForDictionary(const MPParameters& parameters, const QString& gaid)
{
    // The identity values are escaped like every other value, so that no
    // name or version can end a pair early.
    QString body = QStringLiteral("v=1&tid=") + escaped(gaid) + QStringLiteral("&an=")
        + escaped(m_trackerInfoHelper.applicationName()) + QStringLiteral("&av=")
        + escaped(m_trackerInfoHelper.applicationVersion()) + QStringLiteral("&cid=")
        + escaped(m_trackerInfoHelper.userIdentifier());
    for (const auto& [key, value] : parameters.entries())
        body += u'&' + key + u'=' + escaped(value);
    // The system text rides as custom dimension 2, a pair of its own, so it
    // cannot run into the last value.
    const QString system = m_trackerInfoHelper.systemInfo();
    if (!system.isEmpty() && !parameters.contains(QStringLiteral("cd2")))
        body += QStringLiteral("&cd2=") + escaped(system);
    return body;
}

void MPGoogleAnalyticsTracker::sendAnalyticsWithParameters(
    const MPParameters& parameters, const MPTrackingRequestParams& originalTrackingEvent)
{
    const std::optional<MPAnalyticsConfiguration> configuration = activeConfiguration();
    if (!configuration)
        return;

    QStringList identifiers { configuration->analyticsIdentifier() };
    if (const auto* event = dynamic_cast<const MPEventParams*>(&originalTrackingEvent);
        event && !event->category.isEmpty()) {
        const QString additional = configuration->addtionalEventIdentifiers().value(event->category);
        const QString duplicate = configuration->duplicatedEventIdentifiers().value(event->category);
        if (!additional.isEmpty())
            identifiers = { additional };
        else if (!duplicate.isEmpty())
            identifiers.append(duplicate);
    }

    // An unconfigured endpoint sends nothing, but the debug window still
    // shows what would have gone out.
    const QUrl url = Bundle::endpointUrl(Bundle::Endpoint::Analytics, QStringLiteral("/collect"));
    const bool debug = isDebugEnabled();
    for (const QString& gaid : std::as_const(identifiers)) {
        if (gaid.isEmpty())
            continue;
        if (!url.isEmpty())
            enqueue(url, requestStringForDictionary(parameters, gaid).toUtf8());
        if (debug)
            debugEvent(parameters, gaid);
    }
}

void MPGoogleAnalyticsTracker::debugEvent(const MPParameters& parameters, const QString& gaid)
{
    if (parameters.value(QStringLiteral("t")) != u"event")
        return;
    QVariantMap info = parameters.toVariantMap();
    info.insert(QStringLiteral("gaid"), gaid);
    NotificationCenter::defaultCenter().post(KKGADictionaryBuilder::kAnalyticsEventNotification, {}, info);
}

bool MPGoogleAnalyticsTracker::isDebugEnabled() const
{
    QMutexLocker lock(&m_mutex);
    if (!m_debugEnabled)
        m_debugEnabled = Defaults::standard().boolForKey(kShowDebugMenuKey);
    return *m_debugEnabled;
}

int MPGoogleAnalyticsTracker::pendingRequestCount() const
{
    QMutexLocker lock(&m_mutex);
    return static_cast<int>(m_queue.size()) + m_inFlight;
}

void MPGoogleAnalyticsTracker::enqueue(const QUrl& url, const QByteArray& body)
{
    {
        QMutexLocker lock(&m_mutex);
        m_queue.enqueue({ url, body });
    }
    if (MainQueue::isMainThread()) {
        startNextRequest();
        return;
    }
    QPointer<MPGoogleAnalyticsTracker> self(this);
    MainQueue::async([self] {
        if (self)
            self->startNextRequest();
    });
}

void MPGoogleAnalyticsTracker::startNextRequest()
{
    // One connection at a time: the next hit waits for the previous reply.
    if (m_reply)
        return;
    PendingRequest next;
    {
        QMutexLocker lock(&m_mutex);
        if (m_queue.isEmpty())
            return;
        next = m_queue.dequeue();
        m_inFlight = 1;
    }
    QNetworkRequest request(next.url);
    request.setTransferTimeout(kRequestTimeoutSeconds * 1000);
    request.setHeader(QNetworkRequest::UserAgentHeader, m_trackerInfoHelper.userAgentString());
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    // Nothing of a hit is kept: no cookies sent or stored, no cache.
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    QNetworkReply* reply = OneShotPost::post(*m_session, request, next.body);
    m_reply = reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onRequestFinished(reply); });
}

void MPGoogleAnalyticsTracker::onRequestFinished(QNetworkReply* reply)
{
    reply->deleteLater();
    m_reply = nullptr;
    if (reply->error() != QNetworkReply::NoError)
        qCDebug(lcTelemetry) << "analytics hit not delivered, dropped:" << reply->errorString();
    {
        QMutexLocker lock(&m_mutex);
        m_inFlight = 0;
    }
    startNextRequest();
}

void MPGoogleAnalyticsTracker::Shared::activateConfiguration(
    const std::optional<MPAnalyticsConfiguration>& configuration)
{
    sharedTracker().activateConfiguration(configuration);
}

void MPGoogleAnalyticsTracker::Shared::trackEventWithParameters(const MPEventParams& params)
{
    sharedTracker().trackEventWithParameters(params);
}

void MPGoogleAnalyticsTracker::Shared::trackTimingWithParameters(const MPTimingParams& params)
{
    sharedTracker().trackTimingWithParameters(params);
}

void MPGoogleAnalyticsTracker::Shared::trackEventOfCategory(
    const QString& category, const QString& action, const QString& label, const QString& value)
{
    sharedTracker().trackEventOfCategory(category, action, label, value);
}

void MPGoogleAnalyticsTracker::Shared::trackEventOfCategory(const QString& category, const QString& action,
    const QString& label, const QString& value, const QString& contentDescription, const QString& customDimension)
{
    sharedTracker().trackEventOfCategory(category, action, label, value, contentDescription, customDimension);
}

void MPGoogleAnalyticsTracker::Shared::trackTimingOfCategory(
    const QString& category, const QString& variable, const QString& time, const QString& label)
{
    sharedTracker().trackTimingOfCategory(category, variable, time, label);
}

void MPGoogleAnalyticsTracker::Shared::trackScreen(const QString& screen)
{
    sharedTracker().trackScreen(screen);
}

void MPGoogleAnalyticsTracker::Shared::trackModalScreen(const QString& screen)
{
    sharedTracker().trackModalScreen(screen);
}

void MPGoogleAnalyticsTracker::Shared::switchToModalScreen(const QString& screen)
{
    sharedTracker().switchToModalScreen(screen);
}

void MPGoogleAnalyticsTracker::Shared::stopTrackingModalScreen()
{
    sharedTracker().stopTrackingModalScreen();
}
