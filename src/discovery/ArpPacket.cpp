#include "discovery/ArpPacket.h"

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <net/if_arp.h>

#include <cstring>

ArpPacket ArpRequest(const ArpChannel::Mac& ownMac, uint32_t source, uint32_t target) {
    ArpPacket request{};
    request.hardwareType = htons(ARPHRD_ETHER);
    request.protocolType = htons(ETH_P_IP);
    request.hardwareLength = 6;
    request.protocolLength = 4;
    request.operation = htons(ARPOP_REQUEST);
    std::memcpy(request.senderMac, ownMac.data(), 6);
    request.senderIp = htonl(source);
    request.targetIp = htonl(target);
    return request;
}

bool ReadArpReply(const void* data, size_t size, uint32_t source, uint32_t* sender,
                  ArpChannel::Mac* mac) {
    ArpPacket reply;
    if (size < sizeof reply)
        return false;
    std::memcpy(&reply, data, sizeof reply);
    if (reply.hardwareType != htons(ARPHRD_ETHER) || reply.protocolType != htons(ETH_P_IP) ||
        reply.hardwareLength != 6 || reply.protocolLength != 4 ||
        reply.operation != htons(ARPOP_REPLY) || reply.targetIp != htonl(source))
        return false;
    *sender = ntohl(reply.senderIp);
    std::memcpy(mac->data(), reply.senderMac, 6);
    return true;
}
