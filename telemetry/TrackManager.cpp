#include "telemetry/TrackManager.h"

#include "platform/Bundle.h"
#include "platform/Defaults.h"
#include "platform/Logging.h"
#include "telemetry/KKGADictionaryBuilder.h"
#include "telemetry/KKGoogleAnalytics.h"
#include "telemetry/LWTracker.h"

#include <QDateTime>
#include <QUuid>
#include <atomic>
#include <exception>
#include <optional>

namespace {

std::atomic<bool> g_trackingEnabled { false };
// Set by a function start, cleared by its outcome; only its emptiness matters.
QString g_funcStartId;

// Runs one back-end call so that whatever it throws ends here: a failing
// back-end must neither stop the other one nor reach the caller.
template <typename Call> void guarded(const char* backEnd, Call&& call)
{
    try {
        call();
    } catch (const std::exception& error) {
        qCDebug(lcTelemetry, "%s failed: %s", backEnd, error.what());
    } catch (...) {
        qCDebug(lcTelemetry, "%s failed", backEnd);
    }
}

void sendHit(const QVariantMap& hit)
{
    guarded("analytics", [&hit] { KKGoogleAnalytics::sharedInstance().send(hit); });
}

} // namespace

bool TrackManager::TrackEnable()
{
    return g_trackingEnabled.load();
}

void TrackManager::resetForTesting()
{
    g_trackingEnabled.store(false);
    g_funcStartId.clear();
}

void TrackManager::initialWithLaunchOptions(const QVariantMap& launchOptions)
{
    Q_UNUSED(launchOptions)
    g_trackingEnabled.store(true);
    guarded("log tracker", [] { LWTracker::StartSession(); });
    guarded("analytics", [] {
        // Making the shared client starts its dispatch timer.
        KKGoogleAnalytics& analytics = KKGoogleAnalytics::sharedInstance();
        analytics.setTrackingID(Bundle::analyticsTrackingId());
        analytics.send({ { QStringLiteral("launch"), QStringLiteral("1") } });
    });
}

void TrackManager::TrackLaunch()
{
    if (!TrackEnable())
        return;
    const double nowMsecs = static_cast<double>(QDateTime::currentMSecsSinceEpoch());
    TrackEventWithName(
        QStringLiteral("launch"), { { QStringLiteral("launch_time"), QString::asprintf("%.0f", nowMsecs) } }, false);
    guarded("analytics", [] {
        const QVariantMap hit = KKGADictionaryBuilder::createEventWithCategory(
            QStringLiteral("App启动"), QStringLiteral("Web"), Bundle::shortVersion(), std::nullopt)
                                    .build();
        KKGoogleAnalytics::sharedInstance().send(hit);
    });
    TrackActivation();
}

void TrackManager::TrackActivation()
{
    Defaults& defaults = Defaults::standard();
    if (defaults.contains(kActivationKey))
        return;
    // Written before the event is handed over, and saved at once, so that the
    // activation is attempted once per installation even if this run dies.
    defaults.setValue(kActivationKey, QStringLiteral("sendActivation"));
    defaults.synchronize();
    TrackEventWithName(
        QStringLiteral("zd_callback_event"), { { QStringLiteral("active_time"), LWTracker::appInstallTime() } }, true);
}

void TrackManager::TrackEventWithName(const QString& name, const QVariantMap& params, bool isImportant)
{
    if (!TrackEnable() || name.isEmpty() || params.isEmpty())
        return;
    // The analytics client writes the nested map as JSON text in the hit.
    sendHit({ { name, params } });
    guarded("log tracker", [&] {
        if (isImportant)
            LWTracker::TrackImportantEvent(name, params);
        else
            LWTracker::TrackEvent(name, params);
    });
}

void TrackManager::TrackPage(const QString& page, const QString& action)
{
    if (page.isEmpty() || action.isEmpty())
        return;
    GARecordEvent(QStringLiteral("button_click"), page, action);
    TrackEventWithName(QStringLiteral("button_click"),
        { { QStringLiteral("page_name"), page }, { QStringLiteral("button_name"), action } }, false);
}

void TrackManager::GARecordEvent(const QString& category, const QString& action, const QString& label)
{
    guarded("analytics", [&] {
        const QVariantMap hit = KKGADictionaryBuilder::createEventWithCategory(category, action, label, 0).build();
        KKGoogleAnalytics::sharedInstance().send(hit);
    });
}

void TrackManager::TrackSatisfyWithFuncName(const QString& name, bool satisfiable)
{
    TrackEventWithName(QStringLiteral("satisfication"),
        { { QStringLiteral("func_name"), name }, { QStringLiteral("satisfiable"), satisfiable ? 1 : 0 } }, false);
    TrackEventWithName(QStringLiteral("satisfy"),
        { { QStringLiteral("function_name"), name },
            { QStringLiteral("is_like"), satisfiable ? QStringLiteral("true") : QStringLiteral("false") } },
        false);
}

void TrackManager::TrackCompleteRate(const QString& eventName, const QString& stepName, uint stepOrder)
{
    // The request id is kept even while tracking is off, so a funnel begun
    // then still groups its later steps.
    Defaults& defaults = Defaults::standard();
    QString requestId = defaults.stringForKey(kLastTrackIdKey);
    if (stepOrder == 1 || requestId.isEmpty()) {
        requestId = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        defaults.setValue(kLastTrackIdKey, requestId);
        defaults.synchronize();
    }
    TrackEventWithName(eventName,
        { { QStringLiteral("step_name"), stepName }, { QStringLiteral("step_order"), stepOrder },
            { QStringLiteral("requestId"), requestId } },
        false);
}

void TrackManager::TrackFuncStartWithFuncName(const QString& name)
{
    g_funcStartId = QStringLiteral("trackStart");
    TrackEventWithName(QStringLiteral("Func_start"), { { QStringLiteral("func_name"), name } }, false);
}

void TrackManager::TrackFuncCompleteWithFuncName(const QString& name)
{
    if (g_funcStartId.isEmpty())
        return;
    g_funcStartId.clear();
    TrackEventWithName(QStringLiteral("Func_Complete"), { { QStringLiteral("func_name"), name } }, false);
}

void TrackManager::TrackFuncFailedWithFuncName(const QString& name, const QString& resson)
{
    if (g_funcStartId.isEmpty())
        return;
    g_funcStartId.clear();
    TrackEventWithName(QStringLiteral("Func_Failed"),
        { { QStringLiteral("func_name"), name }, { QStringLiteral("resson"), resson } }, false);
}

void TrackManager::ClearFuncStartID()
{
    g_funcStartId.clear();
}

void TrackManager::TrackPopRate(const QString& source)
{
    TrackEventWithName(QStringLiteral("PopToRate"), { { QStringLiteral("Source"), source } }, false);
}

void TrackManager::TrackADID(const QString& adid)
{
    if (adid.isEmpty())
        return;
    guarded("log tracker", [&adid] {
        LWTracker::TrackEvent(QStringLiteral("ADID"), { { QStringLiteral("ID"), LWTracker::MD5_32BIT(adid) } });
    });
}
