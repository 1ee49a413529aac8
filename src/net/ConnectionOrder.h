#pragma once

#include <QHash>
#include <QList>

#include <vector>

// The connections of one kind in the order they arrived (the order a winner draw walks), with
// removal in constant time: when thousands of viewers leave at once, scanning a list for each
// one would cost time growing with the square of their number. Removed entries leave a gap that
// is closed once the gaps outnumber the entries. Not thread-safe.
template <typename T> class ConnectionOrder
{
public:
    void append(T *item)
    {
        if (m_index.contains(item))
            return;
        m_index.insert(item, int(m_items.size()));
        m_items.push_back(item);
    }

    void removeAll(T *item)
    {
        const auto found = m_index.find(item);
        if (found == m_index.end())
            return;
        m_items[size_t(found.value())] = nullptr;
        m_index.erase(found);
        if (m_items.size() > 2 * size_t(m_index.size()) + 16)
            compact();
    }

    int size() const { return m_index.size(); }
    bool isEmpty() const { return m_index.isEmpty(); }
    bool contains(T *item) const { return m_index.contains(item); }
    T *first() const
    {
        for (T *item : m_items)
            if (item)
                return item;
        return nullptr;
    }

    // The entries in arrival order; a copy, so a loop over it survives removals.
    QList<T *> toList() const
    {
        QList<T *> items;
        items.reserve(size());
        for (T *item : m_items)
            if (item)
                items.append(item);
        return items;
    }

private:
    void compact()
    {
        std::vector<T *> kept;
        kept.reserve(size_t(m_index.size()));
        for (T *item : m_items) {
            if (!item)
                continue;
            m_index[item] = int(kept.size());
            kept.push_back(item);
        }
        m_items.swap(kept);
    }

    std::vector<T *> m_items;
    QHash<T *, int> m_index;
};
