#include "ZipEncodeAhead.h"
#include "ZipOutputFile.h"
#include "ZipSourceFile.h"
#include "engine/JobModels.h"
#include "engine/NotifyManager.h"
#include "engine/ZipManager.h"
#include "engine/zipwrite/StagingArea.h"
#include "platform/Bundle.h"
#include "platform/Defaults.h"
#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"
#include "tests/engine/ArchiveTesting.h"
#include "tests/engine/JobLog.h"
#include "tests/support/RecordingToasts.h"
#include "tests/support/TestMain.h"
#include "tests/support/ZipInspection.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

using namespace ZipInspection;
using namespace ArchiveTesting;

namespace {

constexpr time_t kOddSecond = 1600000001; // DOS times cannot hold it; the UT field can

} // namespace

class CompressionTest final : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<OwnTemporaryDirectory> m_tmp;

    QString path(const QString& relative) const { return m_dir.filePath(relative); }
    QString stagingRoot() const { return path(u"tmp/zavrin-"_s) + QString::number(::geteuid()); }
    QStringList jobFolders() const
    {
        return QDir(stagingRoot()).entryList({ u"job-*"_s }, QDir::Dirs | QDir::NoDotAndDotDot);
    }

    // Runs one job to its end; its notifications all come on the main thread.
    void run(JobLog& log, const QString& archive, const QStringList& items,
        const std::optional<QString>& password = std::nullopt, bool needSpeed = true)
    {
        ZipManager::shared().zipFileAtPath(archive, models(items), password, needSpeed);
        QVERIFY(log.waitForEnd());
        QVERIFY(log.endedOnceOnMain());
    }

    // A file, a folder of modes, times, links and odd names, and noise.
    QStringList threeItems()
    {
        writeFile(path(u"one/a.txt"_s), "alpha\n");
        writeFile(path(u"two/b/inside.txt"_s), "inside\n");
        writeFile(path(u"two/b/run.sh"_s), "#!/bin/sh\n");
        ::chmod(QFile::encodeName(path(u"two/b/run.sh"_s)).constData(), 0750);
        writeFile(path(u"two/b/文件 ü.txt"_s), "unicode\n");
        writeFile(path(u"two/b/zero"_s), {});
        QDir().mkpath(path(u"two/b/empty"_s));
        ::symlink("inside.txt", QFile::encodeName(path(u"two/b/near"_s)).constData());
        ::symlink("/etc/passwd", QFile::encodeName(path(u"two/b/far"_s)).constData());
        setTimes(path(u"two/b/inside.txt"_s), { kOddSecond, 0 });
        setTimes(path(u"two/b/empty"_s), { kOddSecond + 10, 0 });
        writeFile(path(u"three/c.png"_s), randomBytes(3000));
        return { path(u"one/a.txt"_s), path(u"two/b"_s), path(u"three/c.png"_s) };
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // Staging goes to the temporary directory: give the tests their own.
        m_tmp = std::make_unique<OwnTemporaryDirectory>(path(u"tmp"_s));
    }
    void cleanupTestCase() { m_tmp.reset(); }

    void successfulJob()
    {
        RecordingToasts toasts;
        Defaults::standard().remove(u"app.HasRateKey"_s);
        const QString archive = path(u"out/Archive.zip"_s);
        QDir().mkpath(path(u"out"_s));
        JobLog watcher(archive);
        QStringList items = threeItems();
        items.move(2, 0); // top-level items keep the order they were chosen in
        run(watcher, archive, items);

        QVERIFY(watcher.succeeded());
        QCOMPARE(watcher.names(), (QStringList { NotifyManager::LocalFilesDidChange(), NotifyManager::JobDidEnd() }));
        // Progress climbs to 1 as a float, never going back, and the last
        // report comes before the success.
        const QList<JobLog::Event> events = watcher.events();
        const JobLog::Event& last = events.at(events.size() - 3);
        QCOMPARE(last.name, NotifyManager::ZipProgress());
        QCOMPARE(last.object.value(NotifyManager::progressKey()).typeId(), QMetaType::Float);
        QVERIFY(watcher.progressedWithin(0));

        QTRY_COMPARE(toasts.toasts.size(), 2);
        QCOMPARE(toasts.count(RecordingToasts::Kind::Info, L(u"压缩文件中..."_s)), 1);
        QCOMPARE(toasts.count(RecordingToasts::Kind::Success, L(u"压缩完成"_s)), 1);
        QVERIFY(Defaults::standard().boolForKey(u"app.HasRateKey"_s));

        QCOMPARE(orderedNames(archive),
            (QStringList { u"c.png"_s, u"a.txt"_s, u"b/"_s, u"b/empty/"_s, u"b/far"_s, u"b/inside.txt"_s, u"b/near"_s,
                u"b/run.sh"_s, u"b/zero"_s, u"b/文件 ü.txt"_s }));
        const auto all = entries(archive);
        QVERIFY(all[u"b/文件 ü.txt"_s][u"flags"_s].toInt() & 0x800); // names flagged UTF-8
        QCOMPARE(all[u"b/run.sh"_s][u"system"_s].toInt(), 3);
        QCOMPARE(all[u"b/empty/"_s][u"ut"_s].toInteger(), qint64(kOddSecond + 10));
        // Links inside an item stay links: the target text, never the file behind it.
        QCOMPARE(unixMode(all[u"b/far"_s]) & S_IFMT, quint32(S_IFLNK));
        QCOMPARE(data(all[u"b/far"_s]), QByteArray("/etc/passwd"));
        // And a real reader puts it all back.
        const QString out = path(u"successful-out"_s);
        QVERIFY(sevenZipExtract(archive, out));
        QCOMPARE(readFile(out + u"/c.png"_s), randomBytes(3000));
        QCOMPARE(readFile(out + u"/b/文件 ü.txt"_s), QByteArray("unicode\n"));
        QCOMPARE(lstatOf(out + u"/b/run.sh"_s).st_mode & 07777, mode_t(0750));
        QCOMPARE(lstatOf(out + u"/b/inside.txt"_s).st_mtim.tv_sec, kOddSecond);
        QVERIFY(S_ISDIR(lstatOf(out + u"/b/empty"_s).st_mode));
        QCOMPARE(QFile::symLinkTarget(out + u"/b/near"_s), out + u"/b/inside.txt"_s);
        QCOMPARE(jobFolders(), QStringList());
        QCOMPARE(lstatOf(stagingRoot()).st_mode & 07777, mode_t(0700));
        QVERIFY(QFile::exists(path(u"one/a.txt"_s)));
    }

    // Anything chosen that cannot be read, a second item with a name
    // already taken, a file that changes while it is read, a password that
    // cannot be kept, or nothing to pack fails the job and leaves no
    // archive, and the log names it; pipes inside folders are only skipped.
    void whatCannotBePackedFailsTheJob_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("culprit"); // what the log must name; empty: the job succeeds
        QTest::addColumn<QString>("status"); // how the job ended
        QTest::newRow("file without read permission in a folder")
            << u"file 000"_s << u"box/secret.txt"_s << u"NoPermission"_s;
        QTest::newRow("folder that cannot be listed") << u"folder 000"_s << u"box/locked"_s << u"NoPermission"_s;
        QTest::newRow("chosen file without read permission") << u"chosen 000"_s << u"chosen.txt"_s << u"NoPermission"_s;
        QTest::newRow("chosen link that leads nowhere") << u"dangling"_s << u"nowhere"_s << u"Failed"_s;
        QTest::newRow("second item with the same name") << u"same name"_s << u"other/chosen.txt"_s << u"NameTaken"_s;
        QTest::newRow("pipe in a folder") << u"pipe"_s << QString() << u"Done"_s;
        QTest::newRow("nothing but missing items") << u"missing"_s << u"missing/one"_s << u"Failed"_s;
        QTest::newRow("nothing but a pipe") << u"only pipe"_s << u"only-pipe"_s << u"Failed"_s;
        QTest::newRow("large file truncated while read") << u"truncated"_s << u"box/large.bin"_s << u"Changed"_s;
        QTest::newRow("password with a NUL") << u"nul"_s << u"NUL"_s << u"Unsupported"_s;
    }
    void whatCannotBePackedFailsTheJob()
    {
        QFETCH(QString, setup);
        QFETCH(QString, culprit);
        QFETCH(QString, status);
        if (setup.endsWith(u"000") && ::geteuid() == 0)
            QSKIP("root reads files of any mode; the command-line test covers this as another user");
        // The log names what went wrong: the culprit once, a skipped pipe.
        const auto logged = [](const QString& pattern) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(pattern));
            QTest::failOnWarning(QRegularExpression(pattern));
        };
        if (culprit.isEmpty())
            logged(u"压缩时跳过: .*box/pipe"_s);
        else
            logged(u"compression failed: .*"_s + QRegularExpression::escape(culprit));
        if (setup == u"same name")
            logged(u"复制到临时文件夹错误: .*"_s + QRegularExpression::escape(culprit));
        RecordingToasts toasts;
        QTemporaryDir dir;
        const auto at = [&dir](const char* name) { return dir.filePath(QString::fromLatin1(name)); };
        writeFile(at("box/ok.txt"), "ok");
        writeFile(at("box/secret.txt"), "secret");
        writeFile(at("box/locked/inner.txt"), "inner");
        writeFile(at("chosen.txt"), "chosen");
        QStringList items { at("box"), at("chosen.txt") };
        const QString locked = at(setup == u"folder 000" ? "box/locked"
                : setup == u"file 000"                   ? "box/secret.txt"
                                                         : "chosen.txt");
        if (setup.endsWith(u"000"))
            QCOMPARE(::chmod(QFile::encodeName(locked).constData(), 0), 0);
        if (setup == u"dangling") {
            QVERIFY(QFile::link(at("missing"), at("nowhere")));
            items.append(at("nowhere"));
        }
        if (setup == u"pipe")
            QCOMPARE(::mkfifo(QFile::encodeName(at("box/pipe")).constData(), 0600), 0);
        if (setup == u"same name") {
            writeFile(at("other/chosen.txt"), "other");
            items.append(at("other/chosen.txt"));
        }
        if (setup == u"missing")
            items = QStringList { at("missing/one") };
        if (setup == u"only pipe") {
            QCOMPARE(::mkfifo(QFile::encodeName(at("only-pipe")).constData(), 0600), 0);
            items = QStringList { at("only-pipe") };
        }
        if (setup == u"truncated") {
            const std::string large = QFile::encodeName(at("box/large.bin")).toStdString();
            writeFile(at("box/large.bin"), randomBytes(qsizetype(ZipEncodeAhead::kLargestWhole) * 2));
            ZipSourceFile::setReadHookForTesting([large](const std::string& file, std::uint64_t offset) {
                if (file == large && offset == ZipEncodeAhead::kPieceSize && ::truncate(large.c_str(), 10) != 0)
                    qWarning("cannot truncate %s", large.c_str());
            });
        }
        std::optional<QString> password;
        if (setup == u"nul")
            password = QString::fromUtf16(u"abc\0zzz", 7);

        const QString archive = at("out.zip");
        JobLog watcher(archive);
        run(watcher, archive, items, password);
        ZipSourceFile::setReadHookForTesting({});
        ::chmod(QFile::encodeName(locked).constData(), 0700);
        QCOMPARE(watcher.status(), status);

        if (culprit.isEmpty()) {
            QVERIFY(watcher.succeeded());
            const QStringList packed { u"box/"_s, u"box/locked/"_s, u"box/locked/inner.txt"_s, u"box/ok.txt"_s,
                u"box/secret.txt"_s, u"chosen.txt"_s };
            QCOMPARE(orderedNames(archive), packed);
            return;
        }
        QVERIFY(!watcher.succeeded());
        if (setup == u"missing" || setup == u"only pipe" || setup == u"nul")
            QCOMPARE(watcher.events().size(), 1); // told apart before any work
        QVERIFY(watcher.reason().contains(culprit));
        QTRY_COMPARE(toasts.count(RecordingToasts::Kind::Error, L(u"创建压缩文件错误"_s)), 1);
        QVERIFY(!QFile::exists(archive));
        QCOMPARE(QDir(dir.path()).entryList({ u".out.zip*"_s }, QDir::Files | QDir::Hidden), QStringList());
    }

    // Speed is level 1, size level 9, and they differ. A password encrypts
    // every file entry with AES-256, large ones too, which are compressed in
    // pieces side by side and encrypted in order as one stream each.
    void levelAndPasswordReachTheArchive()
    {
        ZipModel speedOption, sizeOption;
        sizeOption.level = 9;
        const QByteArray text = wordSoup(400000);
        writeFile(path(u"levels/text.txt"_s), text);
        const QStringList items { path(u"levels/text.txt"_s) };
        const auto bigSize = static_cast<qsizetype>(ZipEncodeAhead::kLargestWhole + ZipEncodeAhead::kPieceSize + 12345);
        QByteArray big;
        for (int i = 0; big.size() < bigSize; ++i)
            big += "row " + QByteArray::number(i) + ": " + QByteArray::number(i * 2654435761u % 1000003) + '\n';
        const QMap<QString, QByteArray> files { { u"big.txt"_s, big }, { u"noise.bin"_s, randomBytes(bigSize) },
            { u"small.txt"_s, "small" } };
        for (auto it = files.cbegin(); it != files.cend(); ++it)
            writeFile(path(u"large/"_s + it.key()), it.value());

        const QString fast = path(u"fast.zip"_s);
        const QString small = path(u"small.zip"_s);
        const QString locked = path(u"locked.zip"_s);
        const QString password = u"s3cret pässword"_s;
        JobLog fastWatcher(fast), smallWatcher(small), lockedWatcher(locked);
        run(fastWatcher, fast, items, std::nullopt, speedOption.needSpeed());
        run(smallWatcher, small, items, std::nullopt, sizeOption.needSpeed());
        run(lockedWatcher, locked, { path(u"large"_s) }, password);

        const auto size
            = [](const QString& archive) { return entries(archive).value(u"text.txt"_s)[u"csize"_s].toInteger(); };
        QVERIFY2(size(small) < size(fast) * 0.97, qPrintable(u"%1 vs %2"_s.arg(size(small)).arg(size(fast))));
        QVERIFY(sevenZipTest(small));
        QCOMPARE(entries(fast).value(u"text.txt"_s)[u"flags"_s].toInt() & 1, 0);

        const auto all = entries(locked);
        QCOMPARE(all.size(), 4);
        for (const QJsonObject& entry : all) {
            const bool folder = entry[u"name"_s].toString().endsWith(u'/');
            QCOMPARE(bool(entry[u"flags"_s].toInt() & 1), !folder);
            QCOMPARE(entry[u"method"_s].toInt(), folder ? 0 : 99);
            QCOMPARE(entry[u"aes"_s][u"strength"_s].toInt(), folder ? 0 : 3);
            QCOMPARE(entry[u"aes"_s][u"vendor"_s].toString(), folder ? QString() : u"AE"_s);
        }
        QCOMPARE(all[u"large/big.txt"_s][u"size"_s].toInteger(), qint64(big.size()));
        QVERIFY(!sevenZipTest(locked, u"wrong"_s));
        const QString out = path(u"locked-out"_s);
        QVERIFY(sevenZipExtract(locked, out, password));
        for (auto it = files.cbegin(); it != files.cend(); ++it)
            QVERIFY2(readFile(out + u"/large/"_s + it.key()) == it.value(), qPrintable(it.key()));
    }

    // What ended jobs left is removed, older versions' staging folders too;
    // a folder a live job holds is not.
    void leftoversOfEndedJobsAreRemoved()
    {
        QDir().mkpath(stagingRoot());
        writeFile(stagingRoot() + u"/Leftover/stale.txt"_s, "stale");
        writeFile(stagingRoot() + u"/job-ended1/Leftover/stale.txt"_s, "stale");
        writeFile(stagingRoot() + u"/job-alive1/Leftover/busy.txt"_s, "busy");
        const int alive
            = ::open(QFile::encodeName(stagingRoot() + u"/job-alive1"_s).constData(), O_RDONLY | O_DIRECTORY);
        QCOMPARE(::flock(alive, LOCK_EX), 0);
        writeFile(path(u"fresh/new.txt"_s), "new");
        const QString archive = path(u"Leftover.zip"_s);
        JobLog watcher(archive);
        run(watcher, archive, { path(u"fresh/new.txt"_s) });
        ::close(alive);

        QVERIFY(watcher.succeeded());
        QCOMPARE(entries(archive).keys(), QStringList { u"new.txt"_s });
        QVERIFY(!QFileInfo::exists(stagingRoot() + u"/Leftover"_s));
        QCOMPARE(jobFolders(), QStringList { u"job-alive1"_s });
        QVERIFY(StagingArea::removeItem(stagingRoot() + u"/job-alive1"_s).ok());
    }

    // Two jobs at once whose archives share a file name each pack their own
    // items. Their files differ in size, and the first job's are more than
    // its workers may hold at once, so that it is still reading when the
    // second one starts.
    void jobsWithTheSameArchiveNameKeepApart()
    {
        const QList<QPair<QString, qsizetype>> jobs { { u"first"_s, 800000 }, { u"second"_s, 700000 } };
        for (const auto& [job, size] : jobs) {
            QByteArray noise(size, '\0');
            for (int i = 0; i < 40; ++i) {
                QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(noise.data()), size / 4);
                writeFile(path(u"%1/data/f%2.bin"_s.arg(job).arg(i)), noise);
            }
        }
        const QString first = path(u"first/Same.zip"_s);
        const QString second = path(u"second/Same.zip"_s);
        JobLog firstWatcher(first), secondWatcher(second);
        ZipManager::shared().zipFileAtPath(first, models({ path(u"first/data"_s) }), std::nullopt, false);
        QTRY_VERIFY(firstWatcher.count(NotifyManager::ZipProgress()) > 0);
        ZipManager::shared().zipFileAtPath(second, models({ path(u"second/data"_s) }), std::nullopt, false);
        QVERIFY(firstWatcher.waitForEnd(60000) && secondWatcher.waitForEnd(60000));

        QVERIFY(firstWatcher.succeeded());
        QVERIFY(secondWatcher.succeeded());
        for (const auto& [job, size] : jobs) {
            const auto all = entries(path(job + u"/Same.zip"_s));
            QCOMPARE(all.size(), 41);
            for (const QJsonObject& entry : all) {
                if (!entry[u"name"_s].toString().endsWith(u'/'))
                    QCOMPARE(entry[u"size"_s].toInteger(), size);
            }
        }
        QCOMPARE(jobFolders(), QStringList());
    }

    // A full disk fails the job (NoSpace), whether the disk is small or the
    // writer is told it is full, and whatever stood at the destination stays
    // as it was, with nothing beside it.
    void fullDiskEndsInFailure_data()
    {
        QTest::addColumn<bool>("realDisk");
        QTest::newRow("write limit") << false;
        QTest::newRow("small file system") << true;
    }
    void fullDiskEndsInFailure()
    {
        QFETCH(bool, realDisk);
        RecordingToasts toasts;
        QStringList items = threeItems();
        const QString disk = path(realDisk ? u"tiny"_s : u"disk"_s);
        QDir().mkpath(disk);
        if (realDisk) {
            if (::geteuid() != 0 || ::mount("tmpfs", QFile::encodeName(disk).constData(), "tmpfs", 0, "size=64k") != 0)
                QSKIP("cannot mount a small file system here");
        }
        const auto unmount = qScopeGuard([&] {
            if (realDisk)
                ::umount(QFile::encodeName(disk).constData());
        });
        if (realDisk) {
            writeFile(path(u"big/noise.bin"_s), randomBytes(512 * 1024));
            items.append(path(u"big/noise.bin"_s));
        }
        const QString archive = disk + u"/Full.zip"_s;
        writeFile(archive, "old archive");
        JobLog watcher(archive);
        if (!realDisk)
            ZipOutputFile::setWriteLimitForTesting(100);
        run(watcher, archive, items);
        ZipOutputFile::setWriteLimitForTesting(-1);

        QVERIFY(!watcher.succeeded());
        QCOMPARE(watcher.status(), u"NoSpace"_s);
        QCOMPARE(watcher.count(NotifyManager::LocalFilesDidChange()), 0);
        for (const JobLog::Event& event : watcher.events())
            QVERIFY(event.object.value(NotifyManager::progressKey(), 0.0f).toFloat() < 1.0f);
        QTRY_COMPARE(toasts.count(RecordingToasts::Kind::Error, L(u"创建压缩文件错误"_s)), 1);
        QCOMPARE(toasts.count(RecordingToasts::Kind::Success, L(u"压缩完成"_s)), 0);
        // The old archive stays as it was, with nothing beside it.
        QCOMPARE(readFile(archive), QByteArray("old archive"));
        QCOMPARE(QDir(disk).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList { u"Full.zip"_s });

        // The staging folder stays after a failure: one link per item, no copies.
        QCOMPARE(jobFolders().size(), 1);
        const QString staging = stagingRoot() + u'/' + jobFolders().first() + u"/Full"_s;
        const QStringList staged = QDir(staging).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        QCOMPARE(staged.size(), items.size());
        for (const QString& item : items) {
            const QString link = staging + u'/' + QFileInfo(item).fileName();
            QVERIFY(S_ISLNK(lstatOf(link).st_mode));
            QCOMPARE(QFile::symLinkTarget(link), item);
        }

        // Once there is room, the same job replaces the old file with a complete archive.
        if (realDisk)
            QCOMPARE(::mount(nullptr, QFile::encodeName(disk).constData(), nullptr, MS_REMOUNT, "size=8m"), 0);
        JobLog again(archive);
        run(again, archive, items);
        QVERIFY(again.succeeded());
        QVERIFY(sevenZipTest(archive));
    }

    void stagingRootMustBeOurOwnFolder()
    {
        // A planted link in place of the private folder is refused, and nothing lands where it points.
        RecordingToasts toasts;
        StagingArea::removeItem(stagingRoot());
        QDir().mkpath(path(u"elsewhere"_s));
        QVERIFY(QFile::link(path(u"elsewhere"_s), stagingRoot()));
        writeFile(path(u"item.txt"_s), "item");
        const QString archive = path(u"Planted.zip"_s);
        JobLog watcher(archive);
        run(watcher, archive, { path(u"item.txt"_s) });
        QVERIFY(!watcher.succeeded());
        QVERIFY(QDir(path(u"elsewhere"_s)).isEmpty());
        QVERIFY(!QFile::exists(archive));
        QFile::remove(stagingRoot());

        // So is a folder of another user's.
        if (::geteuid() == 0) {
            QVERIFY(QDir().mkpath(stagingRoot()));
            QCOMPARE(::chown(QFile::encodeName(stagingRoot()).constData(), 65534, 65534), 0);
            JobLog foreign(archive);
            run(foreign, archive, { path(u"item.txt"_s) });
            QVERIFY(!foreign.succeeded());
            QVERIFY(QDir().rmdir(stagingRoot()));
        }

        // A folder of ours that others may enter is closed before use.
        QVERIFY(QDir().mkpath(stagingRoot()));
        ::chmod(QFile::encodeName(stagingRoot()).constData(), 0777);
        JobLog again(archive);
        run(again, archive, { path(u"item.txt"_s) });
        QVERIFY(again.succeeded());
        QCOMPARE(lstatOf(stagingRoot()).st_mode & 07777, mode_t(0700));
    }

    void manyEntriesDoNotFloodTheMainThread()
    {
        for (int i = 0; i < 3000; ++i)
            writeFile(path(u"many/f%1.txt"_s.arg(i)), QByteArray::number(i));
        const QString archive = path(u"Many.zip"_s);
        JobLog watcher(archive);
        run(watcher, archive, { path(u"many"_s) });
        QVERIFY(watcher.succeeded());
        const qsizetype progress = watcher.count(NotifyManager::ZipProgress());
        QVERIFY2(progress >= 2 && progress < 300, qPrintable(QString::number(progress)));
        QCOMPARE(entries(archive).size(), 3001);
    }
};

ZAVRIN_TEST(CompressionTest)
#include "tst_compression.moc"
