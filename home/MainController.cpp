#include "home/MainController.h"

#include "engine/JobModels.h"
#include "engine/ZipManager.h"
#include "feedback/FeedbackVC.h"
#include "home/DragView.h"
#include "platform/Bundle.h"
#include "platform/HUD.h"
#include "platform/Logging.h"
#include "platform/Panels.h"
#include "platform/Workspace.h"
#include "screens/Outlet.h"
#include "screens/ProgressController.h"
#include "screens/UnzipController.h"
#include "screens/ZipController.h"
#include "telemetry/TrackManager.h"
#include "ui/ListHelpers.h"
#include "ui/Styling.h"

#include <QFileInfo>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <QSvgRenderer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace {

const QString kHomePage = QStringLiteral("VC_Home");

// An icon of our own, drawn from its SVG at the screen's resolution.
class SvgIconView final : public QWidget {
public:
    SvgIconView(const QString& name, int size, QWidget* parent)
        : QWidget(parent)
        , m_renderer(QStringLiteral(":/icons/%1.svg").arg(name))
    {
        setFixedSize(size, size);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        m_renderer.render(&painter, QRectF(rect()));
    }

private:
    QSvgRenderer m_renderer;
};

// A target's button. Its focus ring shows when the focus came from the
// keyboard, not after a click or at start-up, and survives the window going
// inactive under a sheet.
class TargetButton final : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void focusInEvent(QFocusEvent* event) override
    {
        const Qt::FocusReason reason = event->reason();
        if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason)
            setKeyboardFocus(true);
        else if (reason != Qt::ActiveWindowFocusReason)
            setKeyboardFocus(false);
        QPushButton::focusInEvent(event);
    }
    void focusOutEvent(QFocusEvent* event) override
    {
        if (event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason)
            setKeyboardFocus(false);
        QPushButton::focusOutEvent(event);
    }

private:
    void setKeyboardFocus(bool on)
    {
        if (property("keyboardFocus").toBool() == on)
            return;
        setProperty("keyboardFocus", on);
        // Style sheets read properties when polished.
        style()->unpolish(this);
        style()->polish(this);
        update();
    }
};

void styleText(QLabel* label, int pixelSize, QFont::Weight weight, const QColor& color)
{
    QFont font = label->font();
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

} // namespace

MainController::MainController(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("MainController"));
    buildView();
    viewDidLoad();
}

MainController::~MainController() = default;

const QStringList& MainController::supportedExtensions()
{
    static const QStringList extensions = ZipManager::extractableSuffixes();
    return extensions;
}

void MainController::buildView()
{
    titleLab = Outlet::make<QLabel>(this, "titleLab");
    descLab = Outlet::make<QLabel>(this, "descLab");
    zipView = Outlet::make<DragView>(this, "zipView");
    unzipView = Outlet::make<DragView>(this, "unzipView");
    zipBtn = Outlet::make<TargetButton>(zipView, "zipBtn");
    unzipBtn = Outlet::make<TargetButton>(unzipView, "unzipBtn");
    zipLab = Outlet::make<QLabel>(zipBtn, "zipLab");
    unzipLab = Outlet::make<QLabel>(unzipBtn, "unzipLab");
    bottomDescLab = Outlet::make<QLabel>(this, "bottomDescLab");
    feedbackBtn = Outlet::make<QToolButton>(this, "feedbackBtn");
    rateBtn = Outlet::make<QToolButton>(this, "rateBtn");

    styleText(titleLab, 28, QFont::DemiBold, Palette::text1());
    styleText(descLab, 14, QFont::Normal, Palette::text2());
    styleText(bottomDescLab, 13, QFont::Normal, Palette::text3());
    for (QLabel* label : { titleLab, descLab, bottomDescLab })
        label->setAlignment(Qt::AlignCenter);
    bottomDescLab->setWordWrap(true);

    auto* targets = new QHBoxLayout;
    targets->setSpacing(24);
    targets->addWidget(buildTarget(zipView, zipBtn, zipLab, QStringLiteral("home_compress")));
    targets->addWidget(buildTarget(unzipView, unzipBtn, unzipLab, QStringLiteral("home_extract")));

    feedbackBtn->setIcon(QIcon(QStringLiteral(":/icons/home_feedback.svg")));
    feedbackBtn->setIconSize(QSize(18, 18));
    feedbackBtn->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    feedbackBtn->setAutoRaise(true);
    feedbackBtn->setCursor(Qt::PointingHandCursor);
    QPalette quiet = feedbackBtn->palette();
    quiet.setColor(QPalette::ButtonText, Palette::text2());
    feedbackBtn->setPalette(quiet);
    auto* bottom = new QHBoxLayout;
    bottom->setSpacing(0);
    bottom->addStretch(1);
    bottom->addWidget(rateBtn);
    bottom->addWidget(feedbackBtn);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(40, 32, 40, 16);
    column->setSpacing(0);
    column->addWidget(titleLab);
    column->addSpacing(6);
    column->addWidget(descLab);
    column->addSpacing(28);
    column->addLayout(targets, 1);
    column->addSpacing(18);
    column->addWidget(bottomDescLab);
    column->addSpacing(10);
    column->addLayout(bottom);

    connect(zipBtn, &QPushButton::clicked, this, &MainController::zipClick);
    connect(unzipBtn, &QPushButton::clicked, this, &MainController::unzipClizk);
    connect(feedbackBtn, &QToolButton::clicked, this, &MainController::feedbackClick);
    connect(rateBtn, &QToolButton::clicked, this, &MainController::rateClick);
    // The extract panel from the keyboard, as a button press.
    auto* open = new QShortcut(QKeySequence::Open, this);
    open->setContext(Qt::WindowShortcut);
    connect(open, &QShortcut::activated, this, &MainController::unzipClizk);
}

// A target: the drop view, filled by its button, which shows the icon and the
// caption; a click anywhere on the target is a click of the button.
QWidget* MainController::buildTarget(DragView* view, QPushButton* button, QLabel* caption, const QString& iconName)
{
    view->setMinimumSize(240, 200);
    view->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    auto* fill = new QVBoxLayout(view);
    fill->setContentsMargins(0, 0, 0, 0);
    fill->addWidget(button);

    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    button->setCursor(Qt::PointingHandCursor);
    // Enter activates it too, as Space does; outside dialogs that takes autoDefault.
    button->setAutoDefault(true);
    const QString self = u'#' + button->objectName();
    button->setStyleSheet(QStringLiteral("%1{background:transparent;border:2px solid transparent;border-radius:10px;}"
                                         "%1[keyboardFocus=\"true\"]{border-color:#067DFF;}"
                                         "%1:pressed{background:rgba(0,0,0,14);}")
                              .arg(self));

    styleText(caption, 16, QFont::Medium, Palette::text1());
    // Inside a button with a style sheet of its own the palette's colour is
    // not used: the caption would be drawn pure black.
    caption->setStyleSheet(QStringLiteral("color:%1;").arg(Palette::text1().name()));
    caption->setAlignment(Qt::AlignCenter);
    caption->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* inner = new QVBoxLayout(button);
    inner->setContentsMargins(16, 16, 16, 16);
    inner->setSpacing(14);
    inner->addStretch(1);
    inner->addWidget(new SvgIconView(iconName, 88, button), 0, Qt::AlignHCenter);
    inner->addWidget(caption);
    inner->addStretch(1);
    return view;
}

void MainController::viewDidLoad()
{
    setupUI();
    international();
    // Kept by this screen for its whole life; each job sets their inputs anew.
    m_zipVc = ZipController::initFromStory(this);
    m_unzipVc = UnzipController::initFromStory(this);
    m_progressVc = ProgressController::initFromStory(this);
}

void MainController::setupUI()
{
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::white);
    setPalette(palette);
    for (DragView* view : { zipView, unzipView })
        Styling::setCornerRadius(view, 10.0); // DragView fills with "F0F1F5" itself

    // The actions hold the screen weakly: the targets are its children.
    QPointer<MainController> self(this);
    zipView->setDragComplete([self](const QList<QUrl>& urls) {
        MainController* screen = self.data();
        if (!screen || screen->sheetIsUp())
            return;
        TrackManager::TrackPage(kHomePage, QStringLiteral("FileZip"));
        screen->showZip(urls);
    });
    unzipView->setDragComplete([self](const QList<QUrl>& urls) {
        MainController* screen = self.data();
        if (!screen || screen->sheetIsUp())
            return;
        TrackManager::TrackPage(kHomePage, QStringLiteral("FileUnZip"));
        screen->showUnzip(urls.value(0));
    });
    rateBtn->hide();
    rateBtn->setFixedWidth(0);
}

void MainController::international()
{
    titleLab->setText(L(QStringLiteral("Zavrin")));
    descLab->setText(L(QStringLiteral("方便快捷 值得信赖")));
    zipLab->setText(L(QStringLiteral("压缩文件")));
    unzipLab->setText(L(QStringLiteral("解压文件")));
    bottomDescLab->setText(L(QStringLiteral("点击上方按钮/拖拽文件至按钮区域")));
    feedbackBtn->setText(L(QStringLiteral("意见反馈")));
    feedbackBtn->setToolTip(L(QStringLiteral("意见反馈")));
    rateBtn->setToolTip(L(QStringLiteral("评分")));
    const auto nameTarget = [this](DragView* view, QPushButton* button, const QLabel* caption) {
        view->setAccessibleName(caption->text());
        button->setAccessibleName(caption->text());
        button->setAccessibleDescription(bottomDescLab->text());
    };
    nameTarget(zipView, zipBtn, zipLab);
    nameTarget(unzipView, unzipBtn, unzipLab);
    feedbackBtn->setAccessibleName(feedbackBtn->text());
    rateBtn->setAccessibleName(rateBtn->toolTip());
}

bool MainController::sheetIsUp() const
{
    return m_zipVc->isPresented() || m_unzipVc->isPresented() || m_progressVc->isPresented();
}

void MainController::zipClick()
{
    openPanel(true);
}

void MainController::unzipClizk()
{
    openPanel(false);
}

void MainController::openPanel(bool forZip)
{
    // One panel at a time; a second press while one is up changes nothing.
    if (m_panelOpen || sheetIsUp())
        return;
    // Recorded before the panel opens, so also when it is cancelled.
    TrackManager::TrackPage(kHomePage, forZip ? QStringLiteral("FileZip") : QStringLiteral("FileUnZip"));
    Panels::OpenRequest request;
    request.canChooseFiles = true;
    request.canChooseDirectories = forZip;
    request.allowsMultipleSelection = forZip;
    if (!forZip)
        request.allowedExtensions = supportedExtensions();
    m_panelOpen = true;
    QPointer<MainController> self(this);
    Panels::shared().open(request, [self, forZip](const QStringList& paths) {
        MainController* screen = self.data();
        if (!screen)
            return;
        screen->m_panelOpen = false;
        emit screen->panelClosed();
        if (paths.isEmpty())
            return;
        qCInfo(lcUi, "选取的文件 %s", qUtf8Printable(paths.join(QStringLiteral(", "))));
        if (forZip)
            screen->showZip(ListHelpers::map(paths, [](const QString& path) { return QUrl::fromLocalFile(path); }));
        else
            screen->showUnzip(QUrl::fromLocalFile(paths.first()));
    });
}

void MainController::showZip(const QList<QUrl>& urls)
{
    if (urls.isEmpty() || sheetIsUp())
        return;
    TrackManager::TrackCompleteRate(QStringLiteral("Complete_Zip"), QStringLiteral("zip_start"), 1);
    m_zipVc->setFileUrls(urls);
    QPointer<MainController> self(this);
    m_zipVc->setZipClick([self](const QString& path, const std::optional<QString>& password, qint64 type, quint64 level,
                             bool open, const std::optional<ZipModel::Custom>& custom) {
        if (MainController* screen = self.data())
            screen->zipConfirmed(path, password, type, level, open, custom);
    });
    m_zipVc->presentAsSheet(this);
}

void MainController::zipConfirmed(const QString& path, const std::optional<QString>& password, qint64 type,
    quint64 level, bool open, const std::optional<ZipModel::Custom>& custom)
{
    m_zipVc->dismissViewController();
    auto model = std::make_shared<ZipModel>();
    model->paths = ListHelpers::map(m_zipVc->fileUrls(), [](const QUrl& url) { return url.toLocalFile(); });
    model->savePath = path;
    model->password = password;
    model->type = type;
    model->level = level;
    model->custom = custom;
    m_progressVc->setModel(model);
    m_progressVc->setIsOpen(open);
    m_progressVc->presentAsSheet(this);
}

bool MainController::isSupportedArchive(const QUrl& url)
{
    // The suffix of the last path component, in any case: "a.ZIP",
    // "b.tar.gz", "c.7z.002" and a folder "d.zip/" all count.
    const QString name = url.isLocalFile() ? url.adjusted(QUrl::StripTrailingSlash).fileName() : QString();
    return !name.isEmpty() && ZipManager::canExtract(name);
}

void MainController::showUnzip(const QUrl& url)
{
    if (sheetIsUp())
        return;
    if (!isSupportedArchive(url)) {
        HUD::showInfoWithStatus(L(QStringLiteral("不支持的文件格式")));
        return;
    }
    TrackManager::TrackCompleteRate(QStringLiteral("Complete_Unzip"), QStringLiteral("unzip_start"), 1);
    m_unzipVc->setFileUrl(url);
    QPointer<MainController> self(this);
    m_unzipVc->setUnzipClick([self](const QString& path, bool open) {
        if (MainController* screen = self.data())
            screen->unzipConfirmed(path, open);
    });
    m_unzipVc->presentAsSheet(this);
}

void MainController::unzipConfirmed(const QString& path, bool open)
{
    m_unzipVc->dismissViewController();
    startUnzip(m_unzipVc->fileUrl().toLocalFile(), path, open, m_unzipVc->extractOptions());
}

void MainController::startUnzip(const QString& archive, const QString& folder, bool open, const ExtractOptions& options)
{
    auto model = std::make_shared<UnzipModel>();
    model->paths = { archive };
    model->savePath = folder;
    model->options = options;
    m_progressVc->setModel(model);
    m_progressVc->setIsOpen(open);
    m_progressVc->presentAsSheet(this);
}

void MainController::extractHere(const QUrl& url)
{
    if (sheetIsUp())
        return;
    const QString folder = QFileInfo(url.toLocalFile()).absolutePath();
    if (!isSupportedArchive(url) || !QFileInfo(url.toLocalFile()).isFile() || !UnzipController::canWriteInto(folder)) {
        showUnzip(url);
        return;
    }
    // The same start of the funnel as an archive opened from the file manager.
    TrackManager::TrackCompleteRate(QStringLiteral("Complete_Unzip"), QStringLiteral("unzip_start"), 1);
    startUnzip(url.toLocalFile(), folder, false);
}

void MainController::feedbackClick()
{
    // A new form for every opening; it deletes itself once closed.
    FeedbackVC::initFromStory()->presentAsModalWindow(this);
}

QUrl MainController::writeReviewUrl(const QString& host, const QString& storeId)
{
    // The identifier goes into the path: only digits, so that it can never
    // reach into the query or another host.
    const bool decimal = !storeId.isEmpty()
        && std::all_of(storeId.cbegin(), storeId.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    if (host.isEmpty() || !decimal)
        return {};
    QUrl url;
    url.setScheme(QStringLiteral("itms-apps"));
    url.setHost(host);
    url.setPath(QStringLiteral("/cn/app/id%1").arg(storeId));
    url.setQuery(QStringLiteral("mt=8&action=write-review"));
    return url.isValid() ? url : QUrl();
}

void MainController::rateClick()
{
    const QUrl url = writeReviewUrl(Bundle::storeHost(), Bundle::storeIdentifier());
    if (!url.isValid()) {
        qCInfo(lcUi, "rating: no store listing is configured (ZAVRIN_STORE_HOST, ZAVRIN_STORE_ID); nothing opened");
        return;
    }
    Workspace::shared().openUrl(url);
}
