#include "screens/UnzipController.h"
#include "tests/screens/TrackLog.h"
#include "tests/support/ScriptedPanels.h"
#include "tests/support/TestMain.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

class UnzipControllerTest final : public QObject {
    Q_OBJECT

    std::unique_ptr<TrackLog> m_log;
    std::unique_ptr<QMainWindow> m_window;
    std::unique_ptr<ScriptedPanels> m_panels;
    std::unique_ptr<QTemporaryDir> m_dir;
    UnzipController* m_screen = nullptr;
    QList<QPair<QString, bool>> m_calls;

    template <typename T = QWidget> T* outlet(const char* name)
    {
        return m_screen->findChild<T*>(QString::fromLatin1(name));
    }
    QString pathText() { return outlet<QLineEdit>("pathTf")->text(); }
    void setPath(const QString& path) { outlet<QLineEdit>("pathTf")->setText(path); }
    void present()
    {
        m_screen->presentAsSheet(m_window.get());
        QVERIFY(m_screen->isVisible());
    }
    QString folder(const QString& name)
    {
        QDir(m_dir->path()).mkpath(name);
        return m_dir->filePath(name);
    }
    // Writes the user's XDG folders file: the desktop is `desktop`.
    static void setDesktop(const QString& desktop)
    {
        QFile dirs(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/user-dirs.dirs"));
        QDir().mkpath(qEnvironmentVariable("XDG_CONFIG_HOME"));
        QVERIFY(dirs.open(QIODevice::WriteOnly | QIODevice::Truncate));
        dirs.write("XDG_DESKTOP_DIR=\"" + desktop.toUtf8() + "\"\n");
    }

private slots:
    void initTestCase() { m_log = std::make_unique<TrackLog>(); }
    void cleanupTestCase() { m_log.reset(); }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        setDesktop(folder(QStringLiteral("Desktop")));
        m_panels = std::make_unique<ScriptedPanels>();
        m_window = std::make_unique<QMainWindow>();
        m_window->setCentralWidget(new QWidget);
        m_window->show();
        m_calls.clear();
        m_screen = UnzipController::initFromStory(m_window->centralWidget());
        m_screen->setFileUrl(QUrl::fromLocalFile(QStringLiteral("/tmp/a.zip")));
        m_screen->setUnzipClick([this](const QString& path, bool open) { m_calls.append({ path, open }); });
        m_log->take();
    }
    void cleanup()
    {
        m_window.reset();
        m_panels.reset();
    }

    void desktopFolderFollowsTheUserSetting_data()
    {
        QTest::addColumn<QString>("setting"); // under the temporary folder
        QTest::addColumn<QString>("expected");
        QTest::newRow("a folder") << QStringLiteral("Desk") << QStringLiteral("Desk");
        QTest::newRow("a link to a folder") << QStringLiteral("link") << QStringLiteral("Desk");
        QTest::newRow("missing: home") << QStringLiteral("gone") << QDir::homePath();
    }
    void desktopFolderFollowsTheUserSetting()
    {
        QFETCH(QString, setting);
        QFETCH(QString, expected);
        const QString real = folder(QStringLiteral("Desk"));
        QVERIFY(QFile::link(real, m_dir->filePath(QStringLiteral("link"))));
        setDesktop(m_dir->filePath(setting));
        const QString resolved
            = QFileInfo(expected.startsWith(u'/') ? expected : m_dir->filePath(expected)).canonicalFilePath();
        QCOMPARE(UnzipController::desktopFolder(), resolved);
    }

    // The confirm: a writable folder goes straight on; anything else asks
    // for a folder and confirms again with the pick, recording twice.
    void confirmAsksUntilTheFolderCanBeWritten_data()
    {
        QTest::addColumn<QString>("typed"); // relative to the temporary folder, "~" for a relative path
        QTest::addColumn<QString>("picked"); // empty: the panel is cancelled
        QTest::addColumn<Qt::CheckState>("openState");
        QTest::addColumn<int>("panels");
        QTest::addColumn<bool>("called");
        QTest::newRow("writable folder") << QStringLiteral("out") << QString() << Qt::Checked << 0 << true;
        QTest::newRow("mixed open state is off")
            << QStringLiteral("out") << QString() << Qt::PartiallyChecked << 0 << true;
        QTest::newRow("missing folder, pick")
            << QStringLiteral("missing/x") << QStringLiteral("picked") << Qt::Unchecked << 1 << true;
        QTest::newRow("a file, pick") << QStringLiteral("file") << QStringLiteral("picked") << Qt::Checked << 1 << true;
        QTest::newRow("relative path, pick")
            << QStringLiteral("~") << QStringLiteral("picked") << Qt::Checked << 1 << true;
        QTest::newRow("missing folder, cancel")
            << QStringLiteral("missing/x") << QString() << Qt::Checked << 1 << false;
    }
    void confirmAsksUntilTheFolderCanBeWritten()
    {
        QFETCH(QString, typed);
        QFETCH(QString, picked);
        QFETCH(Qt::CheckState, openState);
        QFETCH(int, panels);
        QFETCH(bool, called);
        folder(QStringLiteral("out"));
        QFile(m_dir->filePath(QStringLiteral("file"))).open(QIODevice::WriteOnly);
        present();
        const QString path = typed == u'~' ? QStringLiteral("out") : m_dir->filePath(typed);
        setPath(path);
        outlet<QCheckBox>("openCheck")->setCheckState(openState);
        if (panels > 0) {
            if (picked.isEmpty())
                m_panels->queueCancel();
            else
                m_panels->queueOpen(folder(picked));
        }

        outlet<QPushButton>("unzipBtn")->click();
        QTRY_COMPARE(m_panels->pending(), 0);
        QTest::qWait(20);
        QCOMPARE(m_panels->openRequests.size(), panels);
        if (panels > 0) {
            const Panels::OpenRequest& request = m_panels->openRequests.first();
            QVERIFY(!request.canChooseFiles && request.canChooseDirectories && request.canCreateDirectories);
            QVERIFY(!request.allowsMultipleSelection);
        }
        const QString expectedPath = panels > 0 && called ? m_dir->filePath(picked) : path;
        QCOMPARE(pathText(), expectedPath);
        const QList<QPair<QString, bool>> expectedCalls { { expectedPath, openState == Qt::Checked } };
        QCOMPARE(m_calls, (called ? expectedCalls : QList<QPair<QString, bool>>()));
        QStringList events;
        for (int run = 0; run < (panels > 0 && called ? 2 : 1); ++run)
            events << QStringLiteral("Complete_Unzip/unzip_unzip/3") << QStringLiteral("VC_FileZip/UnZip");
        QCOMPARE(m_log->take(), events);
        QVERIFY(m_screen->isPresented()); // the home screen dismisses it
    }

    void changeFolderOnlyChangesThePath()
    {
        present();
        m_panels->queueOpen(folder(QStringLiteral("elsewhere")));
        outlet<QPushButton>("changPathBtn")->click();
        QTRY_COMPARE(pathText(), m_dir->filePath(QStringLiteral("elsewhere")));
        QVERIFY(m_calls.isEmpty());
        QCOMPARE(m_log->take(), QStringList { QStringLiteral("Complete_Unzip/unzip_changePath/2") });
    }

    void oneConfirmPerPresentation()
    {
        present();
        // Twice while the panel is up, then twice after the folder went on.
        setPath(m_dir->filePath(QStringLiteral("missing")));
        m_panels->queueOpen(folder(QStringLiteral("out")));
        auto* button = outlet<QPushButton>("unzipBtn");
        button->click();
        button->click();
        QTRY_COMPARE(m_calls.size(), 1);
        button->click();
        QTest::keyClick(outlet<QLineEdit>("pathTf"), Qt::Key_Return);
        QTest::qWait(20);
        QCOMPARE(m_calls.size(), 1);
        QCOMPARE(m_panels->openRequests.size(), 1);

        // The next presentation starts afresh: desktop folder, checkboxes kept.
        outlet<QCheckBox>("openCheck")->setChecked(false);
        m_screen->dismissViewController();
        present();
        QCOMPARE(pathText(), QFileInfo(m_dir->filePath(QStringLiteral("Desktop"))).canonicalFilePath());
        QVERIFY(!outlet<QCheckBox>("openCheck")->isChecked());
        QTest::keyClick(outlet<QLineEdit>("pathTf"), Qt::Key_Return); // Enter confirms
        QCOMPARE(m_calls.size(), 2);
        QCOMPARE(m_calls.last(), (QPair<QString, bool>(pathText(), false)));
    }

    void cancelAndEscapeCloseWithoutCalling()
    {
        for (bool escape : { false, true }) {
            present();
            if (escape)
                QTest::keyClick(m_screen, Qt::Key_Escape);
            else
                outlet<QPushButton>("cancelBtn")->click();
            QVERIFY(!m_screen->isPresented());
        }
        QVERIFY(m_calls.isEmpty());
        QCOMPARE(m_log->take(), QStringList());
    }
};

ZAVRIN_TEST(UnzipControllerTest)
#include "tst_unzipcontroller.moc"
