#include "screens/ZipController.h"
#include "tests/screens/TrackLog.h"
#include "tests/support/ScriptedPanels.h"
#include "tests/support/TestMain.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QMainWindow>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <optional>

namespace {

struct Call {
    QString path;
    std::optional<QString> password;
    qint64 type = -1;
    quint64 level = 0;
    bool open = false;
};

QList<QUrl> urls(const QStringList& paths)
{
    QList<QUrl> list;
    for (const QString& path : paths)
        list.append(QUrl::fromLocalFile(path));
    return list;
}

} // namespace

class ZipControllerTest final : public QObject {
    Q_OBJECT

    std::unique_ptr<TrackLog> m_log;
    std::unique_ptr<QMainWindow> m_window;
    std::unique_ptr<ScriptedPanels> m_panels;
    ZipController* m_screen = nullptr;
    QList<Call> m_calls;
    const QString m_picked = QDir::tempPath() + QStringLiteral("/picked.zip");

    template <typename T = QWidget> T* outlet(const char* name)
    {
        return m_screen->findChild<T*>(QString::fromLatin1(name));
    }
    void click(const char* name) { outlet<QAbstractButton>(name)->click(); }
    QString pathText() { return outlet<QLineEdit>("pathTf")->text(); }
    void present(const QStringList& items = { QStringLiteral("/A/B/report.pdf") })
    {
        m_screen->setFileUrls(urls(items));
        m_screen->presentAsSheet(m_window.get());
        QVERIFY(m_screen->isVisible());
    }
    // Confirms with the save panel answering `m_picked`; waits until settled.
    void confirm()
    {
        m_panels->queueSave(m_picked);
        click("zipBtn");
        QTRY_COMPARE(m_panels->pending(), 0);
        QTest::qWait(20);
    }
    void turnPasswordOn(const QString& first, const QString& second)
    {
        click("addPasswordBtn");
        QTest::keyClicks(outlet<QLineEdit>("passwordTf"), first);
        QTest::keyClicks(outlet<QLineEdit>("password2Tf"), second);
    }

private slots:
    void initTestCase() { m_log = std::make_unique<TrackLog>(); }
    void cleanupTestCase() { m_log.reset(); }

    void init()
    {
        m_panels = std::make_unique<ScriptedPanels>();
        m_window = std::make_unique<QMainWindow>();
        m_window->setCentralWidget(new QWidget);
        m_window->show();
        m_calls.clear();
        m_screen = ZipController::initFromStory(m_window->centralWidget());
        m_screen->setZipClick(
            [this](const QString& path, const std::optional<QString>& password, qint64 type, quint64 level, bool open) {
                m_calls.append({ path, password, type, level, open });
            });
        m_log->take();
    }
    void cleanup()
    {
        m_window.reset();
        m_panels.reset();
    }

    void defaultPathAndName_data()
    {
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("path");
        const QString home = QDir::homePath();
        QTest::newRow("one file") << QStringList { QStringLiteral("/A/B/report.pdf") } << QStringLiteral("/A/B")
                                  << QStringLiteral("/A/B/report.zip");
        QTest::newRow("last extension only")
            << QStringList { QStringLiteral("/A/a.tar.gz") } << QStringLiteral("/A") << QStringLiteral("/A/a.tar.zip");
        QTest::newRow("a folder") << QStringList { QStringLiteral("/A/B/photos/") } << QStringLiteral("/A/B")
                                  << QStringLiteral("/A/B/photos.zip");
        QTest::newRow("a hidden file") << QStringList { QStringLiteral("/A/.profile") } << QStringLiteral("/A")
                                       << QStringLiteral("/A/.profile.zip");
        QTest::newRow("two in one folder") << QStringList { QStringLiteral("/A/B/x"), QStringLiteral("/A/B/y.txt") }
                                           << QStringLiteral("/A/B") << QStringLiteral("/A/B/Archive.zip");
        QTest::newRow("first deeper") << QStringList { QStringLiteral("/A/B/C/d.txt"), QStringLiteral("/A/B/e.txt") }
                                      << QStringLiteral("/A/B") << QStringLiteral("/A/B/Archive.zip");
        QTest::newRow("other branch") << QStringList { QStringLiteral("/A/B/C/d.txt"), QStringLiteral("/X/e.txt") }
                                      << QStringLiteral("/A") << QStringLiteral("/A/Archive.zip");
        QTest::newRow("in the root") << QStringList { QStringLiteral("/etc") } << QStringLiteral("/")
                                     << QStringLiteral("/etc.zip");
        QTest::newRow("the root itself") << QStringList { QStringLiteral("/") } << QString()
                                         << home + QStringLiteral("/Archive.zip");
    }
    void defaultPathAndName()
    {
        QFETCH(QStringList, items);
        QFETCH(QString, source);
        QFETCH(QString, path);
        present(items);
        QCOMPARE(m_screen->sourceFolder(), source);
        QCOMPARE(pathText(), path);

        // The save panel proposes the same name, in the source folder or at home.
        confirm();
        QCOMPARE(m_panels->saveRequests.size(), 1);
        const Panels::SaveRequest& request = m_panels->saveRequests.first();
        QCOMPARE(request.directory, source.isEmpty() ? QDir::homePath() : source);
        QCOMPARE(request.fileName, QFileInfo(path).fileName());
        QCOMPARE(request.allowedExtensions, QStringList { QStringLiteral("zip") });
    }

    // The destination is confirmed in a save panel once per presentation:
    // by the first confirm, or before it by "更换目录".
    void savePanelOnFirstConfirmOnly_data()
    {
        QTest::addColumn<bool>("changeFirst");
        QTest::addColumn<QStringList>("events");
        const QStringList confirm { QStringLiteral("Complete_Zip/zip_zip/3"), QStringLiteral("VC_FileZip/Zip") };
        QTest::newRow("first confirm") << false << confirm + confirm;
        QTest::newRow("after a pick") << true
                                      << QStringList { QStringLiteral("Complete_Zip/zip_changePath/2"),
                                             QStringLiteral("VC_FileZip/FilePathModify") }
                + confirm;
    }
    void savePanelOnFirstConfirmOnly()
    {
        QFETCH(bool, changeFirst);
        QFETCH(QStringList, events);
        present();
        if (changeFirst) {
            m_panels->queueSave(m_picked);
            click("changPathBtn");
            QTRY_VERIFY(m_screen->hadOpenFolder());
            QVERIFY(m_calls.isEmpty());
            click("zipBtn");
        } else {
            confirm();
        }
        QCOMPARE(m_panels->saveRequests.size(), 1);
        QCOMPARE(m_calls.size(), 1);
        QCOMPARE(m_calls.first().path, m_picked);
        QCOMPARE(m_log->take(), events);

        // Later clicks of this presentation start nothing more.
        click("zipBtn");
        QTest::keyClick(outlet<QLineEdit>("pathTf"), Qt::Key_Return);
        QCOMPARE(m_calls.size(), 1);
    }

    void cancelledSavePanelChangesNothing()
    {
        present();
        const QString before = pathText();
        m_panels->queueCancel();
        click("zipBtn");
        click("zipBtn"); // while the panel is up
        QTRY_COMPARE(m_panels->pending(), 0);
        QTest::qWait(20);
        QCOMPARE(m_panels->saveRequests.size(), 1);
        QCOMPARE(pathText(), before);
        QVERIFY(m_calls.isEmpty() && !m_screen->hadOpenFolder() && m_screen->isPresented());
    }

    void passwordsMustMatchExactly_data()
    {
        QTest::addColumn<bool>("boxOn");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<bool>("called");
        QTest::addColumn<std::optional<QString>>("password");
        QTest::newRow("same") << true << QStringLiteral("s3cret pw") << QStringLiteral("s3cret pw") << true
                              << std::optional(QStringLiteral("s3cret pw"));
        QTest::newRow("letter case") << true << QStringLiteral("Secret") << QStringLiteral("secret") << false
                                     << std::optional<QString>();
        QTest::newRow("trailing space") << true << QStringLiteral("secret") << QStringLiteral("secret ") << false
                                        << std::optional<QString>();
        QTest::newRow("both empty") << true << QString() << QString() << true << std::optional<QString>();
        QTest::newRow("box switched off")
            << false << QStringLiteral("a") << QStringLiteral("b") << true << std::optional<QString>();
    }
    void passwordsMustMatchExactly()
    {
        QFETCH(bool, boxOn);
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(bool, called);
        QFETCH(std::optional<QString>, password);
        present();
        turnPasswordOn(first, second);
        QVERIFY(outlet("passwordView")->isVisible());
        if (!boxOn) {
            click("addPasswordBtn");
            QVERIFY(!outlet("passwordView")->isVisible());
        }
        const QPoint origin = outlet("passwordView")->pos();
        if (called) {
            confirm();
        } else {
            click("zipBtn");
            QTest::qWait(20);
        }
        QCOMPARE(m_calls.size(), called ? 1 : 0);
        QStringList events { QStringLiteral("Complete_Zip/zip_addPassword/4") };
        for (int run = 0; run < (called ? 2 : 1); ++run)
            events << QStringLiteral("Complete_Zip/zip_zip/3") << QStringLiteral("VC_FileZip/Zip");
        QCOMPARE(m_log->take(), events);
        if (called) {
            QCOMPARE(m_calls.first().password, password);
            return;
        }
        // No panel, no call: the password view shakes and comes back.
        QCOMPARE(m_panels->saveRequests.size(), 0);
        auto* shake = outlet("passwordView")->findChild<QPropertyAnimation*>(QStringLiteral("shake"));
        QVERIFY(shake);
        QCOMPARE(shake->duration(), 500);
        QCOMPARE(shake->keyValues().size(), 13);
        QCOMPARE(shake->keyValueAt(0.5).toPoint(), origin + QPoint(-15, 0));
        QTRY_VERIFY(!outlet("passwordView")->findChild<QPropertyAnimation*>(QStringLiteral("shake")));
        QCOMPARE(outlet("passwordView")->pos(), origin);
    }

    void optionsPickTheLevel_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<quint64>("level");
        QTest::addColumn<QStringList>("events");
        QTest::newRow("speed") << QStringLiteral("speedBtn") << quint64(1)
                               << QStringList { QStringLiteral("Complete_Zip/zip_needSpeed/3") };
        QTest::newRow("size") << QStringLiteral("sizeBtn") << quint64(9)
                              << QStringList { QStringLiteral("Complete_Zip/zip_needSize/3") };
        QTest::newRow("custom") << QStringLiteral("customBtn") << quint64(1) << QStringList();
    }
    void optionsPickTheLevel()
    {
        QFETCH(QString, option);
        QFETCH(quint64, level);
        QFETCH(QStringList, events);
        present();
        click("sizeBtn");
        m_log->take();
        outlet<QRadioButton>(option.toLatin1().constData())->click();
        QCOMPARE(m_log->take(), events);
        for (const char* name : { "speedBtn", "sizeBtn", "customBtn" })
            QCOMPARE(outlet<QRadioButton>(name)->isChecked(), option == QLatin1String(name));
        confirm();
        QCOMPARE(m_calls.size(), 1);
        QCOMPARE(m_calls.first().level, level);
        QCOMPARE(m_calls.first().type, qint64(0));
    }

    void eachPresentationStartsFromTheDefaults()
    {
        present();
        click("sizeBtn");
        turnPasswordOn(QStringLiteral("pw"), QStringLiteral("pw"));
        outlet<QCheckBox>("openCheck")->setChecked(false);
        confirm();
        QCOMPARE(m_calls.size(), 1);
        QVERIFY(!m_calls.first().open);
        m_screen->dismissViewController();

        present({ QStringLiteral("/A/one"), QStringLiteral("/A/two") });
        QCOMPARE(pathText(), QStringLiteral("/A/Archive.zip"));
        QVERIFY(outlet<QRadioButton>("speedBtn")->isChecked() && !outlet<QRadioButton>("sizeBtn")->isChecked());
        QVERIFY(!outlet<QCheckBox>("addPasswordBtn")->isChecked() && !outlet("passwordView")->isVisible());
        QVERIFY(
            outlet<QLineEdit>("passwordTf")->text().isEmpty() && outlet<QLineEdit>("password2Tf")->text().isEmpty());
        QVERIFY(!m_screen->hadOpenFolder());
        QVERIFY(!outlet<QCheckBox>("openCheck")->isChecked()); // kept
        confirm();
        QCOMPARE(m_panels->saveRequests.size(), 2);
        QCOMPARE(m_calls.size(), 2);
        QCOMPARE(m_calls.last().password, std::optional<QString>());
    }
};

ZAVRIN_TEST(ZipControllerTest)
#include "tst_zipcontroller.moc"
