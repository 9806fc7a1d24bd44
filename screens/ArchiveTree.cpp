#include "screens/ArchiveTree.h"

#include <QStringList>
#include <algorithm>
#include <string_view>
#include <unordered_map>

namespace {

constexpr int kStopEvery = 4096;

unsigned char folded(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte + ('a' - 'A')) : byte;
}

// ASCII letters without regard to case first, so that "b" sorts between
// "A" and "C"; the bytes decide between names that differ only in case.
int compareNames(std::string_view a, std::string_view b)
{
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        if (folded(a[i]) != folded(b[i]))
            return folded(a[i]) < folded(b[i]) ? -1 : 1;
    }
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    const int bytes = a.compare(b);
    return bytes < 0 ? -1 : (bytes > 0 ? 1 : 0);
}

struct FolderKey {
    int parent;
    std::string_view name;
    bool operator==(const FolderKey& other) const { return parent == other.parent && name == other.name; }
};

struct FolderKeyHash {
    std::size_t operator()(const FolderKey& key) const
    {
        return std::hash<std::string_view>()(key.name) * 31u + static_cast<std::size_t>(key.parent);
    }
};

} // namespace

// Builds in three passes: nodes in the order the listing names them, then
// each node's children sorted, then everything renumbered depth first.
class ArchiveTreeBuilder final {
public:
    explicit ArchiveTreeBuilder(const std::function<bool()>& stop)
        : m_stop(stop)
    {
    }

    std::shared_ptr<ArchiveTree> build(std::shared_ptr<const ArchiveListing> listing);

private:
    struct Raw {
        int parent;
        int entry;
        int nameEntry;
        quint32 offset;
        quint32 length;
        bool folder;
    };

    bool stopped(qsizetype step) const { return m_stop && step % kStopEvery == 0 && m_stop(); }
    std::string_view nameOf(const Raw& raw) const
    {
        if (raw.nameEntry < 0)
            return {};
        const QByteArrayView path = m_listing->pathBytes(raw.nameEntry);
        return std::string_view(path.data() + raw.offset, raw.length);
    }
    int folderChild(int parent, int entry, quint32 offset, quint32 length);
    bool addEntries();
    bool sortChildren();
    void renumber(ArchiveTree& tree) const;

    const std::function<bool()>& m_stop;
    std::shared_ptr<const ArchiveListing> m_listing;
    std::vector<Raw> m_raw;
    std::unordered_map<FolderKey, int, FolderKeyHash> m_folders;
    std::vector<int> m_rawNodeOfEntry;
    // Each raw node's children, sorted, one after the other.
    std::vector<int> m_childStart;
    std::vector<int> m_children;
};

int ArchiveTreeBuilder::folderChild(int parent, int entry, quint32 offset, quint32 length)
{
    const QByteArrayView path = m_listing->pathBytes(entry);
    const FolderKey key { parent, std::string_view(path.data() + offset, length) };
    const auto found = m_folders.find(key);
    if (found != m_folders.end())
        return found->second;
    const int node = static_cast<int>(m_raw.size());
    m_raw.push_back({ parent, -1, entry, offset, length, true });
    m_folders.emplace(key, node);
    return node;
}

bool ArchiveTreeBuilder::addEntries()
{
    const qsizetype entries = m_listing->size();
    m_raw.reserve(static_cast<std::size_t>(entries) + 1);
    m_raw.push_back({ -1, -1, -1, 0, 0, true });
    m_rawNodeOfEntry.assign(static_cast<std::size_t>(entries), 0);
    // The folders of the previous entry's path: listings mostly name a
    // folder's entries one after the other, which then skip the lookups.
    std::vector<std::pair<std::string_view, int>> chain;
    std::vector<std::pair<quint32, quint32>> parts;
    for (qsizetype i = 0; i < entries; ++i) {
        if (stopped(i))
            return false;
        const QByteArrayView path = m_listing->pathBytes(i);
        parts.clear();
        for (qsizetype start = 0; start <= path.size();) {
            qsizetype end = path.indexOf('/', start);
            if (end < 0)
                end = path.size();
            const QByteArrayView part = path.sliced(start, end - start);
            if (!part.isEmpty() && part != QByteArrayView("."))
                parts.emplace_back(static_cast<quint32>(start), static_cast<quint32>(part.size()));
            start = end + 1;
        }
        const int entry = static_cast<int>(i);
        const bool folder = m_listing->kind(i) == ArchiveEntry::Kind::Folder;
        if (parts.empty() && folder)
            continue; // "/" or "./": the top itself
        if (parts.empty())
            parts.emplace_back(0u, static_cast<quint32>(path.size()));
        int parent = 0;
        for (std::size_t d = 0; d + 1 < parts.size(); ++d) {
            const std::string_view name(path.data() + parts[d].first, parts[d].second);
            if (d < chain.size() && chain[d].first == name) {
                parent = chain[d].second;
                continue;
            }
            chain.resize(d);
            parent = folderChild(parent, entry, parts[d].first, parts[d].second);
            chain.emplace_back(name, parent);
        }
        const auto [offset, length] = parts.back();
        int node = 0;
        if (folder) {
            node = folderChild(parent, entry, offset, length);
            if (m_raw[static_cast<std::size_t>(node)].entry < 0)
                m_raw[static_cast<std::size_t>(node)].entry = entry;
            chain.resize(parts.size() - 1);
            chain.emplace_back(std::string_view(path.data() + offset, length), node);
        } else {
            node = static_cast<int>(m_raw.size());
            m_raw.push_back({ parent, entry, entry, offset, length, false });
        }
        m_rawNodeOfEntry[static_cast<std::size_t>(i)] = node;
    }
    m_folders = {};
    return true;
}

bool ArchiveTreeBuilder::sortChildren()
{
    const std::size_t count = m_raw.size();
    m_childStart.assign(count + 1, 0);
    for (std::size_t n = 1; n < count; ++n)
        ++m_childStart[static_cast<std::size_t>(m_raw[n].parent) + 1];
    for (std::size_t n = 0; n < count; ++n)
        m_childStart[n + 1] += m_childStart[n];
    m_children.assign(count > 0 ? count - 1 : 0, 0);
    std::vector<int> filled(m_childStart.begin(), m_childStart.end() - 1);
    for (std::size_t n = 1; n < count; ++n)
        m_children[static_cast<std::size_t>(filled[static_cast<std::size_t>(m_raw[n].parent)]++)] = static_cast<int>(n);
    const auto before = [this](int a, int b) {
        const Raw& x = m_raw[static_cast<std::size_t>(a)];
        const Raw& y = m_raw[static_cast<std::size_t>(b)];
        if (x.folder != y.folder)
            return x.folder;
        const int names = compareNames(nameOf(x), nameOf(y));
        return names != 0 ? names < 0 : a < b;
    };
    for (std::size_t n = 0; n < count; ++n) {
        if (stopped(static_cast<qsizetype>(n)))
            return false;
        const auto first = m_children.begin() + m_childStart[n];
        const auto last = m_children.begin() + m_childStart[n + 1];
        if (last - first > 1)
            std::sort(first, last, before);
    }
    return true;
}

void ArchiveTreeBuilder::renumber(ArchiveTree& tree) const
{
    const std::size_t count = m_raw.size();
    // Depth first from the root: each node's new number is its place in the walk.
    std::vector<int> order;
    order.reserve(count);
    std::vector<int> pending { 0 };
    while (!pending.empty()) {
        const int raw = pending.back();
        pending.pop_back();
        order.push_back(raw);
        const std::size_t r = static_cast<std::size_t>(raw);
        for (int c = m_childStart[r + 1] - 1; c >= m_childStart[r]; --c)
            pending.push_back(m_children[static_cast<std::size_t>(c)]);
    }
    std::vector<int> numberOf(count);
    for (std::size_t k = 0; k < count; ++k)
        numberOf[static_cast<std::size_t>(order[k])] = static_cast<int>(k);

    tree.m_parent.resize(count);
    tree.m_entry.resize(count);
    tree.m_nameEntry.resize(count);
    tree.m_nameOffset.resize(count);
    tree.m_nameLength.resize(count);
    tree.m_childStart.resize(count);
    tree.m_childCount.resize(count);
    tree.m_row.assign(count, 0);
    tree.m_folder.resize(count);
    tree.m_children.resize(m_children.size());
    int next = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t r = static_cast<std::size_t>(order[k]);
        const Raw& raw = m_raw[r];
        tree.m_parent[k] = raw.parent < 0 ? -1 : numberOf[static_cast<std::size_t>(raw.parent)];
        tree.m_entry[k] = raw.entry;
        tree.m_nameEntry[k] = raw.nameEntry;
        tree.m_nameOffset[k] = raw.offset;
        tree.m_nameLength[k] = raw.length;
        tree.m_folder[k] = raw.folder ? 1 : 0;
        tree.m_childStart[k] = next;
        tree.m_childCount[k] = m_childStart[r + 1] - m_childStart[r];
        for (int c = m_childStart[r], row = 0; c < m_childStart[r + 1]; ++c, ++row) {
            const int child = numberOf[static_cast<std::size_t>(m_children[static_cast<std::size_t>(c)])];
            tree.m_children[static_cast<std::size_t>(next++)] = child;
            tree.m_row[static_cast<std::size_t>(child)] = row;
        }
    }
    tree.m_nodeOfEntry.resize(m_rawNodeOfEntry.size());
    for (std::size_t e = 0; e < m_rawNodeOfEntry.size(); ++e) {
        const int node = numberOf[static_cast<std::size_t>(m_rawNodeOfEntry[e])];
        tree.m_nodeOfEntry[e] = node;
        if (tree.m_entry[static_cast<std::size_t>(node)] != static_cast<int>(e))
            tree.m_moreEntries.emplace_back(node, static_cast<int>(e));
    }
}

std::shared_ptr<ArchiveTree> ArchiveTreeBuilder::build(std::shared_ptr<const ArchiveListing> listing)
{
    m_listing = std::move(listing);
    if (!addEntries() || !sortChildren())
        return nullptr;
    auto tree = std::shared_ptr<ArchiveTree>(new ArchiveTree);
    tree->m_listing = m_listing;
    renumber(*tree);

    // Totals from the bottom up: in depth-first order every node comes
    // after its parent, so one backward pass adds each to its parent.
    const int count = tree->nodeCount();
    const std::size_t size = static_cast<std::size_t>(count);
    tree->m_subtreeEnd.resize(size);
    tree->m_leaves.resize(size);
    tree->m_size.assign(size, 0);
    tree->m_packed.assign(size, 0);
    for (int n = 0; n < count; ++n) {
        const std::size_t k = static_cast<std::size_t>(n);
        tree->m_subtreeEnd[k] = n + 1;
        tree->m_leaves[k] = tree->m_childCount[k] == 0 ? 1 : 0;
        const int entry = tree->m_entry[k];
        if (!tree->m_folder[k] && entry >= 0) {
            tree->m_size[k] = m_listing->size(entry);
            tree->m_packed[k] = m_listing->packedSize(entry);
            ++tree->m_files;
        } else if (n > 0) {
            ++tree->m_folders;
        }
    }
    for (int n = count - 1; n > 0; --n) {
        const std::size_t k = static_cast<std::size_t>(n);
        const std::size_t p = static_cast<std::size_t>(tree->m_parent[k]);
        tree->m_subtreeEnd[p] = std::max(tree->m_subtreeEnd[p], tree->m_subtreeEnd[k]);
        tree->m_leaves[p] += tree->m_leaves[k];
        tree->m_size[p] += std::max<qint64>(tree->m_size[k], 0);
        // One unknown packed size makes the folder's unknown.
        if (tree->m_packed[p] >= 0)
            tree->m_packed[p] = tree->m_packed[k] < 0 ? -1 : tree->m_packed[p] + tree->m_packed[k];
    }
    return tree;
}

std::shared_ptr<const ArchiveTree> ArchiveTree::build(
    std::shared_ptr<const ArchiveListing> listing, const std::function<bool()>& stop)
{
    if (!listing)
        return nullptr;
    return ArchiveTreeBuilder(stop).build(std::move(listing));
}

QByteArrayView ArchiveTree::name(int node) const
{
    const std::size_t k = at(node);
    if (m_nameEntry[k] < 0)
        return {};
    return m_listing->pathBytes(m_nameEntry[k]).sliced(m_nameOffset[k], m_nameLength[k]);
}

QString ArchiveTree::path(int node) const
{
    QStringList parts;
    for (int n = node; n > 0; n = parent(n))
        parts.prepend(displayName(n));
    QString joined = parts.join(u'/');
    if (node > 0 && isFolder(node))
        joined += u'/';
    return joined;
}
