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

using namespace Qt::StringLiterals;

class ToastTest final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QMainWindow> m_window;
    QPushButton* m_button = nullptr;
    QLineEdit* m_edit = nullptr;

    QWidget* content() const { return m_window->centralWidget(); }
    static int visibleToasts()
    {
        int n = 0;
        for (const QWidget* widget : QApplication::topLevelWidgets())
            n += qobject_cast<const TavProgressHUD*>(widget) && widget->isVisible();
        return n;
    }
    // Where the toast stands against the centre of the content, on the screen.
    QPoint offCentre(const TavProgressHUD* toast) const
    {
        return toast->geometry().center() - content()->mapToGlobal(content()->rect().center());
    }

private slots:
    void initTestCase() { TavProgressHUD::installAsPresenter(); }
    void cleanupTestCase() { HUD::setPresenter(nullptr); }

    void init()
    {
        m_window = std::make_unique<QMainWindow>();
        auto* central = new QWidget;
        auto* layout = new QVBoxLayout(central);
        m_button = new QPushButton(u"under"_s, central);
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
        QTest::newRow("info") << 0 << u"hud_info"_s;
        QTest::newRow("success") << 1 << u"hud_success"_s;
        QTest::newRow("error") << 2 << u"hud_error"_s;
    }

    void toastCoversContentWithItsIcon()
    {
        QFETCH(int, kind);
        QFETCH(QString, iconName);
        const QString text = u"解压完成 <b>a.zip</b>"_s;
        using Show = void (*)(const QString&);
        const Show show[] = { HUD::showInfoWithStatus, HUD::showSuccessWithStatus, HUD::showErrorWithStatus };
        show[kind](text);
        QVERIFY(!TavProgressHUD::current()); // queued, also from the main thread
        QTRY_VERIFY(TavProgressHUD::current());

        TavProgressHUD* toast = TavProgressHUD::current();
        QCOMPARE(toast->owner(), m_window.get());
        QCOMPARE(toast->titleLabel()->text(), text);
        QCOMPARE(toast->titleLabel()->textFormat(), Qt::PlainText);
        QCOMPARE(toast->hudView()->objectName(), u"hudView"_s);
        // The layer style draws: a "DCDDE3" border around "f7f7f7".
        const QImage layer = toast->hudView()->grab().toImage();
        QCOMPARE(layer.pixelColor(layer.width() / 2, 0), QColor(0xDC, 0xDD, 0xE3));
        QCOMPARE(layer.pixelColor(layer.width() / 2, 2), QColor(247, 247, 247));

        const QImage shown = toast->tagImageView()->pixmap().toImage();
        QVERIFY(!shown.isNull());
        for (const QString& name : { u"hud_info"_s, u"hud_success"_s, u"hud_error"_s }) {
            const QImage drawn = TavProgressHUD::icon(name, QSize(40, 40), toast->devicePixelRatioF()).toImage();
            QCOMPARE(shown == drawn, name == iconName);
        }

        // A window of its own, the panel, centred over the content; it takes
        // neither the focus nor clicks.
        QVERIFY(toast->isWindow() && toast->isVisible());
        QCOMPARE(toast->hudView()->geometry(), toast->rect());
        QVERIFY(toast->width() >= 220 && toast->height() >= 120);
        QVERIFY(offCentre(toast).manhattanLength() <= 2);
        QVERIFY(toast->windowFlags().testFlags(Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus));
        QCOMPARE(QApplication::activeWindow(), m_window.get());
        QCOMPARE(QApplication::focusWidget(), m_edit);

        // It follows its window.
        m_window->resize(800, 500);
        m_window->move(m_window->pos() + QPoint(37, 23));
        QTRY_VERIFY(offCentre(toast).manhattanLength() <= 2);
    }

    void laterToastReplacesEarlierAndEndsOnItsTimer()
    {
        TavProgressHUD::showMessage(u"one"_s);
        QTRY_VERIFY(TavProgressHUD::current());
        QElapsedTimer clock;
        clock.start();
        const QPointer<TavProgressHUD> first = TavProgressHUD::current();

        QTest::qWait(700);
        QCOMPARE(TavProgressHUD::current(), first.data());
        TavProgressHUD::showError(u"two"_s);
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
            HUD::showSuccessWithStatus(u"from HUD"_s);
            TavProgressHUD::showError(u"direct"_s);
        });
        worker.join();
        QVERIFY(!TavProgressHUD::current());
        QTRY_VERIFY(TavProgressHUD::current() && TavProgressHUD::current()->titleLabel()->text() == u"direct"_s);
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
        QCOMPARE(TavProgressHUD::current()->owner(), &second);

        QDialog sheet(m_window.get());
        sheet.setWindowModality(Qt::WindowModal);
        sheet.show();
        sheet.activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), &sheet);
        TavProgressHUD::create();
        QCOMPARE(TavProgressHUD::current()->owner(), m_window.get());
        // Above the sheet's window, yet clear of it: its controls stay in view.
        QVERIFY(TavProgressHUD::current()->isVisible());
        QVERIFY(QGuiApplication::topLevelWindows().indexOf(TavProgressHUD::current()->windowHandle())
            > QGuiApplication::topLevelWindows().indexOf(sheet.windowHandle()));
        QVERIFY(!TavProgressHUD::current()->geometry().intersects(sheet.frameGeometry()));
    }

    // Where a toast goes among sheets: centred when nothing is in the way,
    // else below them, or above when there is more room there.
    void toastStandsClearOfSheets_data()
    {
        QTest::addColumn<QList<QRect>>("covered");
        QTest::addColumn<QRect>("expected");
        const QRect content(0, 0, 720, 500);
        QTest::newRow("nothing up") << QList<QRect>() << QRect(250, 190, 220, 120);
        QTest::newRow("beside") << QList<QRect> { { 0, 0, 100, 100 } } << QRect(250, 190, 220, 120);
        QTest::newRow("progress sheet") << QList<QRect> { { 160, 150, 400, 160 } } << QRect(250, 326, 220, 120);
        QTest::newRow("low sheet") << QList<QRect> { { 160, 200, 400, 260 } } << QRect(250, 64, 220, 120);
        QTest::newRow("sheet over sheet")
            << QList<QRect> { { 160, 150, 400, 160 }, { 200, 120, 320, 230 } } << QRect(250, 366, 220, 120);
    }
    void toastStandsClearOfSheets()
    {
        QFETCH(QList<QRect>, covered);
        QFETCH(QRect, expected);
        const QRect placed = TavProgressHUD::placement(QRect(250, 190, 220, 120), QRect(0, 0, 720, 500), covered);
        QCOMPARE(placed, expected);
    }

    // Last: the timer of a toast requested without a window outlives the test.
    void noWindowNoToast()
    {
        m_window->hide();
        HUD::showInfoWithStatus(u"nobody sees this"_s);
        QTest::qWait(20);
        QVERIFY(!TavProgressHUD::current());

        // A window that goes away under its toast takes the toast with it.
        m_window->show();
        TavProgressHUD::present(u"hud_error"_s, u"bye"_s);
        QVERIFY(TavProgressHUD::current());
        m_window->showMinimized();
        QVERIFY(!TavProgressHUD::current());
        m_window->showNormal();
        TavProgressHUD::present(u"hud_error"_s, u"bye"_s);
        QVERIFY(TavProgressHUD::current());
        m_window.reset();
        QVERIFY(!TavProgressHUD::current());
    }
};

ZAVRIN_TEST(ToastTest)
#include "tst_toast.moc"
