#include "screens/UnzipController.h"

#include "platform/Bundle.h"
#include "platform/Defaults.h"
#include "platform/HUD.h"
#include "platform/Logging.h"
#include "platform/Panels.h"
#include "screens/ArchivePreview.h"
#include "screens/ItemSummary.h"
#include "screens/Outlet.h"
#include "telemetry/TrackManager.h"
#include "ui/SheetStyle.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <algorithm>
#include <unistd.h>

UnzipController::UnzipController(QWidget* parent)
    : ViewController(parent)
{
}

UnzipController::~UnzipController() = default;

UnzipController* UnzipController::initFromStory(QWidget* parent)
{
    auto* screen = new UnzipController(parent);
    screen->setObjectName(QStringLiteral("UnzipController"));
    auto* grid = new QGridLayout(screen);
    grid->setContentsMargins(SheetStyle::kMargin, SheetStyle::kMargin, SheetStyle::kMargin, SheetStyle::kMargin);
    grid->setHorizontalSpacing(SheetStyle::kColumnSpacing);
    grid->setVerticalSpacing(SheetStyle::kRowSpacing);
    grid->setSizeConstraint(QLayout::SetFixedSize);

    // Made in tab order.
    screen->archiveLab = Outlet::make<QLabel>(screen, "archiveLab");
    screen->archiveSizeLab = Outlet::make<QLabel>(screen, "archiveSizeLab");
    screen->exportPathLab = Outlet::make<QLabel>(screen, "exportPathLab");
    screen->pathTf = Outlet::make<QLineEdit>(screen, "pathTf");
    screen->changPathBtn = Outlet::make<QPushButton>(screen, "changPathBtn");
    screen->openCheck = Outlet::make<QCheckBox>(screen, "openCheck");
    screen->ownFolderCheck = Outlet::make<QCheckBox>(screen, "ownFolderCheck");
    screen->previewCheck = Outlet::make<QCheckBox>(screen, "previewCheck");
    screen->m_preview = new ArchivePreview(screen);
    screen->cancelBtn = Outlet::make<QPushButton>(screen, "cancelBtn");
    screen->unzipBtn = Outlet::make<QPushButton>(screen, "unzipBtn");

    screen->exportPathLab->setBuddy(screen->pathTf);
    screen->pathTf->setMinimumWidth(80 * SheetStyle::kGrid);
    screen->pathTf->setMinimumHeight(SheetStyle::kButtonHeight);
    screen->pathTf->setTextMargins(SheetStyle::kGrid, 0, SheetStyle::kGrid, 0);
    screen->openCheck->setChecked(true);
    // The new boxes as the user left them last time.
    Defaults& defaults = Defaults::standard();
    screen->ownFolderCheck->setChecked(
        defaults.contains(ownFolderCheckKey()) ? defaults.boolForKey(ownFolderCheckKey()) : true);
    screen->previewCheck->setChecked(defaults.boolForKey(previewCheckKey()));
    screen->m_preview->setVisible(screen->previewCheck->isChecked());

    grid->addLayout(SheetStyle::subjectRow(screen->archiveLab, screen->archiveSizeLab), 0, 0, 1, 3);
    grid->addWidget(screen->exportPathLab, 1, 0);
    grid->addWidget(screen->pathTf, 1, 1);
    grid->addWidget(screen->changPathBtn, 1, 2);
    grid->addWidget(screen->openCheck, 2, 1, 1, 2);
    grid->addWidget(screen->ownFolderCheck, 3, 1, 1, 2);
    grid->addWidget(screen->previewCheck, 4, 1, 1, 2);
    grid->addWidget(screen->m_preview, 5, 0, 1, 3);
    grid->setRowMinimumHeight(6, SheetStyle::kGrid);
    grid->addLayout(SheetStyle::buttonRow(screen->cancelBtn, screen->unzipBtn), 7, 0, 1, 3);

    connect(screen->changPathBtn, &QPushButton::clicked, screen, &UnzipController::modifyPathClick);
    connect(screen->cancelBtn, &QPushButton::clicked, screen, &UnzipController::cancelClick);
    connect(screen->unzipBtn, &QPushButton::clicked, screen, &UnzipController::unzipClick);
    connect(screen->ownFolderCheck, &QCheckBox::toggled, screen,
        [](bool on) { Defaults::standard().setValue(ownFolderCheckKey(), on); });
    connect(screen->previewCheck, &QCheckBox::toggled, screen, &UnzipController::previewToggled);
    // Nothing of an archive is read for a sheet that is gone.
    connect(screen, &ViewController::didDismiss, screen->m_preview, &ArchivePreview::clear);
    screen->loadViewIfNeeded();
    return screen;
}

void UnzipController::viewDidLoad()
{
    international();
    SheetStyle::styleSheetWindow(this);
    SheetStyle::styleCaption(exportPathLab);
    SheetStyle::styleSubject(archiveLab, archiveSizeLab);
    SheetStyle::styleField(pathTf);
    SheetStyle::stylePrimaryButton(unzipBtn);
    SheetStyle::styleSecondaryButton(cancelBtn);
    SheetStyle::styleSecondaryButton(changPathBtn);
    unzipBtn->setDefault(true);
    cancelBtn->setAutoDefault(false);
    changPathBtn->setAutoDefault(false);
}

void UnzipController::international()
{
    setWindowTitle(L(QStringLiteral("解压文件")));
    exportPathLab->setText(L(QStringLiteral("输出路径:")));
    pathTf->setAccessibleName(L(QStringLiteral("输出路径:")));
    changPathBtn->setText(L(QStringLiteral("更换目录")));
    openCheck->setText(L(QStringLiteral("解压完成打开项目文件夹")));
    ownFolderCheck->setText(L(QStringLiteral("解压到同名文件夹")));
    previewCheck->setText(L(QStringLiteral("文档预览")));
    cancelBtn->setText(L(QStringLiteral("取消")));
    unzipBtn->setText(L(QStringLiteral("立即解压")));
}

void UnzipController::viewWillAppear()
{
    // The archive this sheet acts on, by name and size.
    const QFileInfo archive(m_fileUrl.toLocalFile());
    archiveSizeLab->setText(archive.isFile() ? ItemSummary::formatSize(archive.size()) : QString());
    const int room
        = SheetStyle::kSubjectWidth - archiveSizeLab->fontMetrics().horizontalAdvance(archiveSizeLab->text());
    archiveLab->setText(ItemSummary::elided(archive.fileName(), archiveLab->fontMetrics(), room));
    archiveLab->setToolTip(archive.filePath());
    archiveLab->setAccessibleName(archive.fileName());
    // A folder picked for an earlier job is not kept; the checkboxes are.
    pathTf->setText(desktopFolder());
    m_panelOpen = false;
    m_confirmed = false;
    m_extractOptions = {};
    // Read afresh for every presentation, once the sheet is up.
    m_preview->clear();
}

void UnzipController::viewDidAppear()
{
    unzipBtn->setFocus();
    if (previewCheck->isChecked())
        m_preview->load(m_fileUrl.toLocalFile());
}

void UnzipController::previewToggled(bool on)
{
    Defaults::standard().setValue(previewCheckKey(), on);
    // Taken before the preview shows or hides: the sheet's size follows its
    // content at once.
    const QPoint centre = frameGeometry().center();
    m_preview->setVisible(on);
    if (!on)
        m_preview->clear();
    else if (isPresented())
        m_preview->load(m_fileUrl.toLocalFile());
    fitToContent(centre);
}

void UnzipController::fitToContent(QPoint centre)
{
    if (!isVisible())
        return;
    layout()->activate();
    // Grown or shrunk around the same centre, and kept on the screen.
    QRect frame = frameGeometry();
    frame.moveCenter(centre);
    if (const QScreen* shown = screen()) {
        const QRect room = shown->availableGeometry();
        frame.moveLeft(std::clamp(frame.left(), room.left(), std::max(room.left(), room.right() - frame.width())));
        frame.moveTop(std::clamp(frame.top(), room.top(), std::max(room.top(), room.bottom() - frame.height())));
    }
    move(frame.topLeft());
}

QString UnzipController::desktopFolder()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = QDir::homePath();
    const QString resolved = QFileInfo(folder).canonicalFilePath();
    return resolved.isEmpty() ? folder : resolved;
}

bool UnzipController::canWriteInto(const QString& path)
{
    // A relative path would land wherever the process happens to run, and a
    // file is no place to extract into: both go to the folder panel.
    const QFileInfo info(path);
    return !path.isEmpty() && info.isAbsolute() && info.isDir()
        && ::access(QFile::encodeName(path).constData(), W_OK) == 0;
}

void UnzipController::modifyPathClick()
{
    if (m_panelOpen || m_confirmed)
        return;
    TrackManager::TrackCompleteRate(QStringLiteral("Complete_Unzip"), QStringLiteral("unzip_changePath"), 2);
    openSelectPathAndContinue(false);
}

void UnzipController::openSelectPathAndContinue(bool continueAfterPick)
{
    if (m_panelOpen)
        return;
    m_panelOpen = true;
    Panels::OpenRequest request;
    request.canChooseFiles = false;
    request.canChooseDirectories = true;
    request.allowsMultipleSelection = false;
    request.canCreateDirectories = true;
    const quint64 presentation = presentationCount();
    QPointer<UnzipController> self(this);
    Panels::shared().open(request, [self, presentation, continueAfterPick](const QStringList& paths) {
        UnzipController* screen = self.data();
        if (!screen)
            return;
        // An answer for a presentation that is over changes nothing.
        if (screen->presentationCount() != presentation)
            return;
        screen->m_panelOpen = false;
        if (paths.isEmpty() || !screen->isPresented())
            return;
        // What a panel hands back is taken as it is or not at all: a folder
        // that is not there would be made by the job, somewhere unchosen.
        if (!QFileInfo(paths.first()).isDir()) {
            qCWarning(lcUi, "picked folder does not exist: %s", qUtf8Printable(paths.first()));
            HUD::showErrorWithStatus(L(QStringLiteral("所选文件夹不存在")));
            return;
        }
        screen->pathTf->setText(paths.first());
        if (continueAfterPick)
            screen->unzipClick();
    });
}

void UnzipController::unzipClick()
{
    // One job per presentation: a click while the panel is up, or after the
    // folder was handed on, does nothing.
    if (m_panelOpen || m_confirmed)
        return;
    // With the contents shown, what is ticked is what goes: nothing ticked is nothing to do.
    if (previewCheck->isChecked() && m_preview->noneTicked()) {
        HUD::showInfoWithStatus(L(QStringLiteral("没有选中要解压的项目")));
        return;
    }
    TrackManager::TrackCompleteRate(QStringLiteral("Complete_Unzip"), QStringLiteral("unzip_unzip"), 3);
    TrackManager::TrackPage(QStringLiteral("VC_FileZip"), QStringLiteral("UnZip"));
    const bool open = openCheck->checkState() == Qt::Checked;
    const QString path = pathTf->text();
    if (!canWriteInto(path)) {
        openSelectPathAndContinue(true);
        return;
    }
    m_confirmed = true;
    m_extractOptions = chosenOptions();
    if (m_unzipClick)
        m_unzipClick(path, open);
}

ExtractOptions UnzipController::chosenOptions() const
{
    ExtractOptions options;
    options.ownFolder = ownFolderCheck->checkState() == Qt::Checked;
    // Unticked, the preview has no say: the whole archive, as ever.
    if (previewCheck->checkState() == Qt::Checked) {
        options.selection = m_preview->selection();
        options.password = m_preview->password();
    }
    return options;
}

void UnzipController::cancelClick()
{
    dismissViewController();
}
