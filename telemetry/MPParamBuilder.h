#pragma once

#include "telemetry/MPTrackingRequestParams.h"

#include <QString>

// Makes the parameter objects of the three hit kinds. Pure; any thread.
class MPParamBuilder final {
public:
    // An "event" hit.
    static MPEventParams eventParamsForCategory(const QString& category, const QString& action, const QString& label,
        const QString& value, const QString& contentDescription, const QString& customDimension);
    static MPEventParams eventParamsForCategory(
        const QString& category, const QString& action, const QString& label, const QString& value);
    // An "appview" hit for the screen `screen`.
    static MPAppViewParams appViewParamsForScreen(const QString& screen);
    // A "timing" hit; `time` in milliseconds.
    static MPTimingParams timingParamsForCategory(
        const QString& category, const QString& variable, const QString& time, const QString& label);
};
