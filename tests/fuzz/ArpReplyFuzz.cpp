// libFuzzer target: ReadArpReply on arbitrary packets. The first four bytes are the own address
// the reply must be for, the rest the packet as received.
#include "discovery/ArpPacket.h"

#include <arpa/inet.h>

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4)
        return 0;
    uint32_t own = 0;
    std::memcpy(&own, data, 4);
    const uint8_t* packet = data + 4;
    const size_t length = size - 4;
    uint32_t sender = 0;
    ArpChannel::Mac mac{};
    if (!ReadArpReply(packet, length, own, &sender, &mac))
        return 0;
    // What was read stands where a reply to the own address has it.
    uint32_t wireSender = 0, wireTarget = 0;
    if (length < sizeof(ArpPacket) || packet[6] != 0 || packet[7] != 2)
        std::abort();
    std::memcpy(&wireSender, packet + 14, 4);
    std::memcpy(&wireTarget, packet + 24, 4);
    if (ntohl(wireSender) != sender || ntohl(wireTarget) != own ||
        std::memcmp(mac.data(), packet + 8, 6) != 0)
        std::abort();
    return 0;
}
