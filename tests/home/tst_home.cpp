#include "engine/StopToken.h"
#include "engine/ZipManager.h"
#include "feedback/FeedbackVC.h"
#include "home/DragView.h"
#include "platform/Bundle.h"
#include "platform/Defaults.h"
#include "screens/ArchivePreview.h"
#include "screens/ArchiveTreeModel.h"
#include "screens/PreviewFolder.h"
#include "screens/ProgressController.h"
#include "screens/UnzipController.h"
#include "screens/ZipController.h"
#include "tests/support/HomeFixture.h"
#include "tests/support/TestMain.h"
#include "tests/support/ZipInspection.h"

#include <QApplication>
#include <QMimeData>

using namespace Qt::StringLiterals;

// The home window as the application runs it: the delegate's window, the
// real engine, panels answered from a script.
class HomeTest final : public QObject {
    Q_OBJECT

    std::unique_ptr<TrackLog> m_log;
    std::unique_ptr<HomeFixture> m_fixture;
    std::unique_ptr<QTemporaryDir> m_dir;

    WindowController* window() const { return m_fixture->window(); }
    MainController* home() const { return m_fixture->home(); }
    QPushButton* button(const char* name) const { return outlet<QPushButton>(home(), name); }
    QString path(const QString& name) const { return m_dir->filePath(name); }
    QString write(const QString& name, const QByteArray& content)
    {
        return ZipInspection::writeFile(path(name), content) ? path(name) : QString();
    }
    // A zip made by the zip program, holding "a.txt" and "sub/b.txt".
    QString archive(const QString& name)
    {
        write(u"src/a.txt"_s, "alpha\n");
        write(u"src/sub/b.txt"_s, QByteArray(300000, 'b'));
        QProcess zip;
        zip.setWorkingDirectory(path(u"src"_s));
        zip.start(u"zip"_s, { u"-qr"_s, path(name), u"."_s });
        return zip.waitForFinished() && zip.exitCode() == 0 ? path(name) : QString();
    }
    // Sends a drag and its drop to `target`, as the window system does.
    static void drop(QWidget* target, const QList<QUrl>& urls)
    {
        QMimeData data;
        data.setUrls(urls);
        const QPoint at = target->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction | Qt::LinkAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QDropEvent dropped(at, Qt::CopyAction | Qt::LinkAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &dropped);
    }

private slots:
    void initTestCase() { m_log = std::make_unique<TrackLog>(); }
    void cleanupTestCase() { m_log.reset(); }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        // The extraction sheet's boxes as on a first launch.
        Defaults::standard().remove(UnzipController::previewCheckKey());
        Defaults::standard().remove(UnzipController::ownFolderCheckKey());
        m_fixture = std::make_unique<HomeFixture>();
        QVERIFY(QTest::qWaitForWindowActive(window()));
        m_log->take();
    }
    void cleanup()
    {
        m_fixture.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // Documents from the file manager: the extension decides, in any case,
    // and only the home screen with nothing over it takes them.
    void documentsOpenTheExtractionSheet_data()
    {
        QTest::addColumn<QString>("name"); // under the temporary folder; a trailing "/" makes a folder
        QTest::addColumn<bool>("sheetUp");
        QTest::addColumn<bool>("opens");
        QTest::newRow("zip") << u"a.zip"_s << false << true;
        QTest::newRow("ZIP in capitals") << u"a.ZIP"_s << false << true;
        QTest::newRow("folder named like an archive") << u"b.zip/"_s << false << true;
        QTest::newRow("text file") << u"notes.txt"_s << false << false;
        QTest::newRow("tar.gz") << u"a.TAR.GZ"_s << false << true;
        QTest::newRow("7z volume") << u"b.7z.002"_s << false << true;
        QTest::newRow("cabinet") << u"c.cab"_s << false << false;
        QTest::newRow("no extension") << u"README"_s << false << false;
        QTest::newRow("archive while a sheet is up") << u"a.zip"_s << true << false;
    }
    void documentsOpenTheExtractionSheet()
    {
        QFETCH(QString, name);
        QFETCH(bool, sheetUp);
        QFETCH(bool, opens);
        const QString document = name.endsWith(u'/') ? (QDir().mkpath(path(name)), path(name)) : write(name, "x");
        if (sheetUp) {
            home()->showZip({ QUrl::fromLocalFile(write(u"item.txt"_s, "x")) });
            QTRY_COMPARE(QApplication::activeWindow(), home()->zipVc());
            window()->activateWindow(); // the user went back to the window
            m_log->take();
        }

        // As a later launch hands them over: the window comes forward first,
        // with its sheet over it.
        m_fixture->delegate.openFilesFromAnotherLaunch({ document, write(u"second.zip"_s, "x") });
        if (sheetUp)
            QTRY_COMPARE(QApplication::activeWindow(), home()->zipVc());
        UnzipController* sheet = home()->unzipVc();
        QCOMPARE(sheet->isPresented(), opens);
        if (opens)
            QCOMPARE(QDir::cleanPath(sheet->fileUrl().toLocalFile()), QDir::cleanPath(document));
        const bool toast = !opens && !sheetUp;
        QTest::qWait(20); // toasts are queued
        QCOMPARE(m_fixture->toasts.count(RecordingToasts::Kind::Info, L(u"不支持的文件格式"_s)), toast ? 1 : 0);
        QCOMPARE(m_fixture->toasts.toasts.size(), toast ? 1 : 0);
        // A routed document records its step only, never a page event.
        QCOMPARE(m_log->take(), opens ? QStringList { u"Complete_Unzip/unzip_start/1"_s } : QStringList());
    }

    // Two items at the top go into a folder named after the archive, which
    // is the folder opened; unticked, they go straight in, as ever. What the
    // preview leaves unticked stays in the archive; the one item left goes
    // straight in.
    void documentIsExtractedThroughBothSheets_data()
    {
        QTest::addColumn<bool>("ownFolder");
        QTest::addColumn<bool>("preview"); // its folders unticked
        QTest::addColumn<QStringList>("top"); // what the chosen folder holds after
        QTest::addColumn<QString>("into"); // the folder of a.txt, which is opened
        QTest::newRow("into a folder named after it") << true << false << QStringList { u"pack"_s } << u"/pack"_s;
        QTest::newRow("straight in") << false << false << QStringList { u"a.txt"_s, u"sub"_s } << QString();
        QTest::newRow("one item ticked in the preview") << true << true << QStringList { u"a.txt"_s } << QString();
    }
    void documentIsExtractedThroughBothSheets()
    {
        QFETCH(bool, ownFolder);
        QFETCH(bool, preview);
        QFETCH(QStringList, top);
        QFETCH(QString, into);
        const QString zip = archive(u"pack.zip"_s);
        const QString out = path(u"out"_s);
        QVERIFY(QDir().mkpath(out));
        m_fixture->delegate.openFiles({ zip });
        UnzipController* setup = home()->unzipVc();
        QVERIFY(setup->isPresented());
        QVERIFY(outlet<QCheckBox>(setup, "ownFolderCheck")->isChecked()); // ticked at first
        outlet<QCheckBox>(setup, "ownFolderCheck")->setChecked(ownFolder);
        if (preview) {
            outlet<QCheckBox>(setup, "previewCheck")->setChecked(true);
            QTRY_VERIFY(setup->preview()->isLoaded());
            ArchiveTreeModel* model = setup->preview()->model();
            for (int row = 0; row < model->rowCount(); ++row) {
                const QModelIndex at = model->index(row, 0);
                if (model->tree()->isFolder(model->node(at)))
                    model->setData(at, Qt::Unchecked, Qt::CheckStateRole);
            }
        }
        outlet<QLineEdit>(setup, "pathTf")->setText(out);
        QTest::keyClick(outlet<QLineEdit>(setup, "pathTf"), Qt::Key_Return); // the default button
        ProgressController* progress = home()->progressVc();
        QVERIFY(!setup->isPresented() && progress->isPresented());
        QVERIFY(!progress->model()->isZip());
        QCOMPARE(progress->model()->options.ownFolder, ownFolder);
        QCOMPARE(bool(progress->model()->options.selection), preview);

        QTRY_VERIFY_WITH_TIMEOUT(!progress->isPresented(), 20000);
        QCOMPARE(outlet<QLabel>(progress, "progressTf")->text(), u"100%"_s);
        QCOMPARE(ZipInspection::readFile(out + into + u"/a.txt"_s), QByteArray("alpha\n"));
        QCOMPARE(QFileInfo(out + into + u"/sub/b.txt"_s).size(), preview ? 0 : 300000);
        QCOMPARE(QDir(out).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), top);
        QCOMPARE(m_fixture->workspace.opened, QStringList { out + into });
    }

    // Entries opened from the preview go with the program.
    void quittingRemovesOpenedEntries()
    {
        PreviewFolder::setBaseForTesting(path(u"run"_s));
        QVERIFY(QDir().mkpath(path(u"run"_s)));
        const QString entryFolder = PreviewFolder::makeEntryFolder();
        QVERIFY(!entryFolder.isEmpty());
        const QString file = entryFolder + u"/sub/opened.txt"_s;
        QVERIFY(ZipInspection::writeFile(file, "x"));
        QVERIFY(QFile::setPermissions(file, QFile::ReadOwner));
        m_fixture->delegate.applicationWillTerminate();
        StopToken::resumeForTesting();
        QVERIFY(!QFileInfo::exists(file));
        QCOMPARE(
            QDir(path(u"run"_s)).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size(), 1); // the base's own folder
        PreviewFolder::setBaseForTesting({});
    }

    // Three files dropped on the compress target become one archive.
    void dropOnCompressTargetMakesOneArchive()
    {
        QList<QUrl> items;
        for (const QString& name : { u"c.txt"_s, u"a.txt"_s, u"b.txt"_s })
            items.append(QUrl::fromLocalFile(write(u"in/"_s + name, name.toUtf8())));
        drop(outlet<QWidget>(home(), "zipLab"), items); // on the caption inside the target
        ZipController* setup = home()->zipVc();
        QVERIFY(setup->isPresented());
        QCOMPARE(setup->fileUrls(), items);
        QCOMPARE(m_log->take(), (QStringList { u"VC_Home/FileZip"_s, u"Complete_Zip/zip_start/1"_s }));

        const QString target = path(u"three.zip"_s);
        m_fixture->panels.queueSave(target);
        outlet<QPushButton>(setup, "zipBtn")->click();
        ProgressController* progress = home()->progressVc();
        QTRY_VERIFY(progress->isPresented());
        QVERIFY(progress->model()->isZip());
        QTRY_VERIFY_WITH_TIMEOUT(!progress->isPresented(), 20000);
        const QMap<QString, QJsonObject> entries = ZipInspection::entries(target);
        QCOMPARE(entries.keys(), (QStringList { u"a.txt"_s, u"b.txt"_s, u"c.txt"_s }));
        for (const QString& name : entries.keys())
            QCOMPARE(ZipInspection::data(entries[name]), name.toUtf8());

        // The next job reuses the sheet with its own items.
        drop(outlet<QWidget>(home(), "zipView"), items.mid(1));
        QCOMPARE(home()->zipVc(), setup);
        QCOMPARE(setup->fileUrls(), items.mid(1));
    }

    // The targets by mouse and keyboard: the page event comes with the press,
    // the step only with a picked item.
    void targetsOpenTheirPanels_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("pick");
        QTest::addColumn<bool>("zip");
        QTest::newRow("compress click, cancelled") << u"click zipBtn"_s << false << true;
        QTest::newRow("extract click") << u"click unzipBtn"_s << true << false;
        QTest::newRow("Tab to extract, Enter") << u"tab"_s << true << false;
        QTest::newRow("compress, Space") << u"space"_s << true << true;
        QTest::newRow("Ctrl+O") << u"ctrl+o"_s << true << false;
    }
    void targetsOpenTheirPanels()
    {
        QFETCH(QString, how);
        QFETCH(bool, pick);
        QFETCH(bool, zip);
        const QStringList picked { write(u"p.zip"_s, "x"), write(u"q.txt"_s, "y") };
        if (pick)
            m_fixture->panels.queueOpen(zip ? picked : picked.mid(0, 1));
        if (how.startsWith(u"click"_s)) {
            button(how.mid(6).toLatin1().constData())->click();
            button(how.mid(6).toLatin1().constData())->click(); // a second press while the panel is up
        } else if (how == u"tab"_s) {
            button("zipBtn")->setFocus();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), button("unzipBtn"));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        } else if (how == u"space"_s) {
            button("zipBtn")->setFocus();
            QTest::keyClick(button("zipBtn"), Qt::Key_Space);
        } else {
            QTest::keyClick(window(), Qt::Key_O, Qt::ControlModifier);
        }

        QCOMPARE(m_fixture->panels.openRequests.size(), 1);
        const Panels::OpenRequest request = m_fixture->panels.openRequests.first();
        QCOMPARE(request.canChooseDirectories, zip);
        QCOMPARE(request.allowsMultipleSelection, zip);
        QCOMPARE(request.allowedExtensions, zip ? QStringList() : ZipManager::extractableSuffixes());
        if (!zip) {
            for (const char* suffix : { "zip", "rar", "7z", "tar.gz", "tar.zst", "gz" })
                QVERIFY(request.allowedExtensions.contains(QLatin1String(suffix)));
        }
        QTRY_COMPARE(home()->zipVc()->isPresented() || home()->unzipVc()->isPresented(), pick);
        const QString page = zip ? u"VC_Home/FileZip"_s : u"VC_Home/FileUnZip"_s;
        const QString step = zip ? u"Complete_Zip/zip_start/1"_s : u"Complete_Unzip/unzip_start/1"_s;
        QCOMPARE(m_log->take(), (pick ? QStringList { page, step } : QStringList { page }));
        if (pick && zip)
            QCOMPARE(home()->zipVc()->fileUrls().size(), 2);
    }

    // Feedback opens its form over the window. With no store listing built
    // in, the rating action opens nothing; its button is never shown and
    // takes no room.
    void bottomButtons()
    {
        outlet<QAbstractButton>(home(), "feedbackBtn")->click();
        auto* form = qobject_cast<FeedbackVC*>(QApplication::activeModalWidget());
        QVERIFY(form);
        QVERIFY(form->isVisible() && !window()->homeScreenIsKey());
        form->close();

        // The targets' captions are drawn in the window's text colour, never pure black.
        for (const char* caption : { "zipLab", "unzipLab" }) {
            const QImage drawn = outlet<QLabel>(home(), caption)->grab().toImage();
            int darkest = 255;
            for (int y = 0; y < drawn.height(); ++y)
                for (int x = 0; x < drawn.width(); ++x)
                    darkest = std::min(darkest, qGray(drawn.pixel(x, y)));
            QVERIFY2(darkest >= 0x20 && darkest <= 0x40, qPrintable(QString::number(darkest)));
        }

        auto* rate = outlet<QAbstractButton>(home(), "rateBtn");
        QVERIFY(!rate->isVisible());
        QCOMPARE(rate->width(), 0);
        QVERIFY(Bundle::storeIdentifier().isEmpty());
        home()->rateClick();
        QVERIFY(m_fixture->workspace.urls.isEmpty());
    }

    void writeReviewUrl_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("url"); // empty: none
        QTest::newRow("listing") << u"store.example"_s << u"1234567"_s
                                 << u"itms-apps://store.example/cn/app/id1234567?mt=8&action=write-review"_s;
        QTest::newRow("no identifier") << u"store.example"_s << QString() << QString();
        QTest::newRow("no host") << QString() << u"1234567"_s << QString();
        QTest::newRow("not a number") << u"store.example"_s << u"12?x=1"_s << QString();
        QTest::newRow("a path") << u"store.example"_s << u"1/../2"_s << QString();
    }
    void writeReviewUrl()
    {
        QFETCH(QString, host);
        QFETCH(QString, id);
        QFETCH(QString, url);
        QCOMPARE(MainController::writeReviewUrl(host, id).toString(), url);
    }
};

ZAVRIN_TEST(HomeTest)
#include "tst_home.moc"
