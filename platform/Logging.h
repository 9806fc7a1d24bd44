#pragma once

#include <QLoggingCategory>

// Logging categories. Log lines keep the product's own format texts and are
// never localised.
Q_DECLARE_LOGGING_CATEGORY(lcApp)
Q_DECLARE_LOGGING_CATEGORY(lcUi)
Q_DECLARE_LOGGING_CATEGORY(lcPlatform)
Q_DECLARE_LOGGING_CATEGORY(lcEngine)
Q_DECLARE_LOGGING_CATEGORY(lcEngineZip)
Q_DECLARE_LOGGING_CATEGORY(lcEngineRar)
Q_DECLARE_LOGGING_CATEGORY(lcEngine7z)
Q_DECLARE_LOGGING_CATEGORY(lcTelemetry)
Q_DECLARE_LOGGING_CATEGORY(lcTelemetryHttp)
