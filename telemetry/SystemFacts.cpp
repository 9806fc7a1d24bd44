#include "telemetry/SystemFacts.h"

#include "platform/Bundle.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <sys/utsname.h>

namespace {

// The whole of a small text file, trimmed; empty when it cannot be read.
QString readTrimmed(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.read(64 * 1024)).trimmed();
}

QByteArray readFirstOf(const QDir& root, std::initializer_list<const char*> paths)
{
    for (const char* path : paths) {
        QFile file(root.filePath(QString::fromLatin1(path)));
        if (file.open(QIODevice::ReadOnly))
            return file.read(256 * 1024);
    }
    return {};
}

// One os-release value: quoted ('…' literally, "…" with backslash escapes) or
// bare with backslash escapes, as a shell would read the assignment.
QString unquote(QStringView value)
{
    QString out;
    QChar quote;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (quote.isNull() && (c == u'"' || c == u'\'')) {
            quote = c;
        } else if (!quote.isNull() && c == quote) {
            quote = QChar();
        } else if (c == u'\\' && quote != u'\'' && i + 1 < value.size()) {
            out.append(value.at(++i));
        } else {
            out.append(c);
        }
    }
    return out;
}

} // namespace

SystemFacts::SystemFacts(const QString& rootPath)
{
    const QDir root(rootPath);
    // os-release(5): etc/os-release, else the vendor copy in usr/lib.
    m_osRelease = parseOsRelease(readFirstOf(root, { "etc/os-release", "usr/lib/os-release" }));
    m_productName = readTrimmed(root.filePath(QStringLiteral("sys/class/dmi/id/product_name")));
    m_vendor = readTrimmed(root.filePath(QStringLiteral("sys/class/dmi/id/sys_vendor")));
    m_machineId = readTrimmed(root.filePath(QStringLiteral("etc/machine-id")));
    if (m_machineId.isEmpty())
        m_machineId = readTrimmed(root.filePath(QStringLiteral("var/lib/dbus/machine-id")));

    utsname name {};
    if (uname(&name) == 0) {
        m_kernelName = QString::fromUtf8(name.sysname);
        m_kernelRelease = QString::fromUtf8(name.release);
        m_machine = QString::fromUtf8(name.machine);
    }
    if (m_kernelName.isEmpty())
        m_kernelName = QStringLiteral("Linux");
}

const SystemFacts& SystemFacts::running()
{
    static const SystemFacts facts;
    return facts;
}

QMap<QString, QString> SystemFacts::parseOsRelease(const QByteArray& text)
{
    QMap<QString, QString> values;
    const QStringList lines = QString::fromUtf8(text).split(u'\n');
    for (const QString& raw : lines) {
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const qsizetype eq = line.indexOf(u'=');
        if (eq <= 0)
            continue;
        values.insert(line.left(eq).trimmed(), unquote(QStringView(line).mid(eq + 1).trimmed()));
    }
    return values;
}

QString SystemFacts::osRelease(const QString& key) const
{
    return m_osRelease.value(key);
}

QString SystemFacts::osName() const
{
    for (const QString& key : { QStringLiteral("NAME"), QStringLiteral("ID") }) {
        const QString value = osRelease(key);
        if (!value.isEmpty())
            return value;
    }
    return m_kernelName;
}

QString SystemFacts::osVersion() const
{
    const QString version = osRelease(QStringLiteral("VERSION_ID"));
    return version.isEmpty() ? osRelease(QStringLiteral("BUILD_ID")) : version;
}

QString SystemFacts::osPrettyName() const
{
    const QString pretty = osRelease(QStringLiteral("PRETTY_NAME"));
    if (!pretty.isEmpty())
        return pretty;
    return osVersion().isEmpty() ? osName() : osName() + u' ' + osVersion();
}

QString SystemFacts::productName(const QString& unknown) const
{
    return m_productName.isEmpty() ? unknown : m_productName;
}
QString SystemFacts::vendor() const
{
    return m_vendor.isEmpty() ? QStringLiteral("Unknown") : m_vendor;
}
QString SystemFacts::machineId() const
{
    return m_machineId;
}
QString SystemFacts::kernelName() const
{
    return m_kernelName;
}
QString SystemFacts::kernelRelease() const
{
    return m_kernelRelease;
}
QString SystemFacts::machine() const
{
    return m_machine;
}

QString SystemFacts::browserUserAgent() const
{
    // Browsers on Linux say "X11; Linux <arch>" whatever the display server is.
    QString platform = m_kernelName;
    if (!m_machine.isEmpty())
        platform += u' ' + m_machine;
    return QStringLiteral("Mozilla/5.0 (X11; ") + platform + QStringLiteral(") ") + Bundle::name() + u'/'
        + Bundle::shortVersion();
}

qint64 SystemFacts::fileTimeMsecs(const QString& path)
{
    // QFileInfo reads the birth time through statx(2) where the file system keeps one.
    const QFileInfo info(path);
    if (!info.exists())
        return 0;
    QDateTime time = info.birthTime();
    if (!time.isValid())
        time = info.lastModified();
    return time.isValid() ? time.toMSecsSinceEpoch() : 0;
}

QString SystemFacts::appDataFolder()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (!folder.isEmpty())
        QDir().mkpath(folder);
    return folder;
}

qint64 SystemFacts::installTimeMsecs()
{
    const QString folder = appDataFolder();
    return folder.isEmpty() ? 0 : fileTimeMsecs(folder);
}

qint64 SystemFacts::updateTimeMsecs()
{
    return fileTimeMsecs(QCoreApplication::applicationFilePath());
}
