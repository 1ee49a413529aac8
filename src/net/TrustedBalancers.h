#pragma once

#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>

// The balancers whose PROXY protocol headers a listener believes (--balancer): addresses or
// networks. An IPv4 peer seen through an IPv6 listener (::ffff:a.b.c.d) is its IPv4 address.
class TrustedBalancers
{
public:
    // "ADDRESS" or "ADDRESS/PREFIX", IPv4 or IPv6. False, with `error`, for anything else.
    bool add(const QString &text, QString *error);

    bool isEmpty() const { return m_networks.isEmpty(); }
    bool trusts(const QHostAddress &peer) const;

private:
    QList<QPair<QHostAddress, int>> m_networks;
};
