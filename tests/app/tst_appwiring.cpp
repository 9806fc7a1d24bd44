#include "app/AppDelegate.h"
#include "platform/Bundle.h"
#include "platform/HUD.h"
#include "tests/support/TestMain.h"
#include "ui/DialogPanels.h"
#include "ui/TavProgressHUD.h"
#include "ui/WindowLookup.h"

#include <QApplication>
#include <QIcon>
#include <QTest>

using namespace Qt::StringLiterals;

class AppWiringTest final : public QObject {
    Q_OBJECT

private slots:
    void delegateInstallsPanelsToastAndIcon()
    {
        {
            AppDelegate delegate;
            QVERIFY(dynamic_cast<DialogPanels*>(&Panels::shared()));
            QVERIFY(!QApplication::windowIcon().isNull());
            QVERIFY(!QApplication::windowIcon().pixmap(64, 64).isNull());

            delegate.applicationDidFinishLaunching({});
            QWidget* window = WindowLookup::mainWindow();
            QVERIFY(window);
            QCOMPARE(window->windowTitle(), L(u"Zavrin"_s));

            HUD::showSuccessWithStatus(u"done"_s);
            QTRY_VERIFY(TavProgressHUD::current());
            QCOMPARE(TavProgressHUD::current()->owner(), window);
        }
        // The delegate takes its services with it; toasts then only log.
        QVERIFY(!TavProgressHUD::current());
        QVERIFY(!dynamic_cast<DialogPanels*>(&Panels::shared()));
        HUD::showErrorWithStatus(u"after"_s);
        QTest::qWait(20);
        QVERIFY(!TavProgressHUD::current());
    }
};

ZAVRIN_TEST(AppWiringTest)
#include "tst_appwiring.moc"
