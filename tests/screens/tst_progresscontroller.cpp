#include "engine/NotifyManager.h"
#include "platform/Bundle.h"
#include "platform/NotificationCenter.h"
#include "platform/Workspace.h"
#include "screens/ProgressController.h"
#include "tests/screens/TrackLog.h"
#include "tests/support/TestMain.h"

#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

namespace {

class RecordingWorkspace final : public Workspace {
public:
    RecordingWorkspace() { Workspace::setShared(this); }
    ~RecordingWorkspace() override { Workspace::setShared(nullptr); }
    void openInFileManager(const QString& path) override { opened.append(path); }
    void openUrl(const QUrl&) override { }
    QStringList opened;
};

std::shared_ptr<UnzipModel> job(bool zip)
{
    if (zip) {
        auto model = std::make_shared<ZipModel>();
        model->paths = { QStringLiteral("/in/a.txt"), QStringLiteral("/in/b") };
        model->savePath = QStringLiteral("/out/new.zip");
        return model;
    }
    auto model = std::make_shared<UnzipModel>();
    model->paths = { QStringLiteral("/in/old.zip") };
    model->savePath = QStringLiteral("/out");
    return model;
}

void post(const QString& name, const QString& path, const QVariantMap& extra = {})
{
    QVariantMap object = extra;
    object.insert(NotifyManager::pathKey(), path);
    NotificationCenter::defaultCenter().post(name, object);
}

} // namespace

// The sheet against notifications posted by the test; its jobs are recorded,
// not run (the end-to-end test runs real ones).
class ProgressControllerTest final : public QObject {
    Q_OBJECT

    std::unique_ptr<TrackLog> m_log;
    std::unique_ptr<QMainWindow> m_window;
    std::unique_ptr<RecordingWorkspace> m_workspace;
    ProgressController* m_screen = nullptr;
    QList<std::shared_ptr<const UnzipModel>> m_started;

    QString text(const char* name) { return m_screen->findChild<QLabel*>(QString::fromLatin1(name))->text(); }
    int bar() { return m_screen->findChild<QProgressBar*>(QStringLiteral("progressIndicator"))->value(); }
    QPushButton* doneBtn() { return m_screen->findChild<QPushButton*>(QStringLiteral("doneBtn")); }
    void present(const std::shared_ptr<UnzipModel>& model, bool open = false)
    {
        m_screen->setModel(model);
        m_screen->setIsOpen(open);
        m_screen->presentAsSheet(m_window.get());
        QVERIFY(m_screen->isVisible());
    }

private slots:
    void initTestCase() { m_log = std::make_unique<TrackLog>(); }
    void cleanupTestCase() { m_log.reset(); }

    void init()
    {
        m_workspace = std::make_unique<RecordingWorkspace>();
        m_window = std::make_unique<QMainWindow>();
        m_window->setCentralWidget(new QWidget);
        m_window->show();
        m_started.clear();
        ProgressController::setJobStarter(
            [this](const std::shared_ptr<const UnzipModel>& model) { m_started.append(model); });
        m_screen = ProgressController::initFromStory(m_window->centralWidget());
        m_log->take();
    }
    void cleanup()
    {
        m_window.reset();
        m_workspace.reset();
        ProgressController::setJobStarter(nullptr);
    }

    void startsTheJobOfEachPresentationOnce()
    {
        const auto first = job(true);
        present(first);
        QCOMPARE(text("titleTf"), L(QStringLiteral("压缩")));
        QCOMPARE(text("tipTf"), L(QStringLiteral("正在压缩，请稍等···")));
        QCOMPARE(text("progressTf"), QStringLiteral("0.00%"));
        m_screen->setModel(job(false)); // too late for this presentation
        QTest::qWait(120);
        QVERIFY(m_started.isEmpty());
        QTRY_COMPARE(m_started.size(), 1);
        QCOMPARE(m_started.first(), first);

        m_screen->dismissViewController();
        present(job(false));
        QCOMPARE(text("titleTf"), L(QStringLiteral("解压")));
        QTRY_COMPARE(m_started.size(), 2);
        QTest::qWait(250);
        QCOMPARE(m_started.size(), 2);
    }

    void progressOfThisJobOnly_data()
    {
        QTest::addColumn<bool>("zip");
        QTest::addColumn<bool>("thisJob");
        QTest::addColumn<double>("progress");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("bar");
        QTest::newRow("half") << false << true << 0.5 << QStringLiteral("50.00%") << 50;
        QTest::newRow("compression") << true << true << 0.4237 << QStringLiteral("42.37%") << 42;
        QTest::newRow("all") << false << true << 1.0 << QStringLiteral("100.00%") << 100;
        QTest::newRow("past the end") << false << true << 1.01 << QStringLiteral("101.00%") << 100;
        QTest::newRow("another job") << true << false << 0.5 << QStringLiteral("0.00%") << 0;
    }
    void progressOfThisJobOnly()
    {
        QFETCH(bool, zip);
        QFETCH(bool, thisJob);
        QFETCH(double, progress);
        QFETCH(QString, shown);
        QFETCH(int, bar);
        const auto model = job(zip);
        present(model);
        // The same archive path as the other kind's key is another job.
        const QString path = thisJob ? model->jobKey() : job(!zip)->jobKey();
        post(zip ? NotifyManager::ZipProgress() : NotifyManager::UnzipProgress(), path,
            { { NotifyManager::progressKey(), static_cast<float>(progress) } });
        QCOMPARE(text("progressTf"), shown);
        QCOMPARE(this->bar(), bar);
        // Neither does another job's end touch this sheet.
        post(NotifyManager::LocalFilesDidChange(), job(!zip)->jobKey());
        post(NotifyManager::ProcessCancel(), job(!zip)->jobKey());
        post(NotifyManager::JobDidEnd(), job(!zip)->jobKey(), { { NotifyManager::succeededKey(), false } });
        QTest::qWait(20);
        QVERIFY(m_screen->isPresented());
        QCOMPARE(text("progressTf"), shown);
        QVERIFY(m_workspace->opened.isEmpty());
    }

    void successRecordsOpensAndCloses_data()
    {
        QTest::addColumn<bool>("zip");
        QTest::addColumn<bool>("open");
        QTest::addColumn<bool>("doneEarly");
        QTest::addColumn<QStringList>("events");
        const QStringList zipEvents { QStringLiteral("VC_FileZip/FileZipSuccess"),
            QStringLiteral("Complete_Zip/zip_success/99") };
        const QStringList unzipEvents { QStringLiteral("VC_FileUnZip/FileUnZipSuccess"),
            QStringLiteral("Complete_Unzip/unzip_success/99") };
        QTest::newRow("compression, open") << true << true << false << zipEvents;
        QTest::newRow("extraction, open") << false << true << false << unzipEvents;
        QTest::newRow("extraction, closed") << false << false << false << unzipEvents;
        QTest::newRow("done at 40%") << true << true << true << zipEvents;
    }
    void successRecordsOpensAndCloses()
    {
        QFETCH(bool, zip);
        QFETCH(bool, open);
        QFETCH(bool, doneEarly);
        QFETCH(QStringList, events);
        const auto model = job(zip);
        present(model, open);
        post(NotifyManager::UnzipProgress(), model->jobKey(), { { NotifyManager::progressKey(), 0.4f } });
        if (doneEarly) {
            doneBtn()->click();
            QVERIFY(!m_screen->isVisible());
        }
        post(NotifyManager::LocalFilesDidChange(), model->jobKey());
        QCOMPARE(text("progressTf"), QStringLiteral("100%"));
        QCOMPARE(bar(), 100);
        QCOMPARE(text("tipTf"), L(zip ? QStringLiteral("压缩完成") : QStringLiteral("解压完成")));
        QCOMPARE(m_log->take(), events);
        QCOMPARE(m_workspace->opened, open ? QStringList { model->savePath } : QStringList());
        // A success is no failure.
        post(NotifyManager::JobDidEnd(), model->jobKey(), { { NotifyManager::succeededKey(), true } });
        QCOMPARE(text("tipTf"), L(zip ? QStringLiteral("压缩完成") : QStringLiteral("解压完成")));
        if (!doneEarly) {
            QTest::qWait(150);
            QVERIFY(m_screen->isVisible());
        }
        QTRY_VERIFY(!m_screen->isPresented());
        QTest::qWait(400);
        QVERIFY(!m_screen->isVisible()); // never back
    }

    void cancelClosesAsItIs()
    {
        const auto model = job(false);
        present(model);
        post(NotifyManager::UnzipProgress(), model->jobKey(), { { NotifyManager::progressKey(), 0.3f } });
        post(NotifyManager::ProcessCancel(), model->jobKey());
        QVERIFY(m_screen->isPresented()); // on the next turn of the main thread
        QTRY_VERIFY(!m_screen->isPresented());
        QCOMPARE(text("progressTf"), QStringLiteral("30.00%"));
        QCOMPARE(text("tipTf"), L(QStringLiteral("正在解压，请稍等···")));
        post(NotifyManager::JobDidEnd(), model->jobKey(), { { NotifyManager::succeededKey(), false } });
        QCOMPARE(text("tipTf"), L(QStringLiteral("正在解压，请稍等···")));
        QCOMPARE(m_log->take(), QStringList());

        present(model);
        QCOMPARE(text("progressTf"), QStringLiteral("0.00%"));
    }

    void lateDismissalsSpareTheNextJob()
    {
        // Closed by hand, then a new job presented before the old one's
        // success timer runs out: the new sheet stays.
        const auto first = job(true);
        present(first);
        post(NotifyManager::LocalFilesDidChange(), first->jobKey());
        m_screen->dismissViewController();
        present(job(false));
        QTest::qWait(450);
        QVERIFY(m_screen->isPresented());
        QCOMPARE(text("progressTf"), QStringLiteral("0.00%"));
    }
};

ZAVRIN_TEST(ProgressControllerTest)
#include "tst_progresscontroller.moc"
