// The built zavrin-cli, run as a child process: `compress` and its exit
// status. What goes into the archive is the engine tests' business.
#include "tests/cli/CliRun.h"
#include "tests/support/TestMain.h"
#include "tests/support/ZipInspection.h"

#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ZipInspection;
using namespace Qt::StringLiterals;

class CliCompressTest final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;

    QString path(const QString& relative) const { return m_dir->filePath(relative); }
    QJsonObject entry(const QString& archive, const QString& name) const { return entries(path(archive))[name]; }

    CliRun run(const QStringList& arguments, const QByteArray& input = {}, const QStringList& wrapper = {}) const
    {
        return runCli(QStringList { u"compress"_s } + arguments, m_dir->path(), input, wrapper);
    }

private slots:
    void initTestCase() { Bundle::setPreferredLanguages({ u"en"_s }); }
    void cleanupTestCase() { Bundle::setPreferredLanguages({}); }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QDir().mkpath(path(u"tmp"_s));
        writeFile(path(u"a.txt"_s), wordSoup(200000));
        writeFile(path(u"b/inner.txt"_s), "inner");
    }

    void packsTheItemsAtLevelOneByDefault()
    {
        const CliRun fast = run({ u"-o"_s, u"fast.zip"_s, u"a.txt"_s, u"b"_s });
        QCOMPARE(fast.status, 0);
        QVERIFY(fast.err.contains(text("压缩完成")));
        QCOMPARE(entries(path(u"fast.zip"_s)).keys(), (QStringList { u"a.txt"_s, u"b/"_s, u"b/inner.txt"_s }));
        QVERIFY(sevenZipTest(path(u"fast.zip"_s)));

        QCOMPARE(run({ u"-o"_s, u"small.zip"_s, u"--level"_s, u"9"_s, u"a.txt"_s }).status, 0);
        const auto size = [this](const QString& archive) { return entry(archive, u"a.txt"_s)[u"csize"].toInteger(); };
        QVERIFY(size(u"small.zip"_s) < size(u"fast.zip"_s));
    }

    void passwordComesFromStdin()
    {
        QCOMPARE(run({ u"-o"_s, u"locked.zip"_s, u"--password-stdin"_s, u"a.txt"_s }, "pässword\n").status, 0);
        QVERIFY(sevenZipTest(path(u"locked.zip"_s), u"pässword"_s));
        QCOMPARE(entry(u"locked.zip"_s, u"a.txt"_s)[u"flags"].toInt() & 1, 1);
    }

    // Asked to encrypt, the command never makes an archive without the
    // password it was given, nor with another one.
    void passwordsThatCannotBeUsedAreRefused_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty line") << QByteArray("\n") << u"password on standard input is empty"_s;
        QTest::newRow("no input") << QByteArray() << u"no password on standard input"_s;
        QTest::newRow("NUL inside") << QByteArray("abc\0zzz\n", 8) << u"NUL character"_s;
        QTest::newRow("not UTF-8") << QByteArray("p\xe4ssword\n") << u"not valid UTF-8"_s;
    }
    void passwordsThatCannotBeUsedAreRefused()
    {
        QFETCH(QByteArray, input);
        QFETCH(QString, message);
        const CliRun outcome = run({ u"-o"_s, u"refused.zip"_s, u"--password-stdin"_s, u"a.txt"_s }, input);
        QCOMPARE(outcome.status, 2);
        QVERIFY2(outcome.err.contains(message), qPrintable(outcome.err));
        QCOMPARE(QDir(m_dir->path()).entryList({ u"*refused*"_s }, QDir::AllEntries | QDir::Hidden), QStringList());
    }

    // A name that is not UTF-8 would become another one on its way: such a
    // name is refused, saying so, and nothing is made under either name.
    void namesThatAreNotUtf8AreRefused_data()
    {
        QTest::addColumn<QStringList>("arguments"); // "<FF>" is the byte 0xFF
        QTest::addColumn<QString>("folder"); // where the command runs, under the test's folder
        QTest::addColumn<QString>("message");
        QTest::newRow("archive") << QStringList { u"compress"_s, u"-o"_s, u"out<FF>.zip"_s, u"a.txt"_s } << QString()
                                 << u"out\\xFF.zip: not valid UTF-8"_s;
        QTest::newRow("item") << QStringList { u"compress"_s, u"-o"_s, u"out.zip"_s, u"item<FF>"_s } << QString()
                              << u"item\\xFF: not valid UTF-8"_s;
        QTest::newRow("current folder") << QStringList { u"compress"_s, u"-o"_s, u"out.zip"_s, u"a.txt"_s }
                                        << u"odd<FF>"_s << u"current folder"_s;
        QTest::newRow("extraction folder") << QStringList { u"extract"_s, fixture(u"plain.zip"_s), u"-o"_s,
            u"out<FF>"_s } << QString() << u"out\\xFF: not valid UTF-8"_s;
    }
    void namesThatAreNotUtf8AreRefused()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, folder);
        QFETCH(QString, message);
        const QByteArray ff = m_dir->filePath(u"odd"_s).toUtf8() + "\xff";
        QCOMPARE(::mkdir(ff.constData(), 0700), 0);
        QCOMPARE(::close(::open(
                     QByteArray(m_dir->filePath(u"item"_s).toUtf8() + "\xff").constData(), O_CREAT | O_WRONLY, 0600)),
            0);
        writeFile(QFile::decodeName(ff) + u"/a.txt"_s, "in an odd folder");
        if (!folder.isEmpty())
            qputenv("ZAVRIN_TEST_CD", (m_dir->path() + u'/' + folder).toUtf8());
        const CliRun outcome = runCli(arguments, m_dir->path(), {}, kWithByteFF);
        qunsetenv("ZAVRIN_TEST_CD");
        QCOMPARE(outcome.status, 2);
        QVERIFY2(outcome.err.contains(message), qPrintable(outcome.err));
        for (const QString& where : { m_dir->path(), QFile::decodeName(ff) })
            QCOMPARE(QDir(where).entryList({ u"out*"_s }, QDir::AllEntries | QDir::Hidden), QStringList());
    }

    // Refused before any work: an existing archive is never replaced.
    void usageErrors_data()
    {
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("more"); // further arguments
        QTest::newRow("archive exists") << u"a.txt"_s << u"already exists"_s << QStringList();
        QTest::newRow("missing item") << u"nothing-here"_s << u"no such item"_s << QStringList();
        QTest::newRow("folder missing") << u"a.txt"_s << u"cannot create"_s
                                        << QStringList { u"-o"_s, u"missing/new.zip"_s };
        QTest::newRow("password for tar")
            << u"a.txt"_s << u"cannot be encrypted"_s
            << QStringList { u"-o"_s, u"new.tar.gz"_s, u"--format"_s, u"tar.gz"_s, u"--password-stdin"_s };
    }
    void usageErrors()
    {
        QFETCH(QString, item);
        QFETCH(QString, message);
        QFETCH(QStringList, more);
        writeFile(path(u"taken.zip"_s), "someone's file");
        const CliRun outcome = run(QStringList { u"-o"_s, u"taken.zip"_s } + more + QStringList { item }, "secret\n");
        QCOMPARE(outcome.status, 2);
        QVERIFY2(outcome.err.contains(message), qPrintable(outcome.err));
        QCOMPARE(readFile(path(u"taken.zip"_s)), QByteArray("someone's file"));
        QCOMPARE(QDir(m_dir->path()).entryList({ u"*new*"_s }, QDir::AllEntries | QDir::Hidden), QStringList());
    }

    // --format makes that format; the engine suite checks what it holds.
    void formatsAreChosenByName()
    {
        const QStringList sevenZipJob { u"--format"_s, u"7z"_s, u"--password-stdin"_s, u"-o"_s, u"out.7z"_s,
            u"a.txt"_s };
        QCOMPARE(run(sevenZipJob, "s3cret\n").status, 0);
        QVERIFY(sevenZip({ u"t"_s, u"-t7z"_s, u"-ps3cret"_s, path(u"out.7z"_s) }));
        QVERIFY(!sevenZip({ u"t"_s, u"-t7z"_s, u"-pwrong"_s, path(u"out.7z"_s) }));
        QCOMPARE(run({ u"--format"_s, u"tar.xz"_s, u"-o"_s, u"out.tar.xz"_s, u"a.txt"_s }).status, 0);
        QCOMPARE(readFile(path(u"out.tar.xz"_s)).left(6),
            QByteArray("\xFD"
                       "7zXZ\0",
                6));
    }

    // The archive's bytes reach the disk before its name does, and the name before success.
    void theArchiveIsSyncedAroundItsRename()
    {
        if (QStandardPaths::findExecutable(u"strace"_s).isEmpty())
            QSKIP("strace is not installed");
        const QString trace = path(u"trace.txt"_s);
        const QStringList strace { u"strace"_s, u"-f"_s, u"-qq"_s, u"-y"_s, u"-o"_s, trace, u"-e"_s,
            u"trace=fsync,fdatasync,rename,renameat,renameat2"_s };
        QCOMPARE(run({ u"-o"_s, u"synced.zip"_s, u"a.txt"_s }, {}, strace).status, 0);
        const QStringList calls = QString::fromUtf8(readFile(trace)).split(u'\n');
        const auto lineOf = [&calls](const QString& pattern, qsizetype from) {
            const QRegularExpression expression(pattern);
            for (qsizetype i = std::max<qsizetype>(from, 0); i < calls.size(); ++i) {
                if (expression.match(calls.at(i)).hasMatch())
                    return i;
            }
            return qsizetype(-1);
        };
        const QString folder = QRegularExpression::escape(QFileInfo(m_dir->path()).canonicalFilePath());
        const QString part = u"\\.synced\\.zip\\.[0-9a-f]+\\.part"_s;
        const qsizetype synced = lineOf(u"fsync\\(\\d+<%1/%2>\\)\\s*= 0"_s.arg(folder, part), 0);
        const qsizetype renamed = lineOf(u"rename.*%1\".*/synced\\.zip\".*= 0"_s.arg(part), synced);
        const qsizetype folderSynced = lineOf(u"fsync\\(\\d+<%1>\\)\\s*= 0"_s.arg(folder), renamed);
        QVERIFY2(synced >= 0 && renamed > synced && folderSynced > renamed, qPrintable(calls.join(u'\n')));
    }

    // An item that cannot be read fails the command, which names it; no
    // archive is left. Root reads anything, so as root the program runs as
    // another user.
    void unreadableItemsFailTheCommand_data()
    {
        QTest::addColumn<QString>("locked"); // made unreadable
        QTest::addColumn<QStringList>("items");
        const QStringList both { u"a.txt"_s, u"b"_s };
        QTest::newRow("file in a folder") << u"b/inner.txt"_s << both;
        QTest::newRow("folder in a folder") << u"b/sub"_s << QStringList { u"b"_s };
        QTest::newRow("chosen file") << u"a.txt"_s << both;
    }
    void unreadableItemsFailTheCommand()
    {
        QFETCH(QString, locked);
        QFETCH(QStringList, items);
        QStringList wrapper;
        if (::geteuid() == 0) {
            wrapper
                = QStringList { u"setpriv"_s, u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s, u"--"_s };
            for (const QString& open : { m_dir->path(), path(u"tmp"_s) })
                QCOMPARE(::chmod(QFile::encodeName(open).constData(), 01777), 0);
        }
        writeFile(path(u"b/sub/deep.txt"_s), "deep");
        QCOMPARE(::chmod(QFile::encodeName(path(locked)).constData(), 0), 0);
        const CliRun outcome = run(QStringList { u"-o"_s, u"u.zip"_s } + items, {}, wrapper);
        ::chmod(QFile::encodeName(path(locked)).constData(), 0755);

        QCOMPARE(outcome.status, 1);
        QVERIFY(outcome.err.contains(text("创建压缩文件错误")));
        QVERIFY2(outcome.err.contains(u"cannot read "_s + path(locked)), qPrintable(outcome.err));
        QCOMPARE(QDir(m_dir->path()).entryList({ u"*u.zip*"_s }, QDir::Files | QDir::Hidden), QStringList());
    }
};

ZAVRIN_TEST(CliCompressTest)
#include "tst_cli_compress.moc"
