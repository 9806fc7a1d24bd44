// The built zavrin-cli stopped by a signal in the middle of a job.
#include "tests/support/MidJob.h"
#include "tests/support/TestMain.h"
#include "tests/support/ZipInspection.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <unistd.h>

using namespace Qt::StringLiterals;

using namespace MidJob;

class CliInterruptTest final : public QObject {
    Q_OBJECT

private slots:
    // A signal stops the job at once: the status tells which signal, what
    // was not complete is gone (temporaries, the 7z staging folder, the
    // compression's staging and the archive's claimed name), and files
    // complete before it stay.
    void aSignalStopsTheJobAndLeavesNoPart_data()
    {
        QTest::addColumn<QString>("command"); // "compress" or the extension of the archive to extract
        QTest::addColumn<int>("signal");
        QTest::newRow("compress, interrupt") << u"compress"_s << SIGINT;
        QTest::newRow("compress to 7z, terminate") << u"compress 7z"_s << SIGTERM;
        QTest::newRow("zip, hang-up") << u"zip"_s << SIGHUP;
        QTest::newRow("rar, interrupt") << u"rar"_s << SIGINT;
        QTest::newRow("7z, terminate") << u"7z"_s << SIGTERM;
    }
    void aSignalStopsTheJobAndLeavesNoPart()
    {
        QFETCH(QString, command);
        QFETCH(int, signal);
        QTemporaryDir dir;
        const auto at = [&dir](const QString& name) { return dir.filePath(name); };
        QDir().mkpath(at(u"tmp"_s));
        // The output folder is left for the command to make.
        QVERIFY(writeItems(dir.path()));

        QStringList arguments;
        QString watched; // where the job's first traces appear
        const bool compress = command.startsWith(u"compress");
        if (compress) {
            const QString format = command == u"compress" ? u"zip"_s : command.mid(9);
            arguments = QStringList { u"compress"_s, u"--format"_s, format, u"-o"_s, u"out."_s + format } + kItems;
            watched = dir.path();
        } else {
            const QString archive = u"big."_s + command;
            if (!packItems(dir.path(), archive))
                QSKIP("the packing tool is missing");
            arguments = { u"extract"_s, archive, u"-o"_s, u"out"_s };
            watched = at(u"out"_s);
        }

        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"TMPDIR"_s, at(u"tmp"_s));
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(dir.path());
        process.setChildProcessModifier([] { ::setsid(); });
        process.start(QStringLiteral(ZAVRIN_CLI_PATH), arguments);
        QVERIFY(process.waitForStarted());
        process.closeWriteChannel();
        // The signal comes once the big entry is under way: the program
        // writes it (or the 7z staging folder or the archive's temporary is
        // there). For zip and rar the small entry is complete by then.
        const bool keeps = command == u"zip" || command == u"rar";
        const auto underWay = [&] {
            if (keeps)
                return writesIn(process.processId(), watched) && QFileInfo::exists(at(u"out/a-small.txt"_s));
            return !leftIn(watched, u".*"_s).isEmpty();
        };
        QVERIFY(QTest::qWaitFor([&] { return underWay() || process.state() == QProcess::NotRunning; }, 20000));
        QTest::qWait(30);
        QVERIFY2(process.state() == QProcess::Running, "the job ended before the signal");
        QElapsedTimer stopping;
        stopping.start();
        QCOMPARE(::kill(static_cast<pid_t>(process.processId()), signal), 0);
        QVERIFY(process.waitForFinished(10000));
        QVERIFY2(stopping.elapsed() < 1000, qPrintable(QString::number(stopping.elapsed())));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 128 + signal);

        QCOMPARE(leftIn(watched, u".*"_s), QStringList());
        QVERIFY(!QFile::exists(at(u"out/big.bin"_s)));
        QCOMPARE(QDir(dir.path()).entryList({ u"out.*"_s }, QDir::AllEntries | QDir::Hidden), QStringList());
        QCOMPARE(QDir(at(u"tmp/zavrin-"_s) + QString::number(::geteuid())).entryList({ u"job-*"_s }, QDir::Dirs),
            QStringList());
        // A 7z job moves nothing in before 7zz is done: the folder it made goes too.
        QCOMPARE(QFileInfo::exists(at(u"out"_s)), keeps);
        if (keeps)
            QCOMPARE(ZipInspection::readFile(at(u"out/a-small.txt"_s)), QByteArray("complete\n"));
    }
};

ZAVRIN_TEST(CliInterruptTest)
#include "tst_cli_interrupt.moc"
