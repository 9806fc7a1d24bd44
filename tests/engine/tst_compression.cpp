#include "engine/NotifyManager.h"
#include "engine/ZipManager.h"
#include "engine/safety/StagingArea.h"
#include "engine/zipwrite/private/ZipOutputFile.h"
#include "platform/Bundle.h"
#include "platform/Defaults.h"
#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"
#include "tests/engine/JobLog.h"
#include "tests/support/RecordingToasts.h"
#include "tests/support/TestMain.h"
#include "tests/support/ZipInspection.h"

#include <QMutex>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ZipInspection;

namespace {

// Collects the engine's log lines while it lives, passing them on as well.
class LogCapture final {
public:
    LogCapture() { s_previous = qInstallMessageHandler(&LogCapture::handle); }
    ~LogCapture() { qInstallMessageHandler(s_previous); }

    static QStringList lines()
    {
        QMutexLocker lock(&s_mutex);
        return s_lines;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        if (qstrcmp(context.category, "zavrin.engine.zip") == 0) {
            QMutexLocker lock(&s_mutex);
            s_lines.append(message);
        }
        s_previous(type, context, message);
    }

    static inline QtMessageHandler s_previous = nullptr;
    static inline QMutex s_mutex;
    static inline QStringList s_lines;
};

QList<FileModel> models(const QStringList& paths)
{
    QList<FileModel> files;
    for (const QString& path : paths)
        files.append(FileModel(path));
    return files;
}

} // namespace

class CompressionTest final : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QByteArray m_savedTmpdir;

    QString path(const QString& relative) const { return m_dir.filePath(relative); }
    QString stagingRoot() const { return path(QStringLiteral("tmp/zavrin-")) + QString::number(::geteuid()); }
    QStringList jobFolders() const
    {
        return QDir(stagingRoot()).entryList({ QStringLiteral("job-*") }, QDir::Dirs | QDir::NoDotAndDotDot);
    }

    // Runs one job to its end; its notifications all come on the main thread.
    void run(JobLog& log, const QString& archive, const QStringList& items,
        const std::optional<QString>& password = std::nullopt, bool needSpeed = true)
    {
        ZipManager::shared().zipFileAtPath(archive, models(items), password, needSpeed);
        QVERIFY(log.waitForEnd());
        QVERIFY(log.endedOnceOnMain());
    }

    QStringList threeItems()
    {
        writeFile(path(QStringLiteral("one/a.txt")), "alpha\n");
        writeFile(path(QStringLiteral("two/b/inside.txt")), "inside\n");
        QDir().mkpath(path(QStringLiteral("two/b/empty")));
        writeFile(path(QStringLiteral("three/c.png")), QByteArray(2048, '\x89'));
        return { path(QStringLiteral("one/a.txt")), path(QStringLiteral("two/b")),
            path(QStringLiteral("three/c.png")) };
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // Staging goes to the temporary directory: give the tests their own.
        m_savedTmpdir = qgetenv("TMPDIR");
        QDir().mkpath(path(QStringLiteral("tmp")));
        qputenv("TMPDIR", QFile::encodeName(path(QStringLiteral("tmp"))));
    }

    void cleanupTestCase()
    {
        if (m_savedTmpdir.isEmpty())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", m_savedTmpdir);
    }

    void successfulJob()
    {
        RecordingToasts toasts;
        Defaults::standard().remove(QStringLiteral("app.HasRateKey"));
        const QString archive = path(QStringLiteral("out/Archive.zip"));
        QDir().mkpath(path(QStringLiteral("out")));
        JobLog watcher(archive);
        QStringList items = threeItems();
        items.move(2, 0); // top-level items keep the order they were chosen in
        run(watcher, archive, items);

        QVERIFY(watcher.succeeded());
        QCOMPARE(watcher.names(), (QStringList { NotifyManager::LocalFilesDidChange(), NotifyManager::JobDidEnd() }));
        // Progress climbs to 1 as a float and the last report comes before the success.
        const QList<JobLog::Event> events = watcher.events();
        const JobLog::Event& last = events.at(events.size() - 3);
        QCOMPARE(last.name, NotifyManager::ZipProgress());
        QCOMPARE(last.object.value(NotifyManager::progressKey()).typeId(), QMetaType::Float);
        QCOMPARE(last.object.value(NotifyManager::progressKey()).toFloat(), 1.0f);

        QTRY_COMPARE(toasts.toasts.size(), 2);
        QCOMPARE(toasts.count(RecordingToasts::Kind::Info, L(QStringLiteral("压缩文件中..."))), 1);
        QCOMPARE(toasts.count(RecordingToasts::Kind::Success, L(QStringLiteral("压缩完成"))), 1);
        QVERIFY(Defaults::standard().boolForKey(QStringLiteral("app.HasRateKey")));

        QCOMPARE(orderedNames(archive),
            (QStringList { QStringLiteral("c.png"), QStringLiteral("a.txt"), QStringLiteral("b/"),
                QStringLiteral("b/empty/"), QStringLiteral("b/inside.txt") }));
        QVERIFY(sevenZipTest(archive));
        QCOMPARE(jobFolders(), QStringList());
        QCOMPARE(lstatOf(stagingRoot()).st_mode & 07777, mode_t(0700));
        QVERIFY(QFile::exists(path(QStringLiteral("one/a.txt"))));
    }

    // Anything chosen that cannot be read, or a second item with a name
    // already taken, fails the job and leaves no archive, and the log names
    // it; pipes inside folders are only skipped.
    void whatCannotBePackedFailsTheJob_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("culprit"); // what the log must name; empty: the job succeeds
        QTest::newRow("file without read permission in a folder")
            << QStringLiteral("file 000") << QStringLiteral("box/secret.txt");
        QTest::newRow("folder that cannot be listed") << QStringLiteral("folder 000") << QStringLiteral("box/locked");
        QTest::newRow("chosen file without read permission")
            << QStringLiteral("chosen 000") << QStringLiteral("chosen.txt");
        QTest::newRow("chosen link that leads nowhere") << QStringLiteral("dangling") << QStringLiteral("nowhere");
        QTest::newRow("second item with the same name")
            << QStringLiteral("same name") << QStringLiteral("other/chosen.txt");
        QTest::newRow("pipe in a folder") << QStringLiteral("pipe") << QString();
    }
    void whatCannotBePackedFailsTheJob()
    {
        QFETCH(QString, setup);
        QFETCH(QString, culprit);
        if (setup.endsWith(u"000") && ::geteuid() == 0)
            QSKIP("root reads files of any mode; the command-line test covers this as another user");
        LogCapture log;
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

        const QString archive = at("out.zip");
        JobLog watcher(archive);
        run(watcher, archive, items);
        ::chmod(QFile::encodeName(locked).constData(), 0700);

        if (culprit.isEmpty()) {
            QVERIFY(watcher.succeeded());
            const QStringList packed { QStringLiteral("box/"), QStringLiteral("box/locked/"),
                QStringLiteral("box/locked/inner.txt"), QStringLiteral("box/ok.txt"), QStringLiteral("box/secret.txt"),
                QStringLiteral("chosen.txt") };
            QCOMPARE(orderedNames(archive), packed);
            QVERIFY(!LogCapture::lines().filter(QStringLiteral("box/pipe")).isEmpty());
            return;
        }
        QVERIFY(!watcher.succeeded());
        QVERIFY(watcher.first(NotifyManager::JobDidEnd())
                    ->object.value(NotifyManager::reasonKey())
                    .toString()
                    .contains(culprit));
        QTRY_COMPARE(toasts.count(RecordingToasts::Kind::Error, L(QStringLiteral("创建压缩文件错误"))), 1);
        QVERIFY(!LogCapture::lines().filter(QStringLiteral("compression failed")).filter(culprit).isEmpty());
        if (setup == u"same name")
            QCOMPARE(LogCapture::lines().filter(QStringLiteral("复制到临时文件夹错误: ")).filter(culprit).size(), 1);
        QVERIFY(!QFile::exists(archive));
        QCOMPARE(
            QDir(dir.path()).entryList({ QStringLiteral(".out.zip*") }, QDir::Files | QDir::Hidden), QStringList());
    }

    // Speed is level 1, size level 9, and they differ; a password reaches the writer.
    void levelAndPasswordReachTheArchive()
    {
        const QByteArray text = wordSoup(400000);
        writeFile(path(QStringLiteral("levels/text.txt")), text);
        const QStringList items { path(QStringLiteral("levels/text.txt")) };

        const QString fast = path(QStringLiteral("fast.zip"));
        const QString small = path(QStringLiteral("small.zip"));
        const QString locked = path(QStringLiteral("locked.zip"));
        JobLog fastWatcher(fast), smallWatcher(small), lockedWatcher(locked);
        run(fastWatcher, fast, items, std::nullopt, true);
        run(smallWatcher, small, items, std::nullopt, false);
        run(lockedWatcher, locked, items, QStringLiteral("pw"), true);

        const auto size = [](const QString& archive) {
            return entries(archive).value(QStringLiteral("text.txt"))[QStringLiteral("csize")].toInteger();
        };
        QVERIFY2(
            size(small) < size(fast) * 0.97, qPrintable(QStringLiteral("%1 vs %2").arg(size(small)).arg(size(fast))));
        QVERIFY(sevenZipTest(small));
        QCOMPARE(entries(locked)
                     .value(QStringLiteral("text.txt"))[QStringLiteral("aes")][QStringLiteral("strength")]
                     .toInt(),
            3);
        QVERIFY(sevenZipTest(locked, QStringLiteral("pw")));
    }

    // What ended jobs left is removed, older versions' staging folders too;
    // a folder a live job holds is not.
    void leftoversOfEndedJobsAreRemoved()
    {
        QDir().mkpath(stagingRoot());
        writeFile(stagingRoot() + QStringLiteral("/Leftover/stale.txt"), "stale");
        writeFile(stagingRoot() + QStringLiteral("/job-ended1/Leftover/stale.txt"), "stale");
        writeFile(stagingRoot() + QStringLiteral("/job-alive1/Leftover/busy.txt"), "busy");
        const int alive = ::open(
            QFile::encodeName(stagingRoot() + QStringLiteral("/job-alive1")).constData(), O_RDONLY | O_DIRECTORY);
        QCOMPARE(::flock(alive, LOCK_EX), 0);
        writeFile(path(QStringLiteral("fresh/new.txt")), "new");
        const QString archive = path(QStringLiteral("Leftover.zip"));
        JobLog watcher(archive);
        run(watcher, archive, { path(QStringLiteral("fresh/new.txt")) });
        ::close(alive);

        QVERIFY(watcher.succeeded());
        QCOMPARE(entries(archive).keys(), QStringList { QStringLiteral("new.txt") });
        QVERIFY(!StagingArea::exists(stagingRoot() + QStringLiteral("/Leftover")));
        QCOMPARE(jobFolders(), QStringList { QStringLiteral("job-alive1") });
        QString error;
        QVERIFY(StagingArea::removeItem(stagingRoot() + QStringLiteral("/job-alive1"), &error));
    }

    // Two jobs at once whose archives share a file name each pack their own
    // items. Their files differ in size, and the first job's are more than
    // its workers may hold at once, so that it is still reading when the
    // second one starts.
    void jobsWithTheSameArchiveNameKeepApart()
    {
        const QList<QPair<QString, qsizetype>> jobs { { QStringLiteral("first"), 800000 },
            { QStringLiteral("second"), 700000 } };
        for (const auto& [job, size] : jobs) {
            QByteArray noise(size, '\0');
            for (int i = 0; i < 40; ++i) {
                QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(noise.data()), size / 4);
                writeFile(path(QStringLiteral("%1/data/f%2.bin").arg(job).arg(i)), noise);
            }
        }
        const QString first = path(QStringLiteral("first/Same.zip"));
        const QString second = path(QStringLiteral("second/Same.zip"));
        JobLog firstWatcher(first), secondWatcher(second);
        ZipManager::shared().zipFileAtPath(first, models({ path(QStringLiteral("first/data")) }), std::nullopt, false);
        QTRY_VERIFY(firstWatcher.count(NotifyManager::ZipProgress()) > 0);
        ZipManager::shared().zipFileAtPath(
            second, models({ path(QStringLiteral("second/data")) }), std::nullopt, false);
        QVERIFY(firstWatcher.waitForEnd(60000) && secondWatcher.waitForEnd(60000));

        QVERIFY(firstWatcher.succeeded());
        QVERIFY(secondWatcher.succeeded());
        for (const auto& [job, size] : jobs) {
            const auto all = entries(path(job + QStringLiteral("/Same.zip")));
            QCOMPARE(all.size(), 41);
            for (const QJsonObject& entry : all) {
                if (!entry[QStringLiteral("name")].toString().endsWith(u'/'))
                    QCOMPARE(entry[QStringLiteral("size")].toInteger(), size);
            }
        }
        QCOMPARE(jobFolders(), QStringList());
    }

    void fullDiskEndsInFailure()
    {
        RecordingToasts toasts;
        const QStringList items = threeItems();
        const QString archive = path(QStringLiteral("disk/Full.zip"));
        writeFile(archive, "old archive");
        JobLog watcher(archive);
        ZipOutputFile::setWriteLimitForTesting(100);
        run(watcher, archive, items);
        ZipOutputFile::setWriteLimitForTesting(-1);

        QVERIFY(!watcher.succeeded());
        QCOMPARE(watcher.count(NotifyManager::LocalFilesDidChange()), 0);
        for (const JobLog::Event& event : watcher.events())
            QVERIFY(event.object.value(NotifyManager::progressKey(), 0.0f).toFloat() < 1.0f);
        QTRY_COMPARE(toasts.count(RecordingToasts::Kind::Error, L(QStringLiteral("创建压缩文件错误"))), 1);
        QCOMPARE(toasts.count(RecordingToasts::Kind::Success, L(QStringLiteral("压缩完成"))), 0);
        QCOMPARE(QFileInfo(archive).size(), 11); // the old archive; the writer's own test looks closer

        // The staging folder stays after a failure: one link per item, no copies.
        QCOMPARE(jobFolders().size(), 1);
        const QString staging = stagingRoot() + u'/' + jobFolders().first() + QStringLiteral("/Full");
        const QStringList staged = QDir(staging).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        QCOMPARE(staged.size(), 3);
        for (const QString& item : items) {
            const QString link = staging + u'/' + QFileInfo(item).fileName();
            QVERIFY(S_ISLNK(lstatOf(link).st_mode));
            QCOMPARE(QFile::symLinkTarget(link), item);
        }
    }

    void nothingToPackIsReported()
    {
        RecordingToasts toasts;
        const QString archive = path(QStringLiteral("Empty.zip"));
        JobLog watcher(archive);
        run(watcher, archive, { path(QStringLiteral("missing/one")), path(QStringLiteral("missing/two")) });

        QVERIFY(!watcher.succeeded());
        QCOMPARE(watcher.events().size(), 1);
        QTRY_COMPARE(toasts.count(RecordingToasts::Kind::Error, L(QStringLiteral("创建压缩文件错误"))), 1);
        QVERIFY(!QFile::exists(archive));
    }

    void stagingRootMustBeOurOwnFolder()
    {
        // A planted link in place of the private folder is refused, and nothing lands where it points.
        RecordingToasts toasts;
        QString error;
        StagingArea::removeItem(stagingRoot(), &error);
        QDir().mkpath(path(QStringLiteral("elsewhere")));
        QVERIFY(QFile::link(path(QStringLiteral("elsewhere")), stagingRoot()));
        writeFile(path(QStringLiteral("item.txt")), "item");
        const QString archive = path(QStringLiteral("Planted.zip"));
        JobLog watcher(archive);
        run(watcher, archive, { path(QStringLiteral("item.txt")) });
        QVERIFY(!watcher.succeeded());
        QVERIFY(QDir(path(QStringLiteral("elsewhere"))).isEmpty());
        QVERIFY(!QFile::exists(archive));
        QFile::remove(stagingRoot());

        // So is a folder of another user's.
        if (::geteuid() == 0) {
            QVERIFY(QDir().mkpath(stagingRoot()));
            QCOMPARE(::chown(QFile::encodeName(stagingRoot()).constData(), 65534, 65534), 0);
            JobLog foreign(archive);
            run(foreign, archive, { path(QStringLiteral("item.txt")) });
            QVERIFY(!foreign.succeeded());
            QVERIFY(QDir().rmdir(stagingRoot()));
        }

        // A folder of ours that others may enter is closed before use.
        QVERIFY(QDir().mkpath(stagingRoot()));
        ::chmod(QFile::encodeName(stagingRoot()).constData(), 0777);
        JobLog again(archive);
        run(again, archive, { path(QStringLiteral("item.txt")) });
        QVERIFY(again.succeeded());
        QCOMPARE(lstatOf(stagingRoot()).st_mode & 07777, mode_t(0700));
    }

    void manyEntriesDoNotFloodTheMainThread()
    {
        for (int i = 0; i < 3000; ++i)
            writeFile(path(QStringLiteral("many/f%1.txt").arg(i)), QByteArray::number(i));
        const QString archive = path(QStringLiteral("Many.zip"));
        JobLog watcher(archive);
        run(watcher, archive, { path(QStringLiteral("many")) });
        QVERIFY(watcher.succeeded());
        const qsizetype progress = watcher.count(NotifyManager::ZipProgress());
        QVERIFY2(progress >= 2 && progress < 300, qPrintable(QString::number(progress)));
        QCOMPARE(entries(archive).size(), 3001);
    }
};

ZAVRIN_TEST(CompressionTest)
#include "tst_compression.moc"
