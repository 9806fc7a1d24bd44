// Extraction jobs end to end through ZipManager, with scripted password
// sheets and recorded toasts, on real archives of all three formats.
#include "engine/ZipManager.h"
#include "engine/extract/ZipReader.h"
#include "platform/Bundle.h"
#include "platform/Defaults.h"
#include "platform/StoreReview.h"
#include "tests/engine/JobLog.h"
#include "tests/support/RecordingToasts.h"
#include "tests/support/ScriptedPanels.h"
#include "tests/support/TestMain.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Kind = RecordingToasts::Kind;

QString fixture(const QString& name)
{
    return QStringLiteral(ZAVRIN_FIXTURES_DIR "/") + name;
}

// The shared RAR4 samples; ZAVRIN_SHARED_FIXTURES_DIR in the environment
// overrides the build's idea of where they are.
QString rar4(const QString& name)
{
    const QString configured = qEnvironmentVariable("ZAVRIN_SHARED_FIXTURES_DIR");
    return (configured.isEmpty() ? QStringLiteral(ZAVRIN_SHARED_FIXTURES_DIR) : configured) + QStringLiteral("/rar4/")
        + name;
}

#define REQUIRE_FILE(path)                                                                                             \
    if (!QFileInfo::exists(path))                                                                                      \
        QSKIP(qPrintable(QStringLiteral("missing sample ") + (path)));

const QString kExtracting = QStringLiteral("解压文件中...");
const QString kFinished = QStringLiteral("解压完成");
const QString kError = QStringLiteral("解压文件错误");
const QString kWrongPassword = QStringLiteral("解压密码错误");

// 2001-02-03 04:05:06 and 2002-03-04 05:06:07 UTC, as make.sh sets them.
constexpr qint64 kFileTime = 981173106;
constexpr qint64 kFolderTime = 1015218367;

QMap<QString, QString> plainTree()
{
    return {
        { QStringLiteral("hello.txt"), QStringLiteral("file:hello, world\n") },
        { QStringLiteral("dir"), QStringLiteral("dir") },
        { QStringLiteral("dir/nested.txt"), QStringLiteral("file:nested file\n") },
        { QStringLiteral("empty-dir"), QStringLiteral("dir") },
        { QStringLiteral("empty.txt"), QStringLiteral("file:") },
        { QStringLiteral("tool.sh"), QStringLiteral("file:#!/bin/sh\necho tool\n") },
        { QStringLiteral("setuid.bin"), QStringLiteral("file:not really a program\n") },
        { QStringLiteral("link"), QStringLiteral("link:hello.txt") },
        { QStringLiteral("中文名.txt"), QStringLiteral("file:unicode name\n") },
    };
}

struct stat lstatOf(const QString& path)
{
    struct stat st { };
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st;
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
        process.start(QStringLiteral("python3"), QStringList { fixture(QStringLiteral("craft.py")) } + arguments);
    else
        process.start(program, arguments);
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
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

    // A committed fixture by name, else a sample made now by make-samples.sh.
    QString sample(const QString& name)
    {
        if (QFileInfo::exists(fixture(name)))
            return fixture(name);
        QProcess maker;
        maker.setProcessChannelMode(QProcess::ForwardedChannels);
        maker.start(QStringLiteral("bash"), { fixture(QStringLiteral("make-samples.sh")), name, m_samples->path() });
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
        m_out = m_root + QStringLiteral("/out");
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

    void plainArchivesComeOutAsStored_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::newRow("zip") << fixture(QStringLiteral("plain.zip"));
        QTest::newRow("rar5") << fixture(QStringLiteral("plain.rar"));
        QTest::newRow("7z") << fixture(QStringLiteral("plain.7z"));
    }
    void plainArchivesComeOutAsStored()
    {
        QFETCH(QString, archive);
        JobLog log(archive);
        QVERIFY(extract(archive, log));
        QVERIFY(log.succeeded());
        QCOMPARE(snapshot(m_out), plainTree());
        QCOMPARE(m_panels->passwordRequests.size(), 0);

        // Permission bits as stored, without set-uid; times as stored.
        QCOMPARE(lstatOf(m_out + QStringLiteral("/tool.sh")).st_mode & 07777, 0755u);
        QCOMPARE(lstatOf(m_out + QStringLiteral("/setuid.bin")).st_mode & 07777, 0755u);
        QCOMPARE(lstatOf(m_out + QStringLiteral("/hello.txt")).st_mode & 07777, 0644u);
        QCOMPARE(lstatOf(m_out + QStringLiteral("/hello.txt")).st_mtime, kFileTime);
        QCOMPARE(lstatOf(m_out + QStringLiteral("/empty.txt")).st_mtime, kFileTime);
        QCOMPARE(lstatOf(m_out + QStringLiteral("/dir")).st_mtime, kFolderTime);
        QCOMPARE(lstatOf(m_out + QStringLiteral("/empty-dir")).st_mtime, kFolderTime);
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

    void rar4ArchiveExtracts()
    {
        const QString archive = rar4(QStringLiteral("rar3-subdirs.rar"));
        REQUIRE_FILE(archive);
        JobLog log(archive);
        QVERIFY(extract(archive, log));
        QVERIFY(log.succeeded());
        const auto tree = snapshot(m_out);
        for (const char* name :
            { "sub/with space/long fn.txt", "sub/dir1/file1.txt", "sub/dir2/file2.txt", "sub/üȵĩöḋè/file.txt" })
            QVERIFY2(tree.value(QString::fromUtf8(name)).startsWith(u"file:"), name);
    }

    void extensionsAreMatchedExactly_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("name");
        QTest::newRow("ZIP") << QStringLiteral("plain.zip") << QStringLiteral("PLAIN.ZIP");
        QTest::newRow("Rar") << QStringLiteral("plain.rar") << QStringLiteral("plain.Rar");
        QTest::newRow("7Z") << QStringLiteral("plain.7z") << QStringLiteral("plain.7Z");
        QTest::newRow("tar") << QStringLiteral("plain.zip") << QStringLiteral("plain.tar");
    }
    void extensionsAreMatchedExactly()
    {
        QFETCH(QString, source);
        QFETCH(QString, name);
        const QString archive = m_root + u'/' + name;
        QVERIFY(QFile::copy(fixture(source), archive));
        JobLog log(archive);
        QVERIFY(extract(archive, log));
        QVERIFY(!log.succeeded());
        QCOMPARE(log.names(), QStringList { NotifyManager::JobDidEnd() });
        QCOMPARE(m_toasts->toasts.size(), 1);
        QCOMPARE(toastCount(Kind::Info, QStringLiteral("暂不支持的解压格式")), 1);
        QVERIFY(snapshot(m_out).isEmpty());
    }

    void wrongPasswordsAskAgain_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("file");
        // RAR4 shows a wrong password only once the entry is decoded: each
        // try starts extracting.
        QTest::addColumn<int>("extracting");
        QTest::newRow("zip ZipCrypto") << fixture(QStringLiteral("zipcrypto.zip")) << QStringLiteral("secret")
                                       << QStringLiteral("hello.txt") << 1;
        QTest::newRow("zip AES") << fixture(QStringLiteral("aes.zip")) << QStringLiteral("secret")
                                 << QStringLiteral("hello.txt") << 1;
        QTest::newRow("rar5 data") << fixture(QStringLiteral("encrypted.rar")) << QStringLiteral("secret")
                                   << QStringLiteral("hello.txt") << 1;
        QTest::newRow("rar5 headers") << fixture(QStringLiteral("encrypted-headers.rar")) << QStringLiteral("secret")
                                      << QStringLiteral("hello.txt") << 1;
        QTest::newRow("rar4 data") << rar4(QStringLiteral("test_read_format_rar_encryption_data.rar"))
                                   << QStringLiteral("12345678") << QStringLiteral("foo.txt") << 3;
        QTest::newRow("rar4 headers") << rar4(QStringLiteral("test_read_format_rar_encryption_header.rar"))
                                      << QStringLiteral("12345678") << QStringLiteral("foo.txt") << 1;
    }
    void wrongPasswordsAskAgain()
    {
        QFETCH(QString, archive);
        QFETCH(QString, password);
        QFETCH(QString, file);
        QFETCH(int, extracting);
        REQUIRE_FILE(archive);
        m_panels->queuePassword(QStringLiteral("wrong"));
        m_panels->queuePassword(QStringLiteral("also wrong"));
        m_panels->queuePassword(password);
        JobLog log(archive);
        QVERIFY(extract(archive, log));
        QVERIFY(log.succeeded());
        QCOMPARE(m_panels->passwordRequests.size(), 3);
        for (const Panels::PasswordRequest& request : std::as_const(m_panels->passwordRequests)) {
            QCOMPARE(request.message, L(QStringLiteral("请输入解压密码")));
            QCOMPARE(request.archivePath, archive);
        }
        QCOMPARE(toastCount(Kind::Error, kWrongPassword), 2);
        QCOMPARE(toastCount(Kind::Info, kExtracting), extracting);
        QCOMPARE(toastCount(Kind::Success, kFinished), 1);
        QVERIFY(QFileInfo(m_out + u'/' + file).isFile());
        QCOMPARE(log.count(NotifyManager::ProcessCancel()), 0);
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
        QTest::newRow("lucky wrong ZipCrypto password") << QStringLiteral("zipcrypto.zip") << false << 2 << 1;
        QTest::newRow("damaged ZipCrypto data") << QStringLiteral("zipcrypto.zip") << true << 2 << 1;
        QTest::newRow("damaged AES data") << QStringLiteral("aes.zip") << true << 1 << 0;
    }
    void passwordsAreConfirmedByDecoding()
    {
        QFETCH(QString, archive);
        QFETCH(bool, damage);
        QFETCH(int, sheets);
        QFETCH(int, wrongToasts);
        archive = fixture(archive);
        QString password = QStringLiteral("secret");
        if (damage) {
            const QString damaged = m_root + QStringLiteral("/damaged.zip");
            QVERIFY(make(m_root, QStringLiteral("craft"), { QStringLiteral("damage"), archive, damaged }));
            archive = damaged;
            m_panels->queuePassword(password);
        } else {
            const ZipReader reader(archive);
            password.clear();
            for (int i = 0; i < 20000 && password.isEmpty(); ++i) {
                const QString candidate = QStringLiteral("guess%1").arg(i);
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
        QVERIFY(!snapshot(m_out).contains(QStringLiteral("hello.txt")));
        if (!damage)
            QVERIFY(snapshot(m_out).isEmpty());
    }

    void emptyPasswordIsAPassword()
    {
        const QString archive = fixture(QStringLiteral("empty-password.zip"));
        m_panels->queuePassword(QString());
        JobLog log(archive);
        QVERIFY(extract(archive, log));
        QVERIFY(log.succeeded());
        QCOMPARE(snapshot(m_out).value(QStringLiteral("opened.txt")),
            QStringLiteral("file:opened with the empty password\n"));
    }

    void cancelEndsTheJob_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::newRow("zip") << fixture(QStringLiteral("aes.zip"));
        QTest::newRow("rar") << fixture(QStringLiteral("encrypted-headers.rar"));
        QTest::newRow("7z") << fixture(QStringLiteral("encrypted-headers.7z"));
    }
    void cancelEndsTheJob()
    {
        QFETCH(QString, archive);
        m_panels->queueCancel();
        JobLog log(archive);
        QVERIFY(extract(archive, log));
        QVERIFY(!log.succeeded());
        QCOMPARE(log.names(), (QStringList { NotifyManager::ProcessCancel(), NotifyManager::JobDidEnd() }));
        QVERIFY(log.first(NotifyManager::ProcessCancel())->mainThread);
        QVERIFY(m_toasts->toasts.isEmpty());
        QVERIFY(snapshot(m_out).isEmpty());
    }

    void sevenZipPasswordsAreAskedOnce_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::newRow("data") << fixture(QStringLiteral("encrypted.7z"));
        QTest::newRow("headers") << fixture(QStringLiteral("encrypted-headers.7z"));
    }
    void sevenZipPasswordsAreAskedOnce()
    {
        QFETCH(QString, archive);
        m_panels->queuePassword(QStringLiteral("secret"));
        JobLog log(archive);
        QVERIFY(extract(archive, log));
        QVERIFY(log.succeeded());
        QCOMPARE(m_panels->passwordRequests.size(), 1);
        QCOMPARE(snapshot(m_out).value(QStringLiteral("dir/nested.txt")), QStringLiteral("file:nested file\n"));
    }

    // A failed 7z job posts the cancel notification from its worker, then
    // shows the error toast 0.3 s later; a wrong password is not asked again.
    void sevenZipFailureCancelsThenToasts_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("wrong password") << QStringLiteral("encrypted.7z");
        // Empty files and folders need no password: none may come out either.
        QTest::newRow("wrong password, empty file") << QStringLiteral("empty-and-secret.7z");
    }
    void sevenZipFailureCancelsThenToasts()
    {
        QFETCH(QString, name);
        const QString archive = sample(name);
        m_panels->queuePassword(QStringLiteral("wrong"));
        m_panels->queuePassword(QStringLiteral("secret"));
        JobLog log(archive);
        QVERIFY(extract(archive, log));
        QVERIFY(!log.succeeded());
        QCOMPARE(m_panels->passwordRequests.size(), 1);
        QCOMPARE(log.names(), (QStringList { NotifyManager::ProcessCancel(), NotifyManager::JobDidEnd() }));
        const auto cancel = log.first(NotifyManager::ProcessCancel());
        const auto end = log.first(NotifyManager::JobDidEnd());
        QVERIFY(!cancel->mainThread);
        QVERIFY2(end->atMs - cancel->atMs >= 290, qPrintable(QString::number(end->atMs - cancel->atMs)));
        QCOMPARE(m_toasts->toasts.last().kind, Kind::Error);
        QCOMPARE(m_toasts->toasts.last().text, L(kError));
        QVERIFY(snapshot(m_out).isEmpty());
    }

    void reviewIsAskedOncePerInstallation()
    {
        Defaults::standard().remove(QStringLiteral("app.HasRateKey"));
        const int before = StoreReview::requestCount();
        for (const char* name : { "plain.zip", "plain.rar" }) {
            const QString archive = fixture(QString::fromLatin1(name));
            JobLog log(archive);
            QVERIFY(extract(archive, log));
            QVERIFY(log.succeeded());
        }
        QCOMPARE(StoreReview::requestCount() - before, 1);
        QVERIFY(Defaults::standard().boolForKey(QStringLiteral("app.HasRateKey")));
    }

    void legacyNamesAreDecoded_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("GBK") << fixture(QStringLiteral("legacy-gbk.zip"))
                             << QStringList { QStringLiteral("报告.docx"), QStringLiteral("新建文件夹/说明.txt") };
        QTest::newRow("CP437") << fixture(QStringLiteral("legacy-cp437.zip"))
                               << QStringList { QStringLiteral("Café.txt"), QStringLiteral("Über/naïve.txt") };
        QTest::newRow("Unicode path field")
            << fixture(QStringLiteral("unicode-extra.zip")) << QStringList { QStringLiteral("日本語.txt") };
        QTest::newRow("ZIP64 records") << fixture(QStringLiteral("zip64.zip"))
                                       << QStringList { QStringLiteral("a.txt"), QStringLiteral("b/c.txt") };
    }
    void legacyNamesAreDecoded()
    {
        QFETCH(QString, archive);
        QFETCH(QStringList, names);
        JobLog log(archive);
        QVERIFY(extract(archive, log));
        QVERIFY(log.succeeded());
        for (const QString& name : names)
            QVERIFY2(QFileInfo(m_out + u'/' + name).isFile(), qPrintable(name));
    }

    void unsafeNamesAreRefused_data()
    {
        QTest::addColumn<QString>("archive");
        for (const char* format : { "zip", "rar", "7z" }) {
            for (const char* kind : { "dotdot", "absolute" }) {
                const QString name = QStringLiteral("hostile-%1.%2").arg(QLatin1String(kind), QLatin1String(format));
                QTest::newRow(qPrintable(name)) << fixture(name);
            }
        }
    }
    void unsafeNamesAreRefused()
    {
        QFETCH(QString, archive);
        JobLog log(archive);
        QVERIFY(extract(archive, log));
        QVERIFY(!log.succeeded());
        QCOMPARE(log.count(NotifyManager::LocalFilesDidChange()), 0);
        QCOMPARE(toastCount(Kind::Error, kError), 1);
        // Nothing at all, not even the harmless entry; nothing beside or above.
        QVERIFY(snapshot(m_out).isEmpty());
        QCOMPARE(topLevel(m_root), QStringList { QStringLiteral("out") });
        for (const char* outside : { "/tmp/zavrin-evil-absolute.txt", "/tmp/zavrin-fixture-evil", "/b/evil.txt" })
            QVERIFY2(!QFileInfo::exists(QString::fromLatin1(outside)), outside);
    }

    void linksNeverLeadOut_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::addColumn<QStringList>("extra"); // "path=snapshot value"
        QTest::newRow("zip") << QStringLiteral("hostile-links.zip") << QStringList();
        QTest::newRow("rar") << QStringLiteral("hostile-links.rar") << QStringList();
        QTest::newRow("7z") << QStringLiteral("hostile-links.7z") << QStringList();
        // A refused link named "x : y" must not take the file "x" with it.
        QTest::newRow("7z colon") << QStringLiteral("links-colon.7z")
                                  << QStringList { QStringLiteral("x=file:kept\n") };
        QTest::newRow("rar4") << QStringLiteral("links4.rar") << QStringList { QStringLiteral("keep/back=link:../in") };
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
        QVERIFY(!tree.value(QStringLiteral("up")).startsWith(u"link:"));
        QCOMPARE(topLevel(m_root), QStringList { QStringLiteral("out") });
        // "in" -> "sub" stays inside and is created; "in/x.txt" is not written through it.
        QCOMPARE(tree.value(QStringLiteral("in")), QStringLiteral("link:sub"));
        QVERIFY(!tree.contains(QStringLiteral("sub")));
        QVERIFY(!tree.contains(QStringLiteral("sub/x.txt")));
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
        const QString aes128 = QStringLiteral("AES128");
        const QString aes192 = QStringLiteral("AES192");
        const QString aes256 = QStringLiteral("AES256");
        const QString stored = QStringLiteral("Copy"), deflated = QStringLiteral("Deflate");
        const QStringList ae1 { QStringLiteral("ae1"), QStringLiteral("a.zip"), QStringLiteral("in") };
        const QStringList flip { QStringLiteral("flip"), QStringLiteral("a.zip"), QStringLiteral("big.txt") };
        QTest::newRow("AE-1 stored") << aes256 << stored << ae1 << true;
        QTest::newRow("AE-1 deflated") << aes128 << deflated << ae1 << true;
        QTest::newRow("AE-1 wrong CRC") << aes256 << deflated << (QStringList(ae1) << QStringLiteral("big.txt"))
                                        << false;
        QTest::newRow("AE-2 stored, changed byte") << aes256 << stored << flip << false;
        QTest::newRow("AE-2 deflated, changed byte") << aes192 << deflated << flip << false;
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
        const QMap<QString, QByteArray> files { { QStringLiteral("big.txt"), big },
            { QStringLiteral("mid.txt"), QByteArray(30, 'm') }, { QStringLiteral("small.txt"), "tiny\n" } };
        QDir().mkpath(m_root + QStringLiteral("/in"));
        for (auto it = files.cbegin(); it != files.cend(); ++it) {
            QFile file(m_root + QStringLiteral("/in/") + it.key());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(it.value());
        }
        const QString archive = m_root + QStringLiteral("/a.zip");
        QVERIFY(make(m_root + QStringLiteral("/in"), QStringLiteral("7zz"),
            { QStringLiteral("a"), QStringLiteral("-bd"), QStringLiteral("-bso0"), QStringLiteral("-tzip"),
                QStringLiteral("-mem=") + cipher, QStringLiteral("-mm=") + method, QStringLiteral("-psecret"), archive,
                QStringLiteral("big.txt"), QStringLiteral("mid.txt"), QStringLiteral("small.txt") }));
        QVERIFY(craft.isEmpty() || make(m_root, QStringLiteral("craft"), craft));

        m_panels->queuePassword(QStringLiteral("secret"));
        JobLog log(archive);
        QVERIFY(extract(archive, log));
        QCOMPARE(log.succeeded(), intact);
        QCOMPARE(toastCount(Kind::Error, kWrongPassword), 0);
        QCOMPARE(toastCount(Kind::Error, kError), intact ? 0 : 1);
        const auto tree = snapshot(m_out);
        QCOMPARE(tree.value(QStringLiteral("small.txt")), QStringLiteral("file:tiny\n"));
        QCOMPARE(tree.value(QStringLiteral("mid.txt")), QStringLiteral("file:") + QString(30, u'm'));
        if (intact)
            QCOMPARE(tree.value(QStringLiteral("big.txt")), QStringLiteral("file:") + QString::fromLatin1(big));
        else
            QVERIFY(!tree.contains(QStringLiteral("big.txt")));
        QVERIFY(!hasLeftovers(m_out));
    }

    // A stored target of "..\0x" must not turn into a link to "..".
    void linkTargetsWithNulAreRefused_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("zip") << QStringLiteral("zip");
        QTest::newRow("rar") << QStringLiteral("rar");
        QTest::newRow("7z") << QStringLiteral("7z");
    }
    void linkTargetsWithNulAreRefused()
    {
        QFETCH(QString, kind);
        QTemporaryDir work;
        const QString archive = work.filePath(QStringLiteral("up.") + kind);
        QVERIFY(make(work.path(), QStringLiteral("craft"),
            { QStringLiteral("link"), kind, archive, work.filePath(QStringLiteral("tree")) }));
        JobLog log(archive);
        QVERIFY(extract(archive, log));
        QVERIFY(!QFileInfo(m_out + QStringLiteral("/up")).isSymLink());
        QCOMPARE(topLevel(m_root), QStringList { QStringLiteral("out") });
    }

    void existingItemsAreKept_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::newRow("zip") << fixture(QStringLiteral("plain.zip"));
        QTest::newRow("rar") << fixture(QStringLiteral("plain.rar"));
        QTest::newRow("7z") << fixture(QStringLiteral("plain.7z"));
    }
    void existingItemsAreKept()
    {
        QFETCH(QString, archive);
        QFile mine(m_out + QStringLiteral("/hello.txt"));
        QVERIFY(mine.open(QIODevice::WriteOnly));
        mine.write("mine");
        mine.close();
        // Links in place are kept, and nothing is written through them.
        QVERIFY(QFile::link(QStringLiteral("nowhere"), m_out + QStringLiteral("/empty.txt")));
        QVERIFY(writeFile(m_root + QStringLiteral("/victim"), "victim"));
        QVERIFY(QFile::link(m_root + QStringLiteral("/victim"), m_out + QStringLiteral("/setuid.bin")));
        QFile inTheWay(m_out + QStringLiteral("/dir"));
        QVERIFY(inTheWay.open(QIODevice::WriteOnly));
        inTheWay.close();
        QVERIFY(QDir().mkdir(m_out + QStringLiteral("/link")));
        QVERIFY(QFile::link(m_root, m_out + QStringLiteral("/empty-dir")));

        JobLog log(archive);
        QVERIFY(extract(archive, log));
        QVERIFY(log.succeeded());
        const auto tree = snapshot(m_out);
        QCOMPARE(tree.value(QStringLiteral("hello.txt")), QStringLiteral("file:mine"));
        QCOMPARE(tree.value(QStringLiteral("empty.txt")), QStringLiteral("link:nowhere"));
        QVERIFY(!QFileInfo::exists(m_out + QStringLiteral("/nowhere")));
        QCOMPARE(snapshot(m_root).value(QStringLiteral("victim")), QStringLiteral("file:victim"));
        QCOMPARE(tree.value(QStringLiteral("dir")), QStringLiteral("file:"));
        QCOMPARE(tree.value(QStringLiteral("link")), QStringLiteral("dir"));
        QCOMPARE(tree.value(QStringLiteral("empty-dir")), QStringLiteral("link:") + m_root);
        QCOMPARE(tree.value(QStringLiteral("tool.sh")), QStringLiteral("file:#!/bin/sh\necho tool\n"));
        QVERIFY(!hasLeftovers(m_out));
        QCOMPARE(topLevel(m_root), (QStringList { QStringLiteral("out"), QStringLiteral("victim") }));
    }

    void failedEntriesLeaveNothing_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::addColumn<QString>("broken");
        QTest::newRow("zip checksum") << QStringLiteral("crc-error.zip") << QStringLiteral("bad.txt");
        QTest::newRow("zip longer than listed") << QStringLiteral("size-lie.zip") << QStringLiteral("bad.txt");
        QTest::newRow("rar cut short") << QStringLiteral("cut.rar") << QStringLiteral("second.bin");
        QTest::newRow("7z checksum") << QStringLiteral("crc-error.7z") << QStringLiteral("bad.txt");
        QTest::newRow("7z checksum, colon in name") << QStringLiteral("colon-crc.7z") << QStringLiteral("a : b.txt");
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
        QCOMPARE(tree.value(QStringLiteral("good.txt")), QStringLiteral("file:") + QString(100, u'G'));
        QVERIFY(!tree.contains(broken));
        QVERIFY(!hasLeftovers(m_out));
    }

    // Zip entries are shared out among the cores, but where their order
    // decides what is kept (one name twice, a file where a later entry needs
    // a folder) the first in the archive wins, as one by one.
    void zipEntriesInEachOthersWayKeepArchiveOrder()
    {
        const QString archive = sample(QStringLiteral("order.zip"));
        JobLog log(archive);
        QVERIFY(extract(archive, log));
        QVERIFY(log.succeeded());
        const auto tree = snapshot(m_out);
        QCOMPARE(tree.value(QStringLiteral("same.txt")), QStringLiteral("file:first\n"));
        QCOMPARE(tree.value(QStringLiteral("a")), QStringLiteral("file:a file\n"));
        QVERIFY(!tree.contains(QStringLiteral("a/b.txt")));
        QCOMPARE(
            tree.value(QStringLiteral("f39.txt")), QStringLiteral("file:") + QStringLiteral("file 39\n").repeated(50));
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
        QTest::newRow("zip") << QStringLiteral("zip") << QStringList { QStringLiteral("-qr") } << QString();
        QTest::newRow("rar5") << QStringLiteral("rar") << QStringList { QStringLiteral("a"), QStringLiteral("-idq") }
                              << QString();
        QTest::newRow("rar5 solid") << QStringLiteral("rar")
                                    << QStringList { QStringLiteral("a"), QStringLiteral("-idq"), QStringLiteral("-s") }
                                    << QString();
        QTest::newRow("rar5 encrypted") << QStringLiteral(
            "rar") << QStringList { QStringLiteral("a"), QStringLiteral("-idq"), QStringLiteral("-psecret") }
                                        << QStringLiteral("secret");
    }
    void manyEntriesComeOutWhole()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, options);
        QFETCH(QString, password);
        const QString source = m_root + QStringLiteral("/source");
        for (int i = 0; i < 120; ++i) {
            const QByteArray line = "entry " + QByteArray::number(i) + " of the tree\n";
            QVERIFY(writeFile(source + QStringLiteral("/d%1/f%2.txt").arg(i % 6).arg(i), line.repeated(i * i % 9000)));
        }
        const QString archive = m_root + QStringLiteral("/many.") + program;
        QVERIFY(make(source, program,
            options
                + QStringList { archive, QStringLiteral("d0"), QStringLiteral("d1"), QStringLiteral("d2"),
                    QStringLiteral("d3"), QStringLiteral("d4"), QStringLiteral("d5") }));
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
        const QString archive = m_root + QStringLiteral("/many.zip");
        QVERIFY(make(m_root, QStringLiteral("craft"), { QStringLiteral("many"), QStringLiteral("100000"), archive }));
        JobLog log(archive);
        QElapsedTimer call;
        call.start();
        ZipManager::shared().unzipFileAtPath(archive, m_out);
        const qint64 returned = call.elapsed();
        QVERIFY(log.waitForEnd());
        QVERIFY2(returned < 50, qPrintable(QString::number(returned)));
        QVERIFY(log.succeeded());
        QCOMPARE(snapshot(m_out).value(QStringLiteral("last.txt")), QStringLiteral("file:the last entry\n"));
        const int posted = log.count(NotifyManager::UnzipProgress());
        QVERIFY2(posted <= 102 + log.elapsed() / 50, qPrintable(QString::number(posted)));
        QCOMPARE(toastCount(Kind::Info, kExtracting), 1);
    }

    void unreadableArchivesFail_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::addColumn<bool>("writesNothing");
        QTest::newRow("zip") << QStringLiteral("truncated.zip") << true;
        QTest::newRow("rar") << QStringLiteral("truncated.rar") << false; // entries before the cut stay
        QTest::newRow("7z") << QStringLiteral("truncated.7z") << true;
        // The 7z back-end reads 7z archives only, whatever the name says.
        QTest::newRow("tar named 7z") << QStringLiteral("tar.7z") << true;
        QTest::newRow("zip named 7z") << QStringLiteral("plain.zip:as.7z") << true;
    }
    void unreadableArchivesFail()
    {
        QFETCH(QString, archive);
        QFETCH(bool, writesNothing);
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
        QCOMPARE(toastCount(Kind::Error, kError), 1);
        QCOMPARE(m_panels->passwordRequests.size(), 0);
        if (writesNothing)
            QVERIFY(snapshot(m_out).isEmpty());
    }

    void permissionBitsAsStored_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::newRow("zip") << QStringLiteral("modes.zip");
        QTest::newRow("rar") << QStringLiteral("modes.rar");
        QTest::newRow("7z") << QStringLiteral("modes.7z");
    }
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
        QCOMPARE(lstatOf(m_out + QStringLiteral("/open.txt")).st_mode & 07777, 0666u);
        QCOMPARE(lstatOf(m_out + QStringLiteral("/private.txt")).st_mode & 07777, 0600u);
        QCOMPARE(lstatOf(m_out + QStringLiteral("/shared")).st_mode & 07777, 0777u);
        QCOMPARE(lstatOf(m_out + QStringLiteral("/shared/f.txt")).st_mode & 07777, 0640u);
    }

    // Paths reach 7zz without its wildcard, switch or list-file rules.
    void sevenZipPathsAreLiteral_data()
    {
        QTest::addColumn<QString>("archiveName");
        QTest::addColumn<QString>("folderName");
        QTest::newRow("question mark, star") << QStringLiteral("a?.7z") << QStringLiteral("out*dir");
        QTest::newRow("spaces, dash, at, bracket") << QStringLiteral("  -@[a].7z") << QStringLiteral("  -@[o]ut");
    }
    void sevenZipPathsAreLiteral()
    {
        QFETCH(QString, archiveName);
        QFETCH(QString, folderName);
        const QString archive = m_root + u'/' + archiveName;
        QVERIFY(QFile::copy(fixture(QStringLiteral("plain.7z")), archive));
        // Decoys that the wildcards would match.
        QVERIFY(QFile::copy(fixture(QStringLiteral("hostile-links.7z")), m_root + QStringLiteral("/ab.7z")));
        QVERIFY(QFile::copy(fixture(QStringLiteral("hostile-links.7z")), m_root + QStringLiteral("/a.7z")));
        m_out = m_root + u'/' + folderName;
        JobLog log(archive);
        QVERIFY(extract(archive, log));
        QVERIFY(log.succeeded());
        QCOMPARE(snapshot(m_out), plainTree());
        QCOMPARE(topLevel(m_root).size(), 5);
    }

    void sevenZipFullDiskFails()
    {
        const QString archive = sample(QStringLiteral("full.7z"));
        if (::geteuid() != 0 || ::mount("tmpfs", QFile::encodeName(m_out).constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP("cannot mount a small file system here");
        JobLog log(archive);
        const bool ended = extract(archive, log);
        const auto tree = snapshot(m_out);
        ::umount(QFile::encodeName(m_out).constData());
        QVERIFY(ended);
        QVERIFY(!log.succeeded());
        QCOMPARE(toastCount(Kind::Error, kError), 1);
        QVERIFY(!tree.contains(QStringLiteral("big.bin")));
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
        const QString a = QStringLiteral("first file content\n");
        const QString same = QStringLiteral("same bytes here, long enough\n");
        QTest::newRow("fresh") << QStringList() << true
                               << QStringList { QStringLiteral("d/hard.txt=file:") + a,
                                      QStringLiteral("d/same2.txt=file:") + same };
        // The user's own a.txt is kept and never becomes the link's content.
        QTest::newRow("target kept") << QStringList { QStringLiteral("a.txt") } << false
                                     << QStringList { QStringLiteral("a.txt=file:mine"),
                                            QStringLiteral("d/same2.txt=file:") + same };
        QTest::newRow("extracted again") << QStringList { QStringLiteral("a.txt"), QStringLiteral("d/hard.txt"),
            QStringLiteral("same1.txt"), QStringLiteral("d/same2.txt") }
                                         << true
                                         << QStringList { QStringLiteral("a.txt=file:mine"),
                                                QStringLiteral("d/hard.txt=file:mine"),
                                                QStringLiteral("d/same2.txt=file:mine") };
    }
    void rarLinksToEarlierEntries()
    {
        QFETCH(QStringList, existing);
        QFETCH(bool, succeeds);
        QFETCH(QStringList, expected);
        const QString archive = sample(QStringLiteral("links.rar"));
        for (const QString& name : std::as_const(existing))
            QVERIFY(writeFile(m_out + u'/' + name, "mine"));
        JobLog log(archive);
        QVERIFY(extract(archive, log));
        QCOMPARE(log.succeeded(), succeeds);
        const auto tree = snapshot(m_out);
        for (const QString& item : std::as_const(expected))
            QCOMPARE(tree.value(item.section(u'=', 0, 0)), item.section(u'=', 1));
        if (existing.isEmpty())
            QCOMPARE(lstatOf(m_out + QStringLiteral("/d/hard.txt")).st_ino,
                lstatOf(m_out + QStringLiteral("/a.txt")).st_ino);
        else if (!succeeds)
            QVERIFY(!tree.contains(QStringLiteral("d/hard.txt")));
        QVERIFY(!hasLeftovers(m_out));
    }

    void rarVolumes_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("missing");
        QTest::addColumn<bool>("succeeds");
        QTest::newRow("from the middle") << QStringLiteral("vol.part2.rar") << QString() << true;
        QTest::newRow("first missing") << QStringLiteral("vol.part2.rar") << QStringLiteral("vol.part1.rar") << false;
        QTest::newRow("middle missing") << QStringLiteral("vol.part1.rar") << QStringLiteral("vol.part3.rar") << false;
    }
    void rarVolumes()
    {
        QFETCH(QString, start);
        QFETCH(QString, missing);
        QFETCH(bool, succeeds);
        sample(QStringLiteral("vol.rar"));
        if (!missing.isEmpty())
            QVERIFY(QFile::remove(m_samples->filePath(missing)));
        const QString archive = m_samples->filePath(start);
        JobLog log(archive);
        QVERIFY(extract(archive, log));
        QCOMPARE(log.succeeded(), succeeds);
        const auto tree = snapshot(m_out);
        if (succeeds)
            QCOMPARE(QFileInfo(m_out + QStringLiteral("/big.bin")).size(), 70000);
        else
            QVERIFY2(tree.isEmpty(), qPrintable(tree.keys().join(u' ')));
    }
};

ZAVRIN_TEST(ExtractionTest)
#include "tst_extraction.moc"
