// Extraction jobs end to end through ZipManager, with scripted password
// sheets and recorded toasts, on real archives of all three formats.
#include "engine/ArchiveListing.h"
#include "engine/ZipManager.h"
#include "engine/extract/ArchiveFormats.h"
#include "engine/extract/ZipReader.h"
#include "engine/safety/EntrySink.h"
#include "engine/safety/SafeDestination.h"
#include "platform/Bundle.h"
#include "platform/Defaults.h"
#include "platform/Logging.h"
#include "platform/StoreReview.h"
#include "tests/engine/JobLog.h"
#include "tests/support/RecordingToasts.h"
#include "tests/support/ScriptedPanels.h"
#include "tests/support/TestMain.h"
#include "tests/support/ZipInspection.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

using Kind = RecordingToasts::Kind;
using ZipInspection::lstatOf;
using ZipInspection::writeFile;

QString fixture(const QString& name)
{
    return QStringLiteral(ZAVRIN_FIXTURES_DIR "/") + name;
}

// The shared RAR4 samples; ZAVRIN_SHARED_FIXTURES_DIR in the environment
// overrides the build's idea of where they are.
QString rar4(const QString& name)
{
    const QString configured = qEnvironmentVariable("ZAVRIN_SHARED_FIXTURES_DIR");
    return (configured.isEmpty() ? QStringLiteral(ZAVRIN_SHARED_FIXTURES_DIR) : configured) + u"/rar4/"_s + name;
}

#define REQUIRE_FILE(path)                                                                                             \
    if (!QFileInfo::exists(path))                                                                                      \
        QSKIP(qPrintable(u"missing sample "_s + (path)));

const QString kExtracting = u"解压文件中..."_s;
const QString kFinished = u"解压完成"_s;
const QString kError = u"解压文件错误"_s;
const QString kWrongPassword = u"解压密码错误"_s;

// 2001-02-03 04:05:06 and 2002-03-04 05:06:07 UTC, as make.sh sets them.
constexpr qint64 kFileTime = 981173106;
constexpr qint64 kFolderTime = 1015218367;

QMap<QString, QString> plainTree()
{
    return {
        { u"hello.txt"_s, u"file:hello, world\n"_s },
        { u"dir"_s, u"dir"_s },
        { u"dir/nested.txt"_s, u"file:nested file\n"_s },
        { u"empty-dir"_s, u"dir"_s },
        { u"empty.txt"_s, u"file:"_s },
        { u"tool.sh"_s, u"file:#!/bin/sh\necho tool\n"_s },
        { u"setuid.bin"_s, u"file:not really a program\n"_s },
        { u"link"_s, u"link:hello.txt"_s },
        { u"中文名.txt"_s, u"file:unicode name\n"_s },
    };
}

bool hasLeftovers(const QString& root)
{
    const auto items = snapshot(root);
    return std::any_of(items.keyBegin(), items.keyEnd(), [](const QString& key) { return key.contains(u".zavrin-"); });
}

QStringList topLevel(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
}

// Runs a real tool, or tests/fixtures/craft.py for what no tool writes, in `folder`.
bool make(const QString& folder, const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    if (program == u"craft")
        process.start(u"python3"_s, QStringList { fixture(u"craft.py"_s) } + arguments);
    else
        process.start(program, arguments);
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// One row per format, "<stem>.zip", ".rar" and ".7z", in an "archive" column.
void formatRows(const QString& stem)
{
    QTest::addColumn<QString>("archive");
    for (const char* format : { "zip", "rar", "7z" })
        QTest::newRow(format) << stem + u'.' + QLatin1String(format);
}

// A zip extracted by its reader alone, without a job around it.
Outcome extractZip(const QString& archive, const QString& folder, const std::optional<QString>& password, qint64 slice,
    const ExtractProgress& progress)
{
    ZipReader reader(archive, slice);
    if (const Outcome opened = reader.open(password); !opened.ok())
        return opened;
    EntrySink sink(folder, lcEngineZip);
    sink.progress().setCallback(progress);
    ExtractRequest request;
    request.password = password;
    return reader.extract(sink, request);
}

} // namespace

class ExtractionTest final : public QObject {
    Q_OBJECT

private:
    QString m_root;
    QString m_out;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QTemporaryDir> m_samples;
    std::unique_ptr<ScriptedPanels> m_panels;
    std::unique_ptr<RecordingToasts> m_toasts;

    bool extract(const QString& archive, JobLog& log)
    {
        ZipManager::shared().unzipFileAtPath(archive, m_out);
        return log.waitForEnd();
    }
    int toastCount(Kind kind, const QString& key) const { return m_toasts->count(kind, L(key)); }

    // A path as it is, a committed fixture by name, else a sample made now
    // by make-samples.sh.
    QString sample(const QString& name)
    {
        if (name.startsWith(u'/'))
            return name;
        if (QFileInfo::exists(fixture(name)))
            return fixture(name);
        QProcess maker;
        maker.setProcessChannelMode(QProcess::ForwardedChannels);
        maker.start(u"bash"_s, { fixture(u"make-samples.sh"_s), name, m_samples->path() });
        if (!maker.waitForFinished(120000) || maker.exitCode() != 0)
            qWarning("cannot make the sample %s", qPrintable(name));
        return m_samples->filePath(name);
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_samples = std::make_unique<QTemporaryDir>();
        m_root = m_dir->path();
        m_out = m_root + u"/out"_s;
        QDir().mkpath(m_out);
        m_panels = std::make_unique<ScriptedPanels>();
        m_toasts = std::make_unique<RecordingToasts>();
    }
    void cleanup()
    {
        m_toasts.reset();
        m_panels.reset();
        m_dir.reset();
        m_samples.reset();
    }

    void plainArchivesComeOutAsStored_data() { formatRows(u"plain"_s); }
    void plainArchivesComeOutAsStored()
    {
        QFETCH(QString, archive);
        archive = sample(archive);
        Defaults::standard().remove(u"app.HasRateKey"_s);
        const int reviews = StoreReview::requestCount();
        JobLog log(archive);
        QVERIFY(extract(archive, log));
        QVERIFY(log.succeeded());
        QCOMPARE(snapshot(m_out), plainTree());
        QCOMPARE(m_panels->passwordRequests.size(), 0);
        QCOMPARE(StoreReview::requestCount() - reviews, 1); // a success asks for a review

        // Permission bits as stored, without set-uid; times as stored.
        QCOMPARE(lstatOf(m_out + u"/tool.sh"_s).st_mode & 07777, 0755u);
        QCOMPARE(lstatOf(m_out + u"/setuid.bin"_s).st_mode & 07777, 0755u);
        QCOMPARE(lstatOf(m_out + u"/hello.txt"_s).st_mode & 07777, 0644u);
        QCOMPARE(lstatOf(m_out + u"/hello.txt"_s).st_mtime, kFileTime);
        QCOMPARE(lstatOf(m_out + u"/empty.txt"_s).st_mtime, kFileTime);
        QCOMPARE(lstatOf(m_out + u"/dir"_s).st_mtime, kFolderTime);
        QCOMPARE(lstatOf(m_out + u"/empty-dir"_s).st_mtime, kFolderTime);
        QVERIFY(!hasLeftovers(m_out));

        // One "extracting" toast however many progress reports, then success;
        // the progress ends at 1 before the success notification, all on
        // the main thread, and the job's end comes last.
        QCOMPARE(toastCount(Kind::Info, kExtracting), 1);
        QCOMPARE(toastCount(Kind::Success, kFinished), 1);
        QCOMPARE(log.names(), (QStringList { NotifyManager::LocalFilesDidChange(), NotifyManager::JobDidEnd() }));
        const QList<JobLog::Event> events = log.events();
        QVERIFY(events.size() >= 3);
        const JobLog::Event& lastProgress = events.at(events.size() - 3);
        QCOMPARE(lastProgress.name, NotifyManager::UnzipProgress());
        QCOMPARE(lastProgress.object.value(NotifyManager::progressKey()).toDouble(), 1.0);
        for (const JobLog::Event& event : events)
            QVERIFY2(event.mainThread, qPrintable(event.name));
    }

    // Each wrong password is told and asked again (7z archives aside: see
    // below); the empty password is a password.
    void passwordsAreAskedUntilRight_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("wrong"); // wrong passwords given first
        QTest::addColumn<QString>("file");
        // RAR4 shows a wrong password only once the entry is decoded: each
        // try starts extracting.
        QTest::addColumn<int>("extracting");
        const QString secret = u"secret"_s, hello = u"hello.txt"_s, nested = u"dir/nested.txt"_s;
        QTest::newRow("zip ZipCrypto") << u"zipcrypto.zip"_s << secret << 2 << hello << 1;
        QTest::newRow("zip AES") << u"aes.zip"_s << secret << 2 << hello << 1;
        QTest::newRow("zip, empty password") << u"empty-password.zip"_s << QString() << 0 << u"opened.txt"_s << 1;
        QTest::newRow("rar5 data") << u"encrypted.rar"_s << secret << 2 << hello << 1;
        QTest::newRow("rar5 headers") << u"encrypted-headers.rar"_s << secret << 2 << hello << 1;
        QTest::newRow("rar4 data") << rar4(u"test_read_format_rar_encryption_data.rar"_s) << u"12345678"_s << 2
                                   << u"foo.txt"_s << 3;
        QTest::newRow("rar4 headers") << rar4(u"test_read_format_rar_encryption_header.rar"_s) << u"12345678"_s << 2
                                      << u"foo.txt"_s << 1;
        QTest::newRow("7z data") << u"encrypted.7z"_s << secret << 0 << nested << 1;
        QTest::newRow("7z headers") << u"encrypted-headers.7z"_s << secret << 0 << nested << 1;
    }
    void passwordsAreAskedUntilRight()
    {
        QFETCH(QString, archive);
        QFETCH(QString, password);
        QFETCH(int, wrong);
        QFETCH(QString, file);
        QFETCH(int, extracting);
        archive = sample(archive);
        REQUIRE_FILE(archive);
        for (int i = 0; i < wrong; ++i)
            m_panels->queuePassword(u"wrong %1"_s.arg(i));
        m_panels->queuePassword(password);
        JobLog log(archive);
        QVERIFY(extract(archive, log));
        QVERIFY(log.succeeded());
        QCOMPARE(m_panels->passwordRequests.size(), wrong + 1);
        for (const Panels::PasswordRequest& request : std::as_const(m_panels->passwordRequests)) {
            QCOMPARE(request.message, L(u"请输入解压密码"_s));
            QCOMPARE(request.archivePath, archive);
        }
        QCOMPARE(toastCount(Kind::Error, kWrongPassword), wrong);
        QCOMPARE(toastCount(Kind::Info, kExtracting), extracting);
        QCOMPARE(toastCount(Kind::Success, kFinished), 1);
        QVERIFY(QFileInfo(m_out + u'/' + file).size() > 0);
        QCOMPARE(log.count(NotifyManager::ProcessCancel()), 0);
        QVERIFY(!hasLeftovers(m_out));
    }

    // A password is confirmed only by an entry that decodes right. A wrong
    // ZipCrypto password that passes libzip's header check (about one in
    // 256) is caught by the checksum, and nothing is left. The same doubt
    // twice with one password means damaged data: no third sheet. Damaged
    // AES data with the right password fails at once (its check value
    // passed).
    void passwordsAreConfirmedByDecoding_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::addColumn<bool>("damage");
        QTest::addColumn<int>("sheets");
        QTest::addColumn<int>("wrongToasts");
        QTest::newRow("lucky wrong ZipCrypto password") << u"zipcrypto.zip"_s << false << 2 << 1;
        QTest::newRow("damaged ZipCrypto data") << u"zipcrypto.zip"_s << true << 2 << 1;
        // An AES code that fails before any entry confirmed the password
        // may be a wrong password that passed the two-byte check.
        QTest::newRow("damaged AES data") << u"aes.zip"_s << true << 2 << 1;
    }
    void passwordsAreConfirmedByDecoding()
    {
        QFETCH(QString, archive);
        QFETCH(bool, damage);
        QFETCH(int, sheets);
        QFETCH(int, wrongToasts);
        archive = fixture(archive);
        QString password = u"secret"_s;
        if (damage) {
            const QString damaged = m_root + u"/damaged.zip"_s;
            QVERIFY(make(m_root, u"craft"_s, { u"damage"_s, archive, damaged }));
            archive = damaged;
            m_panels->queuePassword(password);
        } else {
            ZipReader reader(archive);
            QVERIFY(reader.open(std::nullopt).ok());
            password.clear();
            for (int i = 0; i < 20000 && password.isEmpty(); ++i) {
                const QString candidate = u"guess%1"_s.arg(i);
                if (reader.checkPassword(candidate))
                    password = candidate;
            }
            QVERIFY(!password.isEmpty());
        }
        m_panels->queuePassword(password);
        JobLog log(archive);
        QVERIFY(extract(archive, log));
        QVERIFY(!log.succeeded());
        QCOMPARE(m_panels->passwordRequests.size(), sheets);
        QCOMPARE(toastCount(Kind::Error, kWrongPassword), wrongToasts);
        QCOMPARE(toastCount(Kind::Error, kError), damage ? 1 : 0);
        QCOMPARE(log.count(NotifyManager::ProcessCancel()), damage ? 0 : 1);
        QVERIFY(snapshot(m_out).isEmpty());
    }

    // A cancelled sheet ends the job at once, from the main thread, silently.
    // A failed 7z job posts the cancel notification from its worker, then
    // shows the error toast 0.3 s later; a wrong password is not asked again.
    void jobsEndWithACancel_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::addColumn<bool>("cancel"); // else a wrong password, then the right one
        QTest::newRow("zip, cancelled") << u"aes.zip"_s << true;
        QTest::newRow("rar, cancelled") << u"encrypted-headers.rar"_s << true;
        QTest::newRow("7z, cancelled") << u"encrypted-headers.7z"_s << true;
        // Extracted while it was listed: what came out before the listing
        // asked for a password goes too.
        QTest::newRow("7z, cancelled, empty file") << u"empty-and-secret.7z"_s << true;
        QTest::newRow("7z, wrong password") << u"encrypted.7z"_s << false;
        // Empty files and folders need no password: none may come out either.
        QTest::newRow("7z, wrong password, empty file") << u"empty-and-secret.7z"_s << false;
    }
    void jobsEndWithACancel()
    {
        QFETCH(QString, archive);
        QFETCH(bool, cancel);
        archive = sample(archive);
        if (cancel) {
            m_panels->queueCancel();
        } else {
            m_panels->queuePassword(u"wrong"_s);
            m_panels->queuePassword(u"secret"_s);
        }
        JobLog log(archive);
        QVERIFY(extract(archive, log));
        QVERIFY(!log.succeeded());
        QCOMPARE(m_panels->passwordRequests.size(), 1);
        QCOMPARE(log.names(), (QStringList { NotifyManager::ProcessCancel(), NotifyManager::JobDidEnd() }));
        const auto cancelled = log.first(NotifyManager::ProcessCancel());
        QCOMPARE(cancelled->mainThread, cancel);
        QVERIFY(snapshot(m_out).isEmpty());
        if (cancel) {
            QVERIFY(m_toasts->toasts.isEmpty());
            return;
        }
        const qint64 wait = log.first(NotifyManager::JobDidEnd())->atMs - cancelled->atMs;
        QVERIFY2(wait >= 290, qPrintable(QString::number(wait)));
        QCOMPARE(m_toasts->toasts.last().kind, Kind::Error);
        QCOMPARE(m_toasts->toasts.last().text, L(kError));
    }

    void namesAreDecoded_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("RAR4") << rar4(u"rar3-subdirs.rar"_s)
                              << QStringList { u"sub/with space/long fn.txt"_s, u"sub/dir1/file1.txt"_s,
                                     u"sub/dir2/file2.txt"_s, u"sub/üȵĩöḋè/file.txt"_s };
        QTest::newRow("GBK") << u"legacy-gbk.zip"_s << QStringList { u"报告.docx"_s, u"新建文件夹/说明.txt"_s };
        QTest::newRow("CP437") << u"legacy-cp437.zip"_s << QStringList { u"Café.txt"_s, u"Über/naïve.txt"_s };
        QTest::newRow("Unicode path field") << u"unicode-extra.zip"_s << QStringList { u"日本語.txt"_s };
        QTest::newRow("ZIP64 records") << u"zip64.zip"_s << QStringList { u"a.txt"_s, u"b/c.txt"_s };
    }
    void namesAreDecoded()
    {
        QFETCH(QString, archive);
        QFETCH(QStringList, names);
        archive = sample(archive);
        REQUIRE_FILE(archive);
        JobLog log(archive);
        QVERIFY(extract(archive, log));
        QVERIFY(log.succeeded());
        for (const QString& name : names)
            QVERIFY2(QFileInfo(m_out + u'/' + name).isFile(), qPrintable(name));
    }

    void unsafeNamesAreRefused_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::addColumn<bool>("fresh"); // the destination is not there yet
        for (const char* format : { "zip", "rar", "7z" }) {
            for (const char* kind : { "dotdot", "absolute" }) {
                const QString name = u"hostile-%1.%2"_s.arg(QLatin1String(kind), QLatin1String(format));
                QTest::newRow(qPrintable(name)) << fixture(name) << false;
            }
        }
        QTest::newRow("hostile-dotdot.7z, fresh") << fixture(u"hostile-dotdot.7z"_s) << true;
    }
    void unsafeNamesAreRefused()
    {
        QFETCH(QString, archive);
        QFETCH(bool, fresh);
        QVERIFY(!fresh || QDir(m_out).removeRecursively());
        JobLog log(archive);
        QVERIFY(extract(archive, log));
        QVERIFY(!log.succeeded());
        QCOMPARE(log.count(NotifyManager::LocalFilesDidChange()), 0);
        QCOMPARE(toastCount(Kind::Error, kError), 1);
        // Nothing at all, not even the harmless entry or a fresh destination;
        // nothing beside or above.
        QVERIFY(snapshot(m_out).isEmpty());
        QCOMPARE(topLevel(m_root), fresh ? QStringList() : QStringList { u"out"_s });
        for (const char* outside : { "/tmp/zavrin-evil-absolute.txt", "/tmp/zavrin-fixture-evil", "/b/evil.txt" })
            QVERIFY2(!QFileInfo::exists(QString::fromLatin1(outside)), outside);
    }

    void linksNeverLeadOut_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::addColumn<QStringList>("extra"); // "path=snapshot value"
        QTest::newRow("zip") << u"hostile-links.zip"_s << QStringList();
        QTest::newRow("rar") << u"hostile-links.rar"_s << QStringList();
        QTest::newRow("7z") << u"hostile-links.7z"_s << QStringList();
        // A refused link named "x : y" must not take the file "x" with it.
        QTest::newRow("7z colon") << u"links-colon.7z"_s << QStringList { u"x=file:kept\n"_s };
        QTest::newRow("rar4") << u"links4.rar"_s << QStringList { u"keep/back=link:../in"_s };
    }
    void linksNeverLeadOut()
    {
        QFETCH(QString, archive);
        QFETCH(QStringList, extra);
        archive = sample(archive);
        JobLog log(archive);
        QVERIFY(extract(archive, log));
        QVERIFY(log.succeeded());
        const auto tree = snapshot(m_out);
        // "up" -> ".." is not created, so "up/evil.txt" cannot land beside "out".
        QVERIFY(!tree.value(u"up"_s).startsWith(u"link:"));
        QCOMPARE(topLevel(m_root), QStringList { u"out"_s });
        // "in" -> "sub" stays inside and is created; "in/x.txt" is not written through it.
        QCOMPARE(tree.value(u"in"_s), u"link:sub"_s);
        QVERIFY(!tree.contains(u"sub"_s));
        QVERIFY(!tree.contains(u"sub/x.txt"_s));
        for (const char* name : { "abs", "climb", "detour", "keep/climb", "x : y" })
            QVERIFY2(!tree.value(QString::fromLatin1(name)).startsWith(u"link:"), name);
        for (const QString& item : std::as_const(extra))
            QCOMPARE(tree.value(item.section(u'=', 0, 0)), item.section(u'=', 1));
    }

    // AES zips as other tools write them: AE-2 entries carry no CRC, AE-1
    // entries do; the authentication code still catches changed bytes.
    void aesZipsOfOtherTools_data()
    {
        QTest::addColumn<QString>("cipher");
        QTest::addColumn<QString>("method");
        QTest::addColumn<QStringList>("craft"); // applied to the archive made by 7zz
        QTest::addColumn<bool>("intact");
        for (const char* cipher : { "AES128", "AES192", "AES256" }) {
            for (const char* method : { "Copy", "Deflate" })
                QTest::addRow("AE-2 %s %s", cipher, method)
                    << QString::fromLatin1(cipher) << QString::fromLatin1(method) << QStringList() << true;
        }
        const QStringList ae1 { u"ae1"_s, u"a.zip"_s, u"in"_s };
        const QStringList flip { u"flip"_s, u"a.zip"_s, u"big.txt"_s };
        QTest::newRow("AE-1 stored") << u"AES256"_s << u"Copy"_s << ae1 << true;
        QTest::newRow("AE-1 deflated") << u"AES128"_s << u"Deflate"_s << ae1 << true;
        QTest::newRow("AE-1 wrong CRC") << u"AES256"_s << u"Deflate"_s << (QStringList(ae1) << u"big.txt"_s) << false;
        QTest::newRow("AE-2 stored, changed byte") << u"AES256"_s << u"Copy"_s << flip << false;
        QTest::newRow("AE-2 deflated, changed byte") << u"AES192"_s << u"Deflate"_s << flip << false;
    }
    void aesZipsOfOtherTools()
    {
        QFETCH(QString, cipher);
        QFETCH(QString, method);
        QFETCH(QStringList, craft);
        QFETCH(bool, intact);
        // Stored, the big entry is authenticated on a companion thread.
        QByteArray big;
        for (int i = 0; big.size() < 4600000; ++i)
            big += "line " + QByteArray::number(i * 7919 % 10007) + " of a text\n";
        QVERIFY(writeFile(m_root + u"/in/big.txt"_s, big) && writeFile(m_root + u"/in/mid.txt"_s, QByteArray(30, 'm'))
            && writeFile(m_root + u"/in/small.txt"_s, "tiny\n"));
        const QString archive = m_root + u"/a.zip"_s;
        QVERIFY(make(m_root + u"/in"_s, u"7zz"_s,
            { u"a"_s, u"-bd"_s, u"-bso0"_s, u"-tzip"_s, u"-mem="_s + cipher, u"-mm="_s + method, u"-psecret"_s, archive,
                u"big.txt"_s, u"mid.txt"_s, u"small.txt"_s }));
        QVERIFY(craft.isEmpty() || make(m_root, u"craft"_s, craft));

        m_panels->queuePassword(u"secret"_s);
        JobLog log(archive);
        QVERIFY(extract(archive, log));
        QCOMPARE(log.succeeded(), intact);
        QCOMPARE(toastCount(Kind::Error, kWrongPassword), 0);
        QCOMPARE(toastCount(Kind::Error, kError), intact ? 0 : 1);
        const auto tree = snapshot(m_out);
        QCOMPARE(tree.value(u"small.txt"_s), u"file:tiny\n"_s);
        QCOMPARE(tree.value(u"mid.txt"_s), u"file:"_s + QString(30, u'm'));
        if (intact)
            QCOMPARE(tree.value(u"big.txt"_s), u"file:"_s + QString::fromLatin1(big));
        else
            QVERIFY(!tree.contains(u"big.txt"_s));
        QVERIFY(!hasLeftovers(m_out));
    }

    void existingItemsAreKept_data() { formatRows(u"plain"_s); }
    void existingItemsAreKept()
    {
        QFETCH(QString, archive);
        archive = sample(archive);
        QVERIFY(writeFile(m_out + u"/hello.txt"_s, "mine") && writeFile(m_out + u"/empty-dir"_s, {}));
        // Links in place are kept, and nothing is written through them.
        QVERIFY(QFile::link(u"nowhere"_s, m_out + u"/empty.txt"_s));
        QVERIFY(writeFile(m_root + u"/victim"_s, "victim"));
        QVERIFY(QFile::link(m_root + u"/victim"_s, m_out + u"/setuid.bin"_s));
        QVERIFY(QDir().mkdir(m_out + u"/link"_s));
        QVERIFY(QFile::link(m_root, m_out + u"/dir"_s)); // "dir/nested.txt" would land beside "out"

        JobLog log(archive);
        QVERIFY(extract(archive, log));
        QVERIFY(log.succeeded());
        const auto tree = snapshot(m_out);
        QCOMPARE(tree.value(u"hello.txt"_s), u"file:mine"_s);
        QCOMPARE(tree.value(u"empty.txt"_s), u"link:nowhere"_s);
        QVERIFY(!QFileInfo::exists(m_out + u"/nowhere"_s));
        QCOMPARE(snapshot(m_root).value(u"victim"_s), u"file:victim"_s);
        QCOMPARE(tree.value(u"empty-dir"_s), u"file:"_s);
        QCOMPARE(tree.value(u"link"_s), u"dir"_s);
        QCOMPARE(tree.value(u"dir"_s), u"link:"_s + m_root);
        QCOMPARE(tree.value(u"tool.sh"_s), u"file:#!/bin/sh\necho tool\n"_s);
        QVERIFY(!hasLeftovers(m_out));
        QCOMPARE(topLevel(m_root), (QStringList { u"out"_s, u"victim"_s }));
    }

    void failedEntriesLeaveNothing_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::addColumn<QString>("broken");
        QTest::newRow("zip checksum") << u"crc-error.zip"_s << u"bad.txt"_s;
        QTest::newRow("zip longer than listed") << u"size-lie.zip"_s << u"bad.txt"_s;
        QTest::newRow("rar cut short") << u"cut.rar"_s << u"second.bin"_s;
        QTest::newRow("7z checksum") << u"crc-error.7z"_s << u"bad.txt"_s;
        QTest::newRow("7z checksum, colon in name") << u"colon-crc.7z"_s << u"a : b.txt"_s;
    }
    void failedEntriesLeaveNothing()
    {
        QFETCH(QString, archive);
        QFETCH(QString, broken);
        archive = sample(archive);
        JobLog log(archive);
        QVERIFY(extract(archive, log));
        QVERIFY(!log.succeeded());
        QCOMPARE(toastCount(Kind::Error, kError), 1);
        QCOMPARE(toastCount(Kind::Success, kFinished), 0);
        const auto tree = snapshot(m_out);
        QCOMPARE(tree.value(u"good.txt"_s), u"file:"_s + QString(100, u'G'));
        QVERIFY(!tree.contains(broken));
        QVERIFY(!hasLeftovers(m_out));
    }

    // Zip entries are shared out among the cores, but where their order
    // decides what is kept (one name twice, a file where a later entry needs
    // a folder) the first in the archive wins, as one by one.
    void zipEntriesInEachOthersWayKeepArchiveOrder()
    {
        const QString archive = sample(u"order.zip"_s);
        JobLog log(archive);
        QVERIFY(extract(archive, log));
        QVERIFY(log.succeeded());
        const auto tree = snapshot(m_out);
        QCOMPARE(tree.value(u"same.txt"_s), u"file:first\n"_s);
        QCOMPARE(tree.value(u"a"_s), u"file:a file\n"_s);
        QVERIFY(!tree.contains(u"a/b.txt"_s));
        QCOMPARE(tree.value(u"f39.txt"_s), u"file:"_s + u"file 39\n"_s.repeated(50));
        QCOMPARE(tree.size(), 42);
        QVERIFY(!hasLeftovers(m_out));
    }

    // Archives of many independent entries are extracted on every core
    // (solid rar archives by one walker): every entry comes out whole,
    // whichever thread placed it.
    void manyEntriesComeOutWhole_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("password");
        QTest::newRow("zip") << u"zip"_s << QStringList { u"-qr"_s } << QString();
        QTest::newRow("rar5") << u"rar"_s << QStringList { u"a"_s, u"-idq"_s } << QString();
        QTest::newRow("rar5 solid") << u"rar"_s << QStringList { u"a"_s, u"-idq"_s, u"-s"_s } << QString();
        QTest::newRow("rar5 encrypted") << QStringLiteral("rar") << QStringList { u"a"_s, u"-idq"_s, u"-psecret"_s }
                                        << u"secret"_s;
    }
    void manyEntriesComeOutWhole()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, options);
        QFETCH(QString, password);
        const QString source = m_root + u"/source"_s;
        for (int i = 0; i < 120; ++i) {
            const QByteArray line = "entry " + QByteArray::number(i) + " of the tree\n";
            QVERIFY(writeFile(source + u"/d%1/f%2.txt"_s.arg(i % 6).arg(i), line.repeated(i * i % 9000)));
        }
        const QString archive = m_root + u"/many."_s + program;
        QVERIFY(make(
            source, program, options + QStringList { archive, u"d0"_s, u"d1"_s, u"d2"_s, u"d3"_s, u"d4"_s, u"d5"_s }));
        if (!password.isEmpty())
            m_panels->queuePassword(password);
        JobLog log(archive);
        QVERIFY(extract(archive, log));
        QVERIFY(log.succeeded());
        QCOMPARE(snapshot(m_out), snapshot(source));
        QVERIFY(!hasLeftovers(m_out));
    }

    // More than 65 535 entries; the progress of so many entries reaches the
    // main thread thinned out, and the final 1 always.
    // The archive is listed on the worker: the call returns at once, while
    // listing 100 000 entries takes a good part of a second.
    void manyEntriesAndThinProgress()
    {
        const QString archive = m_root + u"/many.zip"_s;
        QVERIFY(make(m_root, u"craft"_s, { u"many"_s, u"100000"_s, archive }));
        JobLog log(archive);
        QElapsedTimer call;
        call.start();
        ZipManager::shared().unzipFileAtPath(archive, m_out);
        const qint64 returned = call.elapsed();
        QVERIFY(log.waitForEnd());
        QVERIFY2(returned < 50, qPrintable(QString::number(returned)));
        QVERIFY(log.succeeded());
        QCOMPARE(snapshot(m_out).value(u"last.txt"_s), u"file:the last entry\n"_s);
        const int posted = log.count(NotifyManager::UnzipProgress());
        QVERIFY2(posted <= 102 + log.elapsed() / 50, qPrintable(QString::number(posted)));
        QCOMPARE(toastCount(Kind::Info, kExtracting), 1);
    }

    // The central directory is read a slice at a time. Small slices make a
    // few hundred entries span dozens; every archive must come out as when
    // its directory is read whole, with the progress running forward.
    void zipDirectoryInSlices_data()
    {
        QTest::addColumn<QString>("recipe"); // a fixture or "tree", then changes made to it
        QTest::addColumn<int>("slice");
        QTest::addColumn<QString>("password");
        QTest::addColumn<Outcome::Status>("status");
        QTest::addColumn<bool>("writes"); // when the job fails
        using S = Outcome::Status;
        QTest::newRow("tree") << u"tree"_s << 7 << QString() << S::Done << true;
        QTest::newRow("every kind of entry") << u"plain.zip"_s << 2 << QString() << S::Done << true;
        QTest::newRow("ZIP64 entries") << u"zip64.zip"_s << 1 << QString() << S::Done << true;
        QTest::newRow("ZIP64 end records") << u"many"_s << 16 << QString() << S::Done << true;
        QTest::newRow("entries in each other's way") << u"order.zip"_s << 5 << QString() << S::Done << true;
        QTest::newRow("legacy names") << u"legacy-gbk.zip"_s << 1 << QString() << S::Done << true;
        QTest::newRow("comment") << u"tree comment"_s << 7 << QString() << S::Done << true;
        QTest::newRow("end record in the comment") << u"tree comment decoy"_s << 7 << QString() << S::Done << true;
        QTest::newRow("empty file") << u"empty"_s << 1 << QString() << S::NotAnArchive << false;
        QTest::newRow("named pipe") << u"fifo"_s << 1 << QString() << S::NotAnArchive << false;
        QTest::newRow("unsafe name in the last slice")
            << u"many ../evil.txt"_s << 16 << QString() << S::Unsafe << false;
        QTest::newRow("data past the end of the file") << u"tree past-end"_s << 7 << QString() << S::Damaged << true;
        QTest::newRow("damaged record in a later slice")
            << u"tree break-extra"_s << 7 << QString() << S::Damaged << false;
        QTest::newRow("right password") << u"tree aes"_s << 7 << u"secret"_s << S::Done << true;
        QTest::newRow("wrong password in a later slice")
            << u"tree aes"_s << 7 << u"wrong"_s << S::WrongPassword << false;
    }
    void zipDirectoryInSlices()
    {
        QFETCH(QString, recipe);
        QFETCH(int, slice);
        QFETCH(QString, password);
        QFETCH(Outcome::Status, status);
        QFETCH(bool, writes);
        const QStringList steps = recipe.split(u' ');
        QString archive = m_root + u"/sliced.zip"_s;
        if (steps.first() == u"many") {
            QVERIFY(make(m_root, u"craft"_s, { u"many"_s, u"300"_s, archive, steps.value(1, u"last.txt"_s) }));
        } else if (steps.first() == u"tree") {
            const QString source = m_root + u"/source"_s;
            for (int i = 0; i < 200; ++i)
                QVERIFY(writeFile(source + u"/d%1/f%2.txt"_s.arg(i % 5).arg(i), QByteArray("line\n").repeated(i * i)));
            QVERIFY(QDir().mkpath(source + u"/d5"_s));
            QVERIFY(
                make(source, u"zip"_s, { u"-qr"_s, archive, u"d0"_s, u"d1"_s, u"d2"_s, u"d3"_s, u"d4"_s, u"d5"_s }));
        } else if (steps.first() == u"empty") {
            QVERIFY(writeFile(archive, {}));
        } else if (steps.first() == u"fifo") {
            QCOMPARE(::mkfifo(QFile::encodeName(archive).constData(), 0600), 0);
        } else {
            QVERIFY(QFile::copy(sample(steps.first()), archive));
        }
        if (steps.contains(u"comment"))
            QVERIFY(make(m_root, u"craft"_s, { u"comment"_s, archive, steps.value(2) }));
        if (steps.contains(u"past-end"))
            QVERIFY(make(m_root, u"craft"_s, { u"past-end"_s, archive }));
        if (steps.contains(u"break-extra"))
            QVERIFY(make(m_root, u"craft"_s, { u"break-extra"_s, archive, u"d4/f199.txt"_s }));
        if (steps.contains(u"aes")) {
            QVERIFY(writeFile(m_root + u"/late.txt"_s, "added last, encrypted\n"));
            QVERIFY(make(m_root, u"7zz"_s,
                { u"a"_s, u"-bd"_s, u"-bso0"_s, u"-tzip"_s, u"-mem=AES256"_s, u"-psecret"_s, archive, u"late.txt"_s }));
        }
        const std::optional<QString> secret = password.isNull() ? std::nullopt : std::optional(password);

        const QString whole = m_root + u"/whole"_s;
        QCOMPARE(extractZip(archive, whole, secret, ZipReader::kSliceEntries, {}).status, status);
        ZipReader reader(archive, slice);
        reader.open(std::nullopt);
        QCOMPARE(reader.needsPassword(), !password.isNull());
        QCOMPARE(reader.checkPassword(password), status != Outcome::Status::WrongPassword);
        double last = -1;
        bool forward = true;
        const Outcome sliced = extractZip(archive, m_out, secret, slice, [&](double fraction) {
            forward = forward && fraction > last && fraction <= 1.0;
            last = fraction;
        });
        QCOMPARE(sliced.status, status);
        const auto tree = snapshot(m_out);
        QCOMPARE(tree, snapshot(whole));
        QVERIFY(!QFileInfo::exists(m_root + u"/evil.txt"_s));
        QCOMPARE(!tree.isEmpty(), writes);
        if (status != Outcome::Status::Done)
            return;
        QVERIFY(forward && last == 1.0);
        for (auto it = tree.keyBegin(); it != tree.keyEnd(); ++it) {
            const struct stat ours = lstatOf(m_out + u'/' + *it), theirs = lstatOf(whole + u'/' + *it);
            QCOMPARE(ours.st_mode, theirs.st_mode);
            if (!S_ISLNK(ours.st_mode))
                QCOMPARE(ours.st_mtime, theirs.st_mtime);
        }
    }

    // Nothing readable: one error toast and no sheet. Extensions are
    // matched exactly, and what is not one of the three is not opened.
    void unreadableArchivesFail_data()
    {
        QTest::addColumn<QString>("archive"); // a sample, or "fixture:name of a copy"
        QTest::addColumn<bool>("writesNothing");
        QTest::addColumn<QString>("toast"); // the error toast when empty
        QTest::newRow("zip") << u"truncated.zip"_s << true << QString();
        QTest::newRow("rar") << u"truncated.rar"_s << false << QString(); // entries before the cut stay
        QTest::newRow("7z") << u"truncated.7z"_s << true << QString();
        // The 7z back-end reads 7z archives only, whatever the name says.
        QTest::newRow("tar named 7z") << u"tar.7z"_s << true << QString();
        QTest::newRow("zip named 7z") << u"plain.zip:as.7z"_s << true << QString();
        const QString unsupported = u"暂不支持的解压格式"_s;
        QTest::newRow("unknown suffix") << u"plain.zip:plain.cab"_s << true << unsupported;
        QTest::newRow("no suffix") << u"plain.zip:zip"_s << true << unsupported;
    }
    void unreadableArchivesFail()
    {
        QFETCH(QString, archive);
        QFETCH(bool, writesNothing);
        QFETCH(QString, toast);
        if (archive.contains(u':')) {
            const QString renamed = m_root + u'/' + archive.section(u':', 1);
            QVERIFY(QFile::copy(fixture(archive.section(u':', 0, 0)), renamed));
            archive = renamed;
        } else {
            archive = sample(archive);
        }
        JobLog log(archive);
        QVERIFY(extract(archive, log));
        QVERIFY(!log.succeeded());
        QCOMPARE(log.count(NotifyManager::LocalFilesDidChange()), 0);
        if (toast.isEmpty()) {
            QCOMPARE(toastCount(Kind::Error, kError), 1);
        } else { // told apart before any work
            QCOMPARE(log.names(), QStringList { NotifyManager::JobDidEnd() });
            QCOMPARE(m_toasts->toasts.size(), 1);
            QCOMPARE(toastCount(Kind::Info, toast), 1);
        }
        QCOMPARE(m_panels->passwordRequests.size(), 0);
        if (writesNothing)
            QVERIFY(snapshot(m_out).isEmpty());
    }

    void permissionBitsAsStored_data() { formatRows(u"modes"_s); }
    void permissionBitsAsStored()
    {
        QFETCH(QString, archive);
        const mode_t previous = ::umask(022);
        archive = sample(archive);
        JobLog log(archive);
        const bool ended = extract(archive, log);
        ::umask(previous);
        QVERIFY(ended);
        QVERIFY(log.succeeded());
        // Past the umask, but never set-uid, set-gid or sticky.
        QCOMPARE(lstatOf(m_out + u"/open.txt"_s).st_mode & 07777, 0666u);
        QCOMPARE(lstatOf(m_out + u"/private.txt"_s).st_mode & 07777, 0600u);
        QCOMPARE(lstatOf(m_out + u"/shared"_s).st_mode & 07777, 0777u);
        QCOMPARE(lstatOf(m_out + u"/shared/f.txt"_s).st_mode & 07777, 0640u);
    }

    // Paths reach 7zz without its wildcard, switch or list-file rules.
    void sevenZipPathsAreLiteral_data()
    {
        QTest::addColumn<QString>("archiveName");
        QTest::addColumn<QString>("folderName");
        QTest::newRow("question mark, star") << u"a?.7z"_s << u"out*dir"_s;
        QTest::newRow("spaces, dash, at, bracket") << u"  -@[a].7z"_s << u"  -@[o]ut"_s;
    }
    void sevenZipPathsAreLiteral()
    {
        QFETCH(QString, archiveName);
        QFETCH(QString, folderName);
        const QString archive = m_root + u'/' + archiveName;
        QVERIFY(QFile::copy(fixture(u"plain.7z"_s), archive));
        // Decoys that the wildcards would match.
        QVERIFY(QFile::copy(fixture(u"hostile-links.7z"_s), m_root + u"/ab.7z"_s));
        QVERIFY(QFile::copy(fixture(u"hostile-links.7z"_s), m_root + u"/a.7z"_s));
        m_out = m_root + u'/' + folderName;
        JobLog log(archive);
        QVERIFY(extract(archive, log));
        QVERIFY(log.succeeded());
        QCOMPARE(snapshot(m_out), plainTree());
        QCOMPARE(topLevel(m_root).size(), 5);
    }

    // On file systems without renames that refuse to replace, hard links or
    // nameless files (FAT and exFAT sticks) files come out all the same, and
    // existing ones are still kept. Simulated here; on a real exFAT stick
    // where the machine can mount one.
    void plainFileSystems_data() { formatRows(u"plain"_s); }
    void plainFileSystems()
    {
        QFETCH(QString, archive);
        archive = sample(archive);
        SafeDestination::setPlainFileSystemForTesting(true);
        const auto restore = qScopeGuard([] { SafeDestination::setPlainFileSystemForTesting(false); });
        QVERIFY(writeFile(m_out + u"/hello.txt"_s, "mine\n"));
        JobLog log(archive);
        QVERIFY(extract(archive, log));
        QVERIFY(log.succeeded());
        QMap<QString, QString> expected = plainTree();
        expected[u"hello.txt"_s] = u"file:mine\n"_s;
        QCOMPARE(snapshot(m_out), expected);
        QCOMPARE(log.first(NotifyManager::JobDidEnd())->object.value(NotifyManager::keptKey()).toInt(), 1);
        QVERIFY(!hasLeftovers(m_out));
    }
    void realExfat()
    {
        const QString image = m_root + u"/stick.img"_s;
        const QString mountPoint = m_root + u"/stick"_s;
        QFile stick(image);
        QVERIFY(stick.open(QIODevice::WriteOnly) && stick.resize(64 << 20));
        stick.close();
        QProcess loop;
        if (::geteuid() != 0 || !make(m_root, u"mkfs.exfat"_s, { image }))
            QSKIP("cannot make an exFAT file system here");
        loop.start(u"losetup"_s, { u"-f"_s, u"--show"_s, image });
        const QString device = loop.waitForFinished() && loop.exitCode() == 0
            ? QString::fromUtf8(loop.readAllStandardOutput()).trimmed()
            : QString();
        QVERIFY(QDir().mkpath(mountPoint));
        if (device.isEmpty() || !make(m_root, u"mount.exfat-fuse"_s, { device, mountPoint })) {
            if (!device.isEmpty())
                QProcess::execute(u"losetup"_s, { u"-d"_s, device });
            QSKIP("cannot mount an exFAT file system here");
        }
        const auto unmount = qScopeGuard([&] {
            QProcess::execute(u"umount"_s, { mountPoint });
            QProcess::execute(u"losetup"_s, { u"-d"_s, device });
        });
        QMap<QString, QString> expected = plainTree();
        expected.remove(u"link"_s); // exFAT holds no links
        for (const char* format : { "zip", "rar", "7z" }) {
            const QString archive = sample(u"plain."_s + QLatin1String(format));
            m_out = mountPoint + u'/' + QLatin1String(format);
            for (int round = 0; round < 2; ++round) { // the second keeps every file
                JobLog log(archive);
                QVERIFY(extract(archive, log));
                QVERIFY2(log.succeeded(), format);
                QCOMPARE(snapshot(m_out), expected);
                QCOMPARE(log.first(NotifyManager::JobDidEnd())->object.value(NotifyManager::keptKey()).toInt() > 0,
                    round == 1);
                QVERIFY(!hasLeftovers(m_out));
            }
        }
    }

    // Two jobs into one folder: the second waits for the first, finds its
    // files complete and keeps them; no file mixes the two archives.
    void jobsIntoOneFolderTakeTurns()
    {
        const QString source = m_root + u"/source"_s;
        for (int i = 0; i < 300; ++i)
            QVERIFY(writeFile(source + u"/d/f%1.txt"_s.arg(i), QByteArray("first\n").repeated(100 + i)));
        const QString first = m_root + u"/first.zip"_s, second = m_root + u"/second.zip"_s;
        QVERIFY(make(source, u"zip"_s, { u"-qr"_s, first, u"d"_s }));
        for (int i = 0; i < 300; ++i)
            QVERIFY(writeFile(source + u"/d/f%1.txt"_s.arg(i), QByteArray("second\n").repeated(100 + i)));
        QVERIFY(make(source, u"zip"_s, { u"-qr"_s, second, u"d"_s }));
        JobLog one(first), two(second);
        ZipManager::shared().unzipFileAtPath(first, m_out);
        ZipManager::shared().unzipFileAtPath(second, m_out);
        QVERIFY(one.waitForEnd() && two.waitForEnd());
        QVERIFY(one.succeeded() && two.succeeded());
        const int kept = one.first(NotifyManager::JobDidEnd())->object.value(NotifyManager::keptKey()).toInt()
            + two.first(NotifyManager::JobDidEnd())->object.value(NotifyManager::keptKey()).toInt();
        QCOMPARE(kept, 300);
        const auto tree = snapshot(m_out);
        const bool firstWon = tree.value(u"d/f0.txt"_s).startsWith(u"file:first");
        for (auto it = tree.cbegin(); it != tree.cend(); ++it) {
            if (it.value() != u"dir")
                QVERIFY2(it.value().startsWith(firstWon ? u"file:first" : u"file:second"), qPrintable(it.key()));
        }
    }

    // A job that fails takes back the destination it made; one that
    // succeeds, or failed into a folder that was there, leaves it.
    void failedJobsTakeBackTheirFolder_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("stays");
        QTest::newRow("damaged zip") << u"truncated.zip"_s << QString() << false;
        QTest::newRow("wrong rar password") << u"encrypted.rar"_s << u"wrong"_s << false;
        QTest::newRow("damaged rar, files before the cut") << u"truncated.rar"_s << QString() << true;
        QTest::newRow("success") << u"plain.7z"_s << QString() << true;
    }
    void failedJobsTakeBackTheirFolder()
    {
        QFETCH(QString, archive);
        QFETCH(QString, password);
        QFETCH(bool, stays);
        archive = sample(archive);
        if (!password.isEmpty())
            m_panels->queuePassword(password);
        m_panels->queueCancel();
        m_out = m_root + u"/new/deeper"_s;
        JobLog log(archive);
        QVERIFY(extract(archive, log));
        QCOMPARE(QFileInfo::exists(m_out), stays);
        QCOMPARE(QFileInfo::exists(m_root + u"/new"_s), stays);
    }

    // A NUL ends a password early for every library: such a password is
    // refused, whatever it would open.
    void passwordsWithANulAreRefused_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::newRow("ZipCrypto zip") << u"zipcrypto.zip"_s;
        QTest::newRow("rar") << u"encrypted.rar"_s;
        QTest::newRow("7z") << u"encrypted.7z"_s;
    }
    void passwordsWithANulAreRefused()
    {
        QFETCH(QString, archive);
        archive = sample(archive);
        m_panels->queuePassword(u"secret"_s + QChar(u'\0') + u"tail"_s);
        m_panels->queueCancel();
        JobLog log(archive);
        QVERIFY(extract(archive, log));
        QVERIFY(!log.succeeded());
        QVERIFY(snapshot(m_out).isEmpty());
    }

    // A single big entry reports progress by bytes as it is written, forward
    // only, not just once it is complete.
    void progressMovesInsideABigEntry_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("reports"); // at least, before the end
        QTest::newRow("zip") << u"zip"_s << QStringList { u"-q1"_s, u"big.zip"_s, u"big.bin"_s } << 10;
        QTest::newRow("rar") << u"rar"_s << QStringList { u"a"_s, u"-idq"_s, u"-m1"_s, u"big.rar"_s, u"big.bin"_s }
                             << 10;
        // 7zz tells its percentage five times a second, which a second of
        // work on a busy machine makes a few.
        QTest::newRow("7z") << u"7zz"_s << QStringList { u"a"_s, u"-bso0"_s, u"-mx1"_s, u"big.7z"_s, u"big.bin"_s }
                            << 3;
    }
    void progressMovesInsideABigEntry()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(int, reports);
        QFile big(m_root + u"/big.bin"_s);
        QVERIFY(big.open(QIODevice::WriteOnly));
        const QByteArray block = QByteArray("some text that compresses, ").repeated(4096);
        while (big.size() < 200 * 1024 * 1024)
            QVERIFY(big.write(block) == block.size());
        big.close();
        QVERIFY(make(m_root, program, arguments));
        const QString archive = m_root + u'/' + arguments.at(arguments.size() - 2);
        JobLog log(archive);
        QVERIFY(extract(archive, log));
        QVERIFY(log.succeeded());
        QList<double> values;
        for (const JobLog::Event& event : log.events()) {
            if (event.name == NotifyManager::UnzipProgress())
                values.append(event.object.value(NotifyManager::progressKey()).toDouble());
        }
        QVERIFY2(values.size() > reports, qPrintable(QString::number(values.size())));
        QVERIFY(std::is_sorted(values.cbegin(), values.cend()));
        QCOMPARE(values.last(), 1.0);
        QCOMPARE(QFileInfo(m_out + u"/big.bin"_s).size(), big.size());
    }

    // The format by the file's name: suffixes in any case, double ones and
    // volume numbers first; the name the archive's own folder gets.
    void formatsByName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("type"); // empty: no format
        QTest::addColumn<QString>("stem");
        QTest::newRow("zip") << u"a.zip"_s << u"zip"_s << u"a"_s;
        QTest::newRow("capitals") << u"PLAIN.ZIP"_s << u"zip"_s << u"PLAIN"_s;
        QTest::newRow("double name") << u"a.tar.zip"_s << u"zip"_s << u"a.tar"_s;
        QTest::newRow("7z volume") << u"x.7z.002"_s << u"7z"_s << u"x"_s;
        QTest::newRow("rar part") << u"Set.Part02.RAR"_s << u"rar"_s << u"Set"_s;
        QTest::newRow("dotted stem") << u"v1.2.rar"_s << u"rar"_s << u"v1.2"_s;
        QTest::newRow("bare suffix") << u".zip"_s << QString() << u".zip"_s;
        QTest::newRow("unknown") << u"notes.cab"_s << QString() << u"notes.cab"_s;
        QTest::newRow("suffix without dot") << u"zip"_s << QString() << u"zip"_s;
    }
    void formatsByName()
    {
        QFETCH(QString, name);
        QFETCH(QString, type);
        QFETCH(QString, stem);
        const ArchiveFormat* format = ArchiveFormats::forPath(u"/some/where/"_s + name);
        QCOMPARE(format ? format->type : QString(), type);
        QCOMPARE(ArchiveFormats::stem(u"/some/where/"_s + name), stem);
    }

    // Into a folder of its own: an archive of several top-level items gets
    // a new folder named after it; one of a single item goes straight in.
    void ownFolders_data()
    {
        QTest::addColumn<QString>("archiveName");
        QTest::addColumn<QStringList>("items"); // made, then packed
        QTest::addColumn<QStringList>("existing"); // in the destination before
        QTest::addColumn<QString>("output"); // relative to the destination
        QTest::addColumn<QStringList>("expected"); // new top-level items
        QTest::newRow("one file") << u"one.zip"_s << QStringList { u"a.txt"_s } << QStringList() << QString()
                                  << QStringList { u"a.txt"_s };
        QTest::newRow("one folder") << u"one.zip"_s << QStringList { u"docs/a.txt"_s, u"docs/b.txt"_s } << QStringList()
                                    << QString() << QStringList { u"docs"_s };
        QTest::newRow("two items") << u"two.zip"_s << QStringList { u"a.txt"_s, u"b.txt"_s } << QStringList()
                                   << u"two"_s << QStringList { u"two"_s };
        QTest::newRow("name taken") << u"two.zip"_s << QStringList { u"a.txt"_s, u"b.txt"_s }
                                    << QStringList { u"two"_s } << u"two (2)"_s << QStringList { u"two (2)"_s };
        QTest::newRow("double name") << u"a.tar.zip"_s << QStringList { u"a.txt"_s, u"b.txt"_s } << QStringList()
                                     << u"a.tar"_s << QStringList { u"a.tar"_s };
        QTest::newRow("single item taken") << u"one.zip"_s << QStringList { u"a.txt"_s } << QStringList { u"a.txt"_s }
                                           << u"one"_s << QStringList { u"one"_s };
    }
    void ownFolders()
    {
        QFETCH(QString, archiveName);
        QFETCH(QStringList, items);
        QFETCH(QStringList, existing);
        QFETCH(QString, output);
        QFETCH(QStringList, expected);
        const QString source = m_root + u"/source"_s;
        for (const QString& item : std::as_const(items))
            QVERIFY(writeFile(source + u'/' + item, item.toUtf8()));
        const QString archive = m_root + u'/' + archiveName;
        QVERIFY(make(source, u"zip"_s,
            QStringList { u"-qr"_s, archive } + QDir(source).entryList(QDir::NoDotAndDotDot | QDir::AllEntries)));
        for (const QString& item : std::as_const(existing))
            QVERIFY(writeFile(m_out + u'/' + item, "there before"));
        const QStringList before = topLevel(m_out);
        ExtractOptions options;
        options.ownFolder = true;
        JobLog log(archive);
        ZipManager::shared().extract(archive, m_out, options);
        QVERIFY(log.waitForEnd());
        QVERIFY(log.succeeded());
        QStringList added = topLevel(m_out);
        for (const QString& item : before)
            added.removeOne(item);
        QCOMPARE(added, expected);
        const QString outputFolder = output.isEmpty() ? m_out : m_out + u'/' + output;
        QCOMPARE(
            log.first(NotifyManager::JobDidEnd())->object.value(NotifyManager::outputKey()).toString(), outputFolder);
        for (const QString& item : std::as_const(items))
            QCOMPARE(snapshot(outputFolder).value(item), u"file:"_s + item);
    }

    // Only the entries asked for come out, whatever their names hold; a
    // selection in an archive with an unsafe name fails with nothing left.
    void subsetsComeOutAlone_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::addColumn<bool>("newline");
        for (const char* row : { "zip", "rar", "7z" })
            QTest::newRow(row) << u"subset."_s + QLatin1String(row) << true;
        // Without a name the 7z listing cannot show, 7zz gets the names.
        QTest::newRow("7z by name") << u"subset.7z"_s << false;
    }
    void subsetsComeOutAlone()
    {
        QFETCH(QString, archive);
        QFETCH(bool, newline);
        const QString source = m_root + u"/source"_s;
        QStringList wanted { u"dir"_s, u"dir/in.txt"_s, u"sp ace.txt"_s, u"q\"uote.txt"_s, u"st*ar.txt"_s,
            u"-dash.txt"_s };
        if (newline)
            wanted.append(u"nl\nname.txt"_s);
        const QStringList others { u"other.txt"_s, u"stXar.txt"_s, u"dir2/x.txt"_s };
        for (const QString& name : wanted + others) {
            if (name != u"dir")
                QVERIFY(writeFile(source + u'/' + name, name.toUtf8()));
        }
        const QStringList top = QDir(source).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
        archive = m_root + u'/' + archive;
        if (archive.endsWith(u".zip"))
            QVERIFY(make(source, u"zip"_s, QStringList { u"-qr"_s, archive, u"--"_s } + top));
        else if (archive.endsWith(u".rar"))
            QVERIFY(make(source, u"rar"_s, QStringList { u"a"_s, u"-idq"_s, archive, u"--"_s } + top));
        else
            QVERIFY(make(source, u"7zz"_s, QStringList { u"a"_s, u"-bso0"_s, archive, u"--"_s } + top));

        std::shared_ptr<const ArchiveListing> listing;
        ZipManager::shared().list(archive, std::nullopt, {}, [&](const Outcome& result, auto list) {
            QVERIFY(result.ok());
            listing = list;
        });
        QTRY_VERIFY(listing);
        std::vector<bool> selection(static_cast<std::size_t>(listing->size()));
        for (qsizetype i = 0; i < listing->size(); ++i) {
            const QString path = listing->path(i).chopped(listing->path(i).endsWith(u'/') ? 1 : 0);
            // The 7z listing shows a newline as "_".
            selection[static_cast<std::size_t>(i)] = wanted.contains(path) || path == u"nl_name.txt";
        }
        ExtractOptions options;
        options.selection = selection;
        JobLog log(archive);
        ZipManager::shared().extract(archive, m_out, options);
        QVERIFY(log.waitForEnd());
        QVERIFY(log.succeeded());
        QStringList extracted = snapshot(m_out).keys();
        QStringList expected = wanted;
        std::sort(expected.begin(), expected.end());
        QCOMPARE(extracted, expected);

        const QString hostile = fixture(u"hostile-dotdot.zip"_s);
        std::vector<bool> everything(3, true);
        options.selection = everything;
        const QString out = m_root + u"/hostile"_s;
        JobLog hostileLog(hostile);
        ZipManager::shared().extract(hostile, out, options);
        QVERIFY(hostileLog.waitForEnd());
        QVERIFY(!hostileLog.succeeded());
        QVERIFY(!QFileInfo::exists(out));
    }

    // Split 7z and zip sets come out from any part; a missing part fails
    // the job, names the part and leaves nothing.
    void splitSets_data()
    {
        QTest::addColumn<QString>("sample");
        QTest::addColumn<QString>("opened");
        QTest::addColumn<QString>("removed");
        QTest::newRow("7z, first part") << u"vol.7z"_s << u"vol.7z.001"_s << QString();
        QTest::newRow("7z, a later part") << u"vol.7z"_s << u"vol.7z.002"_s << QString();
        QTest::newRow("7z, middle missing") << u"vol.7z"_s << u"vol.7z.003"_s << u"vol.7z.002"_s;
        QTest::newRow("7z, last missing") << u"vol.7z"_s << u"vol.7z.001"_s << u"vol.7z.003"_s;
        QTest::newRow("zip, last part") << u"split.zip"_s << u"split.zip"_s << QString();
        QTest::newRow("zip, first part") << u"split.zip"_s << u"split.z01"_s << QString();
        QTest::newRow("zip, first missing") << u"split.zip"_s << u"split.zip"_s << u"split.z01"_s;
        QTest::newRow("zip, middle missing") << u"split.zip"_s << u"split.z01"_s << u"split.z02"_s;
        QTest::newRow("zip, end missing") << u"split.zip"_s << u"split.z02"_s << u"split.zip"_s;
    }
    void splitSets()
    {
        QFETCH(QString, sample);
        QFETCH(QString, opened);
        QFETCH(QString, removed);
        this->sample(sample);
        const QString folder = m_samples->path();
        if (!removed.isEmpty())
            QVERIFY(QFile::remove(folder + u'/' + removed));
        const QString archive = folder + u'/' + opened;
        JobLog log(archive);
        QVERIFY(extract(archive, log));
        const QVariantMap end = log.first(NotifyManager::JobDidEnd())->object;
        if (removed.isEmpty()) {
            QVERIFY(log.succeeded());
            QCOMPARE(snapshot(m_out).value(u"d/small.txt"_s), u"file:small\n"_s);
            QCOMPARE(QFileInfo(m_out + u"/d/big.bin"_s).size(), 250000);
            return;
        }
        QCOMPARE(end.value(NotifyManager::statusKey()).toString(), Outcome::statusName(Outcome::Status::MissingPart));
        QVERIFY2(end.value(NotifyManager::reasonKey()).toString().endsWith(removed),
            qPrintable(end.value(NotifyManager::reasonKey()).toString()));
        QVERIFY(snapshot(m_out).isEmpty());
    }

    // Only an encrypted 7z entry whose CRC matched proves a password: an
    // archive whose encrypted entries carry none cannot, whatever is typed.
    void sevenZipPasswordsNeedAChecksum_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::addColumn<QString>("password");
        QTest::addColumn<Outcome::Status>("status");
        QTest::addColumn<QStringList>("files");
        using S = Outcome::Status;
        const QString secret = u"secret"_s, wrong = u"wrong"_s;
        QTest::newRow("no checksum, right password")
            << u"no-crc.7z"_s << secret << S::PasswordUnconfirmed << QStringList();
        QTest::newRow("no checksum, wrong password")
            << u"no-crc.7z"_s << wrong << S::PasswordUnconfirmed << QStringList();
        QTest::newRow("one checksum, right password")
            << u"half-crc.7z"_s << secret << S::Done << QStringList { u"checked.txt"_s, u"secret.txt"_s };
        QTest::newRow("one checksum, wrong password") << u"half-crc.7z"_s << wrong << S::WrongPassword << QStringList();
    }
    void sevenZipPasswordsNeedAChecksum()
    {
        QFETCH(QString, archive);
        QFETCH(QString, password);
        QFETCH(Outcome::Status, status);
        QFETCH(QStringList, files);
        archive = sample(archive);
        m_panels->queuePassword(password);
        JobLog log(archive);
        QVERIFY(extract(archive, log));
        QCOMPARE(log.first(NotifyManager::JobDidEnd())->object.value(NotifyManager::statusKey()).toString(),
            Outcome::statusName(status));
        QCOMPARE(snapshot(m_out).keys(), files);
    }

    // Names the listing cannot show as they are, and deletion markers left
    // by an update, which are skipped: never a reason to touch a file.
    void sevenZipOddEntries()
    {
        const QString names = sample(u"control-names.7z"_s);
        JobLog log(names);
        QVERIFY(extract(names, log));
        QVERIFY(log.succeeded());
        QCOMPARE(snapshot(m_out),
            (QMap<QString, QString> { { u"nl\nname.txt"_s, u"file:newline\n"_s }, { u"end\r"_s, u"file:return\n"_s },
                { u"ctl\u0001name.txt"_s, u"file:control\n"_s } }));

        const QString marked = sample(u"anti.7z"_s);
        const QString out = m_root + u"/marked"_s;
        QVERIFY(writeFile(out + u"/d/gone.txt"_s, "still here\n"));
        JobLog markedLog(marked);
        ZipManager::shared().unzipFileAtPath(marked, out);
        QVERIFY(markedLog.waitForEnd());
        QVERIFY(markedLog.succeeded());
        QCOMPARE(snapshot(out),
            (QMap<QString, QString> { { u"d"_s, u"dir"_s }, { u"d/kept.txt"_s, u"file:kept\n"_s },
                { u"d/gone.txt"_s, u"file:still here\n"_s } }));
    }

    // Extracted while it is listed, a 7z archive waits past a small budget
    // until every name is checked: a refused one never fills the disk.
    void sevenZipWaitsForItsListing()
    {
        const QString archive = sample(u"slow-refused.7z"_s);
        const QByteArray mountPoint = QFile::encodeName(m_out);
        if (::geteuid() != 0 || ::mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=64m") != 0)
            QSKIP("cannot mount a small file system here");
        std::atomic<bool> done = false;
        std::atomic<qint64> most = 0;
        std::thread watcher([&] {
            while (!done) {
                struct statvfs disk { };
                if (::statvfs(mountPoint.constData(), &disk) == 0)
                    most = std::max<qint64>(most, qint64(disk.f_blocks - disk.f_bfree) * qint64(disk.f_frsize));
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        JobLog log(archive);
        const bool ended = extract(archive, log);
        done = true;
        watcher.join();
        const auto tree = snapshot(m_out);
        ::umount(mountPoint.constData());
        QVERIFY(ended);
        QCOMPARE(log.first(NotifyManager::JobDidEnd())->object.value(NotifyManager::statusKey()).toString(),
            Outcome::statusName(Outcome::Status::Unsafe));
        QVERIFY(tree.isEmpty());
        QVERIFY2(most < 40 * 1024 * 1024, qPrintable(QString::number(most)));
    }

    void sevenZipFullDiskFails()
    {
        const QString archive = sample(u"full.7z"_s);
        if (::geteuid() != 0 || ::mount("tmpfs", QFile::encodeName(m_out).constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP("cannot mount a small file system here");
        JobLog log(archive);
        const bool ended = extract(archive, log);
        const auto tree = snapshot(m_out);
        ::umount(QFile::encodeName(m_out).constData());
        QVERIFY(ended);
        QVERIFY(!log.succeeded());
        QCOMPARE(toastCount(Kind::Error, kError), 1);
        QVERIFY(!tree.contains(u"big.bin"_s));
        QVERIFY2(
            std::none_of(tree.keyBegin(), tree.keyEnd(), [](const QString& key) { return key.contains(u".zavrin-"); }),
            qPrintable(tree.keys().join(u' ')));
    }

    // Hard links and file references point at an entry this job extracted.
    void rarLinksToEarlierEntries_data()
    {
        QTest::addColumn<QStringList>("existing"); // made before the job
        QTest::addColumn<bool>("succeeds");
        QTest::addColumn<QStringList>("expected"); // "path=snapshot value"
        const QString a = u"first file content\n"_s;
        const QString same = u"same bytes here, long enough\n"_s;
        QTest::newRow("fresh") << QStringList() << true
                               << QStringList { u"d/hard.txt=file:"_s + a, u"d/same2.txt=file:"_s + same };
        // The user's own a.txt is kept and never becomes the link's content.
        QTest::newRow("target kept") << QStringList { u"a.txt"_s } << false
                                     << QStringList { u"a.txt=file:mine"_s, u"d/same2.txt=file:"_s + same };
        QTest::newRow("extracted again") << QStringList {
            u"a.txt"_s, u"d/hard.txt"_s, u"same1.txt"_s, u"d/same2.txt"_s
        } << true << QStringList { u"a.txt=file:mine"_s, u"d/hard.txt=file:mine"_s, u"d/same2.txt=file:mine"_s };
    }
    void rarLinksToEarlierEntries()
    {
        QFETCH(QStringList, existing);
        QFETCH(bool, succeeds);
        QFETCH(QStringList, expected);
        const QString archive = sample(u"links.rar"_s);
        for (const QString& name : std::as_const(existing))
            QVERIFY(writeFile(m_out + u'/' + name, "mine"));
        JobLog log(archive);
        QVERIFY(extract(archive, log));
        QCOMPARE(log.succeeded(), succeeds);
        const auto tree = snapshot(m_out);
        for (const QString& item : std::as_const(expected))
            QCOMPARE(tree.value(item.section(u'=', 0, 0)), item.section(u'=', 1));
        if (existing.isEmpty())
            QCOMPARE(lstatOf(m_out + u"/d/hard.txt"_s).st_ino, lstatOf(m_out + u"/a.txt"_s).st_ino);
        else if (!succeeds)
            QVERIFY(!tree.contains(u"d/hard.txt"_s));
        QVERIFY(!hasLeftovers(m_out));
    }

    void rarVolumes_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("missing");
        QTest::addColumn<bool>("succeeds");
        QTest::newRow("from the middle") << u"vol.part2.rar"_s << QString() << true;
        QTest::newRow("first missing") << u"vol.part2.rar"_s << u"vol.part1.rar"_s << false;
        QTest::newRow("middle missing") << u"vol.part1.rar"_s << u"vol.part3.rar"_s << false;
    }
    void rarVolumes()
    {
        QFETCH(QString, start);
        QFETCH(QString, missing);
        QFETCH(bool, succeeds);
        sample(u"vol.rar"_s);
        if (!missing.isEmpty())
            QVERIFY(QFile::remove(m_samples->filePath(missing)));
        const QString archive = m_samples->filePath(start);
        JobLog log(archive);
        QVERIFY(extract(archive, log));
        QCOMPARE(log.succeeded(), succeeds);
        const auto tree = snapshot(m_out);
        if (succeeds)
            QCOMPARE(QFileInfo(m_out + u"/big.bin"_s).size(), 70000);
        else
            QVERIFY2(tree.isEmpty(), qPrintable(tree.keys().join(u' ')));
    }
};

ZAVRIN_TEST(ExtractionTest)
#include "tst_extraction.moc"
