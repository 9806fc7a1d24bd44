#include "platform/Bundle.h"
#include "screens/UnzipController.h"
#include "screens/ZipController.h"
#include "tests/support/RecordingToasts.h"
#include "tests/support/ScreenFixture.h"
#include "tests/support/ScriptedPanels.h"
#include "tests/support/TestMain.h"

#include <QPropertyAnimation>

using namespace Qt::StringLiterals;

namespace {
const QStringList kConfirm { u"Complete_Zip/zip_zip/3"_s, u"VC_FileZip/Zip"_s };
const QString kPicked = u"/tmp/picked.zip"_s;
} // namespace

// The two setup sheets with scripted panels. Each confirm is recorded as
// text: "folder open|keep" for extraction, "path|password or -|type|level|open"
// for compression.
class SetupSheetsTest final : public QObject {
    Q_OBJECT

    std::unique_ptr<TrackLog> m_log;
    std::unique_ptr<QMainWindow> m_window;
    std::unique_ptr<ScriptedPanels> m_panels;
    std::unique_ptr<QTemporaryDir> m_dir;
    UnzipController* m_unzip = nullptr;
    ZipController* m_zip = nullptr;
    QStringList m_calls;

    QLineEdit* unzipPath() { return outlet<QLineEdit>(m_unzip, "pathTf"); }
    template <typename T = QWidget> T* zipGet(const char* name) { return outlet<T>(m_zip, name); }
    QAbstractButton* zipButton(const char* name) { return zipGet<QAbstractButton>(name); }
    QString folder(const QString& name)
    {
        QDir(m_dir->path()).mkpath(name);
        return m_dir->filePath(name);
    }
    // The user's XDG folders file names `desktop` as the desktop.
    static void setDesktop(const QString& desktop)
    {
        const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
        QDir().mkpath(config);
        QFile dirs(config + u"/user-dirs.dirs"_s);
        QVERIFY(dirs.open(QIODevice::WriteOnly | QIODevice::Truncate));
        dirs.write("XDG_DESKTOP_DIR=\"" + desktop.toUtf8() + "\"\n");
    }
    void present(const QStringList& items = { u"/A/B/report.pdf"_s })
    {
        QList<QUrl> urls;
        for (const QString& item : items)
            urls.append(QUrl::fromLocalFile(item));
        m_zip->setFileUrls(urls);
        m_zip->presentAsSheet(m_window.get());
    }
    // Confirms compression; when `panel`, the save panel answers kPicked.
    void confirm(bool panel = true)
    {
        if (panel)
            m_panels->queueSave(kPicked);
        zipButton("zipBtn")->click();
        QTest::qWait(20);
    }

private slots:
    void initTestCase() { m_log = std::make_unique<TrackLog>(); }
    void cleanupTestCase() { m_log.reset(); }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        setDesktop(folder(u"Desktop"_s));
        m_panels = std::make_unique<ScriptedPanels>();
        m_window = shownWindow();
        m_calls.clear();
        m_unzip = UnzipController::initFromStory(m_window->centralWidget());
        m_unzip->setUnzipClick(
            [this](const QString& path, bool open) { m_calls << path + (open ? u" open"_s : u" keep"_s); });
        m_zip = ZipController::initFromStory(m_window->centralWidget());
        m_zip->setZipClick([this](const QString& path, const std::optional<QString>& password, qint64 type,
                               quint64 level, bool open, const std::optional<ZipModel::Custom>&) {
            m_calls << u"%1|%2|%3|%4|%5"_s.arg(path, password.value_or(u"-"_s)).arg(type).arg(level).arg(open);
        });
        m_log->take();
    }
    void cleanup()
    {
        m_window.reset();
        m_panels.reset();
    }

    void desktopFolderFollowsTheUserSetting_data()
    {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("expected");
        QTest::newRow("a link to it") << u"link"_s << u"Desk"_s;
        QTest::newRow("missing: home") << u"gone"_s << QString();
    }
    void desktopFolderFollowsTheUserSetting()
    {
        QFETCH(QString, setting);
        QFETCH(QString, expected);
        QVERIFY(QFile::link(folder(u"Desk"_s), m_dir->filePath(u"link"_s)));
        setDesktop(m_dir->filePath(setting));
        const QString want = expected.isEmpty() ? QDir::homePath() : m_dir->filePath(expected);
        QCOMPARE(UnzipController::desktopFolder(), QFileInfo(want).canonicalFilePath());
    }

    // A writable folder goes straight on; anything else asks for a folder
    // and, after a pick, confirms again, recording a second time.
    void confirmAsksUntilTheFolderCanBeWritten_data()
    {
        QTest::addColumn<QString>("typed"); // under the temporary folder; "~out" is relative
        QTest::addColumn<Qt::CheckState>("open");
        QTest::addColumn<bool>("pick"); // when the panel opens: pick "picked" or cancel
        QTest::addColumn<QString>("called"); // empty: not called
        QTest::newRow("writable") << u"out"_s << Qt::Checked << false << u"out open"_s;
        QTest::newRow("mixed is off") << u"out"_s << Qt::PartiallyChecked << false << u"out keep"_s;
        QTest::newRow("missing") << u"no/such"_s << Qt::Checked << true << u"picked open"_s;
        QTest::newRow("a file") << u"file"_s << Qt::Unchecked << true << u"picked keep"_s;
        QTest::newRow("relative") << u"~out"_s << Qt::Checked << true << u"picked open"_s;
        QTest::newRow("cancelled") << u"no/such"_s << Qt::Checked << false << QString();
    }
    void confirmAsksUntilTheFolderCanBeWritten()
    {
        QFETCH(QString, typed);
        QFETCH(Qt::CheckState, open);
        QFETCH(bool, pick);
        QFETCH(QString, called);
        folder(u"out"_s);
        QFile(m_dir->filePath(u"file"_s)).open(QIODevice::WriteOnly);
        m_unzip->presentAsSheet(m_window.get());
        const QString path = typed.startsWith(u'~') ? typed.mid(1) : m_dir->filePath(typed);
        const bool asks = typed != QLatin1String("out");
        unzipPath()->setText(path);
        outlet<QCheckBox>(m_unzip, "openCheck")->setCheckState(open);
        if (pick)
            m_panels->queueOpen(folder(u"picked"_s));

        outlet<QPushButton>(m_unzip, "unzipBtn")->click();
        QTest::qWait(20);
        QCOMPARE(m_panels->openRequests.size(), asks ? 1 : 0);
        QVERIFY(!asks || m_panels->openRequests.first().canChooseDirectories);
        QCOMPARE(unzipPath()->text(), pick ? m_dir->filePath(u"picked"_s) : path);
        QCOMPARE(m_calls, called.isEmpty() ? QStringList() : QStringList { m_dir->filePath(called) });
        const QStringList once { u"Complete_Unzip/unzip_unzip/3"_s, u"VC_FileZip/UnZip"_s };
        QCOMPARE(m_log->take(), pick ? once + once : once);
        QVERIFY(m_unzip->isPresented()); // the home screen dismisses it
    }

    // Each sheet says what it acts on: the archive's name and size, or the
    // items to pack and their total, long names cut in the middle.
    void sheetsNameWhatTheyActOn_data()
    {
        QTest::addColumn<QStringList>("items"); // under the temporary folder; a trailing "/" makes a folder
        QTest::addColumn<QString>("title"); // "…" where the name is cut
        QTest::addColumn<QString>("size");
        QTest::newRow("archive") << QStringList { u"photos.zip"_s } << u"photos.zip"_s << u"2.5 MB"_s;
        QTest::newRow("long archive name")
            << QStringList { QString(70, u'长') + u"-end.7z"_s } << u"长…-end.7z"_s << u"2.5 MB"_s;
        QTest::newRow("one item to pack") << QStringList { u"report.pdf"_s, u""_s } << u"report.pdf"_s << u"2.5 MB"_s;
        QTest::newRow("items to pack") << QStringList { u"report.pdf"_s, u"photos/"_s, u""_s } << u"2 items"_s
                                       << u"5.0 MB"_s;
        QTest::newRow("missing item") << QStringList { u"gone.txt"_s, u""_s } << u"gone.txt"_s << QString();
    }
    void sheetsNameWhatTheyActOn()
    {
        QFETCH(QStringList, items);
        QFETCH(QString, title);
        QFETCH(QString, size);
        // An empty last item marks the compression sheet.
        const bool zip = items.last().isEmpty();
        QList<QUrl> urls;
        for (const QString& item : items) {
            if (item.isEmpty() || item.startsWith(u"gone"_s)) {
                if (!item.isEmpty())
                    urls.append(QUrl::fromLocalFile(m_dir->filePath(item)));
                continue;
            }
            const QString path = m_dir->filePath(item.endsWith(u'/') ? item + u"inner/a.bin"_s : item);
            QDir().mkpath(QFileInfo(path).absolutePath());
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(2500000));
            urls.append(QUrl::fromLocalFile(m_dir->filePath(item)));
        }
        QLabel* name = nullptr;
        QLabel* bytes = nullptr;
        if (zip) {
            m_zip->setFileUrls(urls);
            m_zip->presentAsSheet(m_window.get());
            name = zipGet<QLabel>("subjectLab");
            bytes = zipGet<QLabel>("subjectSizeLab");
        } else {
            m_unzip->setFileUrl(urls.first());
            m_unzip->presentAsSheet(m_window.get());
            name = outlet<QLabel>(m_unzip, "archiveLab");
            bytes = outlet<QLabel>(m_unzip, "archiveSizeLab");
        }
        QTRY_COMPARE(bytes->text(), size);
        const qsizetype cut = title.indexOf(u'…');
        if (cut < 0) {
            QCOMPARE(name->text(), title);
        } else {
            QVERIFY2(name->text().startsWith(title.left(cut)) && name->text().endsWith(title.mid(cut + 1))
                    && name->text().contains(u'…'),
                qPrintable(name->text()));
            QVERIFY(name->fontMetrics().horizontalAdvance(name->text()) <= 96 * 4);
        }
    }

    // A folder a panel hands back must be there as it is; it is never made.
    void pickedFolderThatIsNotThereIsRefused()
    {
        RecordingToasts toasts;
        m_unzip->presentAsSheet(m_window.get());
        const QString before = unzipPath()->text();
        m_panels->queueOpen(m_dir->filePath(u"never/made"_s));
        outlet<QPushButton>(m_unzip, "changPathBtn")->click();
        QTRY_COMPARE(toasts.count(RecordingToasts::Kind::Error, L(u"所选文件夹不存在"_s)), 1);
        QCOMPARE(unzipPath()->text(), before);
        QVERIFY(!QFileInfo::exists(m_dir->filePath(u"never"_s)));
        QVERIFY(m_calls.isEmpty());
    }

    void oneConfirmPerPresentation()
    {
        m_unzip->presentAsSheet(m_window.get());
        // "更换目录" only changes the path.
        m_panels->queueOpen(folder(u"elsewhere"_s));
        outlet<QPushButton>(m_unzip, "changPathBtn")->click();
        QTRY_COMPARE(unzipPath()->text(), m_dir->filePath(u"elsewhere"_s));
        QVERIFY(m_calls.isEmpty());
        QCOMPARE(m_log->take(), QStringList { u"Complete_Unzip/unzip_changePath/2"_s });

        // Clicks while the panel is up, or once the folder went on, do nothing.
        unzipPath()->setText(m_dir->filePath(u"missing"_s));
        m_panels->queueOpen(folder(u"out"_s));
        auto* button = outlet<QPushButton>(m_unzip, "unzipBtn");
        button->click();
        button->click();
        QTRY_COMPARE(m_calls.size(), 1);
        button->click();
        QTest::keyClick(unzipPath(), Qt::Key_Return);
        QCOMPARE(m_calls.size(), 1);
        QCOMPARE(m_panels->openRequests.size(), 2);
    }

    void proposesAPlaceAndAName_data()
    {
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("path");
        QTest::newRow("one file") << QStringList { u"/A/B/report.pdf"_s } << u"/A/B"_s << u"/A/B/report.zip"_s;
        QTest::newRow("last extension") << QStringList { u"/A/a.tar.gz"_s } << u"/A"_s << u"/A/a.tar.zip"_s;
        QTest::newRow("a folder") << QStringList { u"/A/photos/"_s } << u"/A"_s << u"/A/photos.zip"_s;
        QTest::newRow("other branch") << QStringList { u"/A/B/C/d.txt"_s, u"/X/e"_s } << u"/A"_s << u"/A/Archive.zip"_s;
        QTest::newRow("in the root") << QStringList { u"/etc"_s } << u"/"_s << u"/etc.zip"_s;
        QTest::newRow("the root") << QStringList { u"/"_s } << QString() << QDir::homePath() + u"/Archive.zip"_s;
    }
    void proposesAPlaceAndAName()
    {
        QFETCH(QStringList, items);
        QFETCH(QString, source);
        QFETCH(QString, path);
        present(items);
        QCOMPARE(m_zip->sourceFolder(), source);
        QCOMPARE(zipGet<QLineEdit>("pathTf")->text(), path);
        confirm();
        const Panels::SaveRequest request = m_panels->saveRequests.value(0);
        QCOMPARE(QDir(request.directory).filePath(request.fileName), path);
        QCOMPARE(request.allowedExtensions, QStringList { u"zip"_s });
    }

    // One save panel per presentation, by "更换目录" or else by the first
    // confirm; then one call, and further clicks start nothing.
    void savePanelOnceThenOneCall_data()
    {
        QTest::addColumn<bool>("changeFirst");
        QTest::addColumn<QStringList>("events");
        QTest::newRow("first confirm") << false << kConfirm + kConfirm;
        QTest::newRow("change folder") << true
                                       << QStringList { u"Complete_Zip/zip_changePath/2"_s,
                                              u"VC_FileZip/FilePathModify"_s }
                + kConfirm;
    }
    void savePanelOnceThenOneCall()
    {
        QFETCH(bool, changeFirst);
        QFETCH(QStringList, events);
        present();
        m_panels->queueSave(kPicked);
        if (changeFirst) {
            zipButton("changPathBtn")->click();
            QTRY_VERIFY(m_zip->hadOpenFolder());
            QVERIFY(m_calls.isEmpty());
        }
        zipButton("zipBtn")->click();
        zipButton("zipBtn")->click(); // while the panel is up
        QTRY_COMPARE(m_calls.size(), 1);
        zipButton("zipBtn")->click();
        QTest::keyClick(zipGet<QLineEdit>("pathTf"), Qt::Key_Return);
        QCOMPARE(m_calls, QStringList { kPicked + u"|-|0|1|1"_s });
        QCOMPARE(m_panels->saveRequests.size(), 1);
        QCOMPARE(m_log->take(), events);
    }

    void passwordsMustMatchExactly_data()
    {
        QTest::addColumn<bool>("boxOn");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<QString>("password"); // empty: no call
        QTest::newRow("same") << true << u"s3cret pw"_s << u"s3cret pw"_s << u"s3cret pw"_s;
        QTest::newRow("letter case") << true << u"Secret"_s << u"secret"_s << QString();
        QTest::newRow("trailing space") << true << u"pw"_s << u"pw "_s << QString();
        QTest::newRow("both empty") << true << QString() << QString() << u"-"_s;
        QTest::newRow("box switched off") << false << u"a"_s << u"b"_s << u"-"_s;
    }
    void passwordsMustMatchExactly()
    {
        QFETCH(bool, boxOn);
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(QString, password);
        present();
        QWidget* view = zipGet<QWidget>("passwordView");
        zipButton("addPasswordBtn")->click();
        QVERIFY(view->isVisible());
        QTest::keyClicks(zipGet<QLineEdit>("passwordTf"), first);
        QTest::keyClicks(zipGet<QLineEdit>("password2Tf"), second);
        if (!boxOn)
            zipButton("addPasswordBtn")->click();
        QCOMPARE(view->isVisible(), boxOn);
        const QPoint origin = view->pos();
        confirm(!password.isEmpty());
        const QStringList turnedOn { u"Complete_Zip/zip_addPassword/4"_s };
        if (!password.isEmpty()) {
            QCOMPARE(m_calls, QStringList { kPicked + u'|' + password + u"|0|1|1"_s });
            QCOMPARE(m_log->take(), turnedOn + kConfirm + kConfirm);
            return;
        }
        // No panel, no call: the view shakes and comes back to its place.
        QVERIFY(m_calls.isEmpty() && m_panels->saveRequests.isEmpty());
        QCOMPARE(m_log->take(), turnedOn + kConfirm);
        auto* shake = view->findChild<QPropertyAnimation*>(u"shake"_s);
        QVERIFY(shake && shake->keyValueAt(0.5).toPoint() == origin + QPoint(-15, 0));
        QTRY_VERIFY(!view->findChild<QPropertyAnimation*>(u"shake"_s));
        QCOMPARE(view->pos(), origin);
    }

    void sizeAloneIsLevelNine_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("level");
        QTest::addColumn<QStringList>("events");
        QTest::newRow("speed") << u"speedBtn"_s << u"1"_s << QStringList { u"Complete_Zip/zip_needSpeed/3"_s };
        QTest::newRow("size") << u"sizeBtn"_s << u"9"_s << QStringList { u"Complete_Zip/zip_needSize/3"_s };
        QTest::newRow("custom") << u"customBtn"_s << u"1"_s << QStringList();
    }
    void sizeAloneIsLevelNine()
    {
        QFETCH(QString, option);
        QFETCH(QString, level);
        QFETCH(QStringList, events);
        present();
        zipButton("sizeBtn")->click();
        m_log->take();
        zipButton(option.toLatin1().constData())->click();
        QCOMPARE(m_log->take(), events);
        QCOMPARE(zipButton("sizeBtn")->isChecked(), option == QLatin1String("sizeBtn"));
        confirm();
        QCOMPARE(m_calls, QStringList { kPicked + u"|-|0|"_s + level + u"|1"_s });
    }

    void eachPresentationStartsFromTheDefaults()
    {
        present();
        zipButton("sizeBtn")->click();
        zipButton("addPasswordBtn")->click();
        QTest::keyClicks(zipGet<QLineEdit>("passwordTf"), u"pw"_s);
        QTest::keyClicks(zipGet<QLineEdit>("password2Tf"), u"pw"_s);
        zipGet<QCheckBox>("openCheck")->setChecked(false);
        confirm();
        m_zip->dismissViewController();

        present({ u"/A/one"_s, u"/A/two"_s });
        QCOMPARE(zipGet<QLineEdit>("pathTf")->text(), u"/A/Archive.zip"_s);
        QVERIFY(zipButton("speedBtn")->isChecked() && !zipButton("addPasswordBtn")->isChecked());
        QVERIFY(!zipGet<QWidget>("passwordView")->isVisible() && !m_zip->hadOpenFolder());
        QVERIFY(
            zipGet<QLineEdit>("passwordTf")->text().isEmpty() && zipGet<QLineEdit>("password2Tf")->text().isEmpty());
        confirm();
        QCOMPARE(m_panels->saveRequests.size(), 2);
        QCOMPARE(m_calls.value(1), kPicked + u"|-|0|1|0"_s); // "open" as left
    }
};

ZAVRIN_TEST(SetupSheetsTest)
#include "tst_setupsheets.moc"
