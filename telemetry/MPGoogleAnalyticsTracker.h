#pragma once

#include "telemetry/MPAnalyticsConfiguration.h"
#include "telemetry/MPTrackingRequestParams.h"
#include "telemetry/TrackerHelper.h"

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QQueue>
#include <QStringList>
#include <QUrl>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

// Sends Measurement Protocol hits (events, screen views, timings) one POST per
// hit and tracking id to the analytics endpoint's "/collect". Nothing is sent
// before a configuration is active, nor when the endpoint is not configured.
// Requests are fire and forget and go out one at a time, in order; nothing is
// stored or retried. With "ShowDebugMenu" on, every event hit is also
// announced as "AnalyticsEvent". The tracker lives on the main thread; its
// operations may be called from any thread, but the screen stack's compound
// operations expect one caller thread.
class MPGoogleAnalyticsTracker final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MPGoogleAnalyticsTracker)

public:
    static MPGoogleAnalyticsTracker& sharedTracker();

    explicit MPGoogleAnalyticsTracker(QObject* parent = nullptr);
    ~MPGoogleAnalyticsTracker() override;

    // std::nullopt switches sending off again.
    void activateConfiguration(const std::optional<MPAnalyticsConfiguration>& configuration);
    std::optional<MPAnalyticsConfiguration> activeConfiguration() const;

    void trackEventWithParameters(const MPEventParams& params);
    void trackTimingWithParameters(const MPTimingParams& params);
    void trackEventOfCategory(
        const QString& category, const QString& action, const QString& label, const QString& value);
    void trackEventOfCategory(const QString& category, const QString& action, const QString& label,
        const QString& value, const QString& contentDescription, const QString& customDimension);
    void trackTimingOfCategory(
        const QString& category, const QString& variable, const QString& time, const QString& label);
    // Makes `screen` the current screen and sends a screen view for it.
    void trackScreen(const QString& screen);
    // Pushes a modal screen and sends a screen view for it; nothing when it is already on the stack.
    void trackModalScreen(const QString& screen);
    // Replaces the top modal screen (pushes when there is none); sends nothing.
    void switchToModalScreen(const QString& screen);
    // Pops the top modal screen; popping the last one sends the current screen again.
    void stopTrackingModalScreen();

    QString currentScreen() const;
    // Top-most first.
    QStringList modalScreens() const;
    // The top modal screen, else the current screen.
    QString contentDescription() const;
    // `params` on the wire, with "cd" set to `contentDescription` when asked
    // and the hit names no screen of its own.
    MPParameters filteredDictionaryForParameters(
        const MPTrackingRequestParams& params, bool includeContentDescription) const;
    // The POST body of one hit for the tracking id `gaid`.
    QString requestStringForDictionary(const MPParameters& parameters, const QString& gaid);
    void sendAnalyticsWithParameters(
        const MPParameters& parameters, const MPTrackingRequestParams& originalTrackingEvent);
    // Announces an event hit as "AnalyticsEvent" (userInfo: the hit and "gaid").
    void debugEvent(const MPParameters& parameters, const QString& gaid);

    TrackerHelper& trackerInfoHelper() { return m_trackerInfoHelper; }
    QString userIdentifier() { return m_trackerInfoHelper.userIdentifier(); }
    QString userAgentString() { return m_trackerInfoHelper.userAgentString(); }
    QString systemInfo() { return m_trackerInfoHelper.systemInfo(); }
    // "ShowDebugMenu" of the standard defaults, read on first need.
    bool isDebugEnabled() const;

    // Requests queued or in flight.
    int pendingRequestCount() const;

    static constexpr int kRequestTimeoutSeconds = 60;

    // Class operations: each forwards to the shared tracker.
    struct Shared {
        static void activateConfiguration(const std::optional<MPAnalyticsConfiguration>& configuration);
        static void trackEventWithParameters(const MPEventParams& params);
        static void trackTimingWithParameters(const MPTimingParams& params);
        static void trackEventOfCategory(
            const QString& category, const QString& action, const QString& label, const QString& value);
        static void trackEventOfCategory(const QString& category, const QString& action, const QString& label,
            const QString& value, const QString& contentDescription, const QString& customDimension);
        static void trackTimingOfCategory(
            const QString& category, const QString& variable, const QString& time, const QString& label);
        static void trackScreen(const QString& screen);
        static void trackModalScreen(const QString& screen);
        static void switchToModalScreen(const QString& screen);
        static void stopTrackingModalScreen();
    };

private:
    struct PendingRequest {
        QUrl url;
        QByteArray body;
    };
    void sendAppView(const QString& screen);
    void enqueue(const QUrl& url, const QByteArray& body);
    void startNextRequest();
    void onRequestFinished(QNetworkReply* reply);

    mutable QMutex m_mutex;
    mutable std::optional<bool> m_debugEnabled;
    std::optional<MPAnalyticsConfiguration> m_activeConfiguration;
    QString m_currentScreen;
    QStringList m_modalScreens;
    QQueue<PendingRequest> m_queue;
    int m_inFlight = 0;

    TrackerHelper m_trackerInfoHelper;
    QNetworkAccessManager* m_session = nullptr;
    QPointer<QNetworkReply> m_reply; // main thread only
};
