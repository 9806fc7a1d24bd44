#include "telemetry/MPParamBuilder.h"

MPEventParams MPParamBuilder::eventParamsForCategory(const QString& category, const QString& action,
    const QString& label, const QString& value, const QString& contentDescription, const QString& customDimension)
{
    MPEventParams params;
    params.hitType = QStringLiteral("event");
    params.category = category;
    params.action = action;
    params.label = label;
    params.value = value;
    params.contentDescription = contentDescription;
    params.customDimension = customDimension;
    return params;
}

MPEventParams MPParamBuilder::eventParamsForCategory(
    const QString& category, const QString& action, const QString& label, const QString& value)
{
    return eventParamsForCategory(category, action, label, value, QString(), QString());
}

MPAppViewParams MPParamBuilder::appViewParamsForScreen(const QString& screen)
{
    MPAppViewParams params;
    params.hitType = QStringLiteral("appview");
    params.contentDescription = screen;
    return params;
}

MPTimingParams MPParamBuilder::timingParamsForCategory(
    const QString& category, const QString& variable, const QString& time, const QString& label)
{
    MPTimingParams params;
    params.hitType = QStringLiteral("timing");
    params.category = category;
    params.variable = variable;
    params.time = time;
    params.label = label;
    return params;
}
