#pragma once

#include <QHash>
#include <QHostAddress>

#include <algorithm>
#include <deque>
#include <optional>

// Work waiting on behalf of clients, served in turn by address: each round takes one item from
// every address that has any waiting, in the order the addresses came, so however many one
// address queues, another's first item waits at most a round. `from` is the key as counted
// (AddressKey). Owner's thread only.
template <typename Item> class TurnsByAddress
{
public:
    void push(const QHostAddress &from, Item item)
    {
        std::deque<Item> &waiting = m_waiting[from];
        if (waiting.empty())
            m_order.push_back(from);
        waiting.push_back(std::move(item));
    }

    // Takes `item` out of the queue, if it is still there.
    void remove(const QHostAddress &from, const Item &item)
    {
        const auto found = m_waiting.find(from);
        if (found == m_waiting.end())
            return;
        std::deque<Item> &waiting = found.value();
        waiting.erase(std::remove(waiting.begin(), waiting.end(), item), waiting.end());
        if (waiting.empty()) {
            m_waiting.erase(found);
            m_order.erase(std::find(m_order.begin(), m_order.end(), from));
        }
    }

    // The next item in turn; nothing when none waits.
    std::optional<Item> next()
    {
        if (m_order.empty())
            return std::nullopt;
        const QHostAddress from = m_order.front();
        m_order.pop_front();
        const auto found = m_waiting.find(from);
        std::optional<Item> item(std::move(found.value().front()));
        found.value().pop_front();
        if (found.value().empty())
            m_waiting.erase(found);
        else
            m_order.push_back(from);
        return item;
    }

    bool isEmpty() const { return m_order.empty(); }

private:
    std::deque<QHostAddress> m_order;
    QHash<QHostAddress, std::deque<Item>> m_waiting;
};
