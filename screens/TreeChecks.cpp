#include "screens/TreeChecks.h"

TreeChecks::TreeChecks(std::shared_ptr<const ArchiveTree> tree)
    : m_tree(std::move(tree))
    , m_ticked(m_tree->leafCounts())
    , m_chosen(static_cast<std::size_t>(m_tree->listing().size()), true)
    , m_moreEntries(m_tree->moreEntries().cbegin(), m_tree->moreEntries().cend())
{
}

Qt::CheckState TreeChecks::state(int node) const
{
    const int on = ticked(node);
    if (on == 0)
        return Qt::Unchecked;
    return on == m_tree->leafCount(node) ? Qt::Checked : Qt::PartiallyChecked;
}

void TreeChecks::setTicked(int node, int count)
{
    m_ticked[static_cast<std::size_t>(node)] = count;
    // A folder's entry goes with anything ticked below it.
    const bool chosen = count > 0;
    if (const int entry = m_tree->entry(node); entry >= 0)
        m_chosen[static_cast<std::size_t>(entry)] = chosen;
    if (m_moreEntries.empty())
        return;
    const auto [first, last] = m_moreEntries.equal_range(node);
    for (auto more = first; more != last; ++more)
        m_chosen[static_cast<std::size_t>(more->second)] = chosen;
}

void TreeChecks::set(int node, bool on)
{
    const int before = ticked(node);
    // Everything below `node` lies in [node, subtreeEnd): one pass sets it.
    const int end = m_tree->subtreeEnd(node);
    for (int n = node; n < end; ++n)
        setTicked(n, on ? m_tree->leafCount(n) : 0);
    const int delta = ticked(node) - before;
    if (delta == 0)
        return;
    for (int up = m_tree->parent(node); up >= 0; up = m_tree->parent(up))
        setTicked(up, ticked(up) + delta);
}

std::optional<std::vector<bool>> TreeChecks::selection() const
{
    if (allTicked())
        return std::nullopt;
    return m_chosen;
}
