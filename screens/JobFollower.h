#pragma once

#include "engine/JobModels.h"

#include <QObject>
#include <QVariantMap>
#include <memory>

struct Notification;

// Follows one job to its end, whatever the progress sheet shows meanwhile
// (the sheet is reused: a second job may take it while the first runs). On
// success it records the success events and opens the output when asked;
// when the sheet was put away with "完成后通知我" it tells the desktop how
// the job ended, with an action that shows the output. It deletes itself
// once the job has ended. Main thread only.
class JobFollower final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(JobFollower)

public:
    JobFollower(std::shared_ptr<const UnzipModel> model, bool openWhenDone, QObject* parent = nullptr);
    ~JobFollower() override;

    QString jobKey() const { return m_model->jobKey(); }
    // Set when the user put the sheet away to be told of the end instead.
    void setNotifyWhenDone(bool on);
    bool notifyWhenDone() const { return m_notifyWhenDone; }

    // The title and the text of the desktop notification for a job that
    // ended with `end` (the payload of "Zavrin.JobDidEnd"); an empty text
    // when the end needs no notification (a cancelled job).
    static QString notificationTitle(const UnzipModel& model);
    static QString notificationBody(const UnzipModel& model, const QVariantMap& end);

signals:
    // The job's last notification has arrived; a cancel told only by
    // "NotifyManager.ProcessCancel" has its status filled in.
    void ended(const QVariantMap& end);

private:
    bool isMine(const Notification& notification) const;
    void onSuccess(const Notification& notification);
    void onCancel(const Notification& notification);
    void onEnd(const Notification& notification);

    const std::shared_ptr<const UnzipModel> m_model;
    const bool m_openWhenDone;
    bool m_notifyWhenDone = false;
    bool m_succeeded = false;
    bool m_cancelPosted = false;
};
