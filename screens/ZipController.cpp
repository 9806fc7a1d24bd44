#include "screens/ZipController.h"

#include "engine/StopToken.h"
#include "platform/Bundle.h"
#include "platform/HUD.h"
#include "platform/Logging.h"
#include "platform/MainQueue.h"
#include "platform/Panels.h"
#include "screens/ArchiveNaming.h"
#include "screens/CompressionChoice.h"
#include "screens/CustomOptionsView.h"
#include "screens/ItemSummary.h"
#include "screens/Outlet.h"
#include "telemetry/TrackManager.h"
#include "ui/SheetStyle.h"
#include "ui/Styling.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QRadioButton>

namespace {

const char* const kShake = "shake";

void track(const char* step, uint order)
{
    TrackManager::TrackCompleteRate(QStringLiteral("Complete_Zip"), QString::fromLatin1(step), order);
}

} // namespace

ZipController::ZipController(QWidget* parent)
    : ViewController(parent)
{
}

ZipController::~ZipController() = default;

ZipController* ZipController::initFromStory(QWidget* parent)
{
    auto* screen = new ZipController(parent);
    screen->setObjectName(QStringLiteral("ZipController"));
    screen->build();
    screen->loadViewIfNeeded();
    return screen;
}

void ZipController::build()
{
    // Made in tab order.
    subjectLab = Outlet::make<QLabel>(this, "subjectLab");
    subjectSizeLab = Outlet::make<QLabel>(this, "subjectSizeLab");
    exportPathLab = Outlet::make<QLabel>(this, "exportPathLab");
    pathTf = Outlet::make<QLineEdit>(this, "pathTf");
    changPathBtn = Outlet::make<QPushButton>(this, "changPathBtn");
    compressOpnttionLab = Outlet::make<QLabel>(this, "compressOpnttionLab");
    auto* options = new QWidget(this);
    speedBtn = Outlet::make<QRadioButton>(options, "speedBtn");
    sizeBtn = Outlet::make<QRadioButton>(options, "sizeBtn");
    customBtn = Outlet::make<QRadioButton>(options, "customBtn");
    customOptionsView = Outlet::make<CustomOptionsView>(this, "customOptionsView");
    addPasswordBtn = Outlet::make<QCheckBox>(this, "addPasswordBtn");
    passwordView = Outlet::make<QWidget>(this, "passwordView");
    passwordLab = Outlet::make<QLabel>(passwordView, "passwordLab");
    passwordTf = Outlet::make<QLineEdit>(passwordView, "passwordTf");
    password2Lab = Outlet::make<QLabel>(passwordView, "password2Lab");
    password2Tf = Outlet::make<QLineEdit>(passwordView, "password2Tf");
    noteLab = Outlet::make<QLabel>(this, "noteLab");
    openCheck = Outlet::make<QCheckBox>(this, "openCheck");
    cancelBtn = Outlet::make<QPushButton>(this, "cancelBtn");
    zipBtn = Outlet::make<QPushButton>(this, "zipBtn");

    exportPathLab->setBuddy(pathTf);
    pathTf->setMinimumWidth(80 * SheetStyle::kGrid);
    passwordLab->setBuddy(passwordTf);
    password2Lab->setBuddy(password2Tf);
    passwordTf->setEchoMode(QLineEdit::Password);
    password2Tf->setEchoMode(QLineEdit::Password);
    openCheck->setChecked(true);

    auto* optionsRow = new QHBoxLayout(options);
    optionsRow->setContentsMargins(0, 0, 0, 0);
    optionsRow->setSpacing(6 * SheetStyle::kGrid);
    optionsRow->addWidget(speedBtn);
    optionsRow->addWidget(sizeBtn);
    optionsRow->addWidget(customBtn);
    optionsRow->addStretch(1);

    // The custom panel shows with its option only; its choice is kept
    // between presentations and launches.
    customOptionsView->setChoice(CompressionChoice::remembered());
    customOptionsView->hide();
    noteLab->setWordWrap(true);
    noteLab->setTextFormat(Qt::PlainText);
    noteLab->hide();

    // The password fields sit under their checkbox, indented past its box.
    auto* passwords = new QGridLayout(passwordView);
    passwords->setContentsMargins(6 * SheetStyle::kGrid, 0, 0, 0);
    passwords->setHorizontalSpacing(SheetStyle::kColumnSpacing);
    passwords->setVerticalSpacing(2 * SheetStyle::kGrid);
    passwords->addWidget(passwordLab, 0, 0);
    passwords->addWidget(passwordTf, 0, 1);
    passwords->addWidget(password2Lab, 1, 0);
    passwords->addWidget(password2Tf, 1, 1);
    passwords->setColumnStretch(1, 1);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(SheetStyle::kMargin, SheetStyle::kMargin, SheetStyle::kMargin, SheetStyle::kMargin);
    grid->setHorizontalSpacing(SheetStyle::kColumnSpacing);
    grid->setVerticalSpacing(SheetStyle::kRowSpacing);
    grid->setSizeConstraint(QLayout::SetFixedSize);
    grid->addLayout(SheetStyle::subjectRow(subjectLab, subjectSizeLab), 0, 0, 1, 3);
    grid->addWidget(exportPathLab, 1, 0);
    grid->addWidget(pathTf, 1, 1);
    grid->addWidget(changPathBtn, 1, 2);
    grid->addWidget(compressOpnttionLab, 2, 0);
    grid->addWidget(options, 2, 1, 1, 2);
    grid->addWidget(customOptionsView, 3, 1);
    grid->addWidget(addPasswordBtn, 4, 1, 1, 2);
    grid->addWidget(passwordView, 5, 1);
    grid->addWidget(openCheck, 6, 1, 1, 2);
    grid->addWidget(noteLab, 7, 1, 1, 2);
    grid->setRowMinimumHeight(8, SheetStyle::kGrid);
    grid->addLayout(SheetStyle::buttonRow(cancelBtn, zipBtn), 9, 0, 1, 3);

    connect(changPathBtn, &QPushButton::clicked, this, &ZipController::modifyPathClick);
    connect(speedBtn, &QRadioButton::clicked, this, &ZipController::speedClick);
    connect(sizeBtn, &QRadioButton::clicked, this, &ZipController::sizeClick);
    connect(customBtn, &QRadioButton::clicked, this, &ZipController::customClick);
    connect(addPasswordBtn, &QCheckBox::clicked, this, &ZipController::addPasswordClick);
    connect(customOptionsView, &CustomOptionsView::choiceChanged, this, &ZipController::onCustomChoiceChanged);
    // A refusal of the name goes once the name changes.
    connect(pathTf, &QLineEdit::textChanged, this, [this] {
        if (!m_refusal.isEmpty()) {
            m_refusal.clear();
            updateNote();
        }
    });
    connect(cancelBtn, &QPushButton::clicked, this, &ZipController::cancelClick);
    connect(zipBtn, &QPushButton::clicked, this, &ZipController::zipClick);
}

void ZipController::viewDidLoad()
{
    international();
    SheetStyle::styleSheetWindow(this);
    SheetStyle::styleCaption(exportPathLab);
    SheetStyle::styleCaption(compressOpnttionLab);
    // The password rows line up with the path field: as high, their
    // captions right-aligned like every other caption.
    SheetStyle::styleCaption(passwordLab);
    SheetStyle::styleCaption(password2Lab);
    for (QLineEdit* field : { pathTf, passwordTf, password2Tf })
        SheetStyle::styleField(field);
    SheetStyle::styleSubject(subjectLab, subjectSizeLab);
    QPalette warning = noteLab->palette();
    warning.setColor(QPalette::WindowText, Palette::warningText());
    noteLab->setPalette(warning);
    SheetStyle::styleSecondaryButton(cancelBtn);
    SheetStyle::stylePrimaryButton(zipBtn);
    SheetStyle::styleSecondaryButton(changPathBtn);
    Styling::setBackgroundColor(customOptionsView, Qt::white);
    Styling::setBorderWidth(customOptionsView, 1.0);
    Styling::setBorderColor(customOptionsView, Styling::hexStr(QStringLiteral("DDDDDD")));
    zipBtn->setDefault(true);
    cancelBtn->setAutoDefault(false);
    changPathBtn->setAutoDefault(false);
}

void ZipController::international()
{
    setWindowTitle(L(QStringLiteral("压缩文件")));
    exportPathLab->setText(L(QStringLiteral("输出路径:")));
    pathTf->setAccessibleName(L(QStringLiteral("输出路径:")));
    changPathBtn->setText(L(QStringLiteral("更换目录")));
    openCheck->setText(L(QStringLiteral("压缩完成打开项目文件夹")));
    compressOpnttionLab->setText(L(QStringLiteral("压缩选项:")));
    speedBtn->setText(L(QStringLiteral("速度快")));
    sizeBtn->setText(L(QStringLiteral("体积小")));
    customBtn->setText(L(QStringLiteral("自定义")));
    customOptionsView->international();
    addPasswordBtn->setText(L(QStringLiteral("添加密码")));
    passwordLab->setText(L(QStringLiteral("密码")) + u':');
    password2Lab->setText(L(QStringLiteral("确认")) + u':');
    passwordTf->setPlaceholderText(L(QStringLiteral("密码")));
    password2Tf->setPlaceholderText(L(QStringLiteral("确认")));
    passwordTf->setAccessibleName(L(QStringLiteral("密码")));
    password2Tf->setAccessibleName(L(QStringLiteral("确认")));
    cancelBtn->setText(L(QStringLiteral("取消")));
    zipBtn->setText(L(QStringLiteral("立即压缩")));
}

void ZipController::viewWillAppear()
{
    showSubject();
    m_sourceFolder = ArchiveNaming::sourceFolder(m_fileUrls);
    pathTf->setText(ArchiveNaming::defaultPath(m_fileUrls));
    selectOption(speedBtn);
    passwordView->hide();
    addPasswordBtn->setChecked(false);
    passwordTf->clear();
    password2Tf->clear();
    m_password.reset();
    m_hadOpenFolder = false;
    m_panelOpen = false;
    m_confirmed = false;
    m_refusal.clear();
    updateNote();
}

void ZipController::viewDidAppear()
{
    zipBtn->setFocus();
}

void ZipController::showSubject()
{
    const QString title = ItemSummary::title(m_fileUrls);
    subjectLab->setText(ItemSummary::elided(title, subjectLab->fontMetrics(), SheetStyle::kSubjectWidth * 3 / 4));
    subjectLab->setAccessibleName(title);
    subjectLab->setToolTip(title);
    subjectSizeLab->clear();
    // Folders are added up on a worker; the size shows when known, for this
    // presentation only, and a quitting program stops the walk.
    QStringList paths;
    for (const QUrl& url : std::as_const(m_fileUrls))
        paths.append(url.toLocalFile());
    const quint64 presentation = presentationCount();
    QPointer<ZipController> self(this);
    WorkerPool::async([self, presentation, paths] {
        const std::optional<qint64> total = ItemSummary::totalSize(paths, [] { return StopToken::allStopped(); });
        if (!total)
            return;
        MainQueue::async([self, presentation, bytes = *total] {
            ZipController* screen = self.data();
            if (screen && screen->presentationCount() == presentation)
                screen->subjectSizeLab->setText(ItemSummary::formatSize(bytes));
        });
    });
}

void ZipController::modifyPathClick()
{
    if (m_panelOpen || m_confirmed)
        return;
    track("zip_changePath", 2);
    TrackManager::TrackPage(QStringLiteral("VC_FileZip"), QStringLiteral("FilePathModify"));
    openSelectPathAndContinue(false);
}

void ZipController::openSelectPathAndContinue(bool continueAfterPick)
{
    if (m_panelOpen)
        return;
    m_panelOpen = true;
    Panels::SaveRequest request;
    // An item that is the root folder has no folder to propose: start at home.
    request.directory = ArchiveNaming::startFolder(m_fileUrls);
    const CompressionOptions::Format format = chosenFormat();
    request.fileName = CompressionChoice::withSuffix(ArchiveNaming::proposedName(m_fileUrls), format);
    request.allowedExtensions = { CompressionOptions::formatName(format) };
    const quint64 presentation = presentationCount();
    QPointer<ZipController> self(this);
    Panels::shared().save(request, [self, presentation, continueAfterPick](const QString& path) {
        ZipController* screen = self.data();
        if (!screen)
            return;
        // An answer for a presentation that is over changes nothing.
        if (screen->presentationCount() != presentation)
            return;
        screen->m_panelOpen = false;
        if (path.isEmpty() || !screen->isPresented())
            return;
        // The archive goes into a folder that is there, never one made for it.
        if (!QFileInfo(path).absoluteDir().exists()) {
            qCWarning(lcUi, "picked folder does not exist: %s", qUtf8Printable(QFileInfo(path).absolutePath()));
            HUD::showErrorWithStatus(L(QStringLiteral("所选文件夹不存在")));
            return;
        }
        screen->pathTf->setText(path);
        screen->m_hadOpenFolder = true;
        if (continueAfterPick)
            screen->zipClick();
    });
}

void ZipController::selectOption(QRadioButton* option)
{
    for (QRadioButton* button : { speedBtn, sizeBtn, customBtn })
        button->setChecked(button == option);
    customOptionsView->setVisible(option == customBtn);
    followFormat();
    updateNote();
}

void ZipController::onCustomChoiceChanged()
{
    CompressionChoice::remember(customOptionsView->choice());
    followFormat();
    updateNote();
}

CompressionOptions::Format ZipController::chosenFormat() const
{
    return customBtn->isChecked() ? customOptionsView->choice().format : CompressionOptions::Format::Zip;
}

void ZipController::followFormat()
{
    const QString path = pathTf->text();
    const QString followed = CompressionChoice::withSuffix(path, chosenFormat());
    if (followed == path)
        return;
    pathTf->setText(followed);
    // The save panel asked about the name it handed back, not about this
    // one: a file already there is asked about again before a zip replaces
    // it (or a custom archive is refused).
    const QFileInfo info(followed);
    if (info.exists() || info.isSymLink())
        m_hadOpenFolder = false;
}

bool ZipController::tarWithPassword() const
{
    return customBtn->isChecked() && addPasswordBtn->checkState() == Qt::Checked
        && !CompressionChoice::takesPassword(customOptionsView->choice().format);
}

void ZipController::updateNote()
{
    QString note = m_refusal;
    if (tarWithPassword())
        note = L(QStringLiteral("%1 格式不支持密码，如需密码请选择 zip 或 7z"))
                   .arg(CompressionOptions::formatName(customOptionsView->choice().format));
    noteLab->setText(note);
    noteLab->setVisible(!note.isEmpty());
}

void ZipController::speedClick()
{
    track("zip_needSpeed", 3);
    selectOption(speedBtn);
}

void ZipController::sizeClick()
{
    track("zip_needSize", 3);
    selectOption(sizeBtn);
}

void ZipController::customClick()
{
    selectOption(customBtn);
}

void ZipController::addPasswordClick()
{
    if (addPasswordBtn->checkState() == Qt::Checked) {
        track("zip_addPassword", 4);
        passwordView->show();
        passwordTf->setFocus();
    } else {
        // The texts stay, but they count for nothing while hidden.
        passwordView->hide();
    }
    updateNote();
}

void ZipController::zipClick()
{
    // One job per presentation: a click while the panel is up, or after the
    // archive was handed on, does nothing.
    if (m_panelOpen || m_confirmed)
        return;
    track("zip_zip", 3);
    TrackManager::TrackPage(QStringLiteral("VC_FileZip"), QStringLiteral("Zip"));
    m_refusal.clear();
    updateNote();
    // tar has no encryption: the note says so, and nothing goes on without
    // the password the user asked for.
    if (tarWithPassword())
        return;
    if (addPasswordBtn->checkState() != Qt::Checked) {
        m_password.reset();
    } else if (passwordTf->text() != password2Tf->text()) {
        shakePasswordView();
        return;
    } else {
        const QString text = passwordTf->text();
        m_password = text.isEmpty() ? std::nullopt : std::optional<QString>(text);
    }
    const QString path = pathTf->text();
    const quint64 level = sizeBtn->isChecked() ? 9 : 1;
    const bool open = openCheck->checkState() == Qt::Checked;
    // A path typed after the pick is taken as it is, unless it is relative,
    // which would put the archive wherever the process runs.
    if (!m_hadOpenFolder || !QFileInfo(path).isAbsolute()) {
        openSelectPathAndContinue(true);
        return;
    }
    std::optional<ZipModel::Custom> custom;
    if (customBtn->isChecked())
        custom = customOptionsView->choice();
    // A custom archive never replaces a file, so a name taken would fail
    // the job once the sheet is gone; here another name can be chosen.
    const QFileInfo target(path);
    if (custom && (target.exists() || target.isSymLink())) {
        m_refusal = L(QStringLiteral("%1 已存在，请换一个名称")).arg(target.fileName());
        updateNote();
        pathTf->setFocus();
        return;
    }
    m_confirmed = true;
    if (m_zipClick)
        m_zipClick(path, m_password, custom ? ZipModel::typeOf(custom->format) : 0, level, open, custom);
}

void ZipController::cancelClick()
{
    dismissViewController();
}

void ZipController::shakePasswordView()
{
    // A shake under way is dropped first, from where the view belongs.
    if (auto* running = passwordView->findChild<QPropertyAnimation*>(QString::fromLatin1(kShake))) {
        running->setObjectName(QString());
        running->stop();
        passwordView->move(m_shakeOrigin);
    }
    m_shakeOrigin = passwordView->pos();
    static constexpr int kOffsets[] = { 15, 0, -15, 0, 15, 0, -15, 0, 15, 0, -15, 0, 15 };
    constexpr int kSteps = static_cast<int>(std::size(kOffsets)) - 1;
    auto* animation = new QPropertyAnimation(passwordView, "pos", passwordView);
    animation->setObjectName(QString::fromLatin1(kShake));
    animation->setDuration(500);
    for (int i = 0; i <= kSteps; ++i)
        animation->setKeyValueAt(static_cast<double>(i) / kSteps, m_shakeOrigin + QPoint(kOffsets[i], 0));
    // Like a removed layer animation, the view ends where it started.
    connect(animation, &QPropertyAnimation::finished, this, [this] { passwordView->move(m_shakeOrigin); });
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}
