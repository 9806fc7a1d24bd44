#include "platform/Logging.h"

// Debug lines are off unless QT_LOGGING_RULES turns them on (for example
// "zavrin.*.debug=true"): per-entry lines of a 100 000-entry archive and the
// full event documents of telemetry must not cost anything by default.
Q_LOGGING_CATEGORY(lcApp, "zavrin.app", QtInfoMsg)
Q_LOGGING_CATEGORY(lcUi, "zavrin.ui", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPlatform, "zavrin.platform", QtInfoMsg)
Q_LOGGING_CATEGORY(lcEngine, "zavrin.engine", QtInfoMsg)
Q_LOGGING_CATEGORY(lcEngineZip, "zavrin.engine.zip", QtInfoMsg)
Q_LOGGING_CATEGORY(lcEngineRar, "zavrin.engine.rar", QtInfoMsg)
Q_LOGGING_CATEGORY(lcEngine7z, "zavrin.engine.7z", QtInfoMsg)
Q_LOGGING_CATEGORY(lcTelemetry, "zavrin.telemetry", QtInfoMsg)
Q_LOGGING_CATEGORY(lcTelemetryHttp, "zavrin.telemetry.http", QtInfoMsg)
