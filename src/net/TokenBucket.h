#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>

// A rate limit that allows bursts: `burst` tokens at most, refilled at `perSecond`; each
// admitted event takes one. Owner's thread only.
class TokenBucket
{
public:
    TokenBucket(double perSecond, double burst);
    TokenBucket() : TokenBucket(1, 1) {}
    // True, taking a token, when one is there.
    bool take();
    bool full() const;

private:
    void refill() const;

    double m_perSecond;
    double m_burst;
    mutable double m_tokens;
    mutable QElapsedTimer m_clock;
    mutable qint64 m_lastMs = 0;
};

// One bucket per address (AddressKey: an IPv6 /64 is one). The table forgets full buckets when
// it grows past kMaxAddresses, so a crowd of addresses costs bounded memory. Owner's thread
// only.
class AddressBuckets
{
public:
    static constexpr int kMaxAddresses = 4096;

    AddressBuckets(double perSecond, double burst);
    bool take(const QHostAddress &address);

private:
    double m_perSecond;
    double m_burst;
    QHash<QHostAddress, TokenBucket> m_buckets;
};
