// The built zavrin-cli, run as a child process: `extract` and its exit
// status. What comes out of each format is the engine tests' business.
#include "tests/cli/CliRun.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <sys/mount.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

class CliExtractTest final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_out;

    bool outIsEmpty() const
    {
        return QDir(m_out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty();
    }

private slots:
    void initTestCase() { Bundle::setPreferredLanguages({ u"en"_s }); }
    void cleanupTestCase() { Bundle::setPreferredLanguages({}); }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_out = m_dir->filePath(u"out"_s);
    }

    void extractsIntoTheFolder_data()
    {
        QTest::addColumn<bool>("named");
        QTest::newRow("-o folder") << true;
        QTest::newRow("current folder") << false;
    }
    void extractsIntoTheFolder()
    {
        QFETCH(bool, named);
        QStringList arguments { u"extract"_s, fixture(u"plain.rar"_s) };
        if (named)
            arguments << u"-o"_s << m_out;
        const CliRun outcome = runCli(arguments, m_dir->path());
        QCOMPARE(outcome.status, 0);
        QVERIFY(QFileInfo((named ? m_out : m_dir->path()) + u"/dir/nested.txt"_s).isFile());
        // Toasts are lines in the user's language; no bar off a terminal.
        QVERIFY2(outcome.err.contains(text("解压完成") + u'\n'), qPrintable(outcome.err));
        QVERIFY(!outcome.err.contains(u'\r'));
        QVERIFY(!outcome.err.contains(u"解压"_s));
    }

    void failuresAreNonZero_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing archive") << u"nothing.zip"_s << QString() << 2 << u"no such archive"_s;
        QTest::newRow("folder is a file") << u"plain.zip"_s << u"plain.zip"_s << 2 << u"cannot write"_s;
        QTest::newRow("folder cannot be written") << u"plain.zip"_s << u"/proc/self"_s << 2 << u"cannot write"_s;
        QTest::newRow("failed job") << u"hostile-dotdot.7z"_s << QString() << 1 << text("解压文件错误");
        QTest::newRow("encrypted, no terminal") << u"aes.zip"_s << QString() << 1 << u"--password-stdin"_s;
    }
    void failuresAreNonZero()
    {
        QFETCH(QString, archive);
        QFETCH(QString, folder);
        QFETCH(int, status);
        QFETCH(QString, message);
        QStringList arguments { u"extract"_s, fixture(archive), u"-o"_s };
        arguments << (folder.isEmpty() ? m_out : folder.startsWith(u'/') ? folder : fixture(folder));
        const CliRun outcome = runCli(arguments, m_dir->path());
        QCOMPARE(outcome.status, status);
        QVERIFY2(outcome.err.contains(message), qPrintable(outcome.err));
        QVERIFY(outIsEmpty());
        // A job that fails takes back the folder it was to fill.
        if (status == 1)
            QVERIFY(!QFileInfo::exists(m_out));
    }

    // Existing files are kept, and said so: a count, and with -v their names.
    void keptFilesAreTold()
    {
        QVERIFY(runCli({ u"extract"_s, fixture(u"plain.zip"_s), u"-o"_s, m_out }, m_dir->path()).status == 0);
        const CliRun again = runCli({ u"extract"_s, fixture(u"plain.zip"_s), u"-o"_s, m_out }, m_dir->path());
        QCOMPARE(again.status, 0);
        QVERIFY2(again.err.contains(u"kept"_s, Qt::CaseInsensitive), qPrintable(again.err));
        QVERIFY(!again.err.contains(u"kept hello.txt"_s));
        const CliRun verbose
            = runCli({ u"extract"_s, fixture(u"plain.zip"_s), u"-v"_s, u"-o"_s, m_out }, m_dir->path());
        QVERIFY2(verbose.err.contains(u"kept hello.txt"_s), qPrintable(verbose.err));
    }

    // Two runs into one folder at once take turns: every file is whole and
    // from one archive, and the second keeps what the first wrote.
    void twoRunsIntoOneFolder()
    {
        QString archives[2];
        for (int which = 0; which < 2; ++which) {
            const QString source = m_dir->filePath(u"source%1"_s.arg(which));
            QVERIFY(QDir().mkpath(source));
            for (int i = 0; i < 200; ++i)
                QVERIFY(writeTo(source + u"/f%1.txt"_s.arg(i),
                    QByteArray("run %1 ").replace("%1", QByteArray::number(which)).repeated(500 + i)));
            archives[which] = m_dir->filePath(u"a%1.zip"_s.arg(which));
            QProcess zip;
            zip.setWorkingDirectory(source);
            zip.start(u"zip"_s, QStringList { u"-q"_s, archives[which] } + QDir(source).entryList(QDir::Files));
            QVERIFY(zip.waitForFinished() && zip.exitCode() == 0);
        }
        for (int round = 0; round < 5; ++round) {
            const QString out = m_dir->filePath(u"round%1"_s.arg(round));
            QProcess first, second;
            for (int which = 0; which < 2; ++which) {
                QProcess& run = which == 0 ? first : second;
                run.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
                run.start(QStringLiteral(ZAVRIN_CLI_PATH), { u"extract"_s, archives[which], u"-o"_s, out });
            }
            QVERIFY(first.waitForFinished(60000) && second.waitForFinished(60000));
            QCOMPARE(first.exitCode(), 0);
            QCOMPARE(second.exitCode(), 0);
            QDir folder(out);
            QCOMPARE(folder.entryList(QDir::Files | QDir::Hidden).size(), 200);
            for (const QString& name : folder.entryList(QDir::Files)) {
                QFile file(folder.filePath(name));
                QVERIFY(file.open(QIODevice::ReadOnly));
                const QByteArray content = file.readAll();
                const bool whole = content == QByteArray("run 0 ").repeated(content.size() / 6)
                    || content == QByteArray("run 1 ").repeated(content.size() / 6);
                QVERIFY2(whole && content.size() >= 3000, qPrintable(name));
            }
        }
    }

    // The line ends and formats differ in how each back-end takes the password.
    void passwordFromStandardInput_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("status");
        QTest::newRow("zip right") << u"aes.zip"_s << QByteArray("secret\n") << 0;
        QTest::newRow("rar right, no newline") << u"encrypted-headers.rar"_s << QByteArray("secret") << 0;
        QTest::newRow("7z right, CRLF") << u"encrypted-headers.7z"_s << QByteArray("secret\r\n") << 0;
        QTest::newRow("empty password") << u"empty-password.zip"_s << QByteArray("\n") << 0;
        QTest::newRow("zip wrong, then right") << u"zipcrypto.zip"_s << QByteArray("wrong\nsecret\n") << 1;
        QTest::newRow("no input") << u"encrypted.rar"_s << QByteArray() << 1;
        // "secret\0zzz" would open it as "secret"; such a line is no password.
        QTest::newRow("NUL inside") << u"zipcrypto.zip"_s << QByteArray("secret\0zzz\n", 11) << 2;
        QTest::newRow("not UTF-8") << u"aes.zip"_s << QByteArray("secr\xe9t\n") << 2;
    }
    void passwordFromStandardInput()
    {
        QFETCH(QString, archive);
        QFETCH(QByteArray, input);
        QFETCH(int, status);
        const CliRun outcome
            = runCli({ u"extract"_s, fixture(archive), u"-o"_s, m_out, u"--password-stdin"_s }, m_dir->path(), input);
        QCOMPARE(outcome.status, status);
        QCOMPARE(outIsEmpty(), status != 0);
        // A wrong password is said once and ends the run.
        QVERIFY(outcome.err.split(u'\n').count(text("解压密码错误")) <= 1);
    }

    // A full disk ends the job: one failure said, not one for every entry
    // after it, and no further file written once the disk has filled.
    void aFullDiskEndsTheJob_data()
    {
        QTest::addColumn<QStringList>("packer");
        QTest::newRow("zip") << QStringList { u"zip"_s, u"-q0r"_s, u"full.zip"_s };
        QTest::newRow("rar") << QStringList { u"rar"_s, u"a"_s, u"-idq"_s, u"-m0"_s, u"full.rar"_s };
    }
    void aFullDiskEndsTheJob()
    {
        QFETCH(QStringList, packer);
        // Half a megabyte that does not compress, in one large file and many small ones.
        const QString items = m_dir->filePath(u"items"_s);
        QVERIFY(QDir().mkpath(items));
        QByteArray noise(300 * 1024, Qt::Uninitialized);
        QRandomGenerator(3).fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
        QVERIFY(writeTo(items + u"/big.bin"_s, noise));
        for (int i = 0; i < 100; ++i)
            QVERIFY(writeTo(items + QStringLiteral("/small%1.bin").arg(i), noise.mid(i * 2048, 2048)));
        QProcess pack;
        pack.setWorkingDirectory(m_dir->path());
        pack.start(packer.first(), packer.mid(1) << u"items"_s);
        QVERIFY(pack.waitForFinished(60000) && pack.exitCode() == 0);

        QVERIFY(QDir().mkpath(m_out));
        const QByteArray mountPoint = QFile::encodeName(m_out);
        if (::geteuid() != 0 || ::mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP("cannot mount a small file system here");
        const CliRun outcome = runCli({ u"extract"_s, packer.last(), u"-o"_s, m_out }, m_dir->path());
        ::umount(mountPoint.constData());
        QCOMPARE(outcome.status, 1);
        // The entry each worker had under way, the job's own failure and
        // its reason on the last line.
        QVERIFY2(outcome.err.count(u"write error"_s) <= QThread::idealThreadCount() + 2, qPrintable(outcome.err));
    }
};

ZAVRIN_TEST(CliExtractTest)
#include "tst_cli_extract.moc"
