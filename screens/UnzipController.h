#pragma once

#include "ui/ViewController.h"

#include <QUrl>
#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The sheet that sets up the extraction of one archive: the output folder
// and whether to open it when done. On confirm it makes sure the folder can
// be written (asking for another one in a folder panel until it can, or the
// panel is cancelled) and hands the folder to `unzipClick`, once per
// presentation. It builds no job and does not dismiss itself on confirm.
class UnzipController final : public ViewController {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UnzipController)

public:
    using UnzipClick = std::function<void(const QString& path, bool open)>;

    static UnzipController* initFromStory(QWidget* parent = nullptr);
    ~UnzipController() override;

    void setFileUrl(const QUrl& url) { m_fileUrl = url; }
    QUrl fileUrl() const { return m_fileUrl; }
    void setUnzipClick(UnzipClick action) { m_unzipClick = std::move(action); }

    // The user's desktop folder (XDG), the home folder when it does not
    // exist; links resolved.
    static QString desktopFolder();
    // Whether extraction may write into `path`: an absolute path of a folder
    // this process can write.
    static bool canWriteInto(const QString& path);

public slots:
    void modifyPathClick();
    void openSelectPathAndContinue(bool continueAfterPick);
    void unzipClick();
    void cancelClick();

protected:
    void viewDidLoad() override;
    void viewWillAppear() override;
    void viewDidAppear() override;
    void international() override;

private:
    explicit UnzipController(QWidget* parent);

    QUrl m_fileUrl;
    UnzipClick m_unzipClick;
    bool m_panelOpen = false; // a folder panel is waiting for its answer
    bool m_confirmed = false; // `unzipClick` ran in this presentation

    QLabel* archiveLab = nullptr; // the archive's name, cut in the middle when long
    QLabel* archiveSizeLab = nullptr;
    QLabel* exportPathLab = nullptr;
    QLineEdit* pathTf = nullptr;
    QPushButton* changPathBtn = nullptr;
    QCheckBox* openCheck = nullptr;
    QCheckBox* previewCheck = nullptr;
    QPushButton* cancelBtn = nullptr;
    QPushButton* unzipBtn = nullptr;
};
