#pragma once

#include "ui/ViewController.h"

#include <QList>
#include <QPoint>
#include <QUrl>
#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The sheet that sets up the packing of items into one zip archive: its
// path, fast or small, an optional password and whether to show the archive
// when done. The destination is always confirmed in a save panel: the first
// confirm of a presentation opens it unless "更换目录" already did. Two
// password fields that differ in any way shake the password view and pass
// nothing on. Each presentation starts from the defaults; only "open when
// done" is kept. It builds no job and does not dismiss itself on confirm.
class ZipController final : public ViewController {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZipController)

public:
    using ZipClick = std::function<void(
        const QString& path, const std::optional<QString>& password, qint64 type, quint64 level, bool open)>;

    static ZipController* initFromStory(QWidget* parent = nullptr);
    ~ZipController() override;

    void setFileUrls(const QList<QUrl>& urls) { m_fileUrls = urls; }
    QList<QUrl> fileUrls() const { return m_fileUrls; }
    void setZipClick(ZipClick action) { m_zipClick = std::move(action); }

    QString sourceFolder() const { return m_sourceFolder; }
    bool hadOpenFolder() const { return m_hadOpenFolder; }

public slots:
    void modifyPathClick();
    void openSelectPathAndContinue(bool continueAfterPick);
    void speedClick();
    void sizeClick();
    void customClick();
    void addPasswordClick();
    void zipClick();
    void cancelClick();

protected:
    void viewDidLoad() override;
    void viewWillAppear() override;
    void viewDidAppear() override;
    void international() override;

private:
    explicit ZipController(QWidget* parent);
    void build();
    void selectOption(QRadioButton* option);
    void showSubject();
    // Thirteen offsets of ±15 px over half a second, then back in place.
    void shakePasswordView();

    QList<QUrl> m_fileUrls;
    ZipClick m_zipClick;
    QString m_sourceFolder;
    bool m_hadOpenFolder = false;
    std::optional<QString> m_password;
    bool m_panelOpen = false; // a save panel is waiting for its answer
    bool m_confirmed = false; // `zipClick` ran in this presentation
    QPoint m_shakeOrigin;

    QLabel* subjectLab = nullptr; // what will be packed: "N items" or the item's name
    QLabel* subjectSizeLab = nullptr; // their size, once a worker has added it up
    QLabel* exportPathLab = nullptr;
    QLineEdit* pathTf = nullptr;
    QPushButton* changPathBtn = nullptr;
    QLabel* compressOpnttionLab = nullptr;
    QRadioButton* speedBtn = nullptr;
    QRadioButton* sizeBtn = nullptr;
    QRadioButton* customBtn = nullptr;
    QWidget* customOptionsView = nullptr;
    QComboBox* formatMenu = nullptr;
    QComboBox* modeMenu = nullptr;
    QCheckBox* addPasswordBtn = nullptr;
    QWidget* passwordView = nullptr;
    QLabel* passwordLab = nullptr;
    QLineEdit* passwordTf = nullptr;
    QLabel* password2Lab = nullptr;
    QLineEdit* password2Tf = nullptr;
    QCheckBox* openCheck = nullptr;
    QPushButton* cancelBtn = nullptr;
    QPushButton* zipBtn = nullptr;
};
