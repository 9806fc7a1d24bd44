#pragma once

#include "screens/ArchiveTree.h"

#include <QString>
#include <functional>
#include <memory>
#include <vector>

// The part of an archive's tree that a filter text shows: the nodes whose
// names hold the text (case-insensitive), the folders above them, and
// everything below a matching folder. Made on any thread in two passes over
// the nodes; read-only afterwards.
class TreeFilter final {
public:
    // Null when `stop` answers true on the way.
    static std::shared_ptr<const TreeFilter> make(
        std::shared_ptr<const ArchiveTree> tree, const QString& text, const std::function<bool()>& stop = {});
    // Whether `name` (UTF-8) holds `text`, without regard to case.
    static bool matches(QByteArrayView name, const QString& text);

    const QString& text() const { return m_text; }
    int childCount(int node) const { return m_childCount[at(node)]; }
    int child(int node, int row) const { return m_children[at(m_childStart[at(node)] + row)]; }
    int row(int node) const { return m_row[at(node)]; }
    // Nodes shown, the root not counted.
    int shownCount() const { return static_cast<int>(m_children.size()); }
    int matchCount() const { return m_matches; }

private:
    TreeFilter() = default;
    static std::size_t at(int node) { return static_cast<std::size_t>(node); }

    QString m_text;
    std::vector<int> m_childStart;
    std::vector<int> m_childCount;
    std::vector<int> m_row;
    std::vector<int> m_children;
    int m_matches = 0;
};
