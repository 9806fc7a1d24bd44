#pragma once

#include "engine/ExtractionJob.h"
#include "ui/ViewController.h"

#include <QUrl>
#include <functional>

class ArchivePreview;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The sheet that sets up the extraction of one archive: the output folder,
// whether to open it when done, whether the entries go into a folder named
// after the archive, and, with "文档预览" ticked, the archive's contents to
// look at and tick (the sheet grows to show them). On confirm it makes sure
// the folder can be written (asking for another one in a folder panel until
// it can, or the panel is cancelled) and hands the folder to `unzipClick`,
// once per presentation. It builds no job and does not dismiss itself on
// confirm. The two new boxes keep their state across launches.
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
    // What the last confirm chose beyond the folder: the folder named after
    // the archive and, with the preview ticked, the entries ticked and the
    // password that opened the names. None set: a plain extraction. Read by
    // the home screen in its confirm handler, like `fileUrl`.
    const ExtractOptions& extractOptions() const { return m_extractOptions; }
    ArchivePreview* preview() const { return m_preview; }
    // Where the boxes' states are kept (Defaults).
    static QString previewCheckKey() { return QStringLiteral("Unzip.previewCheck"); }
    static QString ownFolderCheckKey() { return QStringLiteral("Unzip.ownFolderCheck"); }

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
    void previewToggled(bool on);
    // The sheet's size follows its content, around the same centre.
    void fitToContent(QPoint centre);
    ExtractOptions chosenOptions() const;

    QUrl m_fileUrl;
    UnzipClick m_unzipClick;
    bool m_panelOpen = false; // a folder panel is waiting for its answer
    bool m_confirmed = false; // `unzipClick` ran in this presentation
    ExtractOptions m_extractOptions;

    QLabel* archiveLab = nullptr; // the archive's name, cut in the middle when long
    QLabel* archiveSizeLab = nullptr;
    QLabel* exportPathLab = nullptr;
    QLineEdit* pathTf = nullptr;
    QPushButton* changPathBtn = nullptr;
    QCheckBox* openCheck = nullptr;
    QCheckBox* ownFolderCheck = nullptr;
    QCheckBox* previewCheck = nullptr;
    ArchivePreview* m_preview = nullptr;
    QPushButton* cancelBtn = nullptr;
    QPushButton* unzipBtn = nullptr;
};
