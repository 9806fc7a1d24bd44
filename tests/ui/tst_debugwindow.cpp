#include "platform/Defaults.h"
#include "platform/NotificationCenter.h"
#include "tests/support/TestMain.h"
#include "ui/AnalyticsDebugWindowController.h"

#include <QApplication>
#include <QStandardItemModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

void announce(const QString& action)
{
    NotificationCenter::defaultCenter().post(
        u"AnalyticsEvent"_s, {}, { { u"t"_s, u"event"_s }, { u"ea"_s, action }, { u"gaid"_s, u"UA-1-1"_s } });
}

QStringList actionsOf(const AnalyticsDebugWindowController& controller)
{
    QStringList actions;
    for (const QVariantMap& event : controller.eventsArray())
        actions.append(event.value(u"ea"_s).toString());
    return actions;
}

} // namespace

class DebugWindowTest final : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    std::unique_ptr<Defaults> defaultsWithDebugMenu(bool on)
    {
        auto defaults = std::make_unique<Defaults>(m_dir.filePath(on ? u"on.ini"_s : u"off.ini"_s));
        defaults->setValue(u"ShowDebugMenu"_s, on);
        return defaults;
    }

private slots:
    void noControllerWhileTheSettingIsOff()
    {
        // The test's own standard defaults have no "ShowDebugMenu".
        QCOMPARE(MPAnalyticsDebugWindowController::sharedController(), nullptr);
        QCOMPARE(MMAnalyticsDebugWindowController::sharedController(), nullptr);
        MPAnalyticsDebugWindowController::showWindow();
        MMAnalyticsDebugWindowController::showWindow();
        for (const QWidget* window : QApplication::topLevelWidgets())
            QVERIFY(window->objectName() != u"AnalyticsWindow"_s);
        QVERIFY(!MPAnalyticsDebugWindowController::makeIfEnabled(*defaultsWithDebugMenu(false)));
        QVERIFY(!MMAnalyticsDebugWindowController::makeIfEnabled(*defaultsWithDebugMenu(false)));
    }

    void collectsEveryEventNewestFirst()
    {
        announce(u"before"_s);
        auto controller = MPAnalyticsDebugWindowController::makeIfEnabled(*defaultsWithDebugMenu(true));
        QVERIFY(controller);
        QVERIFY(!controller->isWindowLoaded());
        announce(u"first"_s);
        announce(u"second"_s);
        QCOMPARE(actionsOf(*controller), QStringList({ u"second"_s, u"first"_s }));

        // Posted on a worker thread, inserted on the main thread.
        std::unique_ptr<QThread> worker(QThread::create([] { announce(u"worker"_s); }));
        worker->start();
        QVERIFY(worker->wait(5000));
        QTRY_COMPARE(controller->eventsArray().size(), 3);
        QCOMPARE(actionsOf(*controller).first(), u"worker"_s);

        // The table shows the same rows, a column per key, extra keys appended.
        NotificationCenter::defaultCenter().post(
            u"AnalyticsEvent"_s, {}, { { u"t"_s, u"appview"_s }, { u"an"_s, u"Zavrin"_s } });
        QStandardItemModel* model = controller->eventsArrayController();
        QCOMPARE(model->rowCount(), 4);
        const auto cell = [model](int row, const QString& key) {
            for (int column = 0; column < model->columnCount(); ++column) {
                if (model->horizontalHeaderItem(column)->text() == key)
                    return model->index(row, column).data().toString();
            }
            return u"<no column>"_s;
        };
        QCOMPARE(cell(0, u"an"_s), u"Zavrin"_s);
        QCOMPARE(cell(0, u"t"_s), u"appview"_s);
        QCOMPARE(cell(1, u"ea"_s), u"worker"_s);
        QCOMPARE(cell(3, u"ea"_s), u"first"_s);
        QCOMPARE(cell(3, u"an"_s), QString());

        controller.reset();
        announce(u"after"_s);
    }

    void windowsKeepTheirLevel()
    {
        auto onTop = MPAnalyticsDebugWindowController::makeIfEnabled(*defaultsWithDebugMenu(true));
        auto normal = MMAnalyticsDebugWindowController::makeIfEnabled(*defaultsWithDebugMenu(true));
        QVERIFY(onTop && normal);
        announce(u"shown"_s);
        onTop->show();
        normal->show();
        QCOMPARE(onTop->window()->objectName(), u"AnalyticsWindow"_s);
        QVERIFY(onTop->window()->isVisible());
        QVERIFY(onTop->window()->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(!normal->window()->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        auto* table = normal->window()->findChild<QTableView*>(u"eventsTableView"_s);
        QVERIFY(table);
        QCOMPARE(table->model()->rowCount(), 1);
        // Events that arrive while the window is open show at the top.
        announce(u"later"_s);
        QCOMPARE(table->model()->rowCount(), 2);
        QCOMPARE(table->model()->index(0, 0).data(Qt::UserRole).toMap().value(u"ea"_s).toString(), u"later"_s);
    }
};

ZAVRIN_TEST(DebugWindowTest)
#include "tst_debugwindow.moc"
