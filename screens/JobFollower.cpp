#include "screens/JobFollower.h"

#include "engine/JobReasons.h"
#include "engine/NotifyManager.h"
#include "platform/Bundle.h"
#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"
#include "platform/Workspace.h"
#include "telemetry/TrackManager.h"
#include "ui/DesktopNotifications.h"

#include <QFileInfo>
#include <QPointer>

JobFollower::JobFollower(std::shared_ptr<const UnzipModel> model, bool openWhenDone, QObject* parent)
    : QObject(parent)
    , m_model(std::move(model))
    , m_openWhenDone(openWhenDone)
{
    NotificationCenter& center = NotificationCenter::defaultCenter();
    // Both are posted on the main thread; the hop keeps a stray worker post
    // from touching the follower elsewhere.
    const auto onMain = [this](void (JobFollower::*handler)(const Notification&)) {
        return [this, handler](const Notification& notification) {
            if (MainQueue::isMainThread()) {
                (this->*handler)(notification);
                return;
            }
            QPointer<JobFollower> self(this);
            MainQueue::async([self, handler, notification] {
                if (self)
                    (self.get()->*handler)(notification);
            });
        };
    };
    center.addObserver(NotifyManager::LocalFilesDidChange(), this, onMain(&JobFollower::onSuccess));
    center.addObserver(NotifyManager::ProcessCancel(), this, onMain(&JobFollower::onCancel));
    center.addObserver(NotifyManager::JobDidEnd(), this, onMain(&JobFollower::onEnd));
}

JobFollower::~JobFollower() = default;

void JobFollower::setNotifyWhenDone(bool on)
{
    m_notifyWhenDone = on;
}

bool JobFollower::isMine(const Notification& notification) const
{
    return notification.object.value(NotifyManager::pathKey()).toString() == m_model->jobKey();
}

void JobFollower::onSuccess(const Notification& notification)
{
    if (!isMine(notification) || m_succeeded)
        return;
    m_succeeded = true;
    if (m_model->isZip()) {
        TrackManager::TrackPage(QStringLiteral("VC_FileZip"), QStringLiteral("FileZipSuccess"));
        TrackManager::TrackCompleteRate(QStringLiteral("Complete_Zip"), QStringLiteral("zip_success"), 99);
    } else {
        TrackManager::TrackPage(QStringLiteral("VC_FileUnZip"), QStringLiteral("FileUnZipSuccess"));
        TrackManager::TrackCompleteRate(QStringLiteral("Complete_Unzip"), QStringLiteral("unzip_success"), 99);
    }
    // The new archive is shown selected in its folder. An extraction's folder
    // is opened with the job's end, which names the folder that received the
    // files (one named after the archive, perhaps) and follows at once.
    if (m_openWhenDone && m_model->isZip())
        Workspace::shared().openInFileManager(m_model->savePath);
}

void JobFollower::onCancel(const Notification& notification)
{
    if (isMine(notification))
        m_cancelPosted = true;
}

void JobFollower::onEnd(const Notification& notification)
{
    if (!isMine(notification))
        return;
    QVariantMap end = notification.object;
    // An end that says no more than a cancel before it said was a cancel.
    if (m_cancelPosted && !end.contains(NotifyManager::statusKey()))
        end.insert(NotifyManager::statusKey(), Outcome::statusName(Outcome::Status::Cancelled));
    const bool succeeded = end.value(NotifyManager::succeededKey()).toBool();
    const QString output
        = m_model->isZip() ? m_model->savePath : end.value(NotifyManager::outputKey(), m_model->savePath).toString();
    if (succeeded && m_succeeded && m_openWhenDone && !m_model->isZip())
        Workspace::shared().openInFileManager(output);
    if (m_notifyWhenDone) {
        const QString body = notificationBody(*m_model, end);
        if (!body.isEmpty()) {
            std::function<void()> show;
            if (succeeded)
                show = [output] { Workspace::shared().openInFileManager(output); };
            DesktopNotifications::shared().notify(
                notificationTitle(*m_model), body, L(QStringLiteral("在文件管理器中显示")), std::move(show));
        }
    }
    emit ended(end);
    // Observers go with the follower; nothing of this job is left to come.
    deleteLater();
}

QString JobFollower::notificationTitle(const UnzipModel& model)
{
    return QFileInfo(model.isZip() ? model.savePath : model.paths.value(0)).fileName();
}

QString JobFollower::notificationBody(const UnzipModel& model, const QVariantMap& end)
{
    const bool zip = model.isZip();
    if (end.value(NotifyManager::succeededKey()).toBool()) {
        QString body = L(zip ? QStringLiteral("压缩完成") : QStringLiteral("解压完成"));
        const QString kept = JobReasons::keptText(
            end.value(NotifyManager::keptKey()).toInt(), end.value(NotifyManager::writtenKey()).toInt());
        if (!kept.isEmpty())
            body += u'\n' + kept;
        return body;
    }
    const QString status = end.value(NotifyManager::statusKey()).toString();
    // The user stopped it (or the program is quitting): nothing to tell.
    if (status == Outcome::statusName(Outcome::Status::Cancelled))
        return {};
    QString body = L(zip ? QStringLiteral("创建压缩文件错误") : QStringLiteral("解压文件错误"));
    const QString reason = JobReasons::text(status, end.value(NotifyManager::subjectKey()).toString());
    if (!reason.isEmpty())
        body += u'\n' + reason;
    return body;
}
