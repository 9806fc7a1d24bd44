#include "app/DocumentQueue.h"
#include "app/LaunchArguments.h"
#include "platform/Bundle.h"
#include "screens/ProgressController.h"
#include "screens/UnzipController.h"
#include "screens/ZipController.h"
#include "tests/support/HomeFixture.h"
#include "tests/support/TestMain.h"
#include "tests/support/ZipInspection.h"

#include <QApplication>
#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(LaunchArguments::Action)

// What a launch asks for, read from its bytes, and the documents that wait
// while the home screen is busy.
class DocumentQueueTest final : public QObject {
    Q_OBJECT

private slots:
    void argumentsAreReadAsBytes_data()
    {
        QTest::addColumn<QList<QByteArray>>("arguments");
        QTest::addColumn<LaunchArguments::Action>("action");
        QTest::addColumn<QStringList>("paths");
        QTest::addColumn<int>("refused");
        using A = LaunchArguments::Action;
        QTest::newRow("absolute") << QList<QByteArray> { "/data/a.zip" } << A::Open << QStringList { u"/data/a.zip"_s }
                                  << 0;
        QTest::newRow("relative") << QList<QByteArray> { "in/../b.7z" } << A::Open << QStringList { u"/work/b.7z"_s }
                                  << 0;
        QTest::newRow("unicode") << QList<QByteArray> { "/data/\xe5\x8e\x8b.rar" } << A::Open
                                 << QStringList { u"/data/压.rar"_s } << 0;
        // Latin-1 bytes that are no UTF-8: decoded they would name another file.
        QTest::newRow("not valid text") << QList<QByteArray> { "/data/caf\xe9.zip", "/data/b.zip" } << A::Open
                                        << QStringList { u"/data/b.zip"_s } << 1;
        QTest::newRow("file address") << QList<QByteArray> { "file:///data/a%20b.zip" } << A::Open
                                      << QStringList { u"/data/a b.zip"_s } << 0;
        QTest::newRow("file address, bad bytes")
            << QList<QByteArray> { "file:///data/%FF.zip" } << A::Open << QStringList() << 1;
        QTest::newRow("empty") << QList<QByteArray> { "" } << A::Open << QStringList() << 0;
        QTest::newRow("extract here") << QList<QByteArray> { "--extract-here", "/a.zip", "/b.rar" } << A::ExtractHere
                                      << QStringList { u"/a.zip"_s, u"/b.rar"_s } << 0;
        QTest::newRow("compress") << QList<QByteArray> { "--compress", "x", "/y" } << A::Compress
                                  << QStringList { u"/work/x"_s, u"/y"_s } << 0;
        QTest::newRow("a file named like an option")
            << QList<QByteArray> { "--", "--compress" } << A::Open << QStringList { u"/work/--compress"_s } << 0;
    }
    void argumentsAreReadAsBytes()
    {
        QFETCH(QList<QByteArray>, arguments);
        QFETCH(LaunchArguments::Action, action);
        QFETCH(QStringList, paths);
        QFETCH(int, refused);
        const LaunchArguments launch = LaunchArguments::parse(arguments, "/work");
        QCOMPARE(launch.action, action);
        QCOMPARE(launch.paths, paths);
        QCOMPARE(launch.refused.size(), refused);
        // A later launch hands the same over.
        const LaunchArguments handed = LaunchArguments::fromJson(launch.toJson());
        QCOMPARE(handed.action, action);
        QCOMPARE(handed.paths, paths);
        QCOMPARE(handed.refused, launch.refused);
    }

    void queueKeepsOrderOnce()
    {
        using A = LaunchArguments::Action;
        DocumentQueue queue;
        LaunchArguments launch;
        launch.action = A::ExtractHere;
        launch.paths = { u"/a.zip"_s, u"/b.zip"_s };
        for (const DocumentQueue::Request& request : DocumentQueue::requestsOf(launch))
            QVERIFY(queue.enqueue(request));
        QVERIFY(queue.enqueue({ A::Open, { u"/c.7z"_s } }));
        QVERIFY(!queue.enqueue({ A::ExtractHere, { u"/a.zip"_s } })); // already waiting
        QVERIFY(queue.enqueue({ A::Open, { u"/a.zip"_s } })); // another sheet for it
        QCOMPARE(queue.size(), 4);
        QCOMPARE(queue.takeNext()->paths, QStringList { u"/a.zip"_s });
        QCOMPARE(queue.takeNext()->paths, QStringList { u"/b.zip"_s });
        QCOMPARE(queue.takeNext()->action, A::Open);
        QVERIFY(queue.enqueue({ A::ExtractHere, { u"/a.zip"_s } })); // taken, so it may come again
        QCOMPARE(queue.size(), 2);

        launch.action = A::Open; // of several documents, the first
        QCOMPARE(DocumentQueue::requestsOf(launch), (QList<DocumentQueue::Request> { { A::Open, { u"/a.zip"_s } } }));
    }

    // Archives opened while a sheet is up are presented, in order, each once
    // the home screen is key again; none is dropped.
    void documentsWaitForTheHomeScreen()
    {
        QTemporaryDir dir;
        const auto file = [&dir](const QString& name) {
            ZipInspection::writeFile(dir.filePath(name), "x");
            return dir.filePath(name);
        };
        HomeFixture fixture;
        AppDelegate& delegate = fixture.delegate;
        WindowController* window = fixture.window();
        MainController* home = fixture.home();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        home->showZip({ QUrl::fromLocalFile(file(u"item.txt"_s)) });
        QVERIFY(!window->homeScreenIsKey());

        delegate.openFiles({ file(u"one.zip"_s) });
        delegate.openFiles({ file(u"notes.txt"_s) }); // a toast, in its turn
        delegate.openFiles({ file(u"two.rar"_s) });
        delegate.openFiles({ dir.filePath(u"one.zip"_s) }); // already waiting
        QCOMPARE(window->waitingRequests().size(), 3);
        QTest::qWait(50);
        QVERIFY(!home->unzipVc()->isPresented());

        home->zipVc()->dismissViewController();
        QTRY_VERIFY(home->unzipVc()->isPresented());
        QCOMPARE(home->unzipVc()->fileUrl().toLocalFile(), dir.filePath(u"one.zip"_s));
        home->unzipVc()->dismissViewController();
        QTRY_VERIFY(home->unzipVc()->isPresented());
        QCOMPARE(home->unzipVc()->fileUrl().toLocalFile(), dir.filePath(u"two.rar"_s));
        QTRY_COMPARE(fixture.toasts.count(RecordingToasts::Kind::Info, L(u"不支持的文件格式"_s)), 1);
        QVERIFY(window->waitingRequests().isEmpty());
        home->unzipVc()->dismissViewController();
    }

    // "--extract-here": beside the archive, with the progress sheet alone.
    void extractHereUsesTheProgressSheetOnly()
    {
        QTemporaryDir dir;
        QVERIFY(ZipInspection::writeFile(dir.filePath(u"src/a.txt"_s), "alpha\n"));
        QProcess zip;
        zip.setWorkingDirectory(dir.filePath(u"src"_s));
        zip.start(u"zip"_s, { u"-q"_s, dir.filePath(u"here.zip"_s), u"a.txt"_s });
        QVERIFY(zip.waitForFinished() && zip.exitCode() == 0);
        QVERIFY(ZipInspection::writeFile(dir.filePath(u"a.txt"_s), "mine\n")); // never overwritten

        HomeFixture fixture;
        LaunchArguments launch;
        launch.action = LaunchArguments::Action::ExtractHere;
        launch.paths = { dir.filePath(u"here.zip"_s) };
        fixture.delegate.openLaunch(launch);
        MainController* home = fixture.home();
        QTRY_VERIFY(home->progressVc()->isPresented());
        QVERIFY(!home->unzipVc()->isPresented());
        QCOMPARE(home->progressVc()->model()->savePath, dir.path());
        QTRY_VERIFY_WITH_TIMEOUT(home->progressVc()->findChild<QLabel*>(u"tipTf"_s)->text() == L(u"解压完成"_s), 20000);
        QCOMPARE(ZipInspection::readFile(dir.filePath(u"a.txt"_s)), QByteArray("mine\n"));
        QVERIFY(fixture.workspace.opened.isEmpty());
    }
};

ZAVRIN_TEST(DocumentQueueTest)
#include "tst_documentqueue.moc"
