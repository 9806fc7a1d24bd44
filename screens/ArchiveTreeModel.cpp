#include "screens/ArchiveTreeModel.h"

#include "platform/Bundle.h"
#include "platform/MainQueue.h"
#include "screens/ItemSummary.h"

#include <QApplication>
#include <QDateTime>
#include <QIcon>
#include <QStyle>
#include <algorithm>
#include <utility>

namespace {

const QIcon& folderIcon()
{
    static const QIcon icon = QApplication::style()->standardIcon(QStyle::SP_DirIcon);
    return icon;
}

const QIcon& fileIcon()
{
    static const QIcon icon = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    return icon;
}

const QIcon& lockIcon()
{
    static const QIcon icon(QStringLiteral(":/icons/entry_lock.svg"));
    return icon;
}

// Gives back what a big tree holds on a worker: a million entries' arrays
// keep the main thread busy for tens of milliseconds.
void releaseOnWorker(std::shared_ptr<const ArchiveTree> tree, std::unique_ptr<TreeChecks> checks,
    std::shared_ptr<const TreeFilter> filter)
{
    constexpr int kBig = 100000;
    if (!tree || tree->nodeCount() < kBig)
        return;
    struct Leftovers {
        std::shared_ptr<const ArchiveTree> tree;
        std::unique_ptr<TreeChecks> checks;
        std::shared_ptr<const TreeFilter> filter;
    };
    auto leftovers = std::make_shared<Leftovers>(Leftovers { std::move(tree), std::move(checks), std::move(filter) });
    WorkerPool::async([leftovers] {
        leftovers->checks.reset();
        leftovers->filter.reset();
        leftovers->tree.reset();
    });
}

} // namespace

ArchiveTreeModel::ArchiveTreeModel(QObject* parent)
    : QAbstractItemModel(parent)
{
}

ArchiveTreeModel::~ArchiveTreeModel() = default;

void ArchiveTreeModel::setTree(std::shared_ptr<const ArchiveTree> tree)
{
    beginResetModel();
    std::shared_ptr<const ArchiveTree> previous = std::exchange(m_tree, std::move(tree));
    std::unique_ptr<TreeChecks> previousChecks
        = std::exchange(m_checks, m_tree ? std::make_unique<TreeChecks>(m_tree) : nullptr);
    std::shared_ptr<const TreeFilter> previousFilter = std::exchange(m_filter, nullptr);
    m_handedOver.clear();
    endResetModel();
    releaseOnWorker(std::move(previous), std::move(previousChecks), std::move(previousFilter));
}

void ArchiveTreeModel::setFilter(std::shared_ptr<const TreeFilter> filter)
{
    beginResetModel();
    m_filter = m_tree ? std::move(filter) : nullptr;
    m_handedOver.clear();
    endResetModel();
}

int ArchiveTreeModel::node(const QModelIndex& index) const
{
    return index.isValid() ? static_cast<int>(index.internalId()) : 0;
}

int ArchiveTreeModel::shownChildren(int node) const
{
    if (!m_tree)
        return 0;
    return m_filter ? m_filter->childCount(node) : m_tree->childCount(node);
}

int ArchiveTreeModel::shownRow(int node) const
{
    return m_filter ? m_filter->row(node) : m_tree->row(node);
}

int ArchiveTreeModel::handedOver(int node) const
{
    const int all = shownChildren(node);
    if (all <= kChunk)
        return all;
    const auto found = m_handedOver.find(node);
    return found == m_handedOver.end() ? kChunk : found->second;
}

QModelIndex ArchiveTreeModel::index(int row, int column, const QModelIndex& parent) const
{
    if (!m_tree || column < 0 || column >= ColumnCount || (parent.isValid() && parent.column() != 0))
        return {};
    const int folder = node(parent);
    if (row < 0 || row >= handedOver(folder))
        return {};
    const int child = m_filter ? m_filter->child(folder, row) : m_tree->child(folder, row);
    return createIndex(row, column, static_cast<quintptr>(child));
}

QModelIndex ArchiveTreeModel::parent(const QModelIndex& child) const
{
    if (!m_tree || !child.isValid())
        return {};
    const int up = m_tree->parent(node(child));
    if (up <= 0)
        return {};
    return createIndex(shownRow(up), 0, static_cast<quintptr>(up));
}

int ArchiveTreeModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() && parent.column() != 0)
        return 0;
    return handedOver(node(parent));
}

int ArchiveTreeModel::columnCount(const QModelIndex&) const
{
    return ColumnCount;
}

bool ArchiveTreeModel::hasChildren(const QModelIndex& parent) const
{
    return rowCount(parent) > 0;
}

bool ArchiveTreeModel::canFetchMore(const QModelIndex& parent) const
{
    const int folder = node(parent);
    return handedOver(folder) < shownChildren(folder);
}

void ArchiveTreeModel::fetchMore(const QModelIndex& parent)
{
    const int folder = node(parent);
    const int from = handedOver(folder);
    const int to = std::min(shownChildren(folder), from + kChunk);
    if (to <= from)
        return;
    beginInsertRows(parent, from, to - 1);
    m_handedOver[folder] = to;
    endInsertRows();
}

QVariant ArchiveTreeModel::display(int node, int column) const
{
    const int entry = m_tree->entry(node);
    switch (column) {
    case Name:
        return m_tree->displayName(node);
    case Size: {
        const qint64 bytes = m_tree->size(node);
        return bytes < 0 ? QString() : ItemSummary::formatSize(bytes);
    }
    case Packed: {
        const qint64 bytes = m_tree->packedSize(node);
        return bytes < 0 ? QString() : ItemSummary::formatSize(bytes);
    }
    case Modified: {
        const std::optional<qint64> seconds = entry < 0 ? std::nullopt : m_tree->listing().modified(entry);
        // One form in every language, which sorts and compares at a glance.
        return seconds ? QDateTime::fromSecsSinceEpoch(*seconds).toString(QStringLiteral("yyyy-MM-dd HH:mm"))
                       : QString();
    }
    default:
        return {};
    }
}

QVariant ArchiveTreeModel::data(const QModelIndex& index, int role) const
{
    if (!m_tree || !index.isValid())
        return {};
    const int n = node(index);
    const int entry = m_tree->entry(n);
    const bool encrypted = entry >= 0 && m_tree->listing().encrypted(entry);
    switch (role) {
    case Qt::DisplayRole:
        return display(n, index.column());
    case Qt::CheckStateRole:
        if (index.column() == Name)
            return m_checks->state(n);
        return {};
    case Qt::DecorationRole:
        if (index.column() != Name)
            return {};
        if (m_tree->isFolder(n))
            return folderIcon();
        return encrypted ? lockIcon() : fileIcon();
    case Qt::ToolTipRole:
        if (index.column() != Name)
            return {};
        return encrypted ? m_tree->path(n) + u'\n' + L(QStringLiteral("已加密")) : m_tree->path(n);
    case Qt::TextAlignmentRole:
        if (index.column() == Size || index.column() == Packed)
            return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
        return {};
    default:
        return {};
    }
}

bool ArchiveTreeModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!m_tree || !index.isValid() || role != Qt::CheckStateRole || index.column() != Name)
        return false;
    const int n = node(index);
    m_checks->set(n, static_cast<Qt::CheckState>(value.toInt()) == Qt::Checked);
    const QList<int> roles { Qt::CheckStateRole };
    emit dataChanged(index, index, roles);
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent())
        emit dataChanged(up, up, roles);
    // One signal for what is shown below; a view repaints what it shows.
    if (const int rows = rowCount(index); rows > 0)
        emit dataChanged(this->index(0, Name, index), this->index(rows - 1, Name, index), roles);
    return true;
}

Qt::ItemFlags ArchiveTreeModel::flags(const QModelIndex& index) const
{
    if (!m_tree || !index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == Name)
        flags |= Qt::ItemIsUserCheckable;
    if (!m_tree->isFolder(node(index)))
        flags |= Qt::ItemNeverHasChildren;
    return flags;
}

QVariant ArchiveTreeModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::TextAlignmentRole && (section == Size || section == Packed))
        return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
    if (role != Qt::DisplayRole)
        return {};
    switch (section) {
    case Name:
        return L(QStringLiteral("名称"));
    case Size:
        return L(QStringLiteral("大小"));
    case Packed:
        return L(QStringLiteral("压缩后大小"));
    case Modified:
        return L(QStringLiteral("修改时间"));
    default:
        return {};
    }
}
