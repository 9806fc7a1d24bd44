#include "platform/Logging.h"

Q_LOGGING_CATEGORY(lcApp, "zavrin.app")
Q_LOGGING_CATEGORY(lcUi, "zavrin.ui")
Q_LOGGING_CATEGORY(lcPlatform, "zavrin.platform")
Q_LOGGING_CATEGORY(lcEngine, "zavrin.engine")
// Per-entry lines of the archive back-ends are debug lines, off unless
// QT_LOGGING_RULES turns them on: a 100 000-entry archive must not pay for them.
Q_LOGGING_CATEGORY(lcEngineZip, "zavrin.engine.zip", QtInfoMsg)
Q_LOGGING_CATEGORY(lcEngineRar, "zavrin.engine.rar", QtInfoMsg)
Q_LOGGING_CATEGORY(lcEngine7z, "zavrin.engine.7z", QtInfoMsg)
Q_LOGGING_CATEGORY(lcTelemetry, "zavrin.telemetry")
Q_LOGGING_CATEGORY(lcTelemetryHttp, "zavrin.telemetry.http")
