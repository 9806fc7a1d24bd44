#pragma once

#include "engine/JobModels.h"
#include "ui/ViewController.h"

#include <QList>
#include <QPoint>
#include <QUrl>
#include <functional>
#include <optional>

class CustomOptionsView;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The sheet that sets up the packing of items into one archive: its path,
// fast or small zip or a format and mode of the custom panel, an optional
// password and whether to show the archive when done. The destination is
// always confirmed in a save panel: the first confirm of a presentation
// opens it unless "更换目录" already did. Two password fields that differ in
// any way shake the password view and pass nothing on; a password with a
// tar format, and a custom archive whose name is taken, are refused with a
// note on the sheet. Each presentation starts from the defaults; "open when
// done" and the custom panel's choice are kept. It builds no job and does
// not dismiss itself on confirm.
class ZipController final : public ViewController {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZipController)

public:
    // `custom` has a value exactly when the custom option was chosen; `type`
    // is then its format's number (ZipModel::typeOf), else 0 for zip.
    using ZipClick = std::function<void(const QString& path, const std::optional<QString>& password, qint64 type,
        quint64 level, bool open, const std::optional<ZipModel::Custom>& custom)>;

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
    void onCustomChoiceChanged();
    CompressionOptions::Format chosenFormat() const;
    // Gives the path field the chosen format's suffix.
    void followFormat();
    bool tarWithPassword() const;
    // Shows why the confirm cannot go on, if anything says so.
    void updateNote();
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
    QString m_refusal; // why the last confirm stopped, until the path changes
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
    CustomOptionsView* customOptionsView = nullptr; // holds `formatMenu` and `modeMenu`
    QCheckBox* addPasswordBtn = nullptr;
    QWidget* passwordView = nullptr;
    QLabel* passwordLab = nullptr;
    QLineEdit* passwordTf = nullptr;
    QLabel* password2Lab = nullptr;
    QLineEdit* password2Tf = nullptr;
    QLabel* noteLab = nullptr; // why the confirm cannot go on
    QCheckBox* openCheck = nullptr;
    QPushButton* cancelBtn = nullptr;
    QPushButton* zipBtn = nullptr;
};
