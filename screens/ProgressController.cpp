#include "screens/ProgressController.h"

#include "engine/JobReasons.h"
#include "engine/NotifyManager.h"
#include "engine/ZipManager.h"
#include "platform/Bundle.h"
#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"
#include "screens/JobFollower.h"
#include "screens/Outlet.h"
#include "ui/ListHelpers.h"
#include "ui/SheetStyle.h"
#include "ui/Styling.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace {

ProgressController::JobStarter& jobStarter()
{
    static ProgressController::JobStarter starter;
    return starter;
}

} // namespace

ProgressController::ProgressController(QWidget* parent)
    : ViewController(parent)
{
}

ProgressController::~ProgressController() = default;

ProgressController* ProgressController::initFromStory(QWidget* parent)
{
    auto* screen = new ProgressController(parent);
    screen->setObjectName(QStringLiteral("ProgressController"));
    screen->build();
    screen->loadViewIfNeeded();
    return screen;
}

void ProgressController::build()
{
    titleTf = Outlet::make<QLabel>(this, "titleTf");
    tipTf = Outlet::make<QLabel>(this, "tipTf");
    detailTf = Outlet::make<QLabel>(this, "detailTf");
    progressIndicator = Outlet::make<QProgressBar>(this, "progressIndicator");
    progressTf = Outlet::make<QLabel>(this, "progressTf");
    doneBtn = Outlet::make<QPushButton>(this, "doneBtn");

    QFont titleFont = titleTf->font();
    if (titleFont.pointSizeF() > 0)
        titleFont.setPointSizeF(titleFont.pointSizeF() * 1.3);
    else
        titleFont.setPixelSize(qRound(titleFont.pixelSize() * 1.3));
    titleFont.setBold(true);
    titleTf->setFont(titleFont);
    tipTf->setWordWrap(true);
    // File names may hold markup characters; long ones wrap anywhere.
    detailTf->setTextFormat(Qt::PlainText);
    detailTf->setWordWrap(true);
    detailTf->setMaximumWidth(80 * SheetStyle::kGrid);
    detailTf->hide();
    progressIndicator->setRange(0, 100);
    progressIndicator->setTextVisible(false);
    progressIndicator->setFixedHeight(2 * SheetStyle::kGrid);
    progressIndicator->setMinimumWidth(72 * SheetStyle::kGrid);
    // Wide enough for the widest text, so the bar keeps its length.
    progressTf->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    progressTf->setMinimumWidth(progressTf->fontMetrics().horizontalAdvance(QStringLiteral("100.00%")) + 2);

    auto* bar = new QHBoxLayout;
    bar->setSpacing(SheetStyle::kColumnSpacing);
    bar->addWidget(progressIndicator, 1);
    bar->addWidget(progressTf);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(
        8 * SheetStyle::kGrid, 7 * SheetStyle::kGrid, 8 * SheetStyle::kGrid, 6 * SheetStyle::kGrid);
    column->setSpacing(2 * SheetStyle::kGrid);
    column->setSizeConstraint(QLayout::SetFixedSize);
    column->addWidget(titleTf);
    column->addWidget(tipTf);
    column->addWidget(detailTf);
    column->addSpacing(3 * SheetStyle::kGrid);
    column->addLayout(bar);
    column->addSpacing(5 * SheetStyle::kGrid);
    column->addWidget(doneBtn, 0, Qt::AlignHCenter);

    connect(doneBtn, &QPushButton::clicked, this, &ProgressController::doneClick);
}

void ProgressController::viewDidLoad()
{
    international();
    SheetStyle::styleSheetWindow(this);
    SheetStyle::stylePrimaryButton(doneBtn, 18.0);
    doneBtn->setMinimumHeight(9 * SheetStyle::kGrid);
    doneBtn->setDefault(true);
    QPalette secondary = tipTf->palette();
    secondary.setColor(QPalette::WindowText, Palette::text2());
    tipTf->setPalette(secondary);

    observe(NotifyManager::ZipProgress(), &ProgressController::progressDidChange);
    observe(NotifyManager::UnzipProgress(), &ProgressController::progressDidChange);
    observe(NotifyManager::LocalFilesDidChange(), &ProgressController::localFilesDidChange);
    observe(NotifyManager::ProcessCancel(), &ProgressController::processDidCancel);
}

void ProgressController::international()
{
    doneBtn->setText(L(QStringLiteral("完成后通知我")));
    progressIndicator->setAccessibleName(L(QStringLiteral("进度")));
}

void ProgressController::observe(const QString& name, void (ProgressController::*handler)(const Notification&))
{
    // Observers go with the screen. Notifications posted off the main thread
    // (a failing 7z job cancels from its worker) are handled on it.
    NotificationCenter::defaultCenter().addObserver(name, this, [this, handler](const Notification& notification) {
        if (MainQueue::isMainThread()) {
            (this->*handler)(notification);
            return;
        }
        QPointer<ProgressController> self(this);
        MainQueue::async([self, handler, notification] {
            if (self)
                (self.get()->*handler)(notification);
        });
    });
}

void ProgressController::viewWillAppear()
{
    m_isZip = m_model && m_model->isZip();
    m_ended = false;
    const QString title = L(m_isZip ? QStringLiteral("压缩") : QStringLiteral("解压"));
    setWindowTitle(title);
    titleTf->setText(title);
    setStatus(L(m_isZip ? QStringLiteral("正在压缩，请稍等···") : QStringLiteral("正在解压，请稍等···")), false);
    setDetail(QString(), false);
    progressIndicator->setValue(0);
    progressTf->setText(QStringLiteral("0.00%"));
    doneBtn->setText(L(QStringLiteral("完成后通知我")));
}

void ProgressController::viewDidAppear()
{
    doneBtn->setFocus();
    if (!m_model)
        return;
    // The job's own follower sees it to its end, whatever this sheet shows then.
    auto* follower = new JobFollower(m_model, m_isOpen, this);
    m_follower = follower;
    connect(follower, &JobFollower::ended, this, [this, follower](const QVariantMap& end) {
        if (m_follower == follower)
            jobDidEnd(end);
    });
    // The job of this presentation, even if another model is set meanwhile.
    QTimer::singleShot(200, this, [model = m_model] { start(model); });
}

void ProgressController::setJobStarter(JobStarter starter)
{
    jobStarter() = std::move(starter);
}

void ProgressController::start(const std::shared_ptr<const UnzipModel>& model)
{
    if (!model)
        return;
    if (jobStarter()) {
        jobStarter()(model);
        return;
    }
    if (const auto* zip = dynamic_cast<const ZipModel*>(model.get())) {
        startCompression(*zip);
        return;
    }
    // Without options, the very call of a plain extraction.
    if (model->hasOptions())
        ZipManager::shared().extract(model->paths.value(0), model->savePath, model->options);
    else
        ZipManager::shared().unzipFileAtPath(model->paths.value(0), model->savePath);
}

void ProgressController::startCompression(const ZipModel& model)
{
    const QList<FileModel> files = ListHelpers::map(model.paths, [](const QString& path) { return FileModel(path); });
    // Speed and size make zip at level 1 or 9 through the zip entry, as
    // they always have; the custom option's format and mode go their own way.
    if (model.custom)
        ZipManager::shared().compressFiles(model.savePath, files, model.compressionOptions());
    else
        ZipManager::shared().zipFileAtPath(model.savePath, files, model.password, model.needSpeed());
}

bool ProgressController::isCurrentJob(const Notification& notification) const
{
    return m_model && notification.object.value(NotifyManager::pathKey()).toString() == m_model->jobKey();
}

void ProgressController::progressDidChange(const Notification& notification)
{
    if (!isCurrentJob(notification) || m_ended)
        return;
    // Multiplied in single precision, shown in double, as the engine reports floats.
    const float percent = notification.object.value(NotifyManager::progressKey()).toFloat() * 100.0f;
    const double shown = static_cast<double>(percent);
    if (!std::isfinite(shown))
        return;
    // The bar ignores values outside its range instead of filling up.
    progressIndicator->setValue(std::clamp(qRound(shown), 0, 100));
    progressTf->setText(QString::asprintf("%.2f%%", shown));
}

void ProgressController::localFilesDidChange(const Notification& notification)
{
    if (!isCurrentJob(notification))
        return;
    m_ended = true;
    progressIndicator->setValue(100);
    progressTf->setText(QStringLiteral("100%"));
    // The success events and the file manager are the job's follower's.
    setStatus(L(m_isZip ? QStringLiteral("压缩完成") : QStringLiteral("解压完成")), false);
    if (isPresented())
        dismissLater(300);
}

void ProgressController::processDidCancel(const Notification& notification)
{
    if (!isCurrentJob(notification) || m_ended)
        return;
    // A cancelled password sheet, or a 7z job that failed: the end of the
    // job, which follows, tells which. Should it never come, the sheet
    // closes as a cancel.
    m_ended = true;
    if (isPresented())
        dismissLater(1000);
}

void ProgressController::jobDidEnd(const QVariantMap& end)
{
    const bool succeeded = end.value(NotifyManager::succeededKey()).toBool();
    const QString status = end.value(NotifyManager::statusKey()).toString();
    if (succeeded) {
        // Existing files kept instead of written deserve a word the user can
        // read: the sheet stays until closed.
        const QString kept = JobReasons::keptText(
            end.value(NotifyManager::keptKey()).toInt(), end.value(NotifyManager::writtenKey()).toInt());
        if (kept.isEmpty())
            return;
        setDetail(kept, false);
        holdOpen();
        return;
    }
    if (status == Outcome::statusName(Outcome::Status::Cancelled)) {
        m_ended = true;
        if (isPresented())
            dismissLater(0);
        return;
    }
    // Any other end is a failure that would otherwise leave the sheet
    // waiting for ever; it says why when the engine knows.
    m_ended = true;
    setStatus(L(m_isZip ? QStringLiteral("创建压缩文件错误") : QStringLiteral("解压文件错误")), true);
    setDetail(JobReasons::text(status, end.value(NotifyManager::subjectKey()).toString()), true);
    holdOpen();
}

void ProgressController::setStatus(const QString& text, bool failure)
{
    // A failure shows in the status line, in a dark orange that reads on
    // white, and in the bar, in the warning orange.
    tipTf->setText(text);
    QPalette palette = tipTf->palette();
    palette.setColor(QPalette::WindowText, failure ? Palette::warningText() : Palette::text2());
    tipTf->setPalette(palette);
    progressIndicator->setStyleSheet(
        QStringLiteral("#progressIndicator{border:none;border-radius:4px;background-color:#F0F1F5;}"
                       "#progressIndicator::chunk{border-radius:4px;background-color:%1;}")
            .arg(failure ? QStringLiteral("#FF890C") : QStringLiteral("#067DFF")));
}

void ProgressController::setDetail(const QString& text, bool failure)
{
    detailTf->setText(text);
    QPalette palette = detailTf->palette();
    palette.setColor(QPalette::WindowText, failure ? Palette::warningText() : Palette::text1());
    detailTf->setPalette(palette);
    detailTf->setVisible(!text.isEmpty());
}

void ProgressController::holdOpen()
{
    ++m_holds;
    doneBtn->setText(L(QStringLiteral("关闭")));
}

void ProgressController::dismissLater(int msecs)
{
    const quint64 presentation = presentationCount();
    const quint64 holds = m_holds;
    QTimer::singleShot(msecs, this, [this, presentation, holds] {
        if (presentationCount() == presentation && m_holds == holds)
            dismissViewController();
    });
}

void ProgressController::closeClick()
{
    dismissViewController();
}

void ProgressController::doneClick()
{
    // Put away while the job runs: the desktop tells how it ended.
    if (JobFollower* follower = m_follower.data(); follower && !m_ended)
        follower->setNotifyWhenDone(true);
    dismissViewController();
}
