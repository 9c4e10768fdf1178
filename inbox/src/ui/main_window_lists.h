#pragma once

#include <QString>
#include <QVector>
#include <algorithm>
#include <cstdint>

// Walks over the main window's item lists, shared by its model and query sources. Lookups
// answer from the first match in list order.
namespace main_window_lists {

// Ids come from QML as decimal text; text that is no number reads as 0.
inline uint64_t idFromText(const QString& text) {
    bool ok = false;
    const uint64_t id = text.toULongLong(&ok, 10);
    return ok ? id : 0;
}

inline QString idText(uint64_t id) {
    return QString::number(id);
}

template <typename Item, typename Predicate>
int firstIndex(const QVector<Item>& list, Predicate predicate) {
    for (int i = 0; i < list.size(); ++i) {
        if (predicate(list.at(i))) return i;
    }
    return -1;
}

template <typename Item>
int indexOfId(const QVector<Item>& list, uint64_t id) {
    return firstIndex(list, [id](const Item& item) { return item.id == id; });
}

template <typename Item, typename Predicate>
int countIf(const QVector<Item>& list, Predicate predicate) {
    return static_cast<int>(std::count_if(list.cbegin(), list.cend(), predicate));
}

// Newest first; equal dates in no promised order.
template <typename Item>
void sortNewestFirst(QVector<Item>& list) {
    std::stable_sort(list.begin(), list.end(), [](const Item& a, const Item& b) { return a.date > b.date; });
}

// By lower-cased name, compared by UTF-16 code units.
template <typename Item>
void sortByName(QVector<Item>& list) {
    std::stable_sort(list.begin(), list.end(),
                     [](const Item& a, const Item& b) { return a.name.toLower() < b.name.toLower(); });
}

}  // namespace main_window_lists
