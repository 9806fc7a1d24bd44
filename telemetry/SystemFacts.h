#pragma once

#include <QMap>
#include <QString>

// Facts about the running system that telemetry reports: the operating system
// from os-release, the machine's DMI model and vendor, its machine id, the
// kernel's name record, and file times. File facts are read once, when the
// object is made, below `rootPath` (tests pass a folder holding a fake etc/
// and sys/); kernel facts come from uname(2). Safe to read from any thread.
class SystemFacts final {
public:
    explicit SystemFacts(const QString& rootPath = QStringLiteral("/"));

    // The running system's facts, read on first use.
    static const SystemFacts& running();

    // os-release NAME, else ID, else the kernel name ("Debian GNU/Linux").
    QString osName() const;
    // os-release VERSION_ID, else BUILD_ID (rolling releases), else empty ("12").
    QString osVersion() const;
    // os-release PRETTY_NAME, else the name and version.
    QString osPrettyName() const;
    // One os-release value; empty when absent.
    QString osRelease(const QString& key) const;

    // DMI product name and system vendor; `unknown` ("Unknown") when
    // unreadable or blank.
    QString productName(const QString& unknown = QStringLiteral("Unknown")) const;
    QString vendor() const;
    // The machine id (etc/machine-id, else var/lib/dbus/machine-id); empty when unreadable.
    QString machineId() const;

    // uname(2): "Linux", "6.1.0-18-amd64", "x86_64".
    QString kernelName() const;
    QString kernelRelease() const;
    QString machine() const;

    // A browser-style user agent for the application on this system:
    // "Mozilla/5.0 (X11; Linux x86_64) Zavrin/1.0.0".
    QString browserUserAgent() const;

    // Milliseconds since 1970 of the file's birth, or of its last modification
    // where the file system keeps no birth time; 0 when the file cannot be read.
    static qint64 fileTimeMsecs(const QString& path);
    // The application's data folder, made when missing.
    static QString appDataFolder();
    // When the program was installed: the data folder's time, the folder being
    // made at first launch. When it was last updated: the program file's time.
    static qint64 installTimeMsecs();
    static qint64 updateTimeMsecs();

    // Parses os-release text (KEY=VALUE lines, shell-style quoting).
    static QMap<QString, QString> parseOsRelease(const QByteArray& text);

private:
    QMap<QString, QString> m_osRelease;
    QString m_productName;
    QString m_vendor;
    QString m_machineId;
    QString m_kernelName;
    QString m_kernelRelease;
    QString m_machine;
};
