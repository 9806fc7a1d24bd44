#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

// Device name, local address and user-agent text for telemetry. Class
// operations only; callable from any thread.
class UABuilder final {
public:
    UABuilder() = delete;

    // The local IPv4 address of the first candidate interface that has one
    // (tunnels first, then the others in the system's order), or "0.0.0.0".
    static QString getIPAddress(bool preferIPv4);
    // Every up, non-loopback interface's address in numeric form, keyed
    // "<interface>/ipv4" or "<interface>/ipv6"; the last of a family wins.
    // Empty when there is none.
    static QMap<QString, QString> getIPAddresses();
    // True for a dotted-quad IPv4 text (parts 0 to 255, leading zeros allowed).
    static bool isValidatIP(const QString& address);
    // The machine's DMI product name, "Unknown" when unreadable.
    static QString getRealDeviceName();
    // "Zavrin 1.0.0 (<device>; <system>) QtNetwork/<version> <kernel>/<release>".
    static QString getUAString();

    // The keys `getIPAddress` walks for interfaces named `interfaces` (in the
    // system's order): tunnels (tun*, wg*) first, each interface's preferred
    // family before the other.
    static QStringList candidateKeys(const QStringList& interfaces, bool preferIPv4);
    // The first value under `candidates` in `addresses` that is an IPv4 text, or "0.0.0.0".
    static QString chooseAddress(const QStringList& candidates, const QMap<QString, QString>& addresses);
};
