#include "platform/Bundle.h"
#include "platform/Defaults.h"
#include "screens/ArchivePreview.h"
#include "screens/ArchiveTreeModel.h"
#include "screens/EntryOpener.h"
#include "screens/PreviewFolder.h"
#include "screens/UnzipController.h"
#include "tests/screens/PreviewTesting.h"
#include "tests/support/RecordingToasts.h"
#include "tests/support/ScreenFixture.h"
#include "tests/support/ScriptedPanels.h"
#include "tests/support/TestMain.h"
#include "tests/support/ZipInspection.h"

#include <QClipboard>
#include <QDirIterator>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTreeView>
#include <sys/stat.h>

using namespace Qt::StringLiterals;
using namespace PreviewTesting;

// The extraction sheet with "文档预览" ticked: the real engine lists and
// extracts archives made by the real tools; panels and toasts are scripted
// and recorded.
class PreviewSheetTest final : public QObject {
    Q_OBJECT

    std::unique_ptr<TrackLog> m_log;
    std::unique_ptr<QMainWindow> m_window;
    std::unique_ptr<ScriptedPanels> m_panels;
    std::unique_ptr<RecordingToasts> m_toasts;
    std::unique_ptr<RecordingWorkspace> m_workspace;
    std::unique_ptr<QTemporaryDir> m_dir;
    UnzipController* m_sheet = nullptr;
    QStringList m_calls;

    template <typename T = QWidget> T* get(const char* name) const { return outlet<T>(m_sheet, name); }
    ArchivePreview* preview() const { return m_sheet->preview(); }
    ArchiveTreeModel* model() const { return preview()->model(); }
    QString path(const QString& name) const { return m_dir->filePath(name); }
    static QString fixture(const QString& name) { return QStringLiteral(ZAVRIN_FIXTURES_DIR "/") + name; }

    void present(const QString& archive, bool withPreview = true)
    {
        get<QCheckBox>("previewCheck")->setChecked(withPreview);
        m_sheet->setFileUrl(QUrl::fromLocalFile(archive));
        m_sheet->presentAsSheet(m_window.get());
    }
    // The row of `entryPath` (as the tree names it), looked for in what the
    // model has handed over.
    QModelIndex row(const QString& entryPath, const QModelIndex& parent = {}) const
    {
        for (int r = 0; r < model()->rowCount(parent); ++r) {
            const QModelIndex at = model()->index(r, 0, parent);
            const QString here = model()->tree()->path(model()->node(at));
            if (here == entryPath)
                return at;
            if (entryPath.startsWith(here) && here.endsWith(u'/'))
                return row(entryPath, at);
        }
        return {};
    }
    void tick(const QString& entryPath, bool on)
    {
        QVERIFY(model()->setData(row(entryPath), on ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole));
    }
    // Confirms into `out`; the options of that confirm.
    ExtractOptions confirm(const QString& out)
    {
        QDir().mkpath(out);
        get<QLineEdit>("pathTf")->setText(out);
        get<QPushButton>("unzipBtn")->click();
        return m_sheet->extractOptions();
    }
    // Queues the answers to the password sheet; "-" cancels it.
    void answer(const QStringList& answers)
    {
        for (const QString& answer : answers) {
            if (answer == u"-")
                m_panels->queueCancel();
            else
                m_panels->queuePassword(answer);
        }
    }
    // Runs the extraction the home screen would start; its end.
    QVariantMap extract(const QString& archive, const QString& out, const ExtractOptions& options)
    {
        QVariantMap end;
        QObject context;
        NotificationCenter::defaultCenter().addObserver(
            NotifyManager::JobDidEnd(), &context, [&](const Notification& notification) {
                if (notification.object.value(NotifyManager::pathKey()) == archive)
                    end = notification.object;
            });
        ZipManager::shared().extract(archive, out, options);
        static_cast<void>(QTest::qWaitFor([&] { return !end.isEmpty(); }, 30000));
        return end;
    }
    // Relative paths of the files under `folder`.
    static QStringList files(const QString& folder)
    {
        QStringList found;
        QDirIterator walk(folder, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (walk.hasNext())
            found << QDir(folder).relativeFilePath(walk.next());
        found.sort();
        return found;
    }

private slots:
    void initTestCase() { m_log = std::make_unique<TrackLog>(); }
    void cleanupTestCase() { m_log.reset(); }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        PreviewFolder::setBaseForTesting(path(u"run"_s));
        QDir().mkpath(path(u"run"_s));
        Defaults::standard().remove(UnzipController::previewCheckKey());
        Defaults::standard().remove(UnzipController::ownFolderCheckKey());
        m_panels = std::make_unique<ScriptedPanels>();
        m_toasts = std::make_unique<RecordingToasts>();
        m_workspace = std::make_unique<RecordingWorkspace>();
        m_window = shownWindow();
        m_calls.clear();
        m_sheet = UnzipController::initFromStory(m_window->centralWidget());
        m_sheet->setUnzipClick(
            [this](const QString& folder, bool open) { m_calls << folder + (open ? u" open"_s : u" keep"_s); });
        m_log->take();
    }
    void cleanup()
    {
        m_window.reset();
        m_workspace.reset();
        m_toasts.reset();
        m_panels.reset();
        PreviewFolder::remove();
        PreviewFolder::setBaseForTesting({});
    }

    // The preview is off at first and the own folder on; both boxes are
    // remembered for the next launch. The sheet grows for the preview and
    // shrinks back around its centre, and still fits a 1280×800 screen.
    void boxesAreRememberedAndTheSheetGrows()
    {
        QVERIFY(get<QCheckBox>("ownFolderCheck")->isChecked());
        QVERIFY(!get<QCheckBox>("previewCheck")->isChecked());
        present(fixture(u"plain.zip"_s), false);
        QVERIFY(!preview()->isVisible());
        const QSize small = m_sheet->size();
        QRect placed = m_sheet->frameGeometry();
        placed.moveCenter(m_sheet->screen()->availableGeometry().center());
        m_sheet->move(placed.topLeft());
        const QPoint centre = m_sheet->frameGeometry().center();
        get<QCheckBox>("previewCheck")->click();
        QVERIFY(preview()->isVisible());
        QVERIFY((m_sheet->frameGeometry().center() - centre).manhattanLength() <= 2);
        QTRY_VERIFY(preview()->isLoaded());
        const QSize large = m_sheet->size();
        // Tab goes from the box to the filter and the tree, then the buttons.
        QWidget* focus = get<QCheckBox>("previewCheck");
        QStringList order;
        for (int i = 0; i < 4; ++i) {
            do
                focus = focus->nextInFocusChain();
            while (!(focus->focusPolicy() & Qt::TabFocus) || !focus->isVisible());
            order << focus->objectName();
        }
        QCOMPARE(order, (QStringList { u"filterTf"_s, u"previewTree"_s, u"cancelBtn"_s, u"unzipBtn"_s }));
        QVERIFY2(large.width() > small.width() && large.height() > small.height() + 200,
            qPrintable(u"%1x%2"_s.arg(large.width()).arg(large.height())));
        QVERIFY(large.width() <= 1000 && large.height() <= 700);
        get<QCheckBox>("previewCheck")->click();
        QTRY_COMPARE(m_sheet->size(), small);
        QVERIFY(!preview()->isLoaded());

        get<QCheckBox>("ownFolderCheck")->click();
        get<QCheckBox>("previewCheck")->click();
        UnzipController* next = UnzipController::initFromStory(m_window->centralWidget());
        QVERIFY(!outlet<QCheckBox>(next, "ownFolderCheck")->isChecked());
        QVERIFY(outlet<QCheckBox>(next, "previewCheck")->isChecked());
        // Unticked, the confirm hands on nothing beyond the folder.
        get<QCheckBox>("previewCheck")->click();
        const ExtractOptions options = confirm(path(u"out"_s));
        QVERIFY(!options.selection && !options.password && !options.ownFolder);
        QCOMPARE(m_calls, QStringList { path(u"out"_s) + u" open"_s });
    }

    // What is unticked stays in the archive; the own folder takes what came
    // out. Each reader's handling of a selection is the engine suite's.
    void extractsOnlyWhatIsTicked()
    {
        const QString source = path(u"src"_s);
        for (const QString& name : { u"keep/a.txt"_s, u"keep/b.txt"_s, u"drop/c.txt"_s, u"top.txt"_s })
            QVERIFY(ZipInspection::writeFile(source + u'/' + name, name.toUtf8()));
        const QString archive = path(u"pick.zip"_s);
        QVERIFY(run(source, u"zip"_s, { u"-qr"_s, archive, u"keep"_s, u"drop"_s, u"top.txt"_s }));

        present(archive);
        QTRY_VERIFY(preview()->isLoaded());
        tick(u"drop/"_s, false);
        tick(u"keep/b.txt"_s, false);
        QCOMPARE(model()->data(row(u"keep/"_s), Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
        const QString out = path(u"out"_s);
        const ExtractOptions options = confirm(out);
        QVERIFY(options.selection && options.ownFolder && !options.password);
        const QVariantMap end = extract(archive, out, options);
        QVERIFY(end.value(NotifyManager::succeededKey()).toBool());
        QCOMPARE(end.value(NotifyManager::outputKey()).toString(), out + u"/pick"_s);
        QCOMPARE(files(out), (QStringList { u"pick/keep/a.txt"_s, u"pick/top.txt"_s }));
    }

    // A selection keeps every promise of a whole extraction: a damaged
    // chosen entry fails the job and leaves no part of itself, a wrong
    // password leaves nothing; a damaged entry left out does not matter.
    void selectionsKeepTheirPromises_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::addColumn<QString>("chosen"); // the one file ticked
        QTest::addColumn<QStringList>("answers"); // to the password sheet; "-" cancels
        QTest::addColumn<bool>("ownFolder");
        QTest::addColumn<bool>("succeeds");
        for (const char* format : { "zip", "7z" }) {
            const QString archive = u"crc-error."_s + QLatin1String(format);
            QTest::newRow(qPrintable(archive + u", damaged entry chosen"_s))
                << archive << u"bad.txt"_s << QStringList() << false << false;
            QTest::newRow(qPrintable(archive + u", damaged entry left out"_s))
                << archive << u"good.txt"_s << QStringList() << false << true;
        }
        const QStringList once { u"nope"_s };
        const QStringList thenCancel { u"nope"_s, u"-"_s };
        QTest::newRow("7z, wrong password, own folder") << u"encrypted.7z"_s << u"hello.txt"_s << once << true << false;
        QTest::newRow("rar, wrong password, own folder")
            << u"encrypted.rar"_s << u"dir/nested.txt"_s << thenCancel << true << false;
        QTest::newRow("AES zip, wrong password") << u"aes.zip"_s << u"hello.txt"_s << thenCancel << false << false;
    }
    void selectionsKeepTheirPromises()
    {
        QFETCH(QString, archive);
        QFETCH(QString, chosen);
        QFETCH(QStringList, answers);
        QFETCH(bool, ownFolder);
        QFETCH(bool, succeeds);
        archive = fixture(archive);
        get<QCheckBox>("ownFolderCheck")->setChecked(ownFolder);
        present(archive);
        QTRY_VERIFY(preview()->isLoaded());
        for (int r = 0; r < model()->rowCount(); ++r)
            model()->setData(model()->index(r, 0), Qt::Unchecked, Qt::CheckStateRole);
        tick(chosen, true);
        answer(answers);
        const QString out = path(u"out"_s);
        const ExtractOptions options = confirm(out);
        QVERIFY(options.selection);
        const QVariantMap end = extract(archive, out, options);
        QCOMPARE(end.value(NotifyManager::succeededKey()).toBool(), succeeds);
        QCOMPARE(files(out), succeeds ? QStringList { chosen } : QStringList());
        QCOMPARE(QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty(), !succeeds);
    }

    // Encrypted names ask for the password once, in the password sheet (and
    // again after a wrong one); the extraction then asks no more.
    void encryptedNamesAskOnce_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::addColumn<QStringList>("answers"); // "-" cancels; the last one that is not opens it
        QTest::addColumn<QString>("file"); // one of its files, and what it holds
        QTest::addColumn<QByteArray>("content");
        for (const char* format : { "7z", "rar" }) {
            const QString archive = fixture(u"encrypted-headers."_s + QLatin1String(format));
            const auto add = [&](const char* how, const QStringList& answers) {
                QTest::newRow(qPrintable(QLatin1String(format) + QLatin1String(how)))
                    << archive << answers << u"hello.txt"_s << QByteArray("hello, world\n");
            };
            add("", { u"secret"_s });
            add(", wrong first", { u"nope"_s, u"secret"_s });
            add(", cancelled", { u"-"_s, u"secret"_s });
        }
        // The shared RAR4 samples; ZAVRIN_SHARED_FIXTURES_DIR in the environment
        // points elsewhere.
        const QString shared
            = qEnvironmentVariable("ZAVRIN_SHARED_FIXTURES_DIR", QStringLiteral(ZAVRIN_SHARED_FIXTURES_DIR));
        const QString rar4 = shared + u"/rar4/test_read_format_rar_encryption_header.rar"_s;
        if (QFileInfo::exists(rar4)) {
            const QByteArray foo("data of foo.txt\n");
            QTest::newRow("RAR4") << rar4 << QStringList { u"12345678"_s } << u"foo.txt"_s << foo;
            QTest::newRow("RAR4, wrong first")
                << rar4 << QStringList { u"nope"_s, u"12345678"_s } << u"foo.txt"_s << foo;
        }
    }
    void encryptedNamesAskOnce()
    {
        QFETCH(QString, archive);
        QFETCH(QStringList, answers);
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        const bool cancelled = answers.first() == u"-";
        const QString password = answers.last();
        // The listing takes all but the last answer when the sheet was cancelled.
        const QStringList listingAnswers = cancelled ? answers.mid(0, 1) : answers;
        answer(listingAnswers);
        present(archive);
        if (cancelled) {
            QTRY_COMPARE(get<QLabel>("previewStatusLab")->text(), L(u"需要密码才能显示内容"_s));
        } else {
            QTRY_VERIFY(preview()->isLoaded());
            QVERIFY(row(file).isValid());
        }
        QCOMPARE(m_panels->passwordRequests.size(), listingAnswers.size());
        QCOMPARE(m_panels->passwordRequests.first().message, L(u"请输入解压密码"_s));
        QTRY_COMPARE(m_toasts->count(RecordingToasts::Kind::Error, L(u"解压密码错误"_s)), listingAnswers.size() - 1);

        const QString out = path(u"out"_s);
        const ExtractOptions options = confirm(out);
        QCOMPARE(options.password, cancelled ? std::nullopt : std::optional<QString>(password));
        if (cancelled)
            m_panels->queuePassword(password); // the extraction asks, as without the preview
        const QVariantMap end = extract(archive, out, options);
        QVERIFY(end.value(NotifyManager::succeededKey()).toBool());
        QCOMPARE(ZipInspection::readFile(end.value(NotifyManager::outputKey()).toString() + u'/' + file), content);
        QCOMPARE(m_panels->passwordRequests.size(), listingAnswers.size() + (cancelled ? 1 : 0));
    }

    // Nothing ticked: the confirm tells so and does nothing else.
    void nothingTickedStartsNothing()
    {
        present(fixture(u"plain.zip"_s));
        QTRY_VERIFY(preview()->isLoaded());
        // Space on a row flips its box, as a click on it does.
        auto* view = get<QTreeView>("previewTree");
        view->setFocus();
        for (int r = model()->rowCount() - 1; r >= 0; --r) {
            view->setCurrentIndex(model()->index(r, 0));
            QTest::keyClick(view, Qt::Key_Space);
        }
        QVERIFY(preview()->noneTicked());
        get<QPushButton>("unzipBtn")->click();
        QVERIFY(m_calls.isEmpty());
        QVERIFY(m_sheet->isPresented());
        QTRY_COMPARE(m_toasts->count(RecordingToasts::Kind::Info, L(u"没有选中要解压的项目"_s)), 1);
        QCOMPARE(m_log->take(), QStringList());
    }

    // A double click or Enter on a file opens it alone, read-only, from the
    // program's own folder; an encrypted one asks for the password first. A
    // wrong password opens nothing and leaves nothing; a link is not opened.
    void openingAnEntry_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("password"); // empty: none asked
        QTest::addColumn<bool>("enter");
        QTest::addColumn<QByteArray>("content"); // empty: nothing opened
        const QByteArray hello("hello, world\n");
        const QByteArray nested("nested file\n");
        QTest::newRow("plain zip, double click")
            << u"plain.zip"_s << u"dir/nested.txt"_s << QString() << false << nested;
        QTest::newRow("AES zip, Enter") << u"aes.zip"_s << u"hello.txt"_s << u"secret"_s << true << hello;
        QTest::newRow("ZipCrypto zip") << u"zipcrypto.zip"_s << u"dir/nested.txt"_s << u"secret"_s << false << nested;
        QTest::newRow("encrypted 7z") << u"encrypted.7z"_s << u"hello.txt"_s << u"secret"_s << false << hello;
        QTest::newRow("rar, Chinese name")
            << u"plain.rar"_s << u"中文名.txt"_s << QString() << true << QByteArray("unicode name\n");
        QTest::newRow("7z, wrong password")
            << u"encrypted.7z"_s << u"hello.txt"_s << u"nope"_s << false << QByteArray();
        QTest::newRow("a link") << u"plain.zip"_s << u"link"_s << QString() << true << QByteArray();
        QTest::newRow("no application for it") << u"plain.zip"_s << u"dir/nested.txt"_s << QString() << false << nested;
    }
    void openingAnEntry()
    {
        QFETCH(QString, archive);
        QFETCH(QString, entry);
        QFETCH(QString, password);
        QFETCH(bool, enter);
        QFETCH(QByteArray, content);
        if (!password.isEmpty())
            m_panels->queuePassword(password);
        present(fixture(archive));
        QTRY_VERIFY(preview()->isLoaded());
        QSignalSpy opened(preview()->opener(), &EntryOpener::opened);
        QSignalSpy failed(preview()->opener(), &EntryOpener::failed);
        m_workspace->noHandler = QByteArray(QTest::currentDataTag()) == "no application for it";
        auto* view = get<QTreeView>("previewTree");
        const QModelIndex at = row(entry);
        QVERIFY(at.isValid());
        view->setCurrentIndex(at);
        if (enter)
            QTest::keyClick(view, Qt::Key_Return);
        else
            emit view->doubleClicked(at);
        QVERIFY(m_calls.isEmpty() && m_sheet->isPresented()); // Enter did not confirm the sheet
        if (content.isEmpty()) {
            QTRY_VERIFY_WITH_TIMEOUT(!preview()->opener()->isBusy(), 20000);
            QCOMPARE(failed.size(), password.isEmpty() ? 0 : 1); // a link starts nothing
            QVERIFY(opened.isEmpty() && m_workspace->urls.isEmpty());
            QCOMPARE(files(PreviewFolder::path()), QStringList());
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(opened.size(), 1, 20000);
        const QString file = opened.first().first().toString();
        QVERIFY(file.startsWith(PreviewFolder::path() + u'/'));
        QCOMPARE(m_workspace->urls, QList<QUrl> { QUrl::fromLocalFile(file) });
        QCOMPARE(ZipInspection::readFile(file), content);
        struct stat st { };
        QVERIFY(::stat(QFile::encodeName(file).constData(), &st) == 0);
        QCOMPARE(st.st_mode & 0777, 0444u);
        QCOMPARE(m_panels->passwordRequests.size(), password.isEmpty() ? 0 : 1);
        // Toasts are queued: the one for no application may follow the signal.
        QTRY_COMPARE(
            m_toasts->count(RecordingToasts::Kind::Error, L(u"无法打开该文件"_s)), m_workspace->noHandler ? 1 : 0);
        // Gone with the program's folder.
        PreviewFolder::remove();
        QVERIFY(!QFileInfo::exists(file));
    }

    // The program's folder for opened entries is private, or not made at
    // all; what programs no longer running left there goes.
    void privateFolderIsTheUsersOwn_data()
    {
        QTest::addColumn<QString>("before"); // what is at "<base>/<identifier>-preview" first
        QTest::addColumn<bool>("made");
        QTest::newRow("nothing") << QString() << true;
        QTest::newRow("a folder others can enter") << u"open folder"_s << true;
        QTest::newRow("a link to elsewhere") << u"link"_s << false;
        QTest::newRow("a file") << u"file"_s << false;
        QTest::newRow("leftovers") << u"leftovers"_s << true;
    }
    void privateFolderIsTheUsersOwn()
    {
        QFETCH(QString, before);
        QFETCH(bool, made);
        const QString folder = path(u"run/"_s) + Bundle::identifier() + u"-preview"_s;
        const QString elsewhere = path(u"elsewhere"_s);
        QVERIFY(QDir().mkpath(elsewhere));
        if (before == u"open folder" || before == u"leftovers")
            QVERIFY(QDir().mkpath(folder) && ::chmod(QFile::encodeName(folder).constData(), 0755) == 0);
        if (before == u"link")
            QVERIFY(QFile::link(elsewhere, folder));
        if (before == u"file")
            QVERIFY(ZipInspection::writeFile(folder, "x"));
        // A program that ran as pid 1 still runs; one of a pid past the
        // system's limit does not.
        if (before == u"leftovers") {
            QVERIFY(ZipInspection::writeFile(folder + u"/4194305-abcdef/open-1/x.txt"_s, "x"));
            QVERIFY(QDir().mkpath(folder + u"/1-abcdef"_s));
        }
        const QString mine = PreviewFolder::path();
        QCOMPARE(!mine.isEmpty(), made);
        QVERIFY(QDir(elsewhere).isEmpty());
        if (!made) {
            QVERIFY(PreviewFolder::makeEntryFolder().isEmpty());
            return;
        }
        QCOMPARE(QFileInfo(mine).path(), folder);
        for (const QString& own : { folder, mine }) {
            struct stat st { };
            QVERIFY(::lstat(QFile::encodeName(own).constData(), &st) == 0);
            QCOMPARE(st.st_mode & 0777, 0700u);
        }
        QStringList expected { QFileInfo(mine).fileName() };
        if (before == u"leftovers")
            expected << u"1-abcdef"_s;
        expected.sort();
        QCOMPARE(QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot), expected);
        PreviewFolder::remove();
        QVERIFY(!QFileInfo::exists(mine));
    }

    // The filter narrows the tree as one types; Ctrl+C copies the selected
    // rows' paths; Enter and Escape in the field stay in the preview.
    void filterAndCopy()
    {
        present(fixture(u"plain.7z"_s));
        QTRY_VERIFY(preview()->isLoaded());
        auto* filter = get<QLineEdit>("filterTf");
        QTest::keyClicks(filter, u"NEST"_s);
        QCOMPARE(lines(*model()->tree(), model()->filter()), (QStringList { u"dir/"_s, u"  nested.txt"_s }));
        QTest::keyClick(filter, Qt::Key_Return);
        auto* view = get<QTreeView>("previewTree");
        view->selectionModel()->select(
            row(u"dir/nested.txt"_s), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), u"dir/nested.txt"_s);
        view->selectAll();
        QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), u"dir/\ndir/nested.txt"_s);
        QTest::keyClick(filter, Qt::Key_Escape);
        QVERIFY(filter->text().isEmpty());
        QVERIFY(!model()->filter());
        QVERIFY(m_sheet->isPresented() && m_calls.isEmpty());
        QTest::keyClicks(filter, u"zzz"_s);
        QCOMPARE(get<QLabel>("previewStatusLab")->text(), L(u"没有名称匹配的项目"_s));
    }
};

ZAVRIN_TEST(PreviewSheetTest)
#include "tst_previewsheet.moc"
