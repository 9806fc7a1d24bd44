#pragma once

#include "engine/JobModels.h"
#include "ui/ViewController.h"

#include <functional>
#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;
struct Notification;

// The sheet that runs one job and follows it. 0.2 s after it appears it
// hands the model's job to the engine, then learns about the job only from
// notifications keyed by the job's path: progress moves the bar, success
// shows "100%", records the success events, shows the output in the file
// manager when asked and closes the sheet 0.3 s later; a cancelled password
// sheet closes it at once. A job that ends any other way shows its failure
// and leaves the sheet for the user to close. Closing early only hides the
// sheet: the job goes on, and its end is still handled.
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
    // Dismisses the sheet after `msecs`, unless that presentation is over by then.
    void dismissLater(int msecs);
    void setStatus(const QString& text, bool failure);

    void progressDidChange(const Notification& notification);
    void localFilesDidChange(const Notification& notification);
    void processDidCancel(const Notification& notification);
    void jobDidEnd(const Notification& notification);

    std::shared_ptr<const UnzipModel> m_model;
    bool m_isOpen = false;
    bool m_isZip = false;
    bool m_ended = false; // the current job succeeded, was cancelled or failed

    QLabel* titleTf = nullptr;
    QLabel* tipTf = nullptr;
    QProgressBar* progressIndicator = nullptr;
    QLabel* progressTf = nullptr;
    QPushButton* doneBtn = nullptr;
};
