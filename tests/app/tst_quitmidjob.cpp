// Closing the main window while jobs run: the program quits at once, asks
// nothing, leaves no temporary, staging folder or partial file, keeps what
// was complete and exits cleanly.
#include "tests/support/MidJob.h"
#include "tests/support/TestMain.h"
#include "tests/support/ZipInspection.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <unistd.h>

using namespace Qt::StringLiterals;

class QuitMidJobTest final : public QObject {
    Q_OBJECT

private slots:
    // Closing the window, or a signal as at logout.
    void quittingMidJobLeavesNoPart_data()
    {
        QTest::addColumn<int>("signal"); // 0: the window is closed
        QTest::addColumn<int>("status");
        QTest::newRow("window closed") << 0 << 0;
        QTest::newRow("terminated") << int(SIGTERM) << 128 + SIGTERM;
    }
    void quittingMidJobLeavesNoPart()
    {
        QFETCH(int, signal);
        QFETCH(int, status);
        QTemporaryDir dir;
        const auto at = [&dir](const char* name) { return dir.filePath(QString::fromLatin1(name)); };
        for (const char* folder : { "out", "tmp", "home" })
            QDir().mkpath(at(folder));
        QVERIFY(MidJob::writeItems(dir.path()) && MidJob::packItems(dir.path(), u"big.zip"_s));

        QProcess app;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* folder : { "HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME" })
            environment.insert(QString::fromLatin1(folder), at("home"));
        environment.insert(u"TMPDIR"_s, at("tmp"));
        environment.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        environment.remove(u"ZAVRIN_ENDPOINT_BASE"_s);
        app.setProcessEnvironment(environment);
        app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        app.start(QStringLiteral(ZAVRIN_QUIT_MID_JOB_PATH),
            { signal != 0 ? u"wait"_s : u"close"_s, at("big.zip"), at("out"), at("new.zip"), at("big.bin"),
                at("a-small.txt") });
        QVERIFY(app.waitForStarted());
        QVERIFY(QTest::qWaitFor([&] { return app.canReadLine() || app.state() == QProcess::NotRunning; }, 30000));
        QCOMPARE(app.readLine().trimmed(), QByteArray("mid-job"));
        QElapsedTimer quitting;
        quitting.start();
        if (signal != 0)
            QCOMPARE(::kill(static_cast<pid_t>(app.processId()), signal), 0);
        QVERIFY(app.waitForFinished(10000));
        QVERIFY2(quitting.elapsed() < 1500, qPrintable(QString::number(quitting.elapsed())));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), status);

        QCOMPARE(MidJob::leftIn(at("out"), u"*"_s), QStringList { u"a-small.txt"_s });
        QCOMPARE(ZipInspection::readFile(at("out/a-small.txt")), QByteArray("complete\n"));
        QCOMPARE(MidJob::leftIn(dir.path(), u"*new.zip*"_s), QStringList());
        QCOMPARE(QDir(at("tmp/zavrin-") + QString::number(::geteuid())).entryList({ u"job-*"_s }, QDir::Dirs),
            QStringList());
    }
};

ZAVRIN_TEST(QuitMidJobTest)
#include "tst_quitmidjob.moc"
