#pragma once

#include <QHostAddress>

// The unit a per-address limit counts: an IPv4 address, or the /64 network of an IPv6 one (one
// subscriber's share, in which a single machine may use any number of addresses). An
// IPv4-mapped IPv6 address counts as its IPv4 address.
namespace AddressKey {

QHostAddress of(const QHostAddress &address);

} // namespace AddressKey
