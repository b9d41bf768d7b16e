#include "dhcp/DhcpPacket.h"

namespace {

constexpr size_t kFileAt = 108;
constexpr size_t kSnameAt = 44;
constexpr size_t kCookieAt = 236;
constexpr size_t kOptionsAt = 240;
constexpr uint8_t kCookie[4] = {99, 130, 83, 99};

uint32_t read32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// The options of interest found in one field [from, to).
struct Found {
    int messageType = -1;
    int overload = 0;
    uint32_t serverId = 0;
};

void scanOptions(const uint8_t* data, size_t from, size_t to, Found* found) {
    size_t at = from;
    while (at < to) {
        const uint8_t code = data[at];
        if (code == 0) {  // pad
            ++at;
            continue;
        }
        if (code == 255 || at + 1 >= to)
            return;
        const size_t length = data[at + 1];
        const size_t value = at + 2;
        if (value + length > to)
            return;
        if (code == 53 && length == 1 && found->messageType < 0)
            found->messageType = data[value];
        else if (code == 54 && length == 4 && found->serverId == 0)
            found->serverId = read32(data + value);
        else if (code == 52 && length == 1 && found->overload == 0)
            found->overload = data[value];
        at = value + length;
    }
}

}  // namespace

QByteArray ComposeDhcpDiscover(const DhcpMac& mac, uint32_t xid) {
    QByteArray packet(300, '\0');
    auto* p = reinterpret_cast<uint8_t*>(packet.data());
    p[0] = 1;  // BOOTREQUEST
    p[1] = 1;  // Ethernet
    p[2] = 6;
    for (int i = 0; i < 4; ++i)
        p[4 + i] = static_cast<uint8_t>(xid >> (24 - 8 * i));
    p[10] = 0x80;  // broadcast
    for (size_t i = 0; i < mac.size(); ++i)
        p[28 + i] = mac[i];
    for (size_t i = 0; i < 4; ++i)
        p[kCookieAt + i] = kCookie[i];
    const uint8_t options[] = {53, 1, 1, 55, 5, 1, 3, 6, 51, 54, 255};
    for (size_t i = 0; i < sizeof options; ++i)
        p[kOptionsAt + i] = options[i];
    return packet;
}

std::optional<DhcpReply> ReadDhcpReply(const uint8_t* data, size_t size, uint32_t xid) {
    if (size < kOptionsAt || data[0] != 2 || read32(data + 4) != xid)
        return std::nullopt;
    for (size_t i = 0; i < 4; ++i)
        if (data[kCookieAt + i] != kCookie[i])
            return std::nullopt;
    Found found;
    scanOptions(data, kOptionsAt, size, &found);
    if (found.overload == 1 || found.overload == 3)
        scanOptions(data, kFileAt, kCookieAt, &found);
    if (found.overload == 2 || found.overload == 3)
        scanOptions(data, kSnameAt, kFileAt, &found);
    if (found.messageType != kDhcpOffer && found.messageType != kDhcpAck &&
        found.messageType != kDhcpNak)
        return std::nullopt;
    DhcpReply reply;
    reply.messageType = static_cast<uint8_t>(found.messageType);
    reply.serverId = found.serverId;
    reply.yourAddress = read32(data + 16);
    return reply;
}
