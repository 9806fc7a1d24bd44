#include "tests/support/TestMain.h"
#include "ui/ViewController.h"

#include <QMainWindow>
#include <QSignalSpy>
#include <QTest>

namespace {

class CountingScreen final : public ViewController {
public:
    using ViewController::ViewController;
    QStringList calls;

protected:
    void viewDidLoad() override { calls << QStringLiteral("load"); }
    void viewWillAppear() override { calls << (isVisible() ? QStringLiteral("will:shown") : QStringLiteral("will")); }
    void viewDidAppear() override { calls << (isVisible() ? QStringLiteral("did") : QStringLiteral("did:hidden")); }
};

} // namespace

class ViewControllerTest final : public QObject {
    Q_OBJECT

    std::unique_ptr<QMainWindow> m_window;

private slots:
    void init()
    {
        m_window = std::make_unique<QMainWindow>();
        m_window->setCentralWidget(new QWidget);
        m_window->show();
    }
    void cleanup() { m_window.reset(); }

    void presentingRunsTheHooksWithoutBlocking_data()
    {
        QTest::addColumn<bool>("sheet");
        QTest::addColumn<Qt::WindowModality>("modality");
        QTest::newRow("sheet") << true << Qt::WindowModal;
        QTest::newRow("modal window") << false << Qt::ApplicationModal;
    }
    void presentingRunsTheHooksWithoutBlocking()
    {
        QFETCH(bool, sheet);
        QFETCH(Qt::WindowModality, modality);
        // Kept by a widget of the window, as the home screen keeps its screens.
        auto* screen = new CountingScreen(m_window->centralWidget());
        QSignalSpy dismissed(screen, &ViewController::didDismiss);
        for (int round = 0; round < 2; ++round) {
            // Returns with the screen on display: no event loop of its own.
            if (sheet)
                screen->presentAsSheet(m_window->centralWidget());
            else
                screen->presentAsModalWindow(m_window->centralWidget());
            QVERIFY(screen->isPresented() && screen->isVisible());
            QCOMPARE(screen->windowModality(), modality);
            QCOMPARE(screen->parentWidget(), m_window->centralWidget());
            screen->presentAsSheet(m_window.get()); // already presented: nothing
            QTest::keyClick(screen, Qt::Key_Escape);
            QVERIFY(!screen->isPresented() && !screen->isVisible());
        }
        QCOMPARE(screen->calls,
            (QStringList { QStringLiteral("load"), QStringLiteral("will"), QStringLiteral("did"),
                QStringLiteral("will"), QStringLiteral("did") }));
        QCOMPARE(dismissed.count(), 2);
        screen->dismissViewController(); // not presented: nothing
        QCOMPARE(dismissed.count(), 2);
    }

    void closingOrAcceptingAlsoDismisses()
    {
        CountingScreen* screen = new CountingScreen;
        screen->presentAsSheet(m_window->centralWidget());
        // A screen of no widget of the window moves under it, which owns it.
        QCOMPARE(screen->parentWidget(), m_window.get());
        QSignalSpy dismissed(screen, &ViewController::didDismiss);
        screen->close();
        QVERIFY(!screen->isPresented());
        screen->presentAsSheet(m_window.get());
        screen->accept();
        QVERIFY(!screen->isPresented() && !screen->isVisible());
        QCOMPARE(dismissed.count(), 2);
        QCOMPARE(screen->presentationCount(), 2u);
    }
};

ZAVRIN_TEST(ViewControllerTest)
#include "tst_viewcontroller.moc"
