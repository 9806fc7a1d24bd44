#pragma once

#include <QList>
#include <algorithm>
#include <functional>

// List operations. Each returns a new list and leaves its argument unchanged.
namespace ListHelpers {

template <typename T, typename Fn> auto map(const QList<T>& list, Fn&& action)
{
    QList<std::invoke_result_t<Fn, const T&>> result;
    result.reserve(list.size());
    for (const T& element : list)
        result.append(action(element));
    return result;
}

template <typename T, typename Pred> QList<T> filter(const QList<T>& list, Pred&& predicate)
{
    QList<T> result;
    for (const T& element : list) {
        if (predicate(element))
            result.append(element);
    }
    return result;
}

// The elements without repeats, each kept at its first occurrence.
template <typename T> QList<T> distinctArr(const QList<T>& list)
{
    QList<T> result;
    for (const T& element : list) {
        if (!result.contains(element))
            result.append(element);
    }
    return result;
}

// Sorted by `before` (true when the first must come before the second);
// elements it does not order keep their input order.
template <typename T, typename Before> QList<T> sortBy(const QList<T>& list, Before&& before)
{
    QList<T> result = list;
    std::stable_sort(result.begin(), result.end(), before);
    return result;
}

// The first n elements; empty when n < 1, the whole list when it is shorter.
template <typename T> QList<T> prefix(const QList<T>& list, qsizetype n)
{
    if (n < 1)
        return {};
    return list.mid(0, std::min(n, list.size()));
}

// The last n elements in their order; empty when n < 1, the whole list when it is shorter.
template <typename T> QList<T> suffix(const QList<T>& list, qsizetype n)
{
    if (n < 1)
        return {};
    if (n >= list.size())
        return list;
    return list.mid(list.size() - n);
}

} // namespace ListHelpers
