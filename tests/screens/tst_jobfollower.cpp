#include "platform/Bundle.h"
#include "screens/JobFollower.h"
#include "screens/ProgressController.h"
#include "tests/support/ScreenFixture.h"
#include "tests/support/SessionBus.h"
#include "tests/support/TestMain.h"
#include "ui/DesktopNotifications.h"

using namespace Qt::StringLiterals;

// A job put away with "完成后通知我" while the one sheet goes on to the
// next job still ends its own way: success events, its output opened, and
// one desktop notification on a session bus of the test's own, whose
// notification service is a stand-in.
class JobFollowerTest final : public QObject {
    Q_OBJECT

    std::unique_ptr<TrackLog> m_log;
    std::unique_ptr<SessionBus> m_bus;
    std::unique_ptr<FakeNotificationService> m_service;
    std::unique_ptr<QMainWindow> m_window;
    std::unique_ptr<RecordingWorkspace> m_workspace;
    ProgressController* m_sheet = nullptr;

    // Presents `job` with its output to be shown; put away with "完成后通知我",
    // the next job (a compression) takes the sheet while it runs on.
    void present(const std::shared_ptr<UnzipModel>& job, bool putAway)
    {
        m_sheet->setModel(job);
        m_sheet->setIsOpen(true);
        m_sheet->presentAsSheet(m_window.get());
        if (!putAway)
            return;
        outlet<QPushButton>(m_sheet, "doneBtn")->click();
        m_sheet->setModel(madeUpJob(true, u"/in/next.pdf"_s, u"/out/next.zip"_s));
        m_sheet->setIsOpen(false);
        m_sheet->presentAsSheet(m_window.get());
    }

private slots:
    void initTestCase()
    {
        m_log = std::make_unique<TrackLog>();
        m_bus = std::make_unique<SessionBus>();
        if (!m_bus->isRunning())
            QSKIP("dbus-daemon is not installed");
        m_service = std::make_unique<FakeNotificationService>(m_bus->connect(u"service"_s));
        QVERIFY(m_service->isRegistered());
        Bundle::setPreferredLanguages({ u"en"_s });
    }
    void cleanupTestCase()
    {
        DesktopNotifications::shared().setConnection(QDBusConnection(u"none"_s));
        m_service.reset();
        m_bus.reset();
        m_log.reset();
        Bundle::setPreferredLanguages({});
    }
    void init()
    {
        DesktopNotifications::shared().setConnection(m_bus->connect(u"client"_s));
        m_service->shown.clear();
        m_workspace = std::make_unique<RecordingWorkspace>();
        m_window = shownWindow();
        ProgressController::setJobStarter([](const auto&) {});
        m_sheet = ProgressController::initFromStory(m_window->centralWidget());
        m_log->take();
    }
    void cleanup()
    {
        m_window.reset();
        m_workspace.reset();
        ProgressController::setJobStarter(nullptr);
    }

    // An extraction's folder is the one its end names (a folder named after
    // the archive, say), opened once the end says where.
    void hiddenJobEndsItsOwnWay_data()
    {
        QTest::addColumn<bool>("putAway"); // "完成后通知我" pressed while it ran
        QTest::addColumn<QVariantMap>("end");
        QTest::addColumn<QString>("body"); // empty: no notification
        QTest::addColumn<QString>("opened"); // empty: nothing; a click on the notification opens it again
        const auto end = [](bool ok, const QString& status, const QVariantMap& more = {}) {
            QVariantMap map = more;
            map.insert(NotifyManager::succeededKey(), ok);
            map.insert(NotifyManager::statusKey(), status);
            return map;
        };
        const QString done = u"Extraction complete"_s;
        QTest::newRow("success") << true << end(true, u"Done"_s) << done << u"/out/photos"_s;
        QTest::newRow("into its own folder")
            << true << end(true, u"Done"_s, { { NotifyManager::outputKey(), u"/out/p/p"_s } }) << done << u"/out/p/p"_s;
        QTest::newRow("files kept") << true
                                    << end(true, u"Done"_s,
                                           { { NotifyManager::keptKey(), 12 }, { NotifyManager::writtenKey(), 0 } })
                                    << done + u"\nNothing was written; existing files kept: 12"_s << u"/out/photos"_s;
        QTest::newRow("disk full") << true
                                   << end(false, u"NoSpace"_s, { { NotifyManager::subjectKey(), u"photos.zip"_s } })
                                   << u"Could not extract the archive\nphotos.zip: The disk is full"_s << QString();
        QTest::newRow("cancelled") << true << end(false, u"Cancelled"_s) << QString() << QString();
        QTest::newRow("sheet left up") << false << end(true, u"Done"_s) << QString() << u"/out/photos"_s;
    }
    void hiddenJobEndsItsOwnWay()
    {
        QFETCH(bool, putAway);
        QFETCH(QVariantMap, end);
        QFETCH(QString, body);
        QFETCH(QString, opened);
        const bool succeeded = end.value(NotifyManager::succeededKey()).toBool();
        const auto first = madeUpJob(false, u"/in/photos.zip"_s, u"/out/photos"_s);
        present(first, putAway);
        if (succeeded)
            postJob(NotifyManager::LocalFilesDidChange(), first->jobKey());
        QVERIFY(!putAway || m_workspace->opened.isEmpty()); // not before the end says where
        postJob(NotifyManager::JobDidEnd(), first->jobKey(), end);
        const QStringList events { u"VC_FileUnZip/FileUnZipSuccess"_s, u"Complete_Unzip/unzip_success/99"_s };
        QCOMPARE(m_log->take(), succeeded ? events : QStringList());
        QCOMPARE(m_workspace->opened, opened.isEmpty() ? QStringList() : QStringList { opened });
        if (putAway) // the second job's sheet shows nothing of the first
            QCOMPARE(outlet<QLabel>(m_sheet, "tipTf")->text(), L(u"正在压缩，请稍等···"_s));

        if (body.isEmpty()) {
            QTest::qWait(300);
            QVERIFY(m_service->shown.isEmpty());
            return;
        }
        QTRY_COMPARE(m_service->shown.size(), 1);
        const FakeNotificationService::Shown shown = m_service->shown.first();
        QCOMPARE(shown.summary, u"photos.zip"_s);
        QCOMPARE(shown.body, body);
        QCOMPARE(shown.hints.value(u"desktop-entry"_s).toString(), Bundle::identifier());
        QCOMPARE(shown.actions.contains(u"default"_s), succeeded);
        if (!succeeded)
            return;
        // A click shows the output again, once.
        m_service->click(1);
        QTRY_COMPARE(m_workspace->opened.size(), 2);
        m_service->click(1);
        QTest::qWait(200);
        QCOMPARE(m_workspace->opened, (QStringList { opened, opened }));
        QCOMPARE(m_service->shown.size(), 1);
    }

    // Without a notification service the job still ends its own way.
    void noNotificationServiceBreaksNothing()
    {
        SessionBus empty;
        DesktopNotifications::shared().setConnection(empty.connect(u"lonely"_s));
        const auto job = madeUpJob(true, u"/in/report.pdf"_s, u"/out/report.zip"_s);
        present(job, true);
        postJob(NotifyManager::LocalFilesDidChange(), job->jobKey());
        postJob(NotifyManager::JobDidEnd(), job->jobKey(), { { NotifyManager::succeededKey(), true } });
        QTest::qWait(300);
        QCOMPARE(m_workspace->opened, QStringList { job->savePath });
        QCOMPARE(DesktopNotifications::shared().pendingActions(), 0);
    }
};

ZAVRIN_TEST(JobFollowerTest)
#include "tst_jobfollower.moc"
