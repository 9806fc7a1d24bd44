#include "platform/Bundle.h"
#include "platform/Defaults.h"
#include "screens/CompressionChoice.h"
#include "screens/ZipController.h"
#include "tests/support/ScreenFixture.h"
#include "tests/support/ScriptedPanels.h"
#include "tests/support/TestMain.h"

#include <QFile>

using namespace Qt::StringLiterals;

namespace {

using Format = CompressionOptions::Format;

const QStringList kConfirm { u"Complete_Zip/zip_zip/3"_s, u"VC_FileZip/Zip"_s };

} // namespace

// The custom option of the compression sheet: its panel's decisions on
// their own, then the sheet with scripted panels. Each confirm is recorded
// as "path|password or -|type|level|format mode", "-" for no custom choice.
class CustomPanelTest final : public QObject {
    Q_OBJECT

    std::unique_ptr<TrackLog> m_log;
    std::unique_ptr<QMainWindow> m_window;
    std::unique_ptr<ScriptedPanels> m_panels;
    std::unique_ptr<QTemporaryDir> m_dir;
    ZipController* m_zip = nullptr;
    QStringList m_calls;

    template <typename T = QWidget> T* get(const char* name) { return outlet<T>(m_zip, name); }
    QAbstractButton* button(const char* name) { return get<QAbstractButton>(name); }
    QLineEdit* path() { return get<QLineEdit>("pathTf"); }
    QComboBox* menu(const char* name) { return get<QComboBox>(name); }
    QLabel* note() { return get<QLabel>("noteLab"); }
    void present()
    {
        m_zip->setFileUrls({ QUrl::fromLocalFile(u"/A/B/report.pdf"_s) });
        m_zip->presentAsSheet(m_window.get());
    }
    // Chooses the menu item showing `text`, as the user does.
    void choose(const char* name, const QString& text)
    {
        QComboBox* box = menu(name);
        const int index = box->findText(text);
        QVERIFY2(index >= 0, qPrintable(text));
        box->setCurrentIndex(index);
    }
    QStringList items(const char* name)
    {
        QStringList texts;
        for (int i = 0; i < menu(name)->count(); ++i)
            texts << menu(name)->itemText(i);
        return texts;
    }
    // Confirms; a save panel is answered `picked`, or cancelled when empty.
    void confirm(const QString& picked = {})
    {
        if (!picked.isEmpty())
            m_panels->queueSave(picked);
        button("zipBtn")->click();
        QTest::qWait(20);
    }

private slots:
    void initTestCase() { m_log = std::make_unique<TrackLog>(); }
    void cleanupTestCase() { m_log.reset(); }
    void init()
    {
        CompressionChoice::remember({});
        m_dir = std::make_unique<QTemporaryDir>();
        m_panels = std::make_unique<ScriptedPanels>();
        m_window = shownWindow();
        m_calls.clear();
        m_zip = ZipController::initFromStory(m_window->centralWidget());
        m_zip->setZipClick([this](const QString& path, const std::optional<QString>& password, qint64 type,
                               quint64 level, bool, const std::optional<ZipModel::Custom>& custom) {
            const QString choice = custom ? CompressionOptions::formatName(custom->format) + u' '
                    + QString::number(static_cast<int>(custom->mode))
                                          : u"-"_s;
            m_calls << u"%1|%2|%3|%4|%5"_s.arg(path, password.value_or(u"-"_s)).arg(type).arg(level).arg(choice);
        });
        m_log->take();
    }
    void cleanup()
    {
        m_window.reset();
        m_panels.reset();
        CompressionChoice::remember({}); // for the suites that follow
    }

    void suffixFollowsTheFormat_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<Format>("format");
        QTest::addColumn<QString>("followed");
        QTest::newRow("zip to 7z") << u"/a/Archive.zip"_s << Format::SevenZip << u"/a/Archive.7z"_s;
        QTest::newRow("7z to tar.zst") << u"/a/Archive.7z"_s << Format::TarZst << u"/a/Archive.tar.zst"_s;
        QTest::newRow("tar.zst to zip") << u"/a/Archive.tar.zst"_s << Format::Zip << u"/a/Archive.zip"_s;
        QTest::newRow("any case") << u"/a/b.TAR.GZ"_s << Format::TarXz << u"/a/b.tar.xz"_s;
        QTest::newRow("plain tar") << u"/a/photos.tar"_s << Format::TarGz << u"/a/photos.tar.gz"_s;
        QTest::newRow("another suffix stays") << u"/a/notes.txt"_s << Format::SevenZip << u"/a/notes.txt.7z"_s;
        QTest::newRow("a dot in the folder") << u"/a.zip/name"_s << Format::SevenZip << u"/a.zip/name.7z"_s;
        QTest::newRow("a hidden name") << u"/a/.zip"_s << Format::SevenZip << u"/a/.zip.7z"_s;
        QTest::newRow("no name") << u"/a/"_s << Format::SevenZip << u"/a/"_s;
    }
    void suffixFollowsTheFormat()
    {
        QFETCH(QString, path);
        QFETCH(Format, format);
        QFETCH(QString, followed);
        QCOMPARE(CompressionChoice::withSuffix(path, format), followed);
    }

    // zstd and xz compress at their lowest level: no "store" for them, and
    // a stored choice that makes no sense gives the default.
    void modesAndMemoryFitTheFormat_data()
    {
        QTest::addColumn<QString>("format"); // as stored
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QStringList>("offered");
        QTest::addColumn<QString>("shown"); // format and mode the panel shows
        const QStringList all { u"Store only"_s, u"Fastest"_s, u"Normal"_s, u"Maximum"_s };
        QTest::newRow("7z stored") << u"7z"_s << u"store"_s << all << u"7z Store only"_s;
        QTest::newRow("tar.zst") << u"tar.zst"_s << u"store"_s << all.mid(1) << u"tar.zst Fastest"_s;
        QTest::newRow("tar.xz") << u"tar.xz"_s << u"maximum"_s << all.mid(1) << u"tar.xz Maximum"_s;
        QTest::newRow("unknown") << u"rar"_s << u"extreme"_s << all << u"zip Normal"_s;
    }
    void modesAndMemoryFitTheFormat()
    {
        QFETCH(QString, format);
        QFETCH(QString, mode);
        QFETCH(QStringList, offered);
        QFETCH(QString, shown);
        Defaults::standard().setValue(u"ZipController.customFormat"_s, format);
        Defaults::standard().setValue(u"ZipController.customMode"_s, mode);
        // A sheet made now, as at a launch, reads it.
        m_window = shownWindow();
        m_zip = ZipController::initFromStory(m_window->centralWidget());
        present();
        button("customBtn")->click();
        QCOMPARE(items("formatMenu"), (QStringList { u"zip"_s, u"7z"_s, u"tar.zst"_s, u"tar.gz"_s, u"tar.xz"_s }));
        QCOMPARE(items("modeMenu"), offered);
        QCOMPARE(menu("formatMenu")->currentText() + u' ' + menu("modeMenu")->currentText(), shown);
    }

    // The panel comes with "自定义" and goes with the other two; the sheet
    // grows and shrinks with it.
    void panelShowsWithCustomOnly()
    {
        present();
        QWidget* panel = get("customOptionsView");
        const int height = m_zip->height();
        QVERIFY(!panel->isVisible());
        button("customBtn")->click();
        QVERIFY(panel->isVisible());
        QTRY_VERIFY(m_zip->height() > height);
        button("customBtn")->click();
        QVERIFY(panel->isVisible());
        for (const char* option : { "sizeBtn", "speedBtn" }) {
            button(option)->click();
            QVERIFY(!panel->isVisible());
            QTRY_COMPARE(m_zip->height(), height);
            button("customBtn")->click();
        }
        QCOMPARE(m_log->take(), (QStringList { u"Complete_Zip/zip_needSize/3"_s, u"Complete_Zip/zip_needSpeed/3"_s }));
        m_zip->dismissViewController();
        present();
        QVERIFY(button("speedBtn")->isChecked() && !panel->isVisible());
    }

    // The path and the save panel follow the chosen format; a typed name
    // keeps its stem, and speed and size go back to zip.
    void pathFollowsTheChosenFormat()
    {
        present();
        QCOMPARE(path()->text(), u"/A/B/report.zip"_s);
        button("customBtn")->click();
        choose("formatMenu", u"7z"_s);
        QCOMPARE(path()->text(), u"/A/B/report.7z"_s);
        choose("formatMenu", u"tar.zst"_s);
        QCOMPARE(path()->text(), u"/A/B/report.tar.zst"_s);
        path()->setText(u"/A/B/mine.tar.zst"_s);
        choose("formatMenu", u"tar.gz"_s);
        QCOMPARE(path()->text(), u"/A/B/mine.tar.gz"_s);
        confirm(u"/tmp/picked.tar.gz"_s);
        const Panels::SaveRequest request = m_panels->saveRequests.value(0);
        QCOMPARE(request.fileName, u"report.tar.gz"_s);
        QCOMPARE(request.allowedExtensions, QStringList { u"tar.gz"_s });
        QCOMPARE(m_calls, QStringList { u"/tmp/picked.tar.gz|-|3|1|tar.gz 2"_s });

        m_zip->dismissViewController();
        present();
        button("customBtn")->click(); // the choice is kept
        QCOMPARE(path()->text(), u"/A/B/report.tar.gz"_s);
        button("sizeBtn")->click();
        QCOMPARE(path()->text(), u"/A/B/report.zip"_s);
    }

    // tar cannot hold a password: the sheet says so as soon as both are
    // chosen, in either order, and the confirm starts nothing.
    void passwordWithTarIsRefused()
    {
        present();
        button("addPasswordBtn")->click();
        get<QLineEdit>("passwordTf")->setText(u"pw"_s);
        get<QLineEdit>("password2Tf")->setText(u"pw"_s);
        button("customBtn")->click();
        QVERIFY(!note()->isVisible());
        choose("formatMenu", u"tar.zst"_s);
        QVERIFY(note()->isVisible());
        QCOMPARE(note()->text(), u"tar.zst archives cannot have a password; choose zip or 7z for one"_s);
        m_log->take();
        confirm();
        QVERIFY(m_calls.isEmpty() && m_panels->saveRequests.isEmpty());
        QCOMPARE(m_log->take(), kConfirm);
        QVERIFY(note()->isVisible());

        // Each way out of it takes the note away.
        const std::pair<const char*, const char*> outAndBack[] { { "addPasswordBtn", "addPasswordBtn" },
            { "speedBtn", "customBtn" } };
        for (const auto& [out, back] : outAndBack) {
            button(out)->click();
            QVERIFY(!note()->isVisible());
            button(back)->click();
            QVERIFY(note()->isVisible());
        }
        choose("formatMenu", u"7z"_s);
        QVERIFY(!note()->isVisible());
        confirm(m_dir->filePath(u"a.7z"_s));
        QCOMPARE(m_calls, QStringList { m_dir->filePath(u"a.7z|pw|1|1|7z 2"_s) });
    }

    // A custom archive never replaces a file: a name taken is refused on
    // the sheet, where another can be chosen. Zip replaces, as ever.
    void takenNameIsRefusedForCustomArchives()
    {
        const QString taken = m_dir->filePath(u"taken.7z"_s);
        QVERIFY(QFile(taken).open(QIODevice::WriteOnly));
        present();
        button("customBtn")->click();
        choose("formatMenu", u"7z"_s);
        confirm(taken);
        QVERIFY(m_calls.isEmpty());
        QCOMPARE(note()->text(), u"taken.7z already exists; choose another name"_s);
        QVERIFY(note()->isVisible());
        QCOMPARE(path()->text(), taken);
        button("zipBtn")->click(); // still taken
        QVERIFY(m_calls.isEmpty() && m_panels->saveRequests.size() == 1);

        path()->setText(m_dir->filePath(u"free.7z"_s));
        QVERIFY(!note()->isVisible());
        button("zipBtn")->click();
        QCOMPARE(m_calls, QStringList { m_dir->filePath(u"free.7z|-|1|1|7z 2"_s) });
    }

    // A suffix changed after the pick names a file the panel never asked
    // about: when that one is there, the panel asks again.
    void followedNameThatIsTakenIsAskedAbout()
    {
        QVERIFY(QFile(m_dir->filePath(u"report.zip"_s)).open(QIODevice::WriteOnly));
        present();
        button("customBtn")->click();
        choose("formatMenu", u"7z"_s);
        m_panels->queueSave(m_dir->filePath(u"report.7z"_s));
        button("changPathBtn")->click();
        QTRY_VERIFY(m_zip->hadOpenFolder());
        button("speedBtn")->click();
        QCOMPARE(path()->text(), m_dir->filePath(u"report.zip"_s));
        QVERIFY(!m_zip->hadOpenFolder());
        confirm(m_dir->filePath(u"other.zip"_s));
        QCOMPARE(m_panels->saveRequests.size(), 2);
        QCOMPARE(m_calls, QStringList { m_dir->filePath(u"other.zip|-|0|1|-"_s) });
    }
};

ZAVRIN_TEST(CustomPanelTest)
#include "tst_custompanel.moc"
