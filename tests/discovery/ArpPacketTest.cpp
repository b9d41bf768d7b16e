#include "discovery/ArpPacket.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <QByteArray>
#include <cstring>

namespace {

constexpr uint32_t kOwn = 0x0a000001;   // 10.0.0.1
constexpr uint32_t kHost = 0x0a000014;  // 10.0.0.20
const ArpChannel::Mac kHostMac = {0x0a, 0x1b, 0x2c, 0x33, 0x44, 0x55};

// The reply of kHost to kOwn, as the wire has it.
QByteArray Reply() {
    ArpPacket p = ArpRequest(kHostMac, kHost, kOwn);
    p.operation = htons(2);
    return QByteArray(reinterpret_cast<const char*>(&p), sizeof p);
}

TEST(ArpPacket, ARequestAsksTheTargetFromTheOwnAddress) {
    const ArpChannel::Mac own = {2, 0, 0, 0, 0, 1};
    const ArpPacket p = ArpRequest(own, kOwn, kHost);
    const QByteArray wire(reinterpret_cast<const char*>(&p), sizeof p);
    EXPECT_EQ(wire.toHex(),
              "0001"          // Ethernet
              "0800"          // IPv4
              "0604"          // address lengths
              "0001"          // request
              "020000000001"  // own MAC
              "0a000001"      // own address
              "000000000000"  // target MAC: unknown
              "0a000014");    // target address
}

TEST(ArpPacket, OnlyAReplyToTheOwnAddressIsRead) {
    const struct {
        const char* what;
        int offset;  // the byte changed, -1 none
        uint8_t value;
        int size;  // bytes received, -1 the packet's
        bool read;
    } cases[] = {
        {"a reply", -1, 0, -1, true},
        {"with the frame's padding", -1, 0, 46, true},
        {"one byte short", -1, 0, 27, false},
        {"nothing", -1, 0, 0, false},
        {"a request", 7, 1, -1, false},
        {"another hardware", 1, 6, -1, false},
        {"another protocol", 2, 0x86, -1, false},
        {"another MAC length", 4, 8, -1, false},
        {"another address length", 5, 16, -1, false},
        {"to another address", 27, 2, -1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QByteArray bytes = Reply();
        if (c.offset >= 0)
            bytes[c.offset] = static_cast<char>(c.value);
        if (c.size >= 0)
            bytes = bytes.leftJustified(c.size, '\0', true);
        uint32_t sender = 0;
        ArpChannel::Mac mac{};
        EXPECT_EQ(
            ReadArpReply(bytes.constData(), static_cast<size_t>(bytes.size()), kOwn, &sender, &mac),
            c.read);
        if (c.read) {
            EXPECT_EQ(sender, kHost);
            EXPECT_EQ(mac, kHostMac);
        }
    }
}

}  // namespace
