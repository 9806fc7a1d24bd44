#include "platform/HUD.h"
#include "tests/support/TestMain.h"
#include "ui/Styling.h"
#include "ui/TavProgressHUD.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include <memory>
#include <thread>

class ToastTest final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QMainWindow> m_window;
    QPushButton* m_button = nullptr;
    QLineEdit* m_edit = nullptr;

    QWidget* content() const { return m_window->centralWidget(); }
    int visibleToasts() const
    {
        int n = 0;
        for (const auto* toast : content()->findChildren<TavProgressHUD*>())
            n += toast->isVisible();
        return n;
    }

private slots:
    void initTestCase() { TavProgressHUD::installAsPresenter(); }
    void cleanupTestCase() { HUD::setPresenter(nullptr); }

    void init()
    {
        m_window = std::make_unique<QMainWindow>();
        auto* central = new QWidget;
        auto* layout = new QVBoxLayout(central);
        m_button = new QPushButton(QStringLiteral("under"), central);
        m_edit = new QLineEdit(central);
        layout->addWidget(m_button);
        layout->addStretch();
        layout->addWidget(m_edit);
        m_window->setCentralWidget(central);
        m_window->resize(640, 420);
        m_window->show();
        m_window->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), m_window.get());
        m_edit->setFocus();
    }

    void cleanup()
    {
        TavProgressHUD::dismiss();
        m_window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void toastCoversContentWithItsIcon_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("iconName");
        QTest::newRow("info") << 0 << QStringLiteral("hud_info");
        QTest::newRow("success") << 1 << QStringLiteral("hud_success");
        QTest::newRow("error") << 2 << QStringLiteral("hud_error");
    }

    void toastCoversContentWithItsIcon()
    {
        QFETCH(int, kind);
        QFETCH(QString, iconName);
        const QString text = QStringLiteral("解压完成 <b>a.zip</b>");
        using Show = void (*)(const QString&);
        const Show show[] = {HUD::showInfoWithStatus, HUD::showSuccessWithStatus, HUD::showErrorWithStatus};
        show[kind](text);
        QVERIFY(!TavProgressHUD::current()); // queued, also from the main thread
        QTRY_VERIFY(TavProgressHUD::current());

        TavProgressHUD* toast = TavProgressHUD::current();
        QCOMPARE(toast->parentWidget(), content());
        QCOMPARE(toast->geometry(), content()->rect());
        QCOMPARE(toast->titleLabel()->text(), text);
        QCOMPARE(toast->titleLabel()->textFormat(), Qt::PlainText);
        QCOMPARE(toast->hudView()->objectName(), QStringLiteral("hudView"));
        QCOMPARE(backgroundColor(toast->hudView()), QColor(247, 247, 247));
        QCOMPARE(cornerRadius(toast->hudView()), 10.0);

        const QImage shown = toast->tagImageView()->pixmap().toImage();
        QVERIFY(!shown.isNull());
        for (const QString& name :
            {QStringLiteral("hud_info"), QStringLiteral("hud_success"), QStringLiteral("hud_error")}) {
            const QImage drawn = TavProgressHUD::icon(name, QSize(40, 40), toast->devicePixelRatioF()).toImage();
            QCOMPARE(shown == drawn, name == iconName);
        }

        // A centred panel; the content keeps the focus and the clicks outside the panel.
        const QRect panel = toast->hudView()->geometry();
        QVERIFY(panel.width() >= 220 && panel.height() >= 120);
        QCOMPARE(panel.center(), toast->rect().center());
        QCOMPARE(QApplication::focusWidget(), m_edit);
        QVERIFY(!m_button->geometry().intersects(panel.adjusted(-20, -20, 20, 20)));
        QCOMPARE(content()->childAt(m_button->geometry().center()), m_button);
        QVERIFY(toast->isAncestorOf(content()->childAt(panel.center())));

        m_window->resize(800, 500);
        QTRY_COMPARE(toast->geometry(), content()->rect());
        QCOMPARE(toast->hudView()->geometry().center(), toast->rect().center());
    }

    void laterToastReplacesEarlierAndEndsOnItsTimer()
    {
        TavProgressHUD::showMessage(QStringLiteral("one"));
        QTRY_VERIFY(TavProgressHUD::current());
        QElapsedTimer clock;
        clock.start();
        const QPointer<TavProgressHUD> first = TavProgressHUD::current();

        QTest::qWait(700);
        QCOMPARE(TavProgressHUD::current(), first.data());
        TavProgressHUD::showError(QStringLiteral("two"));
        QTRY_VERIFY(TavProgressHUD::current() && TavProgressHUD::current() != first);
        QCOMPARE(visibleToasts(), 1);

        // The first toast's timer removes the second one; its own would fire at 2.2 s.
        QTRY_VERIFY_WITH_TIMEOUT(!TavProgressHUD::current(), 2500);
        const qint64 gone = clock.elapsed();
        QVERIFY2(gone >= 1350 && gone < 2150, qPrintable(QString::number(gone)));
        QCOMPARE(visibleToasts(), 0);
    }

    void requestFromWorkerShowsOnMainThreadAfterReturn()
    {
        std::thread worker([] {
            HUD::showSuccessWithStatus(QStringLiteral("from HUD"));
            TavProgressHUD::showError(QStringLiteral("direct"));
        });
        worker.join();
        QVERIFY(!TavProgressHUD::current());
        QTRY_VERIFY(
            TavProgressHUD::current() && TavProgressHUD::current()->titleLabel()->text() == QStringLiteral("direct"));
        QCOMPARE(TavProgressHUD::current()->thread(), QCoreApplication::instance()->thread());
        QCOMPARE(visibleToasts(), 1);
    }

    void toastGoesToActiveApplicationWindowNotToSheets()
    {
        QWidget second;
        second.show();
        second.activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), &second);
        TavProgressHUD::create();
        QCOMPARE(TavProgressHUD::current()->parentWidget(), &second);

        QDialog sheet(m_window.get());
        sheet.setWindowModality(Qt::WindowModal);
        sheet.show();
        sheet.activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), &sheet);
        TavProgressHUD::create();
        QCOMPARE(TavProgressHUD::current()->parentWidget(), content());
    }

    // Last: the timer of a toast requested without a window outlives the test.
    void noWindowNoToast()
    {
        m_window->hide();
        HUD::showInfoWithStatus(QStringLiteral("nobody sees this"));
        QTest::qWait(20);
        QVERIFY(!TavProgressHUD::current());

        // A window that goes away under its toast takes the toast with it.
        m_window->show();
        TavProgressHUD::present(QStringLiteral("hud_error"), QStringLiteral("bye"));
        QVERIFY(TavProgressHUD::current());
        m_window.reset();
        QVERIFY(!TavProgressHUD::current());
    }
};

ZAVRIN_TEST(ToastTest)
#include "tst_toast.moc"
