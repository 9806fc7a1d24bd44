#pragma once

#include "engine/ArchiveListing.h"

#include <QByteArrayView>
#include <QString>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

// The folder tree of an archive's listing, as the preview shows it: every
// entry one node, folders the listing only implies ("a/" of "a/b.txt")
// added, a folder listed twice one node. Children are sorted, folders
// first, then by name (ASCII letters without regard to case, then bytes).
// Nodes are numbered depth first from the invisible root, node 0, so that
// the nodes below `n` are exactly those in [n + 1, subtreeEnd(n)).
//
// Built once, on any thread, from arrays of plain numbers (no object per
// entry); read-only afterwards and safe to share between threads. Names
// are views into the listing, which the tree keeps alive.
class ArchiveTree final {
public:
    // Null when `stop` answers true during the build.
    static std::shared_ptr<const ArchiveTree> build(
        std::shared_ptr<const ArchiveListing> listing, const std::function<bool()>& stop = {});

    const ArchiveListing& listing() const { return *m_listing; }
    int nodeCount() const { return static_cast<int>(m_parent.size()); }
    int parent(int node) const { return m_parent[at(node)]; }
    int childCount(int node) const { return m_childCount[at(node)]; }
    int child(int node, int row) const { return m_children[at(m_childStart[at(node)] + row)]; }
    // The node's place among its parent's children.
    int row(int node) const { return m_row[at(node)]; }
    int subtreeEnd(int node) const { return m_subtreeEnd[at(node)]; }
    // Nodes without children (files, links, empty folders) below and at `node`.
    int leafCount(int node) const { return m_leaves[at(node)]; }
    const std::vector<int>& leafCounts() const { return m_leaves; }
    bool isFolder(int node) const { return m_folder[at(node)] != 0; }
    // The listing position of the node's entry; -1 for an implied folder.
    int entry(int node) const { return m_entry[at(node)]; }
    // The node an entry is shown as.
    int nodeOfEntry(qsizetype entry) const { return m_nodeOfEntry[static_cast<std::size_t>(entry)]; }
    // (node, entry) of the entries shown as a node whose own entry is
    // another: a folder listed twice, the top listed as "/".
    const std::vector<std::pair<int, int>>& moreEntries() const { return m_moreEntries; }
    QByteArrayView name(int node) const;
    QString displayName(int node) const { return QString::fromUtf8(name(node)); }
    // The path from the top, '/'-separated; a folder's ends in '/'.
    QString path(int node) const;
    // Bytes of the files at and below `node`; -1 when the archive does not say.
    qint64 size(int node) const { return m_size[at(node)]; }
    qint64 packedSize(int node) const { return m_packed[at(node)]; }

    // The whole archive: file entries (links and specials included),
    // folders (implied ones included), and their bytes.
    qint64 fileTotal() const { return m_files; }
    qint64 folderTotal() const { return m_folders; }

private:
    ArchiveTree() = default;
    static std::size_t at(int node) { return static_cast<std::size_t>(node); }
    friend class ArchiveTreeBuilder;

    std::shared_ptr<const ArchiveListing> m_listing;
    // Per node.
    std::vector<int> m_parent;
    std::vector<int> m_entry;
    std::vector<int> m_nameEntry; // the entry whose path holds the name
    std::vector<quint32> m_nameOffset;
    std::vector<quint32> m_nameLength;
    std::vector<int> m_childStart;
    std::vector<int> m_childCount;
    std::vector<int> m_row;
    std::vector<int> m_subtreeEnd;
    std::vector<int> m_leaves;
    std::vector<quint8> m_folder;
    std::vector<qint64> m_size;
    std::vector<qint64> m_packed;
    // Children of every node, one after the other.
    std::vector<int> m_children;
    std::vector<int> m_nodeOfEntry;
    std::vector<std::pair<int, int>> m_moreEntries;
    qint64 m_files = 0;
    qint64 m_folders = 0;
};
