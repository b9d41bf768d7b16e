#pragma once

#include "discovery/ArpChannel.h"

#include <cstddef>
#include <cstdint>

// An ARP packet for IPv4 over Ethernet, as it stands on the wire after the Ethernet header.
struct __attribute__((packed)) ArpPacket {
    uint16_t hardwareType;
    uint16_t protocolType;
    uint8_t hardwareLength;
    uint8_t protocolLength;
    uint16_t operation;
    uint8_t senderMac[6];
    uint32_t senderIp;
    uint8_t targetMac[6];
    uint32_t targetIp;
};

// The request for target from the own MAC and address (host byte order).
ArpPacket ArpRequest(const ArpChannel::Mac& ownMac, uint32_t source, uint32_t target);

// Whether the bytes received are a reply to source (host byte order); then *sender (host byte
// order) and *mac are the answering host's. Bytes beyond the packet (frame padding) are allowed.
bool ReadArpReply(const void* data, size_t size, uint32_t source, uint32_t* sender,
                  ArpChannel::Mac* mac);
