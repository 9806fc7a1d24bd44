#include "platform/HUD.h"
#include "tests/support/TestMain.h"
#include "ui/Styling.h"
#include "ui/TavProgressHUD.h"
#include "ui/WindowLookup.h"

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

namespace {

QImage iconImage(const QString& name, const QWidget* on)
{
    return TavProgressHUD::icon(name, QSize(40, 40), on->devicePixelRatioF()).toImage();
}

int visibleToasts(const QWidget* content)
{
    int n = 0;
    for (const auto* toast : content->findChildren<TavProgressHUD*>())
        n += toast->isVisible();
    return n;
}

} // namespace

class ToastTest final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QMainWindow> m_window;
    QPushButton* m_button = nullptr;
    QLineEdit* m_edit = nullptr;

    QWidget* content() const { return m_window->centralWidget(); }

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
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        m_window->activateWindow();
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
        if (kind == 0)
            HUD::showInfoWithStatus(text);
        else if (kind == 1)
            HUD::showSuccessWithStatus(text);
        else
            HUD::showErrorWithStatus(text);
        QVERIFY(!TavProgressHUD::current()); // queued, also from the main thread
        QTRY_VERIFY(TavProgressHUD::current());

        TavProgressHUD* toast = TavProgressHUD::current();
        QCOMPARE(toast->parentWidget(), content());
        QCOMPARE(toast->geometry(), content()->rect());
        QVERIFY(toast->isVisible());
        QCOMPARE(toast->titleLabel()->text(), text);
        QCOMPARE(toast->titleLabel()->textFormat(), Qt::PlainText);
        QCOMPARE(toast->findChild<QWidget*>(QStringLiteral("hudView")), toast->hudView());
        QCOMPARE(toast->findChild<QLabel*>(QStringLiteral("tagImageView")), toast->tagImageView());
        QCOMPARE(backgroundColor(toast->hudView()), QColor(247, 247, 247));
        QCOMPARE(cornerRadius(toast->hudView()), 10.0);

        const QImage shown = toast->tagImageView()->pixmap().toImage();
        QVERIFY(!shown.isNull());
        QCOMPARE(shown, iconImage(iconName, toast));
        for (const QString& other : {QStringLiteral("hud_info"), QStringLiteral("hud_success"), QStringLiteral("hud_error")}) {
            if (other != iconName)
                QVERIFY(shown != iconImage(other, toast));
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
        QCOMPARE(visibleToasts(content()), 1);
        TavProgressHUD::showError(QStringLiteral("two"));
        QTRY_VERIFY(TavProgressHUD::current() && TavProgressHUD::current() != first);
        QCOMPARE(TavProgressHUD::current()->titleLabel()->text(), QStringLiteral("two"));
        QCOMPARE(visibleToasts(content()), 1);

        // The first toast's timer removes the second one; its own would fire at 2.2 s.
        QTRY_VERIFY_WITH_TIMEOUT(!TavProgressHUD::current(), 2500);
        const qint64 gone = clock.elapsed();
        QVERIFY2(gone >= 1350 && gone < 2150, qPrintable(QString::number(gone)));
        QCOMPARE(visibleToasts(content()), 0);
    }

    void requestFromWorkerShowsOnMainThreadAfterReturn()
    {
        std::thread worker([] {
            HUD::showSuccessWithStatus(QStringLiteral("from HUD"));
            TavProgressHUD::showError(QStringLiteral("direct"));
        });
        worker.join();
        QVERIFY(!TavProgressHUD::current());
        QTRY_VERIFY(TavProgressHUD::current()
                    && TavProgressHUD::current()->titleLabel()->text() == QStringLiteral("direct"));
        QCOMPARE(TavProgressHUD::current()->thread(), QCoreApplication::instance()->thread());
        QCOMPARE(visibleToasts(content()), 1);
    }

    void noWindowNoToast()
    {
        m_window->hide();
        HUD::showInfoWithStatus(QStringLiteral("nobody sees this"));
        TavProgressHUD::present(QStringLiteral("hud_info"), QStringLiteral("nor this"));
        QTest::qWait(20);
        QVERIFY(!TavProgressHUD::current());

        // A window that goes away under its toast takes the toast with it.
        m_window->show();
        TavProgressHUD::present(QStringLiteral("hud_error"), QStringLiteral("bye"));
        QVERIFY(TavProgressHUD::current());
        m_window.reset();
        QVERIFY(!TavProgressHUD::current());
        TavProgressHUD::dismiss();
    }

    void toastPrefersActiveApplicationWindowOverDialogs()
    {
        QWidget second;
        second.resize(300, 200);
        second.show();
        QVERIFY(QTest::qWaitForWindowExposed(&second));
        second.activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), &second);
        QCOMPARE(WindowLookup::mainWindow(), &second);
        TavProgressHUD::create();
        QCOMPARE(TavProgressHUD::current()->parentWidget(), &second);

        // A sheet over the main window leaves the toast on the main window.
        QDialog sheet(m_window.get());
        sheet.setWindowModality(Qt::WindowModal);
        sheet.show();
        sheet.activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), &sheet);
        QCOMPARE(WindowLookup::mainWindow(), m_window.get());
        QCOMPARE(WindowLookup::keyWindow(), &sheet);
        TavProgressHUD::create();
        QCOMPARE(TavProgressHUD::current()->parentWidget(), content());
        QCOMPARE(visibleToasts(&second), 0);
    }
};

ZAVRIN_TEST(ToastTest)
#include "tst_toast.moc"
