#pragma once

#include "engine/JobModels.h"
#include "screens/JobFollower.h"
#include "ui/ViewController.h"

#include <QPointer>
#include <QVariantMap>
#include <functional>
#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;
struct Notification;

// The sheet that runs one job and follows it. 0.2 s after it appears it
// hands the model's job to the engine, then learns about the job only from
// notifications keyed by the job's path: progress moves the bar, success
// shows "100%" and closes the sheet 0.3 s later (unless existing files were
// kept, which it says and waits to be closed); a cancelled password sheet
// closes it at once. A job that ends any other way shows its failure with
// the reason and leaves the sheet for the user to close. Each job has a
// JobFollower of its own that records the success events and opens the
// output, also after the sheet went on to another job. Closing early only
// hides the sheet: the job goes on, and its end is still handled;
// "完成后通知我" also has the desktop tell how it ended.
class ProgressController final : public ViewController {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ProgressController)

public:
    static ProgressController* initFromStory(QWidget* parent = nullptr);
    ~ProgressController() override;

    // A ZipModel for a compression job, an UnzipModel for an extraction.
    void setModel(std::shared_ptr<const UnzipModel> model) { m_model = std::move(model); }
    std::shared_ptr<const UnzipModel> model() const { return m_model; }
    void setIsOpen(bool open) { m_isOpen = open; }
    bool isOpen() const { return m_isOpen; }
    bool isZip() const { return m_isZip; }
    // The follower of the current presentation's job, until the job ends.
    JobFollower* follower() const { return m_follower; }

    // Hands a job to the engine; tests put their own in place (null restores
    // the engine).
    using JobStarter = std::function<void(const std::shared_ptr<const UnzipModel>& model)>;
    static void setJobStarter(JobStarter starter);

public slots:
    void closeClick();
    void doneClick();

protected:
    void viewDidLoad() override;
    void viewWillAppear() override;
    void viewDidAppear() override;
    void international() override;

private:
    explicit ProgressController(QWidget* parent);
    void build();
    void observe(const QString& name, void (ProgressController::*handler)(const Notification&));
    bool isCurrentJob(const Notification& notification) const;
    static void start(const std::shared_ptr<const UnzipModel>& model);
    static void startCompression(const ZipModel& model);
    // Dismisses the sheet after `msecs`, unless that presentation is over
    // by then or the sheet was held open meanwhile.
    void dismissLater(int msecs);
    void holdOpen();
    void setStatus(const QString& text, bool failure);
    void setDetail(const QString& text, bool failure);

    void progressDidChange(const Notification& notification);
    void localFilesDidChange(const Notification& notification);
    void processDidCancel(const Notification& notification);
    // The end of the current job, as its follower saw it.
    void jobDidEnd(const QVariantMap& end);

    std::shared_ptr<const UnzipModel> m_model;
    bool m_isOpen = false;
    bool m_isZip = false;
    bool m_ended = false; // the current job succeeded, was cancelled or failed
    quint64 m_holds = 0; // counts holds; a dismissal scheduled before one is void
    QPointer<JobFollower> m_follower;

    QLabel* titleTf = nullptr;
    QLabel* tipTf = nullptr;
    QLabel* detailTf = nullptr; // the reason of a failure, or the files kept
    QProgressBar* progressIndicator = nullptr;
    QLabel* progressTf = nullptr;
    QPushButton* doneBtn = nullptr;
};
