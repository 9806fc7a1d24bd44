#pragma once

#include "engine/ExtractionJob.h"
#include "engine/JobModels.h"

#include <QList>
#include <QUrl>
#include <QWidget>
#include <optional>

class DragView;
class ProgressController;
class QLabel;
class QPushButton;
class QToolButton;
class UnzipController;
class ZipController;

// The home screen, the content of the main window, where every job begins.
// Two targets, compress and extract, take a click (a file panel) or a drop;
// each leads to its setup sheet, whose confirm builds the job and presents
// the progress sheet. The three sheets are made once and reused for every
// job. Only one sheet of the home screen is up at a time: a route that
// arrives while one is up does nothing. Main thread only.
class MainController final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainController)

public:
    explicit MainController(QWidget* parent = nullptr);
    ~MainController() override;

    ZipController* zipVc() const { return m_zipVc; }
    UnzipController* unzipVc() const { return m_unzipVc; }
    ProgressController* progressVc() const { return m_progressVc; }
    // A sheet of the home screen is up, or one of its panels awaits an answer.
    bool isBusy() const { return m_panelOpen || sheetIsUp(); }

    // The archive extensions extraction takes, compared in lower case.
    static const QStringList& supportedExtensions();
    // The store's write-review page for the listing `storeId` on `host`;
    // invalid unless both are set and the identifier is a decimal number.
    static QUrl writeReviewUrl(const QString& host, const QString& storeId);

public slots:
    void zipClick();
    void unzipClizk();
    // Presents the compression setup for `urls`, in their order.
    void showZip(const QList<QUrl>& urls);
    // Presents the extraction setup for `url` when its extension is
    // supported; shows "不支持的文件格式" otherwise.
    void showUnzip(const QUrl& url);
    // Extracts `url` into its own folder with the progress sheet alone
    // (never overwriting); a folder that cannot be written, or an archive
    // of another type, goes the way of `showUnzip`.
    void extractHere(const QUrl& url);
    void feedbackClick();
    void rateClick();

signals:
    // A file panel of the home screen has answered.
    void panelClosed();

private:
    static bool isSupportedArchive(const QUrl& url);
    void buildView();
    QWidget* buildTarget(DragView* view, QPushButton* button, QLabel* caption, const QString& iconName);
    void viewDidLoad();
    void setupUI();
    void international();
    bool sheetIsUp() const;
    void openPanel(bool forZip);
    void zipConfirmed(const QString& path, const std::optional<QString>& password, qint64 type, quint64 level,
        bool open, const std::optional<ZipModel::Custom>& custom);
    void unzipConfirmed(const QString& path, bool open);
    void startUnzip(const QString& archive, const QString& folder, bool open, const ExtractOptions& options = {});

    QLabel* titleLab = nullptr;
    QLabel* descLab = nullptr;
    QLabel* zipLab = nullptr;
    QLabel* unzipLab = nullptr;
    QLabel* bottomDescLab = nullptr;
    DragView* zipView = nullptr;
    DragView* unzipView = nullptr;
    QPushButton* zipBtn = nullptr;
    QPushButton* unzipBtn = nullptr;
    QToolButton* feedbackBtn = nullptr;
    QToolButton* rateBtn = nullptr;

    ZipController* m_zipVc = nullptr;
    UnzipController* m_unzipVc = nullptr;
    ProgressController* m_progressVc = nullptr;
    bool m_panelOpen = false; // a file panel of the home screen awaits its answer
};
