// The DISCOVER of the probe for other DHCP servers, and how their answers are read.
#include "dhcp/DhcpPacket.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

namespace {

constexpr uint32_t kXid = 0x1a2b3c4d;

// A BOOTREPLY with transaction id xid whose options field holds the given bytes.
std::vector<uint8_t> reply(std::initializer_list<uint8_t> options, uint32_t xid = kXid) {
    std::vector<uint8_t> p(240, 0);
    p[0] = 2;
    p[1] = 1;
    p[2] = 6;
    p[4] = xid >> 24;
    p[5] = xid >> 16;
    p[6] = xid >> 8;
    p[7] = xid;
    p[16] = 10, p[17] = 1, p[18] = 2, p[19] = 77;  // yiaddr
    p[236] = 99, p[237] = 130, p[238] = 83, p[239] = 99;
    for (const uint8_t b : options)
        p.push_back(b);
    return p;
}

std::optional<DhcpReply> read(const std::vector<uint8_t>& p, uint32_t xid = kXid) {
    return ReadDhcpReply(p.data(), p.size(), xid);
}

TEST(DhcpPacket, TheDiscoverAsksByBroadcastForAnOffer) {
    const DhcpMac mac = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    const QByteArray d = ComposeDhcpDiscover(mac, kXid);
    ASSERT_EQ(d.size(), 300);
    const auto* p = reinterpret_cast<const uint8_t*>(d.constData());
    EXPECT_EQ(p[0], 1);  // BOOTREQUEST
    EXPECT_EQ(p[1], 1);
    EXPECT_EQ(p[2], 6);
    EXPECT_EQ(QByteArray(d.constData() + 4, 4), QByteArray("\x1a\x2b\x3c\x4d"));
    EXPECT_EQ(p[10] & 0x80, 0x80);  // broadcast flag
    EXPECT_EQ(QByteArray(d.constData() + 28, 6), QByteArray("\x02\x11\x22\x33\x44\x55"));
    EXPECT_EQ(QByteArray(d.constData() + 236, 4), QByteArray("\x63\x82\x53\x63"));
    EXPECT_EQ(QByteArray(d.constData() + 240, 3), QByteArray("\x35\x01\x01"));  // DISCOVER
    // ciaddr, yiaddr, siaddr and giaddr are zero.
    EXPECT_EQ(QByteArray(d.constData() + 12, 16), QByteArray(16, '\0'));
}

TEST(DhcpPacket, AnAnswerNamesItsServerByOption54) {
    const auto offer = read(reply({0, 53, 1, 2, 54, 4, 10, 1, 2, 1, 51, 4, 0, 0, 14, 16, 255}));
    ASSERT_TRUE(offer);
    EXPECT_EQ(offer->messageType, kDhcpOffer);
    EXPECT_EQ(offer->serverId, 0x0a010201u);
    EXPECT_EQ(offer->yourAddress, 0x0a01024du);
    EXPECT_EQ(read(reply({53, 1, 6, 255}))->messageType, kDhcpNak);
    EXPECT_EQ(read(reply({53, 1, 5, 255}))->messageType, kDhcpAck);
    // Without option 54, or with one of the wrong length, the caller takes the source address.
    EXPECT_EQ(read(reply({53, 1, 2, 255}))->serverId, 0u);
    EXPECT_EQ(read(reply({54, 3, 10, 1, 2, 53, 1, 2, 255}))->serverId, 0u);
    // Options carried in the file field (option 52 = 1).
    std::vector<uint8_t> overloaded = reply({52, 1, 1, 255});
    const uint8_t inFile[] = {53, 1, 2, 54, 4, 192, 168, 9, 1, 255};
    std::copy(std::begin(inFile), std::end(inFile), overloaded.begin() + 108);
    const auto viaFile = read(overloaded);
    ASSERT_TRUE(viaFile);
    EXPECT_EQ(viaFile->serverId, 0xc0a80901u);
}

TEST(DhcpPacket, WhatIsNoAnswerToTheDiscoverIsNotRead) {
    std::vector<uint8_t> request = reply({53, 1, 2, 255});
    request[0] = 1;
    std::vector<uint8_t> noCookie = reply({53, 1, 2, 255});
    noCookie[239] = 0;
    std::vector<uint8_t> short_ = reply({});
    short_.resize(239);
    const std::vector<std::vector<uint8_t>> packets = {
        reply({53, 1, 2, 255}, kXid + 1),  // another transaction
        request,                           // a BOOTREQUEST (another client's DISCOVER)
        noCookie,
        short_,
        reply({255}),               // no message type
        reply({53, 1, 3, 255}),     // a REQUEST
        reply({53, 2, 2, 2, 255}),  // a type of the wrong length
        reply({53, 5, 2}),          // a length past the end
        reply({255, 53, 1, 2}),     // after the end
        reply({52, 1, 1, 255}),     // overloaded, nothing in the file field
    };
    for (size_t i = 0; i < packets.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_FALSE(read(packets[i]));
    }
}

}  // namespace
