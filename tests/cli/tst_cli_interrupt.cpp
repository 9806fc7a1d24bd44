// The built zavrin-cli stopped by a signal in the middle of a job.
#include "tests/support/TestMain.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Runs a packing tool to its end; false when it is missing or fails.
bool runTool(const QString& program, const QStringList& arguments, const QString& folder)
{
    QProcess tool;
    tool.setWorkingDirectory(folder);
    tool.start(program, arguments);
    return tool.waitForFinished(120000) && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
}

QStringList hiddenIn(const QString& folder)
{
    return QDir(folder).entryList({ u".*"_s }, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

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
        QTest::newRow("compress, terminate") << u"compress"_s << SIGTERM;
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
        // Big enough to take a good part of a second, incompressible so that
        // no tool shortens the work.
        QByteArray big(160 * 1024 * 1024, Qt::Uninitialized);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(big.data()), big.size() / 4);
        QFile bigFile(at(u"big.bin"_s));
        QVERIFY(bigFile.open(QIODevice::WriteOnly) && bigFile.write(big) == big.size());
        bigFile.close();
        big.clear();
        QFile small(at(u"a-small.txt"_s));
        QVERIFY(small.open(QIODevice::WriteOnly) && small.write("complete\n") == 9);
        small.close();

        const QStringList items { u"a-small.txt"_s, u"big.bin"_s };
        QStringList arguments;
        QString watched; // where the job's first traces appear
        if (command == u"compress") {
            arguments = QStringList { u"compress"_s, u"-o"_s, u"out.zip"_s } + items;
            watched = dir.path();
        } else {
            const QString archive = u"big."_s + command;
            const bool made = command == u"zip"
                ? runTool(u"zip"_s, QStringList { u"-q0"_s, archive } + items, dir.path())
                : command == u"rar"
                ? runTool(u"rar"_s, QStringList { u"a"_s, u"-idq"_s, u"-m0"_s, archive } + items, dir.path())
                : runTool(u"7zz"_s, QStringList { u"a"_s, u"-bd"_s, u"-mx0"_s, archive } + items, dir.path());
            if (!made)
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
        // The signal comes once the big entry is under way: its temporary
        // (or the 7z staging folder) is there.
        // For zip and rar the small entry is complete by then.
        const bool keeps = command == u"zip" || command == u"rar";
        const auto underWay
            = [&] { return !hiddenIn(watched).isEmpty() && (!keeps || QFileInfo::exists(at(u"out/a-small.txt"_s))); };
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

        QCOMPARE(hiddenIn(watched), QStringList());
        QVERIFY(!QFile::exists(at(u"out/big.bin"_s)));
        QVERIFY(!QFile::exists(at(u"out.zip"_s)));
        QCOMPARE(QDir(at(u"tmp/zavrin-"_s) + QString::number(::geteuid())).entryList({ u"job-*"_s }, QDir::Dirs),
            QStringList());
        // A 7z job moves nothing in before 7zz is done: the folder it made goes too.
        QCOMPARE(QFileInfo::exists(at(u"out"_s)), keeps);
        if (keeps) {
            QFile kept(at(u"out/a-small.txt"_s));
            QVERIFY(kept.open(QIODevice::ReadOnly));
            QCOMPARE(kept.readAll(), QByteArray("complete\n"));
        }
    }
};

ZAVRIN_TEST(CliInterruptTest)
#include "tst_cli_interrupt.moc"
