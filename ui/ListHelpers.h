#pragma once

#include <QList>
#include <type_traits>

namespace ListHelpers {

// A new list of `action` applied to each element, in order.
template <typename T, typename Fn> auto map(const QList<T>& list, Fn&& action)
{
    QList<std::invoke_result_t<Fn, const T&>> result;
    result.reserve(list.size());
    for (const T& element : list)
        result.append(action(element));
    return result;
}

} // namespace ListHelpers
