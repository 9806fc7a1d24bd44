#pragma once

// Independent readers for the archives the tests write: Python's zipfile
// for the stored facts, 7-Zip for integrity and decryption.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QString>
#include <QVariantMap>
#include <sys/stat.h>

namespace ZipInspection {

// One line per entry: name, flag bits, method, external attributes, DOS
// date, sizes, the AES extra field (0x9901) and the "UT" time (0x5455), and
// the data of small unencrypted entries (base64).
inline const char* kScript = R"PY(
import base64, json, struct, sys, zipfile
out = []
with zipfile.ZipFile(sys.argv[1]) as z:
    for i in z.infolist():
        aes, ut, p, extra = None, None, 0, i.extra
        while p + 4 <= len(extra):
            hid, size = struct.unpack('<HH', extra[p:p + 4])
            body = extra[p + 4:p + 4 + size]
            if hid == 0x9901:
                aes = {'vendor': body[2:4].decode(), 'strength': body[4], 'method': struct.unpack('<H', body[5:7])[0]}
            if hid == 0x5455 and body[0] & 1:
                ut = struct.unpack('<i', body[1:5])[0]
            p += 4 + size
        data = None
        if not i.flag_bits & 1 and i.file_size <= 65536:
            data = base64.b64encode(z.read(i)).decode()
        out.append({'name': i.filename, 'flags': i.flag_bits, 'method': i.compress_type,
                    'attr': i.external_attr, 'system': i.create_system, 'date': list(i.date_time),
                    'size': i.file_size, 'csize': i.compress_size, 'aes': aes, 'ut': ut, 'data': data})
print(json.dumps(out))
)PY";

// Runs `script` on `archive` with the distribution's Python (version-manager
// shims take a second to start).
inline QByteArray python(const char* script, const QString& archive)
{
    QProcess python;
    python.start(QFile::exists(QStringLiteral("/usr/bin/python3")) ? QStringLiteral("/usr/bin/python3")
                                                                   : QStringLiteral("python3"),
        { QStringLiteral("-c"), QString::fromUtf8(script), archive });
    python.waitForFinished(60000);
    if (python.exitCode() != 0)
        qWarning("zipfile: %s", python.readAllStandardError().constData());
    return python.exitCode() == 0 ? python.readAllStandardOutput() : QByteArray();
}

// Entries by name; empty when Python cannot read the archive.
inline QMap<QString, QJsonObject> entries(const QString& archive)
{
    QMap<QString, QJsonObject> byName;
    for (const QJsonValue& value : QJsonDocument::fromJson(python(kScript, archive)).array())
        byName.insert(value[QStringLiteral("name")].toString(), value.toObject());
    return byName;
}

// Entry names in the order the central directory lists them.
inline QStringList orderedNames(const QString& archive)
{
    const char* script = "import sys, zipfile; print('\\n'.join(zipfile.ZipFile(sys.argv[1]).namelist()))";
    return QString::fromUtf8(python(script, archive)).split(u'\n', Qt::SkipEmptyParts);
}

inline QByteArray data(const QJsonObject& entry)
{
    return QByteArray::fromBase64(entry[QStringLiteral("data")].toString().toLatin1());
}

inline quint32 unixMode(const QJsonObject& entry)
{
    return static_cast<quint32>(entry[QStringLiteral("attr")].toDouble()) >> 16;
}

// 7-Zip's integrity test and extraction, with the password when one is given.
inline bool sevenZip(const QStringList& arguments)
{
    QProcess sevenZip;
    sevenZip.start(QStringLiteral("7zz"), arguments);
    sevenZip.closeWriteChannel();
    sevenZip.waitForFinished(60000);
    return sevenZip.exitStatus() == QProcess::NormalExit && sevenZip.exitCode() == 0;
}
inline bool sevenZipTest(const QString& archive, const QString& password = {})
{
    return sevenZip({ QStringLiteral("t"), QStringLiteral("-bd"), QStringLiteral("-p") + password, archive });
}
inline bool sevenZipExtract(const QString& archive, const QString& folder, const QString& password = {})
{
    return sevenZip({ QStringLiteral("x"), QStringLiteral("-bd"), QStringLiteral("-y"), QStringLiteral("-p") + password,
        QStringLiteral("-o") + folder, archive });
}

// A file's bytes, or "<missing>" when it cannot be read.
inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArrayLiteral("<missing>");
}

inline bool writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// Bytes no compressor can shrink, the same on every call.
inline QByteArray randomBytes(qsizetype bytes)
{
    QByteArray data(bytes, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(data.data()), bytes / 4);
    return data;
}

// Text that compresses, but with enough variety that level 9 finds more than level 1.
inline QByteArray wordSoup(int bytes)
{
    static const char* words[] = { "archive", "deflate", "window", "match", "literal", "zavrin", "entry", "folder",
        "header", "central", "directory", "offset", "stream" };
    QRandomGenerator random(42);
    QByteArray text;
    while (text.size() < bytes) {
        text += words[random.bounded(13)];
        text += random.bounded(7) == 0 ? '\n' : ' ';
        if (random.bounded(5) == 0)
            text += QByteArray::number(random.bounded(100000));
    }
    return text;
}

inline struct stat lstatOf(const QString& path)
{
    struct stat st { };
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st;
}

} // namespace ZipInspection
