// What the remote's guards share: the key an address is counted under, and the monotonic clock
// they measure time on (injected, so tests drive it instead of waiting).
//
// Threads: plain values and a clock read on the main thread.
#pragma once

#include <QHostAddress>
#include <QString>
#include <cstdint>

#include "engine/clock.h"

namespace tavoxa {

// The address as the guards count it: an IPv4 address as itself (also when it reaches a
// dual-stack server IPv4-mapped), an IPv6 address by its /64 network, since one host commonly
// holds a whole /64 and could otherwise pose as any number of clients.
QString PeerKey(const QHostAddress& address);

// The address as the log shows it: IPv4 without its IPv6 mapping.
QString PeerText(const QHostAddress& address);

}  // namespace tavoxa
