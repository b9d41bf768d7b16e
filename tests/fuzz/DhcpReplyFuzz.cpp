// libFuzzer target: ReadDhcpReply, the probe's reader of other DHCP servers' answers. The first
// four bytes are the transaction id of the DISCOVER, the rest the datagram as received. A reply
// read is a BOOTREPLY of that id with the magic cookie, saying OFFER, ACK or NAK; its server is
// none or the four bytes after a 54, 4 of the packet; its address is the yiaddr field.
#include "dhcp/DhcpPacket.h"

#include <cstdlib>
#include <cstring>

namespace {

uint32_t read32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

bool hasServerOption(const uint8_t* packet, size_t length, uint32_t server) {
    for (size_t at = 0; at + 6 <= length; ++at)
        if (packet[at] == 54 && packet[at + 1] == 4 && read32(packet + at + 2) == server)
            return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4)
        return 0;
    const uint32_t xid = read32(data);
    const uint8_t* packet = data + 4;
    const size_t length = size - 4;
    const std::optional<DhcpReply> reply = ReadDhcpReply(packet, length, xid);
    if (!reply)
        return 0;
    if (length < 240 || packet[0] != 2 || read32(packet + 4) != xid ||
        std::memcmp(packet + 236, "\x63\x82\x53\x63", 4) != 0)
        std::abort();
    if (reply->messageType != kDhcpOffer && reply->messageType != kDhcpAck &&
        reply->messageType != kDhcpNak)
        std::abort();
    if (reply->serverId != 0 && !hasServerOption(packet, length, reply->serverId))
        std::abort();
    if (reply->yourAddress != read32(packet + 16))
        std::abort();
    // The same bytes read the same.
    const std::optional<DhcpReply> again = ReadDhcpReply(packet, length, xid);
    if (!again || again->serverId != reply->serverId || again->messageType != reply->messageType)
        std::abort();
    return 0;
}
