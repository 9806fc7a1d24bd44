#include "screens/TreeFilter.h"

#include <algorithm>

namespace {

constexpr int kStopEvery = 4096;

enum Mark : quint8 {
    Matches = 1,
    MatchBelow = 2,
    MatchAbove = 4, // the node itself or a folder above it matches
};

bool isAscii(const QString& text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; });
}

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

// An ASCII needle, already in lower case, in UTF-8 bytes: the bytes of
// other characters are all above 0x7F and never match an ASCII one.
bool holdsAscii(QByteArrayView name, const QByteArray& needle)
{
    const qsizetype last = name.size() - needle.size();
    for (qsizetype start = 0; start <= last; ++start) {
        qsizetype i = 0;
        while (i < needle.size() && lower(name[start + i]) == needle[i])
            ++i;
        if (i == needle.size())
            return true;
    }
    return false;
}

} // namespace

bool TreeFilter::matches(QByteArrayView name, const QString& text)
{
    if (isAscii(text))
        return holdsAscii(name, text.toLower().toLatin1());
    return QString::fromUtf8(name).contains(text, Qt::CaseInsensitive);
}

std::shared_ptr<const TreeFilter> TreeFilter::make(
    std::shared_ptr<const ArchiveTree> tree, const QString& text, const std::function<bool()>& stop)
{
    const int count = tree->nodeCount();
    const std::size_t size = static_cast<std::size_t>(count);
    const bool ascii = isAscii(text);
    const QByteArray needle = text.toLower().toLatin1();
    auto filter = std::shared_ptr<TreeFilter>(new TreeFilter);
    filter->m_text = text;
    std::vector<quint8> marks(size, 0);
    for (int n = 1; n < count; ++n) {
        if (stop && n % kStopEvery == 0 && stop())
            return nullptr;
        const bool hit = ascii ? holdsAscii(tree->name(n), needle) : matches(tree->name(n), text);
        if (hit) {
            marks[static_cast<std::size_t>(n)] |= Matches | MatchAbove;
            ++filter->m_matches;
        }
    }
    // Depth first, a node comes after its parent: backwards, each node tells
    // its parent of a match below; forwards, each parent tells its children
    // of a match above.
    for (int n = count - 1; n > 0; --n) {
        if (marks[static_cast<std::size_t>(n)] & (Matches | MatchBelow))
            marks[static_cast<std::size_t>(tree->parent(n))] |= MatchBelow;
    }
    for (int n = 1; n < count; ++n) {
        if (marks[static_cast<std::size_t>(tree->parent(n))] & MatchAbove)
            marks[static_cast<std::size_t>(n)] |= MatchAbove;
    }

    filter->m_childStart.assign(size, 0);
    filter->m_childCount.assign(size, 0);
    filter->m_row.assign(size, 0);
    std::vector<int>& children = filter->m_children;
    for (int n = 0; n < count; ++n) {
        const std::size_t k = static_cast<std::size_t>(n);
        if (n > 0 && !(marks[k] & (MatchAbove | MatchBelow)))
            continue;
        filter->m_childStart[k] = static_cast<int>(children.size());
        for (int row = 0; row < tree->childCount(n); ++row) {
            const int child = tree->child(n, row);
            if (!(marks[static_cast<std::size_t>(child)] & (MatchAbove | MatchBelow)))
                continue;
            filter->m_row[static_cast<std::size_t>(child)] = filter->m_childCount[k]++;
            children.push_back(child);
        }
    }
    return filter;
}
