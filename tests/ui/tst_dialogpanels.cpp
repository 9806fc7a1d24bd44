#include "platform/Bundle.h"
#include "tests/support/TestMain.h"
#include "ui/DialogPanels.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <optional>

namespace {

void touch(const QString& path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

// QFileDialog hides accept(); the panel's own override runs through QDialog's.
void accept(QDialog* dialog)
{
    dialog->accept();
}

} // namespace

class DialogPanelsTest final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QMainWindow> m_window;
    DialogPanels m_panels;

    // Answers recorded by the completions, with how often each ran.
    int m_calls = 0;
    std::optional<QString> m_password;
    QStringList m_paths;

    void askPassword()
    {
        m_panels.askPassword({L(QStringLiteral("请输入解压密码")), QStringLiteral("/tmp/secret.zip")},
                             [this](const std::optional<QString>& password) {
                                 ++m_calls;
                                 m_password = password;
                             });
    }

    void openPanel(const Panels::OpenRequest& request)
    {
        m_panels.open(request, [this](const QStringList& paths) {
            ++m_calls;
            m_paths = paths;
        });
    }

    void savePanel(const Panels::SaveRequest& request)
    {
        m_panels.save(request, [this](const QString& path) {
            ++m_calls;
            m_paths = QStringList{path};
        });
    }

    // Lets queued events run and checks that the completion ran exactly once.
    static void settle() { QTest::qWait(20); }

private slots:
    void init()
    {
        m_calls = 0;
        m_password.reset();
        m_paths.clear();
        m_window = std::make_unique<QMainWindow>();
        m_window->setCentralWidget(new QWidget);
        m_window->resize(640, 420);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        m_window->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), m_window.get());
    }

    void cleanup()
    {
        m_window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void passwordSheetAnswersTypedText()
    {
        askPassword();
        QDialog* sheet = DialogPanels::passwordSheet();
        QVERIFY(sheet);
        QCOMPARE(sheet->windowModality(), Qt::WindowModal);
        QCOMPARE(sheet->parentWidget(), m_window.get());
        auto* edit = sheet->findChild<QLineEdit*>(QStringLiteral("passwordLineEdit"));
        QVERIFY(edit);
        QCOMPARE(edit->echoMode(), QLineEdit::Normal);
        QVERIFY(edit->minimumWidth() >= 200 && edit->minimumHeight() >= 24);
        QVERIFY(edit->text().isEmpty());
        auto* ok = sheet->findChild<QPushButton*>(QStringLiteral("okButton"));
        auto* cancel = sheet->findChild<QPushButton*>(QStringLiteral("cancelButton"));
        QVERIFY(ok && cancel);
        QCOMPARE(ok->text(), L(QStringLiteral("确定")));
        QCOMPARE(cancel->text(), L(QStringLiteral("取消")));
        QVERIFY(ok->isDefault());
        QCOMPARE(m_calls, 0);

        // Return in the field presses the default button.
        QTest::keyClicks(edit, QStringLiteral("p4 ss<word>"));
        QTest::keyClick(edit, Qt::Key_Return);
        settle();
        QCOMPARE(m_calls, 1);
        QCOMPARE(m_password, std::optional<QString>(QStringLiteral("p4 ss<word>")));
        QTRY_VERIFY(!DialogPanels::passwordSheet());
    }

    void passwordSheetAnswersEmptyTextAsEmptyPassword()
    {
        askPassword();
        QDialog* sheet = DialogPanels::passwordSheet();
        QVERIFY(sheet);
        QTest::mouseClick(sheet->findChild<QPushButton*>(QStringLiteral("okButton")), Qt::LeftButton);
        settle();
        QCOMPARE(m_calls, 1);
        QVERIFY(m_password.has_value());
        QVERIFY(m_password->isEmpty());
        QVERIFY(!m_password->isNull());
    }

    void passwordSheetCancelled_data()
    {
        QTest::addColumn<int>("how");
        QTest::newRow("cancel button") << 0;
        QTest::newRow("escape") << 1;
        QTest::newRow("window closed") << 2;
        QTest::newRow("window destroyed under it") << 3;
    }

    void passwordSheetCancelled()
    {
        QFETCH(int, how);
        askPassword();
        QDialog* sheet = DialogPanels::passwordSheet();
        QVERIFY(sheet);
        auto* edit = sheet->findChild<QLineEdit*>(QStringLiteral("passwordLineEdit"));
        QTest::keyClicks(edit, QStringLiteral("typed"));
        if (how == 0)
            QTest::mouseClick(sheet->findChild<QPushButton*>(QStringLiteral("cancelButton")), Qt::LeftButton);
        else if (how == 1)
            QTest::keyClick(edit, Qt::Key_Escape);
        else if (how == 2)
            sheet->close();
        else
            m_window.reset();
        QTRY_COMPARE(m_calls, 1);
        settle();
        QCOMPARE(m_calls, 1);
        QVERIFY(!m_password.has_value());
    }

    void filePanelsAnswerOnceWhenCancelled()
    {
        openPanel({});
        QDialog* open = DialogPanels::openDialog();
        QVERIFY(open);
        QCOMPARE(open->windowModality(), Qt::WindowModal);
        QCOMPARE(open->parentWidget(), m_window.get());
        open->reject();
        settle();
        QCOMPARE(m_calls, 1);
        QVERIFY(m_paths.isEmpty());

        savePanel({QDir::tempPath(), QStringLiteral("Archive.zip"), {QStringLiteral("zip")}});
        QDialog* save = DialogPanels::openDialog();
        QVERIFY(save);
        save->close();
        settle();
        QCOMPARE(m_calls, 2);
        QCOMPARE(m_paths, QStringList{QString()});

        openPanel({});
        QVERIFY(DialogPanels::openDialog());
        m_window.reset();
        QTRY_COMPARE(m_calls, 3);
        QVERIFY(m_paths.isEmpty());
    }

    void openPanelReturnsFilesAndFoldersTogether()
    {
        QTemporaryDir dir;
        touch(dir.filePath(QStringLiteral("a.txt")));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
        Panels::OpenRequest request;
        request.canChooseDirectories = true;
        request.allowsMultipleSelection = true;
        request.directory = dir.path();
        openPanel(request);
        auto* dialog = qobject_cast<QFileDialog*>(DialogPanels::openDialog());
        QVERIFY(dialog);
        QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFiles);
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QStringLiteral("\"a.txt\" \"sub\""));
        accept(dialog);
        settle();
        QCOMPARE(m_calls, 1);
        QCOMPARE(m_paths, (QStringList{dir.filePath(QStringLiteral("a.txt")), dir.filePath(QStringLiteral("sub"))}));
    }

    void openPanelForArchivesAndFolders()
    {
        Panels::OpenRequest archives;
        archives.allowedExtensions = {QStringLiteral("zip"), QStringLiteral("rar"), QStringLiteral("7z")};
        openPanel(archives);
        auto* dialog = qobject_cast<QFileDialog*>(DialogPanels::openDialog());
        QVERIFY(dialog);
        QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFile);
        QCOMPARE(dialog->nameFilters(), QStringList{QStringLiteral("*.zip *.rar *.7z")});
        QVERIFY(dialog->testOption(QFileDialog::ReadOnly));
        dialog->reject();

        Panels::OpenRequest folder;
        folder.canChooseFiles = false;
        folder.canChooseDirectories = true;
        folder.canCreateDirectories = true;
        openPanel(folder);
        dialog = qobject_cast<QFileDialog*>(DialogPanels::openDialog());
        QVERIFY(dialog);
        QCOMPARE(dialog->fileMode(), QFileDialog::Directory);
        QVERIFY(!dialog->testOption(QFileDialog::ReadOnly));
        dialog->reject();
        settle();
        QCOMPARE(m_calls, 2);
    }

    void savePanelEnforcesExtensionAndConfirmsOverwrite()
    {
        QTemporaryDir dir;
        const Panels::SaveRequest request{dir.path(), QStringLiteral("Archive.zip"), {QStringLiteral("zip")}};
        savePanel(request);
        auto* dialog = qobject_cast<QFileDialog*>(DialogPanels::openDialog());
        QVERIFY(dialog);
        accept(dialog);
        settle();
        QCOMPARE(m_paths, QStringList{dir.filePath(QStringLiteral("Archive.zip"))});

        savePanel(request);
        dialog = qobject_cast<QFileDialog*>(DialogPanels::openDialog());
        dialog->selectFile(QStringLiteral("notes.txt"));
        accept(dialog);
        settle();
        QCOMPARE(m_paths, QStringList{dir.filePath(QStringLiteral("notes.txt.zip"))});

        // An existing archive asks first; declining keeps the panel open.
        touch(dir.filePath(QStringLiteral("Archive.zip")));
        savePanel(request);
        dialog = qobject_cast<QFileDialog*>(DialogPanels::openDialog());
        bool asked = false;
        QTimer::singleShot(0, this, [&asked] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            asked = box != nullptr;
            if (box)
                box->button(QMessageBox::No)->click();
        });
        accept(dialog);
        QVERIFY(asked);
        QVERIFY(dialog->isVisible());
        QCOMPARE(m_calls, 2);
        dialog->reject();
        settle();
        QCOMPARE(m_calls, 3);
        QCOMPARE(m_paths, QStringList{QString()});
    }
};

ZAVRIN_TEST(DialogPanelsTest)
#include "tst_dialogpanels.moc"
