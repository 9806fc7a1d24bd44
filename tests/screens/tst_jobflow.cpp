#include "engine/JobModels.h"
#include "engine/NotifyManager.h"
#include "platform/Bundle.h"
#include "platform/Workspace.h"
#include "screens/ProgressController.h"
#include "screens/UnzipController.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
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

bool writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

// Jobs run by the real engine through the sheets, as the home window runs them.
class JobFlowTest final : public QObject {
    Q_OBJECT

    std::unique_ptr<QMainWindow> m_window;
    std::unique_ptr<RecordingWorkspace> m_workspace;
    QTemporaryDir m_dir;

    template <typename T> static T* outlet(QWidget* screen, const char* name)
    {
        return screen->findChild<T*>(QString::fromLatin1(name));
    }

private slots:
    void init()
    {
        m_workspace = std::make_unique<RecordingWorkspace>();
        m_window = std::make_unique<QMainWindow>();
        m_window->setCentralWidget(new QWidget);
        m_window->show();
    }
    void cleanup()
    {
        m_window.reset();
        m_workspace.reset();
    }

    void extractionThroughBothSheets()
    {
        const QString source = m_dir.filePath(QStringLiteral("src"));
        QVERIFY(writeFile(source + QStringLiteral("/a.txt"), "alpha\n"));
        QVERIFY(writeFile(source + QStringLiteral("/sub/b.txt"), QByteArray(200000, 'b')));
        const QString archive = m_dir.filePath(QStringLiteral("pack.zip"));
        QProcess zip;
        zip.setWorkingDirectory(source);
        zip.start(QStringLiteral("zip"), { QStringLiteral("-qr"), archive, QStringLiteral(".") });
        QVERIFY(zip.waitForFinished() && zip.exitCode() == 0);
        const QString out = m_dir.filePath(QStringLiteral("out"));
        QVERIFY(QDir().mkpath(out));

        UnzipController* setup = UnzipController::initFromStory(m_window->centralWidget());
        ProgressController* progress = ProgressController::initFromStory(m_window->centralWidget());
        setup->setFileUrl(QUrl::fromLocalFile(archive));
        setup->setUnzipClick([&](const QString& path, bool open) {
            setup->dismissViewController();
            auto model = std::make_shared<UnzipModel>();
            model->paths = { setup->fileUrl().toLocalFile() };
            model->savePath = path;
            progress->setModel(model);
            progress->setIsOpen(open);
            progress->presentAsSheet(m_window.get());
        });
        setup->presentAsSheet(m_window.get());
        outlet<QLineEdit>(setup, "pathTf")->setText(out);
        QTest::keyClick(outlet<QLineEdit>(setup, "pathTf"), Qt::Key_Return);
        QVERIFY(!setup->isVisible() && progress->isVisible());

        QTRY_VERIFY_WITH_TIMEOUT(!progress->isPresented(), 20000);
        QCOMPARE(outlet<QLabel>(progress, "progressTf")->text(), QStringLiteral("100%"));
        QCOMPARE(readFile(out + QStringLiteral("/a.txt")), QByteArray("alpha\n"));
        QCOMPARE(readFile(out + QStringLiteral("/sub/b.txt")), QByteArray(200000, 'b'));
        QCOMPARE(m_workspace->opened, QStringList { out });
    }

    // Failures the engine reports with neither success nor cancel.
    void failedJobsShowTheirFailure_data()
    {
        QTest::addColumn<bool>("zip");
        QTest::addColumn<QString>("message");
        QTest::newRow("corrupt archive") << false << QStringLiteral("解压文件错误");
        QTest::newRow("archive in a missing folder") << true << QStringLiteral("创建压缩文件错误");
    }
    void failedJobsShowTheirFailure()
    {
        QFETCH(bool, zip);
        QFETCH(QString, message);
        std::shared_ptr<UnzipModel> model;
        if (zip) {
            QVERIFY(writeFile(m_dir.filePath(QStringLiteral("item.txt")), "x"));
            auto pack = std::make_shared<ZipModel>();
            pack->paths = { m_dir.filePath(QStringLiteral("item.txt")) };
            pack->savePath = m_dir.filePath(QStringLiteral("missing/new.zip"));
            model = pack;
        } else {
            model = std::make_shared<UnzipModel>();
            model->paths = { QStringLiteral(ZAVRIN_FIXTURES_DIR "/truncated.zip") };
            model->savePath = m_dir.filePath(QStringLiteral("cut"));
            QVERIFY(QDir().mkpath(model->savePath));
        }
        ProgressController* progress = ProgressController::initFromStory(m_window->centralWidget());
        progress->setModel(model);
        progress->setIsOpen(true);
        progress->presentAsSheet(m_window.get());

        QTRY_COMPARE_WITH_TIMEOUT(outlet<QLabel>(progress, "tipTf")->text(), L(message), 20000);
        QTest::qWait(400);
        QVERIFY(progress->isPresented());
        QPushButton* done = outlet<QPushButton>(progress, "doneBtn");
        QCOMPARE(done->text(), L(QStringLiteral("关闭")));
        QVERIFY(m_workspace->opened.isEmpty());
        QTest::keyClick(progress, Qt::Key_Return);
        QVERIFY(!progress->isPresented());
    }
};

ZAVRIN_TEST(JobFlowTest)
#include "tst_jobflow.moc"
