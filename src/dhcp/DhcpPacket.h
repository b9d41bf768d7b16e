#pragma once

#include <QByteArray>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

// The DHCP messages of the probe for other servers (RFC 2131, 2132).
using DhcpMac = std::array<uint8_t, 6>;

constexpr uint8_t kDhcpOffer = 2;
constexpr uint8_t kDhcpAck = 5;
constexpr uint8_t kDhcpNak = 6;

// A DHCPDISCOVER from mac with transaction id xid and the broadcast flag set (so that a server
// answers by broadcast to a client without an address), asking for options 1, 3, 6, 51 and 54;
// 300 bytes, the least a BOOTP relay passes on.
QByteArray ComposeDhcpDiscover(const DhcpMac& mac, uint32_t xid);

// A server's answer to that DISCOVER.
struct DhcpReply {
    uint8_t messageType = 0;   // option 53: kDhcpOffer, kDhcpAck or kDhcpNak
    uint32_t serverId = 0;     // option 54 in host byte order; 0 when it is missing or malformed
    uint32_t yourAddress = 0;  // yiaddr, host byte order
};

// Reads a datagram as the answer to the DISCOVER with transaction id xid: a BOOTREPLY with that
// id, the magic cookie and option 53 saying OFFER, ACK or NAK. Options are read from the options
// field and, where option 52 says so, from the file and sname fields; a length that runs past
// its field ends that field. Anything else: nothing.
std::optional<DhcpReply> ReadDhcpReply(const uint8_t* data, size_t size, uint32_t xid);
