// The built zavrin-cli, run as a child process: `compress` and its exit status.
#include "platform/Bundle.h"
#include "tests/cli/CliRun.h"
#include "tests/support/TestMain.h"
#include "tests/support/ZipInspection.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

using namespace ZipInspection;

class CliCompressTest final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;

    QString path(const QString& relative) const { return m_dir->filePath(relative); }
    QString text(const char* key) const { return L(QString::fromUtf8(key)); }

    CliRun run(const QStringList& arguments, const QByteArray& input = {}, const QStringList& wrapper = {}) const
    {
        return runCli(QStringList { QStringLiteral("compress") } + arguments, m_dir->path(), input, wrapper);
    }

private slots:
    void initTestCase() { Bundle::setPreferredLanguages({ QStringLiteral("en") }); }
    void cleanupTestCase() { Bundle::setPreferredLanguages({}); }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QDir().mkpath(path(QStringLiteral("tmp")));
        QByteArray words;
        for (int i = 0; words.size() < 200000; ++i)
            words += "entry " + QByteArray::number(i * 7919 % 10007) + " of a text that repeats itself\n";
        writeFile(path(QStringLiteral("a.txt")), words);
        writeFile(path(QStringLiteral("b/inner.txt")), "inner");
    }

    void packsTheItemsAtLevelOneByDefault()
    {
        const CliRun fast
            = run({ QStringLiteral("-o"), QStringLiteral("fast.zip"), QStringLiteral("a.txt"), QStringLiteral("b") });
        QCOMPARE(fast.status, 0);
        QVERIFY(fast.err.contains(text("压缩完成")));
        QStringList names = entries(path(QStringLiteral("fast.zip"))).keys();
        names.sort();
        QCOMPARE(names, (QStringList { QStringLiteral("a.txt"), QStringLiteral("b/"), QStringLiteral("b/inner.txt") }));
        QVERIFY(sevenZipTest(path(QStringLiteral("fast.zip"))));

        QCOMPARE(run({ QStringLiteral("-o"), QStringLiteral("small.zip"), QStringLiteral("--level"),
                         QStringLiteral("9"), QStringLiteral("a.txt") })
                     .status,
            0);
        const auto size = [this](const char* archive) {
            return entries(path(QString::fromLatin1(archive)))[QStringLiteral("a.txt")][QStringLiteral("csize")]
                .toInteger();
        };
        QVERIFY(size("small.zip") < size("fast.zip"));
    }

    void passwordComesFromStdinAndAnEmptyLineMeansNone()
    {
        QCOMPARE(run({ QStringLiteral("-o"), QStringLiteral("locked.zip"), QStringLiteral("--password-stdin"),
                         QStringLiteral("a.txt") },
                     "pässword\n")
                     .status,
            0);
        QVERIFY(
            entries(path(QStringLiteral("locked.zip")))[QStringLiteral("a.txt")][QStringLiteral("flags")].toInt() & 1);
        QVERIFY(sevenZipTest(path(QStringLiteral("locked.zip")), QStringLiteral("pässword")));

        QCOMPARE(run({ QStringLiteral("-o"), QStringLiteral("open.zip"), QStringLiteral("--password-stdin"),
                         QStringLiteral("a.txt") },
                     "\n")
                     .status,
            0);
        QCOMPARE(
            entries(path(QStringLiteral("open.zip")))[QStringLiteral("a.txt")][QStringLiteral("flags")].toInt() & 1, 0);
    }

    void anExistingArchiveIsNeverReplaced()
    {
        writeFile(path(QStringLiteral("taken.zip")), "someone's file");
        const CliRun outcome = run({ QStringLiteral("-o"), QStringLiteral("taken.zip"), QStringLiteral("a.txt") });
        QCOMPARE(outcome.status, 2);
        QVERIFY(outcome.err.contains(QStringLiteral("already exists")));
        QFile kept(path(QStringLiteral("taken.zip")));
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("someone's file"));
    }

    // The archive's bytes reach the disk before its name does, and the name before success.
    void theArchiveIsSyncedAroundItsRename()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("strace")).isEmpty())
            QSKIP("strace is not installed");
        const QString trace = path(QStringLiteral("trace.txt"));
        const QStringList strace { QStringLiteral("strace"), QStringLiteral("-f"), QStringLiteral("-qq"),
            QStringLiteral("-y"), QStringLiteral("-o"), trace, QStringLiteral("-e"),
            QStringLiteral("trace=fsync,fdatasync,rename,renameat,renameat2") };
        const QStringList arguments { QStringLiteral("-o"), QStringLiteral("synced.zip"), QStringLiteral("a.txt") };
        QCOMPARE(run(arguments, {}, strace).status, 0);
        QFile file(trace);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList calls = QString::fromUtf8(file.readAll()).split(u'\n');
        const auto lineOf = [&calls](const QString& pattern, qsizetype from) {
            const QRegularExpression expression(pattern);
            for (qsizetype i = std::max<qsizetype>(from, 0); i < calls.size(); ++i) {
                if (expression.match(calls.at(i)).hasMatch())
                    return i;
            }
            return qsizetype(-1);
        };
        const QString folder = QRegularExpression::escape(QFileInfo(m_dir->path()).canonicalFilePath());
        const QString part = QStringLiteral("\\.synced\\.zip\\.[0-9a-f]+\\.part");
        const qsizetype synced = lineOf(QStringLiteral("fsync\\(\\d+<%1/%2>\\)\\s*= 0").arg(folder, part), 0);
        const qsizetype renamed = lineOf(QStringLiteral("rename.*%1\".*/synced\\.zip\".*= 0").arg(part), synced);
        const qsizetype folderSynced = lineOf(QStringLiteral("fsync\\(\\d+<%1>\\)\\s*= 0").arg(folder), renamed);
        QVERIFY2(synced >= 0 && renamed > synced && folderSynced > renamed, qPrintable(calls.join(u'\n')));
    }

    // An item that cannot be read fails the command, which names it; no
    // archive is left. Root reads anything, so as root the program runs as
    // another user.
    void unreadableItemsFailTheCommand_data()
    {
        QTest::addColumn<QString>("locked"); // made unreadable
        QTest::addColumn<QStringList>("items");
        const QStringList both { QStringLiteral("a.txt"), QStringLiteral("b") };
        QTest::newRow("file in a folder") << QStringLiteral("b/inner.txt") << both;
        QTest::newRow("folder in a folder") << QStringLiteral("b/sub") << QStringList { QStringLiteral("b") };
        QTest::newRow("chosen file") << QStringLiteral("a.txt") << both;
    }
    void unreadableItemsFailTheCommand()
    {
        QFETCH(QString, locked);
        QFETCH(QStringList, items);
        QStringList wrapper;
        if (::geteuid() == 0) {
            wrapper = QStringList { QStringLiteral("setpriv"), QStringLiteral("--reuid=65534"),
                QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups"), QStringLiteral("--") };
            for (const QString& open : { m_dir->path(), path(QStringLiteral("tmp")) })
                QCOMPARE(::chmod(QFile::encodeName(open).constData(), 01777), 0);
        }
        writeFile(path(QStringLiteral("b/sub/deep.txt")), "deep");
        QCOMPARE(::chmod(QFile::encodeName(path(locked)).constData(), 0), 0);
        const CliRun outcome = run(QStringList { QStringLiteral("-o"), QStringLiteral("u.zip") } + items, {}, wrapper);
        ::chmod(QFile::encodeName(path(locked)).constData(), 0755);

        QCOMPARE(outcome.status, 1);
        QVERIFY(outcome.err.contains(text("创建压缩文件错误")));
        QVERIFY2(
            outcome.err.contains(QStringLiteral("zavrin-cli: cannot read ") + path(locked)), qPrintable(outcome.err));
        QCOMPARE(
            QDir(m_dir->path()).entryList({ QStringLiteral("*u.zip*") }, QDir::Files | QDir::Hidden), QStringList());
    }

    void failuresEndWithANonZeroStatus()
    {
        const CliRun missing = run({ QStringLiteral("-o"), QStringLiteral("m.zip"), QStringLiteral("nothing-here") });
        QCOMPARE(missing.status, 2);
        QVERIFY(missing.err.contains(QStringLiteral("no such item")));
        QVERIFY(!QFile::exists(path(QStringLiteral("m.zip"))));

        // Two items of one name: the archive would miss one, so none is made.
        writeFile(path(QStringLiteral("c/a.txt")), "another a");
        const CliRun clash = run(
            { QStringLiteral("-o"), QStringLiteral("c.zip"), QStringLiteral("a.txt"), QStringLiteral("c/a.txt") });
        QCOMPARE(clash.status, 1);
        QVERIFY2(clash.err.contains(
                     path(QStringLiteral("c/a.txt")) + QStringLiteral(": an earlier item is also named a.txt")),
            qPrintable(clash.err));
        QVERIFY(!QFile::exists(path(QStringLiteral("c.zip"))));

        // A pipe is nothing to pack: the job fails and leaves no archive behind.
        QCOMPARE(::mkfifo(QFile::encodeName(path(QStringLiteral("pipe"))).constData(), 0600), 0);
        const CliRun empty = run({ QStringLiteral("-o"), QStringLiteral("p.zip"), QStringLiteral("pipe") });
        QCOMPARE(empty.status, 1);
        QVERIFY(empty.err.contains(text("创建压缩文件错误")));
        QVERIFY(!QFile::exists(path(QStringLiteral("p.zip"))));
    }
};

ZAVRIN_TEST(CliCompressTest)
#include "tst_cli_compress.moc"
