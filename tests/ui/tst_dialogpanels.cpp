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
        QTest::newRow("typed text") << QStringLiteral("p4 ss<word>") << 0
                                    << std::optional(QStringLiteral("p4 ss<word>"));
        QTest::newRow("empty text") << QString() << 0 << std::optional(QStringLiteral(""));
        QTest::newRow("cancel button") << QStringLiteral("x") << 1 << std::optional<QString>();
        QTest::newRow("escape") << QStringLiteral("x") << 2 << std::optional<QString>();
        QTest::newRow("window gone") << QStringLiteral("x") << 3 << std::optional<QString>();
    }

    void passwordSheetAnswersOnce()
    {
        QFETCH(QString, typed);
        QFETCH(int, how);
        QFETCH(std::optional<QString>, expected);
        m_panels.askPassword({ L(QStringLiteral("请输入解压密码")), QStringLiteral("/tmp/a.zip") },
            [this](const std::optional<QString>& password) {
                ++m_calls;
                m_password = password;
            });
        QDialog* sheet = DialogPanels::passwordSheet();
        QVERIFY(sheet);
        QCOMPARE(sheet->windowModality(), Qt::WindowModal);
        QCOMPARE(sheet->parentWidget(), m_window.get());
        auto* edit = sheet->findChild<QLineEdit*>(QStringLiteral("passwordLineEdit"));
        auto* ok = sheet->findChild<QPushButton*>(QStringLiteral("okButton"));
        QVERIFY(edit && ok);
        QCOMPARE(edit->echoMode(), QLineEdit::Normal);
        QVERIFY(edit->minimumWidth() >= 200 && edit->minimumHeight() >= 24);
        QCOMPARE(ok->text(), L(QStringLiteral("确定")));
        QVERIFY(ok->isDefault());

        QTest::keyClicks(edit, typed);
        if (how == 0)
            QTest::keyClick(edit, Qt::Key_Return); // the default button
        else if (how == 1)
            QTest::mouseClick(sheet->findChild<QPushButton*>(QStringLiteral("cancelButton")), Qt::LeftButton);
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
        savePanel({ QDir::tempPath(), QStringLiteral("Archive.zip"), { QStringLiteral("zip") } })->close();
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
        QVERIFY(QFile(dir.filePath(QStringLiteral("a.txt"))).open(QIODevice::WriteOnly));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
        Panels::OpenRequest request;
        request.canChooseDirectories = true;
        request.allowsMultipleSelection = true;
        request.directory = dir.path();
        QFileDialog* dialog = openPanel(request);
        QVERIFY(dialog);
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QStringLiteral("\"a.txt\" \"sub\""));
        accept(dialog);
        QCOMPARE(m_calls, 1);
        QCOMPARE(m_paths, (QStringList { dir.filePath(QStringLiteral("a.txt")), dir.filePath(QStringLiteral("sub")) }));
    }

    void savePanelEnforcesExtensionAndConfirmsOverwrite()
    {
        QTemporaryDir dir;
        const Panels::SaveRequest request { dir.path(), QStringLiteral("Archive.zip"), { QStringLiteral("zip") } };
        accept(savePanel(request));
        QCOMPARE(m_paths, QStringList { dir.filePath(QStringLiteral("Archive.zip")) });

        QFileDialog* dialog = savePanel(request);
        dialog->selectFile(QStringLiteral("notes.txt"));
        accept(dialog);
        QCOMPARE(m_paths, QStringList { dir.filePath(QStringLiteral("notes.txt.zip")) });

        // An existing archive asks first; declining keeps the panel open.
        QVERIFY(QFile(dir.filePath(QStringLiteral("Archive.zip"))).open(QIODevice::WriteOnly));
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
};

ZAVRIN_TEST(DialogPanelsTest)
#include "tst_dialogpanels.moc"
