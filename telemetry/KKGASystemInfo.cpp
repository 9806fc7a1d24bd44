#include "telemetry/KKGASystemInfo.h"

#include "platform/Bundle.h"
#include "telemetry/SystemFacts.h"

#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>

namespace {

struct ScreenSource {
    QMutex mutex;
    std::function<KKGASystemInfo::ScreenFacts()> provider;
};

ScreenSource& screenSource()
{
    static ScreenSource source;
    return source;
}

KKGASystemInfo::ScreenFacts currentScreen()
{
    std::function<KKGASystemInfo::ScreenFacts()> provider;
    {
        QMutexLocker lock(&screenSource().mutex);
        provider = screenSource().provider;
    }
    return provider ? provider() : KKGASystemInfo::ScreenFacts {};
}

} // namespace

void KKGASystemInfo::setScreenProvider(std::function<ScreenFacts()> provider)
{
    QMutexLocker lock(&screenSource().mutex);
    screenSource().provider = std::move(provider);
}

QString KKGASystemInfo::appName()
{
    const QString display = Bundle::displayName();
    return display.isEmpty() ? Bundle::name() : display;
}

QString KKGASystemInfo::appVersion()
{
    return Bundle::buildVersion();
}

QString KKGASystemInfo::CPUTypeForArchitecture(const QString& architecture)
{
    // The kernel's machine names (uname -m) and QSysInfo's are both taken.
    static const QRegularExpression intel(QStringLiteral("^(x86_64|amd64|i[3-6]86)$"));
    static const QRegularExpression powerPC(QStringLiteral("^(ppc|ppc64|ppc64le|power|power64)$"));
    if (architecture.isEmpty() || architecture == u"unknown")
        return QStringLiteral("an Unknown Processor");
    if (intel.match(architecture).hasMatch())
        return QStringLiteral("Intel");
    if (powerPC.match(architecture).hasMatch())
        return QStringLiteral("PowerPC");
    return QStringLiteral("Unknown");
}

QString KKGASystemInfo::CPUType()
{
    return CPUTypeForArchitecture(SystemFacts::running().machine());
}

QString KKGASystemInfo::machineModel()
{
    return SystemFacts::running().productName(QStringLiteral("Just a Linux Computer"));
}

QString KKGASystemInfo::primaryLanguage()
{
    // The "C" and "POSIX" locales name no language.
    const QStringList languages = Bundle::preferredLanguages();
    const QString first = languages.isEmpty() ? QString() : languages.first();
    return first == u"C" || first == u"POSIX" ? QString() : first;
}

QString KKGASystemInfo::screenResolutionString()
{
    const ScreenFacts screen = currentScreen();
    return QString::number(screen.width) + u'x' + QString::number(screen.height);
}

std::optional<QString> KKGASystemInfo::screenDepthStringForDepth(int bitsPerPixel)
{
    // 32 and 64 bits per pixel carry an alpha or padding channel beside the
    // colour of 24 and 48 bits.
    switch (bitsPerPixel) {
    case 24:
    case 32:
        return QStringLiteral("24-bits");
    case 48:
    case 64:
        return QStringLiteral("64-bits");
    case 96:
    case 128:
        return QStringLiteral("128-bits");
    default:
        return std::nullopt;
    }
}

std::optional<QString> KKGASystemInfo::screenDepthString()
{
    return screenDepthStringForDepth(currentScreen().depth);
}

QString KKGASystemInfo::versionTriple(const QString& version)
{
    // "22.04.3 LTS" gives 22_4_3: the leading dotted numbers only.
    static const QRegularExpression leading(QStringLiteral("^(\\d+)(?:\\.(\\d+))?(?:\\.(\\d+))?"));
    const QRegularExpressionMatch match = leading.match(version.trimmed());
    QStringList parts;
    for (int i = 1; i <= 3; ++i) {
        const QString number = match.hasMatch() ? match.captured(i) : QString();
        parts.append(number.isEmpty() ? QStringLiteral("0") : QString::number(number.toLongLong()));
    }
    return parts.join(u'_');
}

QString KKGASystemInfo::systemVersionString()
{
    return versionTriple(SystemFacts::running().osVersion());
}
