#include "platform/RouterManager.h"

#include "platform/Bundle.h"
#include "platform/Defaults.h"
#include "platform/StoreReview.h"

namespace {
const QString kHasRateKey = QStringLiteral("app.HasRateKey");
const QString kVersionRateDicKey = QStringLiteral("app.VersionRateDicKey");
} // namespace

void RouterManager::showRateAllLife()
{
    Defaults& defaults = Defaults::standard();
    if (defaults.boolForKey(kHasRateKey))
        return;
    StoreReview::requestReview();
    defaults.setValue(kHasRateKey, true);
}

void RouterManager::showRatedThisVersion()
{
    Defaults& defaults = Defaults::standard();
    QVariantMap versions = defaults.mapForKey(kVersionRateDicKey);
    const QString version = Bundle::shortVersion();
    // An entry counts whatever its value.
    if (versions.contains(version))
        return;
    StoreReview::requestReview();
    versions.insert(version, true);
    defaults.setValue(kVersionRateDicKey, versions);
}
