#include "ui/DialogPanels.h"

#include "platform/Bundle.h"
#include "platform/Logging.h"
#include "platform/MainQueue.h"
#include "ui/PasswordSheet.h"
#include "ui/WindowLookup.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QTranslator>
#include <QTreeView>
#include <memory>

namespace {

const QString kFileDialogName = QStringLiteral("fileDialog");
const QString kPasswordSheetName = QStringLiteral("passwordSheet");

// `path` with the first allowed extension added unless it ends in one of
// them: "name.txt" becomes "name.txt.zip". An extension may have parts of
// its own ("tar.zst"), which QFileInfo::suffix() would cut to the last.
QString withAllowedSuffix(const QString& path, const QStringList& allowed)
{
    const QFileInfo info(path);
    if (path.isEmpty() || allowed.isEmpty() || info.fileName().isEmpty() || info.isDir())
        return path;
    for (const QString& extension : allowed) {
        if (info.fileName().endsWith(u'.' + extension, Qt::CaseInsensitive))
            return path;
    }
    return path + u'.' + allowed.first();
}

// Where the desktop offers its own file chooser (Qt's platform theme: the
// desktop portal, GTK or KDE), the panels use it; Qt's own dialog, in the
// window's language, is the fallback, and the only one that can choose
// files and folders in one selection. The adjustments below apply to Qt's
// dialog; the save panel's suffix is enforced for both.
class PanelFileDialog final : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

    bool acceptsDirectoriesAsFiles = false; // files and folders in one selection
    QStringList allowedExtensions; // save panel: the suffix it enforces

    void accept() override
    {
        const QStringList chosen = selectedFiles();
        if (acceptsDirectoriesAsFiles && acceptMode() == AcceptOpen && opensTypedFolder())
            return;
        if (acceptsDirectoriesAsFiles && acceptMode() == AcceptOpen && !chosen.isEmpty()) {
            // The file modes would open a chosen folder instead of returning it.
            bool allExist = true;
            for (const QString& path : chosen)
                allExist = allExist && QFileInfo::exists(path);
            if (allExist) {
                QDialog::accept();
                return;
            }
        }
        if (acceptMode() == AcceptSave && chosen.size() == 1) {
            // "name.txt" becomes "name.txt.zip"; the default suffix only covers
            // names without any suffix. The overwrite check then sees the real name.
            const QString enforced = withAllowedSuffix(chosen.first(), allowedExtensions);
            if (enforced != chosen.first())
                selectFile(enforced);
        }
        QFileDialog::accept();
    }

private:
    // A folder path typed into the name field (it holds a "/" or starts at
    // "~") and confirmed with Enter opens that folder, as in any file
    // dialog, instead of choosing it for packing; a folder picked in the
    // list, or its bare name, is chosen.
    bool opensTypedFolder()
    {
        auto* edit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        const QString typed = edit ? edit->text().trimmed() : QString();
        if (typed.isEmpty() || typed.startsWith(u'"') || (!typed.contains(u'/') && !typed.startsWith(u'~')))
            return false;
        QString path = typed.startsWith(u'~') ? QDir::homePath() + typed.mid(1) : typed;
        if (QDir::isRelativePath(path))
            path = directory().filePath(path);
        if (!QFileInfo(path).isDir())
            return false;
        setDirectory(QDir::cleanPath(path));
        edit->clear();
        return true;
    }
};

// Qt's dialog lists name, size, type and date; the name takes the room
// left, the others fit their contents, untruncated in either language.
void fitColumns(QFileDialog* dialog)
{
    // Only Qt's dialog has widgets; a desktop chooser lays itself out.
    auto* tree = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
    if (!tree)
        return;
    dialog->resize(dialog->size().expandedTo(QSize(760, 460)));
    QHeaderView* header = tree->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(0, QHeaderView::Stretch);
}

// Opens `dialog` window-modal without blocking. `answer` runs once with the
// dialog's result when it finishes; if the dialog is destroyed unfinished
// (its window went away), `cancel` is queued instead.
void runSheet(QDialog* dialog, std::function<void(int)> answer, std::function<void()> cancel)
{
    auto done = std::make_shared<bool>(false);
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog, done, answer = std::move(answer)](int result) {
        if (*done)
            return;
        *done = true;
        answer(result);
        dialog->deleteLater();
    });
    // Direct, with the dialog itself as context: the cancel must be queued
    // while the dialog is being destroyed.
    QObject::connect(
        dialog, &QObject::destroyed, dialog,
        [done, cancel = std::move(cancel)] {
            if (*done)
                return;
            *done = true;
            MainQueue::async(cancel);
        },
        Qt::DirectConnection);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->open();
}

QStringList nameFilters(const QStringList& extensions)
{
    QStringList patterns;
    for (const QString& extension : extensions)
        patterns.append(QStringLiteral("*.") + extension);
    return { patterns.join(u' ') };
}

PanelFileDialog* makeFileDialog(bool desktopChooser)
{
    auto* dialog = new PanelFileDialog(WindowLookup::keyWindow());
    dialog->setObjectName(kFileDialogName);
    dialog->setOption(QFileDialog::DontUseNativeDialog, !desktopChooser || !DialogPanels::desktopChoosersAllowed());
    return dialog;
}

QDialog* findDialog(const QString& name)
{
    const QWidgetList widgets = QApplication::topLevelWidgets();
    for (QWidget* widget : widgets) {
        if (widget->objectName() == name && widget->isVisible())
            return qobject_cast<QDialog*>(widget);
    }
    return nullptr;
}

} // namespace

void DialogPanels::open(const OpenRequest& request, PathsCompletion completion)
{
    if (!MainQueue::isMainThread()) {
        MainQueue::async(
            [this, request, completion = std::move(completion)]() mutable { open(request, std::move(completion)); });
        return;
    }
    const bool files = request.canChooseFiles || !request.canChooseDirectories;
    // The desktop's choosers take files or folders, never both at once.
    PanelFileDialog* dialog = makeFileDialog(!(files && request.canChooseDirectories));
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    if (!files) {
        dialog->setFileMode(QFileDialog::Directory);
        dialog->setOption(QFileDialog::ShowDirsOnly);
    } else {
        dialog->setFileMode(request.allowsMultipleSelection ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
        dialog->acceptsDirectoriesAsFiles = request.canChooseDirectories;
    }
    // Without the right to create folders the panel only reads.
    dialog->setOption(QFileDialog::ReadOnly, !request.canCreateDirectories);
    if (files && !request.allowedExtensions.isEmpty())
        dialog->setNameFilters(nameFilters(request.allowedExtensions));
    if (!request.directory.isEmpty())
        dialog->setDirectory(request.directory);

    auto shared = std::make_shared<PathsCompletion>(std::move(completion));
    runSheet(
        dialog,
        [dialog, shared](
            int result) { (*shared)(result == QDialog::Accepted ? dialog->selectedFiles() : QStringList()); },
        [shared] { (*shared)({}); });
    fitColumns(dialog);
}

void DialogPanels::save(const SaveRequest& request, PathCompletion completion)
{
    if (!MainQueue::isMainThread()) {
        MainQueue::async(
            [this, request, completion = std::move(completion)]() mutable { save(request, std::move(completion)); });
        return;
    }
    PanelFileDialog* dialog = makeFileDialog(true);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->allowedExtensions = request.allowedExtensions;
    if (!request.allowedExtensions.isEmpty()) {
        dialog->setNameFilters(nameFilters(request.allowedExtensions));
        dialog->setDefaultSuffix(request.allowedExtensions.first());
    }
    if (!request.directory.isEmpty())
        dialog->setDirectory(request.directory);
    if (!request.fileName.isEmpty())
        dialog->selectFile(request.fileName);

    auto shared = std::make_shared<PathCompletion>(std::move(completion));
    runSheet(
        dialog,
        [this, dialog, shared, request](int result) {
            const QString chosen = result == QDialog::Accepted ? dialog->selectedFiles().value(0) : QString();
            // A desktop chooser may hand back a name without the suffix. With
            // it added, the name may be taken: the panel asks again with it,
            // so that its overwrite check sees the real name.
            const QString enforced = withAllowedSuffix(chosen, request.allowedExtensions);
            if (enforced != chosen && QFileInfo::exists(enforced)) {
                SaveRequest again = request;
                again.directory = QFileInfo(enforced).absolutePath();
                again.fileName = QFileInfo(enforced).fileName();
                save(again, std::move(*shared));
                return;
            }
            (*shared)(enforced);
        },
        [shared] { (*shared)(QString()); });
    fitColumns(dialog);
}

void DialogPanels::askPassword(const PasswordRequest& request, PasswordCompletion completion)
{
    if (!MainQueue::isMainThread()) {
        MainQueue::async([this, request, completion = std::move(completion)]() mutable {
            askPassword(request, std::move(completion));
        });
        return;
    }
    auto* dialog = new PasswordSheet(request.message, request.archivePath, WindowLookup::keyWindow());
    dialog->setObjectName(kPasswordSheetName);

    auto shared = std::make_shared<PasswordCompletion>(std::move(completion));
    runSheet(
        dialog,
        [dialog, shared](int result) {
            (*shared)(result == QDialog::Accepted ? std::optional<QString>(dialog->password()) : std::nullopt);
        },
        [shared] { (*shared)(std::nullopt); });
}

bool DialogPanels::installQtTranslations()
{
    static bool installed = false;
    const QString language = Bundle::preferredLocalization();
    if (installed || language == QLatin1String("en"))
        return false;
    auto* translator = new QTranslator(qApp);
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!translator->load(QStringLiteral("qtbase_") + language, folder)) {
        qCInfo(lcUi, "no Qt translation for %s in %s", qUtf8Printable(language), qUtf8Printable(folder));
        delete translator;
        return false;
    }
    installed = QCoreApplication::installTranslator(translator);
    return installed;
}

bool DialogPanels::desktopChoosersAllowed()
{
    // ZAVRIN_QT_FILE_DIALOG=1 keeps Qt's own dialog, for tests and screenshots.
    return qEnvironmentVariableIntValue("ZAVRIN_QT_FILE_DIALOG") == 0;
}

QDialog* DialogPanels::openDialog()
{
    return findDialog(kFileDialogName);
}

QDialog* DialogPanels::passwordSheet()
{
    return findDialog(kPasswordSheetName);
}
