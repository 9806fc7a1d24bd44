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

namespace {

void announce(const QString& action)
{
    NotificationCenter::defaultCenter().post(QStringLiteral("AnalyticsEvent"), {},
        { { QStringLiteral("t"), QStringLiteral("event") }, { QStringLiteral("ea"), action },
            { QStringLiteral("gaid"), QStringLiteral("UA-1-1") } });
}

QStringList actionsOf(const AnalyticsDebugWindowController& controller)
{
    QStringList actions;
    for (const QVariantMap& event : controller.eventsArray())
        actions.append(event.value(QStringLiteral("ea")).toString());
    return actions;
}

} // namespace

class DebugWindowTest final : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    std::unique_ptr<Defaults> defaultsWithDebugMenu(bool on)
    {
        auto defaults
            = std::make_unique<Defaults>(m_dir.filePath(on ? QStringLiteral("on.ini") : QStringLiteral("off.ini")));
        defaults->setValue(QStringLiteral("ShowDebugMenu"), on);
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
            QVERIFY(window->objectName() != QStringLiteral("AnalyticsWindow"));
        QVERIFY(!MPAnalyticsDebugWindowController::makeIfEnabled(*defaultsWithDebugMenu(false)));
        QVERIFY(!MMAnalyticsDebugWindowController::makeIfEnabled(*defaultsWithDebugMenu(false)));
    }

    void collectsEveryEventNewestFirst()
    {
        announce(QStringLiteral("before"));
        auto controller = MPAnalyticsDebugWindowController::makeIfEnabled(*defaultsWithDebugMenu(true));
        QVERIFY(controller);
        QVERIFY(!controller->isWindowLoaded());
        announce(QStringLiteral("first"));
        announce(QStringLiteral("second"));
        QCOMPARE(actionsOf(*controller), QStringList({ QStringLiteral("second"), QStringLiteral("first") }));

        // Posted on a worker thread, inserted on the main thread.
        std::unique_ptr<QThread> worker(QThread::create([] { announce(QStringLiteral("worker")); }));
        worker->start();
        QVERIFY(worker->wait(5000));
        QTRY_COMPARE(controller->eventsArray().size(), 3);
        QCOMPARE(actionsOf(*controller).first(), QStringLiteral("worker"));

        // The table shows the same rows, a column per key, extra keys appended.
        NotificationCenter::defaultCenter().post(QStringLiteral("AnalyticsEvent"), {},
            { { QStringLiteral("t"), QStringLiteral("appview") }, { QStringLiteral("an"), QStringLiteral("Zavrin") } });
        QStandardItemModel* model = controller->eventsArrayController();
        QCOMPARE(model->rowCount(), 4);
        const auto cell = [model](int row, const QString& key) {
            for (int column = 0; column < model->columnCount(); ++column) {
                if (model->horizontalHeaderItem(column)->text() == key)
                    return model->index(row, column).data().toString();
            }
            return QStringLiteral("<no column>");
        };
        QCOMPARE(cell(0, QStringLiteral("an")), QStringLiteral("Zavrin"));
        QCOMPARE(cell(0, QStringLiteral("t")), QStringLiteral("appview"));
        QCOMPARE(cell(1, QStringLiteral("ea")), QStringLiteral("worker"));
        QCOMPARE(cell(3, QStringLiteral("ea")), QStringLiteral("first"));
        QCOMPARE(cell(3, QStringLiteral("an")), QString());

        controller.reset();
        announce(QStringLiteral("after"));
    }

    void windowsKeepTheirLevel()
    {
        auto onTop = MPAnalyticsDebugWindowController::makeIfEnabled(*defaultsWithDebugMenu(true));
        auto normal = MMAnalyticsDebugWindowController::makeIfEnabled(*defaultsWithDebugMenu(true));
        QVERIFY(onTop && normal);
        announce(QStringLiteral("shown"));
        onTop->show();
        normal->show();
        QCOMPARE(onTop->window()->objectName(), QStringLiteral("AnalyticsWindow"));
        QVERIFY(onTop->window()->isVisible());
        QVERIFY(onTop->window()->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(!normal->window()->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        auto* table = normal->window()->findChild<QTableView*>(QStringLiteral("eventsTableView"));
        QVERIFY(table);
        QCOMPARE(table->model()->rowCount(), 1);
        // Events that arrive while the window is open show at the top.
        announce(QStringLiteral("later"));
        QCOMPARE(table->model()->rowCount(), 2);
        QCOMPARE(table->model()->index(0, 0).data(Qt::UserRole).toMap().value(QStringLiteral("ea")).toString(),
            QStringLiteral("later"));
    }
};

ZAVRIN_TEST(DebugWindowTest)
#include "tst_debugwindow.moc"
