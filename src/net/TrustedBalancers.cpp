#include "net/TrustedBalancers.h"

bool TrustedBalancers::add(const QString &text, QString *error)
{
    const QString trimmed = text.trimmed();
    const QPair<QHostAddress, int> network = trimmed.contains('/')
                                                 ? QHostAddress::parseSubnet(trimmed)
                                                 : qMakePair(QHostAddress(trimmed), -1);
    if (network.first.isNull()) {
        *error = QStringLiteral("not a balancer address or network: \"%1\"").arg(text);
        return false;
    }
    const int prefix = network.second >= 0
                           ? network.second
                           : (network.first.protocol() == QAbstractSocket::IPv4Protocol ? 32 : 128);
    m_networks.append({network.first, prefix});
    return true;
}

bool TrustedBalancers::trusts(const QHostAddress &peer) const
{
    bool mapped = false;
    const quint32 ipv4 = peer.toIPv4Address(&mapped);
    const QHostAddress address = mapped ? QHostAddress(ipv4) : peer;
    for (const auto &network : m_networks)
        if (address.isInSubnet(network.first, network.second))
            return true;
    return false;
}
