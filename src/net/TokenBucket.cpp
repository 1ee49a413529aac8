#include "net/TokenBucket.h"

#include "net/AddressKey.h"

TokenBucket::TokenBucket(double perSecond, double burst)
    : m_perSecond(perSecond), m_burst(burst), m_tokens(burst)
{
    m_clock.start();
}

void TokenBucket::refill() const
{
    const qint64 now = m_clock.elapsed();
    m_tokens = qMin(m_burst, m_tokens + double(now - m_lastMs) * m_perSecond / 1000.0);
    m_lastMs = now;
}

bool TokenBucket::take()
{
    refill();
    if (m_tokens < 1.0)
        return false;
    m_tokens -= 1.0;
    return true;
}

bool TokenBucket::full() const
{
    refill();
    return m_tokens >= m_burst;
}

AddressBuckets::AddressBuckets(double perSecond, double burst)
    : m_perSecond(perSecond), m_burst(burst)
{}

bool AddressBuckets::take(const QHostAddress &address)
{
    const QHostAddress key = AddressKey::of(address);
    auto found = m_buckets.find(key);
    if (found == m_buckets.end()) {
        if (m_buckets.size() >= kMaxAddresses) {
            for (auto it = m_buckets.begin(); it != m_buckets.end();)
                it = it->full() ? m_buckets.erase(it) : std::next(it);
        }
        // Still full of busy addresses: the newcomer is one too many.
        if (m_buckets.size() >= kMaxAddresses)
            return false;
        found = m_buckets.insert(key, TokenBucket(m_perSecond, m_burst));
    }
    return found->take();
}
