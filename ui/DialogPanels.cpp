#include "ui/DialogPanels.h"

#include "platform/MainQueue.h"
#include "ui/PasswordSheet.h"
#include "ui/WindowLookup.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <memory>

namespace {

const QString kFileDialogName = QStringLiteral("fileDialog");
const QString kPasswordSheetName = QStringLiteral("passwordSheet");

// Qt's own file dialog, so that the window-modal sheet behaves the same on
// every desktop and the two adjustments below can be made.
class PanelFileDialog final : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

    bool acceptsDirectoriesAsFiles = false; // files and folders in one selection
    QStringList allowedExtensions; // save panel: the suffix it enforces

    void accept() override
    {
        const QStringList chosen = selectedFiles();
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
        if (acceptMode() == AcceptSave && !allowedExtensions.isEmpty() && chosen.size() == 1) {
            // "name.txt" becomes "name.txt.zip"; the default suffix only covers
            // names without any suffix. The overwrite check then sees the real name.
            const QFileInfo info(chosen.first());
            if (!info.fileName().isEmpty() && !info.isDir()
                && !allowedExtensions.contains(info.suffix(), Qt::CaseInsensitive))
                selectFile(chosen.first() + u'.' + allowedExtensions.first());
        }
        QFileDialog::accept();
    }
};

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

PanelFileDialog* makeFileDialog()
{
    auto* dialog = new PanelFileDialog(WindowLookup::keyWindow());
    dialog->setObjectName(kFileDialogName);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
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
    PanelFileDialog* dialog = makeFileDialog();
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    const bool files = request.canChooseFiles || !request.canChooseDirectories;
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
}

void DialogPanels::save(const SaveRequest& request, PathCompletion completion)
{
    if (!MainQueue::isMainThread()) {
        MainQueue::async(
            [this, request, completion = std::move(completion)]() mutable { save(request, std::move(completion)); });
        return;
    }
    PanelFileDialog* dialog = makeFileDialog();
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
        [dialog, shared](
            int result) { (*shared)(result == QDialog::Accepted ? dialog->selectedFiles().value(0) : QString()); },
        [shared] { (*shared)(QString()); });
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

QDialog* DialogPanels::openDialog()
{
    return findDialog(kFileDialogName);
}

QDialog* DialogPanels::passwordSheet()
{
    return findDialog(kPasswordSheetName);
}
