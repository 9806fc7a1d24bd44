#pragma once

#include "screens/ArchiveTree.h"

#include <Qt>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

// Which entries of an archive's tree are ticked: per node the number of
// nodes without children ticked at and below it, and the selection by
// listing position kept up to date with it. A folder is ticked when all
// below it are, partly when some are. Ticking a folder is one pass over the
// nodes below it plus one step per folder above, however many they are;
// the selection is then ready without another pass. All ticked at first.
// One thread only (the main thread).
class TreeChecks final {
public:
    explicit TreeChecks(std::shared_ptr<const ArchiveTree> tree);

    Qt::CheckState state(int node) const;
    // Ticks or unticks `node` and everything below it.
    void set(int node, bool on);
    bool allTicked() const { return ticked(0) == m_tree->leafCount(0); }
    bool noneTicked() const { return ticked(0) == 0; }

    // What to extract, by listing position: every entry of a ticked file,
    // and of a folder with anything ticked at or below it. No value when
    // all are ticked: the whole archive.
    std::optional<std::vector<bool>> selection() const;

private:
    int ticked(int node) const { return m_ticked[static_cast<std::size_t>(node)]; }
    void setTicked(int node, int count);

    std::shared_ptr<const ArchiveTree> m_tree;
    std::vector<int> m_ticked;
    std::vector<bool> m_chosen; // by listing position
    // Entries shown as a node that is another entry's: a folder listed twice.
    std::unordered_multimap<int, int> m_moreEntries;
};
