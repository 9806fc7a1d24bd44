// Extraction jobs end to end through ZipManager, with scripted password
// sheets and recorded toasts, on real archives of every format: what every
// format promises alike.
#include "platform/Defaults.h"
#include "platform/StoreReview.h"
#include "tests/engine/ExtractionFixture.h"
#include "tests/support/TestMain.h"

#include <sys/stat.h>
#include <unistd.h>

using namespace ExtractionTesting;

namespace {

// The plain tree in every format, the tar family among them.
void plainRows()
{
    formatRows(u"plain"_s);
    QTest::newRow("tar.gz") << u"plain.tar.gz"_s;
    QTest::newRow("TAR.ZST") << u"plain.tar.zst:PLAIN.TAR.ZST"_s;
}

} // namespace

class ExtractionTest final : public ExtractionFixture {
    Q_OBJECT

private slots:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    void plainArchivesComeOutAsStored_data() { plainRows(); }

    void plainArchivesComeOutAsStored()
    {
        QFETCH(QString, archive);
        archive = sample(archive);
        Defaults::standard().remove(u"app.HasRateKey"_s);
        const int reviews = StoreReview::requestCount();
        QVERIFY(succeeds(archive));
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
        QCOMPARE(m_log->names(), (QStringList { NotifyManager::LocalFilesDidChange(), NotifyManager::JobDidEnd() }));
        const QList<JobLog::Event> events = m_log->events();
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
        QVERIFY(succeeds(archive));
        QCOMPARE(m_panels->passwordRequests.size(), wrong + 1);
        for (const Panels::PasswordRequest& request : std::as_const(m_panels->passwordRequests)) {
            QCOMPARE(request.message, L(u"请输入解压密码"_s));
            QCOMPARE(request.archivePath, archive);
        }
        QCOMPARE(toastCount(Kind::Error, kWrongPassword), wrong);
        QCOMPARE(toastCount(Kind::Info, kExtracting), extracting);
        QCOMPARE(toastCount(Kind::Success, kFinished), 1);
        QVERIFY(QFileInfo(m_out + u'/' + file).size() > 0);
        QCOMPARE(m_log->count(NotifyManager::ProcessCancel()), 0);
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
        QVERIFY(fails(archive));
        QCOMPARE(m_panels->passwordRequests.size(), sheets);
        QCOMPARE(toastCount(Kind::Error, kWrongPassword), wrongToasts);
        QCOMPARE(toastCount(Kind::Error, kError), damage ? 1 : 0);
        QCOMPARE(m_log->count(NotifyManager::ProcessCancel()), damage ? 0 : 1);
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
        QVERIFY(fails(archive));
        QCOMPARE(m_panels->passwordRequests.size(), 1);
        QCOMPARE(m_log->names(), (QStringList { NotifyManager::ProcessCancel(), NotifyManager::JobDidEnd() }));
        const auto cancelled = m_log->first(NotifyManager::ProcessCancel());
        QCOMPARE(cancelled->mainThread, cancel);
        QVERIFY(snapshot(m_out).isEmpty());
        if (cancel) {
            QVERIFY(m_toasts->toasts.isEmpty());
            return;
        }
        const qint64 wait = m_log->first(NotifyManager::JobDidEnd())->atMs - cancelled->atMs;
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
        QTest::newRow("Unicode path field") << u"unicode-extra.zip"_s << QStringList { u"日本語.txt"_s };
        QTest::newRow("ZIP64 records") << u"zip64.zip"_s << QStringList { u"a.txt"_s, u"b/c.txt"_s };
    }

    void namesAreDecoded()
    {
        QFETCH(QString, archive);
        QFETCH(QStringList, names);
        archive = sample(archive);
        REQUIRE_FILE(archive);
        QVERIFY(succeeds(archive));
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
        QVERIFY(fails(archive));
        QCOMPARE(m_log->count(NotifyManager::LocalFilesDidChange()), 0);
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
        QVERIFY(succeeds(archive));
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
        QVERIFY(ends(archive, intact));
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

    void existingItemsAreKept_data() { plainRows(); }

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

        QVERIFY(succeeds(archive));
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
        QVERIFY(fails(archive));
        QCOMPARE(toastCount(Kind::Error, kError), 1);
        QCOMPARE(toastCount(Kind::Success, kFinished), 0);
        const auto tree = snapshot(m_out);
        QCOMPARE(tree.value(u"good.txt"_s), u"file:"_s + QString(100, u'G'));
        QVERIFY(!tree.contains(broken));
        QVERIFY(!hasLeftovers(m_out));
    }

    // Nothing readable: one error toast and no sheet. Extensions are
    // matched exactly, and what is not one of the three is not opened.
    void unreadableArchivesFail_data()
    {
        QTest::addColumn<QString>("archive"); // a sample, or "sample:name of a copy"
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
        archive = sample(archive);
        QVERIFY(fails(archive));
        QCOMPARE(m_log->count(NotifyManager::LocalFilesDidChange()), 0);
        if (toast.isEmpty()) {
            QCOMPARE(toastCount(Kind::Error, kError), 1);
        } else { // told apart before any work
            QCOMPARE(m_log->names(), QStringList { NotifyManager::JobDidEnd() });
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
        const bool succeeded = succeeds(archive);
        ::umask(previous);
        QVERIFY(succeeded);
        // Past the umask, but never set-uid, set-gid or sticky.
        QCOMPARE(lstatOf(m_out + u"/open.txt"_s).st_mode & 07777, 0666u);
        QCOMPARE(lstatOf(m_out + u"/private.txt"_s).st_mode & 07777, 0600u);
        QCOMPARE(lstatOf(m_out + u"/shared"_s).st_mode & 07777, 0777u);
        QCOMPARE(lstatOf(m_out + u"/shared/f.txt"_s).st_mode & 07777, 0640u);
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
        QVERIFY(fails(archive));
        QVERIFY(snapshot(m_out).isEmpty());
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
        QVERIFY(extracted(archive));
        QCOMPARE(QFileInfo::exists(m_out), stays);
        QCOMPARE(QFileInfo::exists(m_root + u"/new"_s), stays);
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
        // 7zz tells its percentage five times a second. PPMd decodes every
        // byte through its model, so the entry takes a second or two
        // whatever the disk, where LZMA would be done before the second report.
        QTest::newRow("7z") << u"7zz"_s << QStringList { u"a"_s, u"-bso0"_s, u"-m0=PPMd"_s, u"big.7z"_s, u"big.bin"_s }
                            << 4;
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
        QVERIFY(succeeds(archive));
        const QList<double> values = m_log->progress();
        QVERIFY2(values.size() > reports, qPrintable(QString::number(values.size())));
        QVERIFY(std::is_sorted(values.cbegin(), values.cend()));
        QCOMPARE(values.last(), 1.0);
        QCOMPARE(QFileInfo(m_out + u"/big.bin"_s).size(), big.size());
    }
};

ZAVRIN_TEST(ExtractionTest)
#include "tst_extraction.moc"
