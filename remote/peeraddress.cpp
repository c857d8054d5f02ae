#include "remote/peeraddress.h"

namespace tavoxa {

namespace {

QHostAddress Unmapped(const QHostAddress& address)
{
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    return isIPv4 ? QHostAddress(ipv4) : address;
}

}  // namespace

QString PeerText(const QHostAddress& address)
{
    return Unmapped(address).toString();
}

QString PeerKey(const QHostAddress& address)
{
    const QHostAddress plain = Unmapped(address);
    if (plain.protocol() != QAbstractSocket::IPv6Protocol)
        return plain.toString();
    Q_IPV6ADDR bytes = plain.toIPv6Address();
    for (int i = 8; i < 16; ++i)
        bytes[i] = 0;
    return QHostAddress(bytes).toString() + QStringLiteral("/64");
}

}  // namespace tavoxa
