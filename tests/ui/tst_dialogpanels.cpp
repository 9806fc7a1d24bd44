#include "platform/Bundle.h"
#include "tests/support/TestMain.h"
#include "ui/DialogPanels.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <memory>
#include <optional>

using namespace Qt::StringLiterals;

class DialogPanelsTest final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QMainWindow> m_window;
    DialogPanels m_panels;
    int m_calls = 0; // completions run so far
    std::optional<QString> m_password;
    QStringList m_paths;

    QFileDialog* openPanel(const Panels::OpenRequest& request)
    {
        m_panels.open(request, [this](const QStringList& paths) {
            ++m_calls;
            m_paths = paths;
        });
        return qobject_cast<QFileDialog*>(DialogPanels::openDialog());
    }
    QFileDialog* savePanel(const Panels::SaveRequest& request)
    {
        m_panels.save(request, [this](const QString& path) {
            ++m_calls;
            m_paths = QStringList { path };
        });
        return qobject_cast<QFileDialog*>(DialogPanels::openDialog());
    }
    // QFileDialog hides accept(); the panel's override runs through QDialog's.
    static void accept(QDialog* dialog) { dialog->accept(); }

private slots:
    void init()
    {
        m_calls = 0;
        m_password.reset();
        m_paths.clear();
        m_window = std::make_unique<QMainWindow>();
        m_window->setCentralWidget(new QWidget);
        m_window->show();
        m_window->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), m_window.get());
    }

    void cleanup()
    {
        m_window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void passwordSheetAnswersOnce_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("how"); // 0 Return, 1 cancel button, 2 Escape, 3 window destroyed
        QTest::addColumn<std::optional<QString>>("expected");
        QTest::newRow("typed text") << u"p4 ss<word>"_s << 0 << std::optional(u"p4 ss<word>"_s);
        QTest::newRow("empty text") << QString() << 0 << std::optional(u""_s);
        QTest::newRow("cancel button") << u"x"_s << 1 << std::optional<QString>();
        QTest::newRow("escape") << u"x"_s << 2 << std::optional<QString>();
        QTest::newRow("window gone") << u"x"_s << 3 << std::optional<QString>();
    }

    void passwordSheetAnswersOnce()
    {
        QFETCH(QString, typed);
        QFETCH(int, how);
        QFETCH(std::optional<QString>, expected);
        m_panels.askPassword(
            { L(u"请输入解压密码"_s), u"/tmp/a.zip"_s }, [this](const std::optional<QString>& password) {
                ++m_calls;
                m_password = password;
            });
        QDialog* sheet = DialogPanels::passwordSheet();
        QVERIFY(sheet);
        QCOMPARE(sheet->windowModality(), Qt::WindowModal);
        QCOMPARE(sheet->parentWidget(), m_window.get());
        auto* edit = sheet->findChild<QLineEdit*>(u"passwordLineEdit"_s);
        auto* ok = sheet->findChild<QPushButton*>(u"okButton"_s);
        QVERIFY(edit && ok);
        QCOMPARE(edit->echoMode(), QLineEdit::Normal);
        QVERIFY(edit->minimumWidth() >= 200 && edit->minimumHeight() >= 24);
        QCOMPARE(ok->text(), L(u"确定"_s));
        QVERIFY(ok->isDefault());

        QTest::keyClicks(edit, typed);
        if (how == 0)
            QTest::keyClick(edit, Qt::Key_Return); // the default button
        else if (how == 1)
            QTest::mouseClick(sheet->findChild<QPushButton*>(u"cancelButton"_s), Qt::LeftButton);
        else if (how == 2)
            QTest::keyClick(edit, Qt::Key_Escape);
        else
            m_window.reset();
        QTRY_COMPARE(m_calls, 1);
        QTest::qWait(20);
        QCOMPARE(m_calls, 1);
        QCOMPARE(m_password, expected);
        if (expected)
            QVERIFY(!m_password->isNull());
        QTRY_VERIFY(!DialogPanels::passwordSheet());
    }

    void filePanelsAnswerOnceWhenCancelled()
    {
        QFileDialog* open = openPanel({});
        QVERIFY(open);
        QCOMPARE(open->windowModality(), Qt::WindowModal);
        open->reject();
        savePanel({ QDir::tempPath(), u"Archive.zip"_s, { u"zip"_s } })->close();
        QVERIFY(openPanel({}));
        m_window.reset();
        QTRY_COMPARE(m_calls, 3);
        QTest::qWait(20);
        QCOMPARE(m_calls, 3);
        QVERIFY(m_paths.isEmpty());
    }

    void openPanelReturnsFilesAndFoldersTogether()
    {
        QTemporaryDir dir;
        QVERIFY(QFile(dir.filePath(u"a.txt"_s)).open(QIODevice::WriteOnly));
        QVERIFY(QDir(dir.path()).mkdir(u"sub"_s));
        Panels::OpenRequest request;
        request.canChooseDirectories = true;
        request.allowsMultipleSelection = true;
        request.directory = dir.path();
        QFileDialog* dialog = openPanel(request);
        QVERIFY(dialog);
        dialog->findChild<QLineEdit*>(u"fileNameEdit"_s)->setText(u"\"a.txt\" \"sub\""_s);
        accept(dialog);
        QCOMPARE(m_calls, 1);
        QCOMPARE(m_paths, (QStringList { dir.filePath(u"a.txt"_s), dir.filePath(u"sub"_s) }));
    }

    // In the compression panel a typed folder path and Enter open the
    // folder; a folder picked in the list, or named bare, is chosen.
    void typedFolderPathOpensTheFolder_data()
    {
        QTest::addColumn<QString>("typed"); // "@" stands for the temporary folder
        QTest::addColumn<QString>("opened"); // the folder shown after Enter; empty: chosen
        QTest::newRow("absolute path") << u"@/sub"_s << u"@/sub"_s;
        QTest::newRow("relative path") << u"sub/"_s << u"@/sub"_s;
        QTest::newRow("home") << u"~/"_s << QDir::homePath();
        QTest::newRow("bare name") << u"sub"_s << QString();
        QTest::newRow("path of a file") << u"@/a.txt"_s << QString();
    }
    void typedFolderPathOpensTheFolder()
    {
        QFETCH(QString, typed);
        QFETCH(QString, opened);
        QTemporaryDir dir;
        QVERIFY(QFile(dir.filePath(u"a.txt"_s)).open(QIODevice::WriteOnly));
        QVERIFY(QDir(dir.path()).mkdir(u"sub"_s));
        Panels::OpenRequest request;
        request.canChooseDirectories = true;
        request.allowsMultipleSelection = true;
        request.directory = dir.path();
        QFileDialog* dialog = openPanel(request);
        // Files and folders at once: only Qt's dialog can, wherever it runs.
        QVERIFY(dialog && dialog->testOption(QFileDialog::DontUseNativeDialog));
        auto* edit = dialog->findChild<QLineEdit*>(u"fileNameEdit"_s);
        edit->setText(typed.replace(u'@', dir.path()));
        QTest::keyClick(edit, Qt::Key_Return);
        if (opened.isEmpty()) {
            QCOMPARE(m_calls, 1);
            QCOMPARE(m_paths.size(), 1);
            return;
        }
        QCOMPARE(m_calls, 0);
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->directory().absolutePath(), opened.replace(u'@', dir.path()));
        QVERIFY(edit->text().isEmpty());
        dialog->reject();
    }

    // Qt's dialog, where it stands in for the desktop's, fits its columns.
    void qtDialogFitsItsColumns()
    {
        QFileDialog* dialog = openPanel({});
        QVERIFY(dialog);
        QVERIFY2(dialog->width() >= 760, qPrintable(QString::number(dialog->width())));
        auto* tree = dialog->findChild<QTreeView*>(u"treeView"_s);
        QVERIFY(tree);
        QCOMPARE(tree->header()->sectionResizeMode(0), QHeaderView::Stretch);
        QCOMPARE(tree->header()->sectionResizeMode(1), QHeaderView::ResizeToContents);
        dialog->reject();
    }

    void savePanelEnforcesExtensionAndConfirmsOverwrite()
    {
        QTemporaryDir dir;
        const Panels::SaveRequest request { dir.path(), u"Archive.zip"_s, { u"zip"_s } };
        accept(savePanel(request));
        QCOMPARE(m_paths, QStringList { dir.filePath(u"Archive.zip"_s) });

        QFileDialog* dialog = savePanel(request);
        dialog->selectFile(u"notes.txt"_s);
        accept(dialog);
        QCOMPARE(m_paths, QStringList { dir.filePath(u"notes.txt.zip"_s) });

        // An existing archive asks first; declining keeps the panel open.
        QVERIFY(QFile(dir.filePath(u"Archive.zip"_s)).open(QIODevice::WriteOnly));
        dialog = savePanel(request);
        bool asked = false;
        QTimer::singleShot(0, this, [&asked] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                asked = true;
                box->button(QMessageBox::No)->click();
            }
        });
        accept(dialog);
        QVERIFY(asked);
        QVERIFY(dialog->isVisible());
        QCOMPARE(m_calls, 2);
        dialog->reject();
        QCOMPARE(m_calls, 3);
        QCOMPARE(m_paths, QStringList { QString() });
    }

    // An extension of several parts is one extension: kept whole, added whole.
    void savePanelKeepsExtensionsOfSeveralParts_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("saved");
        QTest::newRow("has it") << u"backup.tar.zst"_s << u"backup.tar.zst"_s;
        QTest::newRow("in capitals") << u"backup.TAR.ZST"_s << u"backup.TAR.ZST"_s;
        QTest::newRow("only its last part") << u"backup.zst"_s << u"backup.zst.tar.zst"_s;
        QTest::newRow("none") << u"backup"_s << u"backup.tar.zst"_s;
    }
    void savePanelKeepsExtensionsOfSeveralParts()
    {
        QFETCH(QString, typed);
        QFETCH(QString, saved);
        QTemporaryDir dir;
        QFileDialog* dialog = savePanel({ dir.path(), u"Archive.tar.zst"_s, { u"tar.zst"_s } });
        dialog->selectFile(typed);
        accept(dialog);
        QCOMPARE(m_paths, QStringList { dir.filePath(saved) });
    }

    // Last: Qt's own texts follow the window's language for the rest of the run.
    void qtDialogSpeaksTheWindowsLanguage()
    {
        const QString english = QCoreApplication::translate("QFileDialog", "Look in:");
        Bundle::setPreferredLanguages({ u"zh-CN"_s });
        const bool installed = DialogPanels::installQtTranslations();
        Bundle::setPreferredLanguages({});
        if (!installed && !QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + u"/qtbase_zh_CN.qm"_s))
            QSKIP("Qt's translations are not installed (qt6-translations-l10n)");
        QVERIFY(installed);
        QCOMPARE(english, u"Look in:"_s);
        QCOMPARE(QCoreApplication::translate("QFileDialog", "Look in:"), u"查找范围："_s);
        QVERIFY(!DialogPanels::installQtTranslations()); // once
    }
};

ZAVRIN_TEST(DialogPanelsTest)
#include "tst_dialogpanels.moc"
