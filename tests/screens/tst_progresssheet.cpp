#include "platform/Bundle.h"
#include "screens/ProgressController.h"
#include "screens/UnzipController.h"
#include "tests/support/ScreenFixture.h"
#include "tests/support/TestMain.h"
#include "tests/support/ZipInspection.h"

#include <QElapsedTimer>
#include <QProgressBar>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {

std::shared_ptr<UnzipModel> job(bool zip)
{
    return madeUpJob(zip, u"/in/a.zip"_s, zip ? u"/out/new.zip"_s : u"/out"_s);
}

// WCAG's contrast ratio of a text colour on white.
double contrastOnWhite(const QColor& color)
{
    const auto linear = [](double c) { return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    const double luminance
        = 0.2126 * linear(color.redF()) + 0.7152 * linear(color.greenF()) + 0.0722 * linear(color.blueF());
    return 1.05 / (luminance + 0.05);
}

} // namespace

// The sheet against notifications posted here, its jobs recorded; and real
// jobs of the engine, through both sheets as the home window runs them.
class ProgressSheetTest final : public QObject {
    Q_OBJECT

    std::unique_ptr<TrackLog> m_log;
    std::unique_ptr<QMainWindow> m_window;
    std::unique_ptr<RecordingWorkspace> m_workspace;
    ProgressController* m_screen = nullptr;
    QList<std::shared_ptr<const UnzipModel>> m_started;
    QTemporaryDir m_dir;

    QString text(const char* name) { return outlet<QLabel>(m_screen, name)->text(); }
    int bar() { return outlet<QProgressBar>(m_screen, "progressIndicator")->value(); }
    void present(const std::shared_ptr<UnzipModel>& model, bool open = false)
    {
        m_screen->setModel(model);
        m_screen->setIsOpen(open);
        m_screen->presentAsSheet(m_window.get());
    }

private slots:
    void initTestCase() { m_log = std::make_unique<TrackLog>(); }
    void cleanupTestCase() { m_log.reset(); }
    void init()
    {
        m_workspace = std::make_unique<RecordingWorkspace>();
        m_window = shownWindow();
        m_started.clear();
        ProgressController::setJobStarter([this](const auto& model) { m_started.append(model); });
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
        QElapsedTimer clock;
        clock.start();
        present(first);
        m_screen->setModel(job(false)); // too late for this presentation
        QTRY_COMPARE(m_started, QList<std::shared_ptr<const UnzipModel>> { first });
        QVERIFY(clock.elapsed() >= 190);
        m_screen->dismissViewController();
        present(job(false));
        QTRY_COMPARE(m_started.size(), 2);
        QTest::qWait(250);
        QCOMPARE(m_started.size(), 2);
    }

    void followsItsOwnJobOnly_data()
    {
        QTest::addColumn<bool>("zip");
        QTest::addColumn<bool>("thisJob");
        QTest::addColumn<float>("progress");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("bar");
        QTest::newRow("half") << false << true << 0.5f << u"50.00%"_s << 50;
        QTest::newRow("compression") << true << true << 0.4237f << u"42.37%"_s << 42;
        QTest::newRow("past the end") << false << true << 1.01f << u"101.00%"_s << 100;
        QTest::newRow("another job") << true << false << 0.5f << u"0.00%"_s << 0;
    }
    void followsItsOwnJobOnly()
    {
        QFETCH(bool, zip);
        QFETCH(bool, thisJob);
        QFETCH(float, progress);
        QFETCH(QString, shown);
        QFETCH(int, bar);
        const auto model = job(zip);
        present(model);
        // The other kind's key is another job's.
        const QString other = job(!zip)->jobKey();
        postJob(zip ? NotifyManager::ZipProgress() : NotifyManager::UnzipProgress(), thisJob ? model->jobKey() : other,
            { { NotifyManager::progressKey(), progress } });
        postJob(NotifyManager::LocalFilesDidChange(), other);
        postJob(NotifyManager::ProcessCancel(), other);
        postJob(NotifyManager::JobDidEnd(), other, { { NotifyManager::succeededKey(), false } });
        QTest::qWait(20);
        QCOMPARE(text("progressTf"), shown);
        QCOMPARE(this->bar(), bar);
        QVERIFY(m_screen->isPresented());
        QCOMPARE(m_log->take(), QStringList());
    }

    void successRecordsOpensAndCloses_data()
    {
        QTest::addColumn<bool>("zip");
        QTest::addColumn<bool>("open");
        QTest::addColumn<bool>("doneEarly");
        QTest::addColumn<QStringList>("events");
        const QStringList zip { u"VC_FileZip/FileZipSuccess"_s, u"Complete_Zip/zip_success/99"_s };
        const QStringList unzip { u"VC_FileUnZip/FileUnZipSuccess"_s, u"Complete_Unzip/unzip_success/99"_s };
        QTest::newRow("compression, open") << true << true << false << zip;
        QTest::newRow("extraction, open") << false << true << false << unzip;
        QTest::newRow("extraction") << false << false << false << unzip;
        QTest::newRow("done at 40%") << true << true << true << zip;
    }
    void successRecordsOpensAndCloses()
    {
        QFETCH(bool, zip);
        QFETCH(bool, open);
        QFETCH(bool, doneEarly);
        QFETCH(QStringList, events);
        const auto model = job(zip);
        present(model, open);
        postJob(NotifyManager::ZipProgress(), model->jobKey(), { { NotifyManager::progressKey(), 0.4f } });
        if (doneEarly) {
            outlet<QPushButton>(m_screen, "doneBtn")->click();
            QVERIFY(!m_screen->isVisible());
        }
        QElapsedTimer clock;
        clock.start();
        postJob(NotifyManager::LocalFilesDidChange(), model->jobKey());
        postJob(NotifyManager::JobDidEnd(), model->jobKey(), { { NotifyManager::succeededKey(), true } });
        QCOMPARE(text("progressTf"), u"100%"_s);
        QCOMPARE(bar(), 100);
        QCOMPARE(text("tipTf"), L(zip ? u"压缩完成"_s : u"解压完成"_s));
        QCOMPARE(m_log->take(), events);
        QCOMPARE(m_workspace->opened, open ? QStringList { model->savePath } : QStringList());
        QCOMPARE(m_screen->isVisible(), !doneEarly);
        QTRY_VERIFY(!m_screen->isPresented());
        QVERIFY(doneEarly || clock.elapsed() >= 290); // closes 0.3 s after success
        QTest::qWait(300);
        QVERIFY(!m_screen->isVisible()); // and never comes back
    }

    void cancelClosesAsItIs()
    {
        const auto model = job(false);
        present(model);
        postJob(NotifyManager::UnzipProgress(), model->jobKey(), { { NotifyManager::progressKey(), 0.3f } });
        postJob(NotifyManager::ProcessCancel(), model->jobKey());
        postJob(NotifyManager::JobDidEnd(), model->jobKey(), { { NotifyManager::succeededKey(), false } });
        QVERIFY(m_screen->isPresented()); // until the main thread's next turn
        QTRY_VERIFY(!m_screen->isPresented());
        QCOMPARE(text("progressTf"), u"30.00%"_s);
        QCOMPARE(text("tipTf"), L(u"正在解压，请稍等···"_s));
        QCOMPARE(m_log->take(), QStringList());

        // A success of the earlier job, closed by hand, must not close the
        // next presentation with its timer.
        present(model);
        QCOMPARE(text("progressTf"), u"0.00%"_s);
        postJob(NotifyManager::LocalFilesDidChange(), model->jobKey());
        m_screen->dismissViewController();
        present(job(true));
        QTest::qWait(450);
        QVERIFY(m_screen->isPresented());
    }

    // The engine's reason goes on a second line, readable on white; a cancel
    // posted first (a failed 7z job does that) does not hide it. Existing
    // files kept instead of written: success says so and stays too.
    void endSaysWhy_data()
    {
        QTest::addColumn<bool>("zip");
        QTest::addColumn<bool>("cancelFirst");
        QTest::addColumn<QVariantMap>("end");
        QTest::addColumn<QString>("detail");
        const auto failed = [](const QString& status) {
            return QVariantMap { { NotifyManager::succeededKey(), false }, { NotifyManager::statusKey(), status },
                { NotifyManager::subjectKey(), u"a.zip"_s } };
        };
        QTest::newRow("not an archive") << false << false << failed(u"NotAnArchive"_s)
                                        << u"a.zip: Not a valid archive"_s;
        QTest::newRow("7z damaged") << false << true << failed(u"Damaged"_s) << u"a.zip: Damaged or incomplete"_s;
        QTest::newRow("disk full") << true << false << failed(u"NoSpace"_s) << u"a.zip: The disk is full"_s;
        QTest::newRow("reason unknown") << false << false << failed(u"Exploded"_s) << QString();
        QTest::newRow("files kept") << false << false
                                    << QVariantMap { { NotifyManager::succeededKey(), true },
                                           { NotifyManager::keptKey(), 3 }, { NotifyManager::writtenKey(), 9 } }
                                    << u"Existing files kept: 3"_s;
    }
    void endSaysWhy()
    {
        QFETCH(bool, zip);
        QFETCH(bool, cancelFirst);
        QFETCH(QVariantMap, end);
        QFETCH(QString, detail);
        const bool succeeded = end.value(NotifyManager::succeededKey()).toBool();
        const auto model = job(zip);
        present(model);
        if (cancelFirst)
            postJob(NotifyManager::ProcessCancel(), model->jobKey());
        if (succeeded)
            postJob(NotifyManager::LocalFilesDidChange(), model->jobKey());
        postJob(NotifyManager::JobDidEnd(), model->jobKey(), end);
        QTest::qWait(1200);
        QVERIFY(m_screen->isPresented());
        const QString tip = succeeded ? u"解压完成"_s : zip ? u"创建压缩文件错误"_s : u"解压文件错误"_s;
        QCOMPARE(text("tipTf"), L(tip));
        auto* line = outlet<QLabel>(m_screen, "detailTf");
        QCOMPARE(line->text(), detail);
        QCOMPARE(line->isVisible(), !detail.isEmpty());
        if (!succeeded)
            QCOMPARE(outlet<QPushButton>(m_screen, "doneBtn")->text(), L(u"关闭"_s));
        for (const char* name : { "tipTf", "detailTf" })
            QVERIFY(contrastOnWhite(outlet<QLabel>(m_screen, name)->palette().color(QPalette::WindowText)) >= 4.5);
        QTest::keyClick(m_screen, Qt::Key_Return);
        QVERIFY(!m_screen->isPresented());
    }

    // Failures that end with neither success nor cancel: the sheet says so
    // and waits to be closed.
    void failedJobsShowTheirFailure_data()
    {
        QTest::addColumn<bool>("zip");
        QTest::addColumn<QString>("message");
        QTest::newRow("corrupt archive") << false << u"解压文件错误"_s;
        QTest::newRow("archive in a missing folder") << true << u"创建压缩文件错误"_s;
    }
    void failedJobsShowTheirFailure()
    {
        QFETCH(bool, zip);
        QFETCH(QString, message);
        const QString item = m_dir.filePath(u"item.txt"_s);
        QVERIFY(ZipInspection::writeFile(item, "x"));
        ProgressController::setJobStarter(nullptr); // the real engine
        present(zip ? madeUpJob(true, item, m_dir.filePath(u"missing/new.zip"_s))
                    : madeUpJob(false, QStringLiteral(ZAVRIN_FIXTURES_DIR "/truncated.zip"), m_dir.path()),
            true);
        QTRY_COMPARE_WITH_TIMEOUT(text("tipTf"), L(message), 20000);
        QTest::qWait(400);
        QVERIFY(m_screen->isPresented());
        QCOMPARE(outlet<QPushButton>(m_screen, "doneBtn")->text(), L(u"关闭"_s));
        QVERIFY(m_workspace->opened.isEmpty());
        QTest::keyClick(m_screen, Qt::Key_Return);
        QVERIFY(!m_screen->isPresented());
    }
};

ZAVRIN_TEST(ProgressSheetTest)
#include "tst_progresssheet.moc"
