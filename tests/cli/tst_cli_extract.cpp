// The built zavrin-cli, run as a child process: `extract` and its exit status.
#include "platform/Bundle.h"
#include "tests/cli/CliRun.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

namespace {

QString fixture(const QString& name)
{
    return QStringLiteral(ZAVRIN_FIXTURES_DIR "/") + name;
}

} // namespace

class CliExtractTest final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_out;

    QString text(const char* key) const { return L(QString::fromUtf8(key)); }

private slots:
    void initTestCase() { Bundle::setPreferredLanguages({ QStringLiteral("en") }); }
    void cleanupTestCase() { Bundle::setPreferredLanguages({}); }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_out = m_dir->filePath(QStringLiteral("out"));
    }

    void extractsIntoTheFolder_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::newRow("zip") << QStringLiteral("plain.zip");
        QTest::newRow("rar") << QStringLiteral("plain.rar");
        QTest::newRow("7z") << QStringLiteral("plain.7z");
    }
    void extractsIntoTheFolder()
    {
        QFETCH(QString, archive);
        const CliRun outcome
            = runCli({ QStringLiteral("extract"), fixture(archive), QStringLiteral("-o"), m_out }, m_dir->path());
        QCOMPARE(outcome.status, 0);
        QVERIFY(QFileInfo(m_out + QStringLiteral("/dir/nested.txt")).isFile());
        // Toasts are lines in the user's language; no bar off a terminal.
        QVERIFY2(outcome.err.contains(text("解压完成") + u'\n'), qPrintable(outcome.err));
        QVERIFY(!outcome.err.contains(u'\r'));
        QVERIFY(!outcome.err.contains(QStringLiteral("解压")));
    }

    void defaultsToTheCurrentFolder()
    {
        const CliRun outcome
            = runCli({ QStringLiteral("extract"), fixture(QStringLiteral("plain.zip")) }, m_dir->path());
        QCOMPARE(outcome.status, 0);
        QVERIFY(QFileInfo(m_dir->filePath(QStringLiteral("hello.txt"))).isFile());
    }

    void failuresAreNonZero_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing archive") << QStringLiteral("nothing.zip") << QString() << 2
                                         << QStringLiteral("no such archive");
        QTest::newRow("folder is a file")
            << QStringLiteral("plain.zip") << QStringLiteral("plain.zip") << 2 << QStringLiteral("cannot write");
        QTest::newRow("folder cannot be written")
            << QStringLiteral("plain.zip") << QStringLiteral("/proc/self") << 2 << QStringLiteral("cannot write");
        QTest::newRow("unsafe names") << QStringLiteral("hostile-dotdot.7z") << QString() << 1 << text("解压文件错误");
        QTest::newRow("truncated") << QStringLiteral("truncated.7z") << QString() << 1 << text("解压文件错误");
        QTest::newRow("encrypted, no terminal")
            << QStringLiteral("aes.zip") << QString() << 1 << QStringLiteral("--password-stdin");
    }
    void failuresAreNonZero()
    {
        QFETCH(QString, archive);
        QFETCH(QString, folder);
        QFETCH(int, status);
        QFETCH(QString, message);
        QStringList arguments { QStringLiteral("extract"), fixture(archive), QStringLiteral("-o") };
        arguments << (folder.isEmpty() ? m_out : folder.startsWith(u'/') ? folder : fixture(folder));
        const CliRun outcome = runCli(arguments, m_dir->path());
        QCOMPARE(outcome.status, status);
        QVERIFY2(outcome.err.contains(message), qPrintable(outcome.err));
        QVERIFY(QDir(m_out).isEmpty());
    }

    void passwordFromStandardInput_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("status");
        QTest::newRow("zip right") << QStringLiteral("aes.zip") << QByteArray("secret\n") << 0;
        QTest::newRow("rar right, no newline") << QStringLiteral("encrypted-headers.rar") << QByteArray("secret") << 0;
        QTest::newRow("7z right") << QStringLiteral("encrypted-headers.7z") << QByteArray("secret\r\n") << 0;
        QTest::newRow("empty password") << QStringLiteral("empty-password.zip") << QByteArray("\n") << 0;
        QTest::newRow("zip wrong") << QStringLiteral("zipcrypto.zip") << QByteArray("wrong\nsecret\n") << 1;
        QTest::newRow("rar wrong") << QStringLiteral("encrypted.rar") << QByteArray("wrong\n") << 1;
        QTest::newRow("7z wrong") << QStringLiteral("encrypted.7z") << QByteArray("wrong\n") << 1;
        QTest::newRow("no input") << QStringLiteral("encrypted.rar") << QByteArray() << 1;
    }
    void passwordFromStandardInput()
    {
        QFETCH(QString, archive);
        QFETCH(QByteArray, input);
        QFETCH(int, status);
        const CliRun outcome = runCli({ QStringLiteral("extract"), fixture(archive), QStringLiteral("-o"), m_out,
                                          QStringLiteral("--password-stdin") },
            m_dir->path(), input);
        QCOMPARE(outcome.status, status);
        if (status == 0) {
            QVERIFY(!QDir(m_out).isEmpty());
        } else {
            // A wrong zip or rar password is said once and ends the run.
            QVERIFY(outcome.err.split(u'\n').count(text("解压密码错误")) <= 1);
            QVERIFY(snapshotIsEmpty());
        }
    }

private:
    bool snapshotIsEmpty() const
    {
        return QDir(m_out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty();
    }
};

ZAVRIN_TEST(CliExtractTest)
#include "tst_cli_extract.moc"
