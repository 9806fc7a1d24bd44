#pragma once

#include <QString>
#include <QVariantMap>

// The one place through which the program records usage. Each operation turns
// a user action into a named event with a small parameter map and hands it to
// both back-ends: the log warehouse tracker (LWTracker) and the batched
// analytics client (KKGoogleAnalytics). Nothing is sent until
// `initialWithLaunchOptions` has switched tracking on, except analytics hits
// from `GARecordEvent` and `TrackADID`. Class operations only; call them on
// the main thread. They report nothing and never throw.
class TrackManager final {
public:
    TrackManager() = delete;

    // The tracking switch: off when the process starts, on for good after start-up.
    static bool TrackEnable();
    // Switches tracking on, starts the tracker's session and the analytics
    // client. `launchOptions` is not read.
    static void initialWithLaunchOptions(const QVariantMap& launchOptions);
    // The "launch" event, the launch hit, then `TrackActivation`.
    static void TrackLaunch();
    // The important "zd_callback_event", once per installation.
    static void TrackActivation();
    // Sends `name` with `params` to both back-ends; dropped while tracking is
    // off or when the name or the map is empty. Important events are retried
    // by the tracker until delivered.
    static void TrackEventWithName(const QString& name, const QVariantMap& params, bool isImportant);
    // An analytics hit in "button_click", then the "button_click" event.
    static void TrackPage(const QString& page, const QString& action);
    // One event hit to the analytics client only, whether tracking is on or not.
    static void GARecordEvent(const QString& category, const QString& action, const QString& label);
    static void TrackSatisfyWithFuncName(const QString& name, bool satisfiable);
    // One step of a funnel. Order 1 starts a new run with a new request id
    // ("App.lastTrackId"); later orders reuse the stored one, across restarts.
    static void TrackCompleteRate(const QString& eventName, const QString& stepName, uint stepOrder);
    // Start and outcome of a function: at most one outcome follows each start.
    static void TrackFuncStartWithFuncName(const QString& name);
    static void TrackFuncCompleteWithFuncName(const QString& name);
    static void TrackFuncFailedWithFuncName(const QString& name, const QString& resson);
    static void ClearFuncStartID();
    static void TrackPopRate(const QString& source);
    // The advertising id's MD5, straight to the tracker whether tracking is on or not.
    static void TrackADID(const QString& adid);
    // Switches tracking off again and forgets the function start, as at
    // process start, so that a test can go through start-up once more.
    static void resetForTesting();

    static inline const QString kActivationKey = QStringLiteral("App.zd_callback_event");
    static inline const QString kLastTrackIdKey = QStringLiteral("App.lastTrackId");
};
