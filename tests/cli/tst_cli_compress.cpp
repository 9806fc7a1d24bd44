// The built zavrin-cli, run as a child process: `compress` and its exit status.
#include "platform/Bundle.h"
#include "tests/support/TestMain.h"
#include "tests/support/ZipInspection.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace ZipInspection;

namespace {

struct Outcome {
    int status = -1;
    QString err;
};

} // namespace

class CliCompressTest final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;

    QString path(const QString& relative) const { return m_dir->filePath(relative); }
    QString text(const char* key) const { return L(QString::fromUtf8(key)); }

    // Runs the program in its own session (no terminal), staging in the test's folder.
    Outcome run(const QStringList& arguments, const QByteArray& input = {}) const
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LANGUAGE"), QStringLiteral("en"));
        environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        environment.insert(QStringLiteral("TMPDIR"), path(QStringLiteral("tmp")));
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(m_dir->path());
        process.setChildProcessModifier([] { ::setsid(); });
        process.start(QStringLiteral(ZAVRIN_CLI_PATH), QStringList {QStringLiteral("compress")} + arguments);
        if (!process.waitForStarted())
            return {};
        process.write(input);
        process.closeWriteChannel();
        if (!process.waitForFinished(30000))
            process.kill();
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardError())};
    }

private slots:
    void initTestCase() { Bundle::setPreferredLanguages({QStringLiteral("en")}); }
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
        const Outcome fast = run({QStringLiteral("-o"), QStringLiteral("fast.zip"), QStringLiteral("a.txt"),
                                  QStringLiteral("b")});
        QCOMPARE(fast.status, 0);
        QVERIFY(fast.err.contains(text("压缩完成")));
        QStringList names = entries(path(QStringLiteral("fast.zip"))).keys();
        names.sort();
        QCOMPARE(names, (QStringList {QStringLiteral("a.txt"), QStringLiteral("b/"), QStringLiteral("b/inner.txt")}));
        QVERIFY(sevenZipTest(path(QStringLiteral("fast.zip"))));

        QCOMPARE(run({QStringLiteral("-o"), QStringLiteral("small.zip"), QStringLiteral("--level"), QStringLiteral("9"),
                      QStringLiteral("a.txt")})
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
        QCOMPARE(run({QStringLiteral("-o"), QStringLiteral("locked.zip"), QStringLiteral("--password-stdin"),
                      QStringLiteral("a.txt")},
                     "pässword\n")
                     .status,
                 0);
        QVERIFY(entries(path(QStringLiteral("locked.zip")))[QStringLiteral("a.txt")][QStringLiteral("flags")].toInt()
                & 1);
        QVERIFY(sevenZipTest(path(QStringLiteral("locked.zip")), QStringLiteral("pässword")));

        QCOMPARE(run({QStringLiteral("-o"), QStringLiteral("open.zip"), QStringLiteral("--password-stdin"),
                      QStringLiteral("a.txt")},
                     "\n")
                     .status,
                 0);
        QCOMPARE(entries(path(QStringLiteral("open.zip")))[QStringLiteral("a.txt")][QStringLiteral("flags")].toInt()
                     & 1,
                 0);
    }

    void anExistingArchiveIsNeverReplaced()
    {
        writeFile(path(QStringLiteral("taken.zip")), "someone's file");
        const Outcome outcome = run({QStringLiteral("-o"), QStringLiteral("taken.zip"), QStringLiteral("a.txt")});
        QCOMPARE(outcome.status, 2);
        QVERIFY(outcome.err.contains(QStringLiteral("already exists")));
        QFile kept(path(QStringLiteral("taken.zip")));
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("someone's file"));
    }

    void failuresEndWithANonZeroStatus()
    {
        const Outcome missing = run({QStringLiteral("-o"), QStringLiteral("m.zip"), QStringLiteral("nothing-here")});
        QCOMPARE(missing.status, 2);
        QVERIFY(missing.err.contains(QStringLiteral("no such item")));
        QVERIFY(!QFile::exists(path(QStringLiteral("m.zip"))));

        // A pipe is nothing to pack: the job fails and leaves no archive behind.
        QCOMPARE(::mkfifo(QFile::encodeName(path(QStringLiteral("pipe"))).constData(), 0600), 0);
        const Outcome empty = run({QStringLiteral("-o"), QStringLiteral("p.zip"), QStringLiteral("pipe")});
        QCOMPARE(empty.status, 1);
        QVERIFY(empty.err.contains(text("创建压缩文件错误")));
        QVERIFY(!QFile::exists(path(QStringLiteral("p.zip"))));
    }
};

ZAVRIN_TEST(CliCompressTest)
#include "tst_cli_compress.moc"
