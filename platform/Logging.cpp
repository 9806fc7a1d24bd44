#include "platform/Logging.h"

Q_LOGGING_CATEGORY(lcApp, "zavrin.app")
Q_LOGGING_CATEGORY(lcUi, "zavrin.ui")
Q_LOGGING_CATEGORY(lcPlatform, "zavrin.platform")
Q_LOGGING_CATEGORY(lcEngine, "zavrin.engine")
Q_LOGGING_CATEGORY(lcEngineZip, "zavrin.engine.zip")
Q_LOGGING_CATEGORY(lcEngineRar, "zavrin.engine.rar")
Q_LOGGING_CATEGORY(lcEngine7z, "zavrin.engine.7z")
Q_LOGGING_CATEGORY(lcTelemetry, "zavrin.telemetry")
Q_LOGGING_CATEGORY(lcTelemetryHttp, "zavrin.telemetry.http")
