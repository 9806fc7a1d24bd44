#pragma once

#include "screens/ArchiveTree.h"
#include "screens/TreeChecks.h"
#include "screens/TreeFilter.h"

#include <QAbstractItemModel>
#include <memory>
#include <unordered_map>

// An archive's tree for the views, read from the tree's arrays as the
// views ask: no item object per entry. Column 0 shows the name with a check
// box (folders tri-state), then size, packed size and modification time.
// A folder hands its children to the views a few thousand at a time
// (canFetchMore/fetchMore), so that neither showing nor expanding a folder
// of a million entries stalls the window. Main thread only.
class ArchiveTreeModel final : public QAbstractItemModel {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ArchiveTreeModel)

public:
    enum Column {
        Name,
        Size,
        Packed,
        Modified,
        ColumnCount,
    };
    // Rows handed over at a time.
    static constexpr int kChunk = 2000;

    explicit ArchiveTreeModel(QObject* parent = nullptr);
    ~ArchiveTreeModel() override;

    // A new tree, all ticked and unfiltered; null empties the model.
    void setTree(std::shared_ptr<const ArchiveTree> tree);
    // Shows only what `filter` (made from the current tree) shows; null shows all.
    void setFilter(std::shared_ptr<const TreeFilter> filter);
    const std::shared_ptr<const ArchiveTree>& tree() const { return m_tree; }
    const TreeChecks* checks() const { return m_checks.get(); }
    const TreeFilter* filter() const { return m_filter.get(); }
    // The node of `index`; 0, the top, for an invalid one.
    int node(const QModelIndex& index) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

private:
    int shownChildren(int node) const;
    int shownRow(int node) const;
    int handedOver(int node) const;
    QVariant display(int node, int column) const;

    std::shared_ptr<const ArchiveTree> m_tree;
    std::unique_ptr<TreeChecks> m_checks;
    std::shared_ptr<const TreeFilter> m_filter;
    // Rows handed to the views so far, for folders of more than kChunk.
    std::unordered_map<int, int> m_handedOver;
};
