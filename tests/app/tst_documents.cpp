#include "app/AppDelegate.h"
#include "app/WindowController.h"
#include "feedback/FeedbackVC.h"
#include "tests/support/TestMain.h"

#include <QApplication>
#include <QDir>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
#include <QTimer>

class DocumentsTest final : public QObject {
    Q_OBJECT

private slots:
    // Which document reaches the home screen, and when; the home tests
    // follow it into the sheet.
    void routing_data()
    {
        QTest::addColumn<QStringList>("documents");
        QTest::addColumn<QString>("screenUp");
        QTest::addColumn<QString>("routed");

        const QString cwd = QDir::currentPath();
        QTest::newRow("relative path") << QStringList { u"in/b.7z"_s } << u""_s << cwd + u"/in/b.7z"_s;
        QTest::newRow("empty path") << QStringList { u""_s } << u""_s << u""_s;
        QTest::newRow("no documents") << QStringList {} << u""_s << u""_s;
        QTest::newRow("feedback window up") << QStringList { u"/data/a.zip"_s } << u"feedback"_s << u""_s;
        QTest::newRow("free window up") << QStringList { u"/data/a.zip"_s } << u"free"_s << u"/data/a.zip"_s;
        QTest::newRow("minimised") << QStringList { u"/data/a.zip"_s } << u"minimised"_s << u""_s;
        // A later launch brings the window back first.
        QTest::newRow("minimised, later launch")
            << QStringList { u"/data/a.zip"_s } << u"minimised, later"_s << u"/data/a.zip"_s;
    }

    void routing()
    {
        QFETCH(QStringList, documents);
        QFETCH(QString, screenUp);
        QFETCH(QString, routed);

        AppDelegate delegate;
        WindowController* window = delegate.windowController();
        window->showWindow();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QPointer<FeedbackVC> feedback;
        QWidget freeWindow;
        if (screenUp == QLatin1String("feedback"))
            (feedback = FeedbackVC::initFromStory())->presentAsModalWindow(window);
        else if (screenUp == QLatin1String("free"))
            freeWindow.show();
        else if (screenUp.startsWith(QLatin1String("minimised")))
            window->showMinimized();

        QSignalSpy spy(window, &WindowController::showUnzipRequested);
        if (screenUp.endsWith(QLatin1String("later")))
            delegate.openFilesFromAnotherLaunch(documents);
        else
            delegate.openFiles(documents);
        QCOMPARE(spy.size(), routed.isEmpty() ? 0 : 1);
        if (!routed.isEmpty())
            QCOMPARE(spy.first().first().toUrl(), QUrl::fromLocalFile(routed));
        // A single document answers yes whether it was routed or not.
        QVERIFY(delegate.openFile(u"/data/c.zip"_s));
        // One that had to wait is routed once the home screen is back.
        const bool waited = routed.isEmpty() && !documents.value(0).isEmpty();
        delete feedback.data();
        if (screenUp.startsWith(QLatin1String("minimised")))
            window->showNormal();
        if (waited) {
            QTRY_COMPARE(spy.size(), 1);
            QCOMPARE(spy.first().first().toUrl(), QUrl::fromLocalFile(documents.first()));
        }
    }

    // Also from a modal window, where the main window's shortcuts do not reach.
    void ctrlQQuits()
    {
        AppDelegate delegate;
        delegate.windowController()->showWindow();
        QPointer<FeedbackVC> feedback = FeedbackVC::initFromStory();
        feedback->presentAsModalWindow(delegate.windowController());
        QTimer::singleShot(0, feedback, [feedback] { QTest::keyClick(feedback, Qt::Key_Q, Qt::ControlModifier); });
        QTimer watchdog;
        watchdog.callOnTimeout(qApp, [] { QCoreApplication::exit(2); });
        watchdog.start(5000);
        QCOMPARE(QApplication::exec(), 0);
        delete feedback.data();
    }
};

ZAVRIN_TEST(DocumentsTest)
#include "tst_documents.moc"
