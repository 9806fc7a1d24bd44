#include "telemetry/UABuilder.h"

#include "platform/Bundle.h"
#include "platform/Logging.h"
#include "telemetry/SystemFacts.h"

#include <QHostAddress>
#include <QNetworkInterface>
#include <QRegularExpression>

namespace {

// Up, non-loopback interfaces in the system's order.
QList<QNetworkInterface> upInterfaces()
{
    QList<QNetworkInterface> result;
    const QList<QNetworkInterface> all = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& interface : all) {
        const auto flags = interface.flags();
        if (flags.testFlag(QNetworkInterface::IsUp) && !flags.testFlag(QNetworkInterface::IsLoopBack))
            result.append(interface);
    }
    return result;
}

bool isTunnel(const QString& name)
{
    return name.startsWith(u"tun") || name.startsWith(u"wg");
}

QString describe(const QMap<QString, QString>& addresses)
{
    if (addresses.isEmpty())
        return QStringLiteral("(null)");
    QStringList entries;
    for (auto it = addresses.cbegin(); it != addresses.cend(); ++it)
        entries.append(it.key() + QStringLiteral(" = ") + it.value());
    return u'{' + entries.join(QStringLiteral("; ")) + u'}';
}

} // namespace

QMap<QString, QString> UABuilder::getIPAddresses()
{
    QMap<QString, QString> addresses;
    for (const QNetworkInterface& interface : upInterfaces()) {
        for (const QNetworkAddressEntry& entry : interface.addressEntries()) {
            QHostAddress ip = entry.ip();
            const char* family = nullptr;
            if (ip.protocol() == QAbstractSocket::IPv4Protocol)
                family = "ipv4";
            else if (ip.protocol() == QAbstractSocket::IPv6Protocol)
                family = "ipv6";
            else
                continue;
            // The numeric form alone, without the "%eth0" scope of link-local addresses.
            ip.setScopeId(QString());
            addresses.insert(interface.name() + u'/' + QLatin1StringView(family), ip.toString());
        }
    }
    return addresses;
}

QStringList UABuilder::candidateKeys(const QStringList& interfaces, bool preferIPv4)
{
    QStringList ordered;
    for (const QString& name : interfaces) {
        if (isTunnel(name))
            ordered.append(name);
    }
    for (const QString& name : interfaces) {
        if (!isTunnel(name))
            ordered.append(name);
    }
    QStringList keys;
    for (const QString& name : std::as_const(ordered)) {
        const QString v4 = name + QStringLiteral("/ipv4");
        const QString v6 = name + QStringLiteral("/ipv6");
        keys << (preferIPv4 ? v4 : v6) << (preferIPv4 ? v6 : v4);
    }
    return keys;
}

QString UABuilder::chooseAddress(const QStringList& candidates, const QMap<QString, QString>& addresses)
{
    // Only an IPv4 text is ever answered: the value reported is the user's IPv4 address.
    for (const QString& key : candidates) {
        const QString value = addresses.value(key);
        if (isValidatIP(value))
            return value;
    }
    return QStringLiteral("0.0.0.0");
}

QString UABuilder::getIPAddress(bool preferIPv4)
{
    QStringList names;
    for (const QNetworkInterface& interface : upInterfaces())
        names.append(interface.name());
    const QMap<QString, QString> addresses = getIPAddresses();
    qCDebug(lcTelemetry, "addresses: %s", qUtf8Printable(describe(addresses)));
    return chooseAddress(candidateKeys(names, preferIPv4), addresses);
}

bool UABuilder::isValidatIP(const QString& address)
{
    if (address.isEmpty())
        return false;
    static const QRegularExpression pattern(
        QStringLiteral("^([01]?\\d\\d?|2[0-4]\\d|25[0-5])\\.([01]?\\d\\d?|2[0-4]\\d|25[0-5])\\."
                       "([01]?\\d\\d?|2[0-4]\\d|25[0-5])\\.([01]?\\d\\d?|2[0-4]\\d|25[0-5])$"));
    const QRegularExpressionMatch match = pattern.match(address);
    // "$" also matches before a final line feed; the whole text has to be the address.
    if (!match.hasMatch() || match.capturedLength() != address.size())
        return false;
    qCDebug(lcTelemetry, "%s", qUtf8Printable(match.captured()));
    return true;
}

QString UABuilder::getRealDeviceName()
{
    return SystemFacts::running().productName();
}

QString UABuilder::getUAString()
{
    const SystemFacts& facts = SystemFacts::running();
    return Bundle::name() + u' ' + Bundle::shortVersion() + QStringLiteral(" (") + getRealDeviceName()
        + QStringLiteral("; ") + facts.osPrettyName() + QStringLiteral(") QtNetwork/") + QString::fromLatin1(qVersion())
        + u' ' + facts.kernelName() + u'/' + facts.kernelRelease();
}
