#pragma once

#include "engine/StopToken.h"

#include <QWidget>
#include <memory>
#include <optional>
#include <vector>

class ArchiveListing;
class ArchiveTreeModel;
class EntryOpener;
class ListingLoader;
class QLabel;
class QLineEdit;
class QProgressBar;
class QStackedLayout;
class QTimer;
class QTreeView;
class TreeFilter;

// What the extraction sheet shows of an archive when "文档预览" is ticked:
// a filter field ("filterTf"), the tree of entries ("previewTree") with a
// check box on every row, and a summary line ("summaryLab"); while the
// archive is read, a busy bar ("previewBusy") and a status line
// ("previewStatusLab") take the tree's place. Ticking a folder ticks all
// below it, whether the filter shows it or not. A double click or Enter on
// a file opens it (EntryOpener); Ctrl+C copies the selected rows' paths.
// Main thread only.
class ArchivePreview final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ArchivePreview)

public:
    // Filters over trees up to this many nodes run at once on the main thread.
    static constexpr int kFilterInline = 20000;

    explicit ArchivePreview(QWidget* parent = nullptr);
    ~ArchivePreview() override;

    // Lists `archive`, unless it is the one shown or being read.
    void load(const QString& archive);
    // Stops reading and forgets the archive.
    void clear();
    // Shows `listing` as what `archive` holds, as if it had been read.
    void showListing(const QString& archive, std::shared_ptr<const ArchiveListing> listing);
    void international();

    // The tree is shown.
    bool isLoaded() const;
    bool noneTicked() const;
    // What is ticked, by listing position; no value when all is, or when
    // no tree is shown.
    std::optional<std::vector<bool>> selection() const;
    // The password that opened the archive's encrypted names.
    std::optional<QString> password() const;

    ArchiveTreeModel* model() const { return m_model; }
    EntryOpener* opener() const { return m_opener; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildView();
    void onLoaderChanged();
    void filterNow();
    void showFilter(std::shared_ptr<const TreeFilter> filter);
    void expandSome();
    void updateSummary();
    void fetchBelowViewport();
    void openRow(const QModelIndex& index);
    void copyRows() const;

    ListingLoader* m_loader = nullptr;
    ArchiveTreeModel* m_model = nullptr;
    EntryOpener* m_opener = nullptr;
    QTimer* m_filterDelay = nullptr;
    QTimer* m_busyDelay = nullptr;
    StopToken m_filterStop; // the filter running on a worker

    QLineEdit* filterTf = nullptr;
    QTreeView* previewTree = nullptr;
    QLabel* summaryLab = nullptr;
    QProgressBar* previewBusy = nullptr;
    QLabel* previewStatusLab = nullptr;
    QStackedLayout* m_pages = nullptr;
};
