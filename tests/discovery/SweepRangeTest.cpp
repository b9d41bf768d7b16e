#include "discovery/SweepRange.h"

#include <gtest/gtest.h>

namespace {

uint32_t Ip(const char* text) {
    uint32_t a = 0;
    EXPECT_TRUE(ParseIpv4(QString::fromLatin1(text), &a)) << text;
    return a;
}

TEST(SweepRange, HostAddressesOfANetwork) {
    const struct {
        const char* address;
        const char* mask;
        const char* first;
        const char* last;
        uint64_t count;
        int64_t shown;
    } cases[] = {
        {"192.168.1.7", "255.255.255.0", "192.168.1.1", "192.168.1.254", 254, 253},
        {"10.0.0.5", "255.255.255.248", "10.0.0.1", "10.0.0.6", 6, 5},
        {"172.16.5.9", "255.255.252.0", "172.16.4.1", "172.16.7.254", 1022, 1021},
        {"10.0.0.4", "255.255.255.254", "10.0.0.5", "10.0.0.4", 0, -1},  // /31
        {"10.0.0.4", "255.255.255.255", "10.0.0.5", "10.0.0.3", 0, -2},  // /32
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.address) + "/" + c.mask);
        const SweepRange r = SweepRangeOf(Ip(c.address), Ip(c.mask));
        EXPECT_EQ(r.first, Ip(c.first));
        EXPECT_EQ(r.last, Ip(c.last));
        EXPECT_EQ(r.Count(), c.count);
        EXPECT_EQ(r.ShownSize(), c.shown);
        EXPECT_EQ(r.Sweepable(), c.count >= 2);
    }
}

TEST(SweepRange, EdgesOfTheAddressSpaceGiveNoWrappedRange) {
    EXPECT_EQ(SweepRangeOf(0xFFFFFFFF, 0xFFFFFFFF).Count(), 0u);
    EXPECT_EQ(SweepRangeOf(0, 0xFFFFFFFF).Count(), 0u);
    const SweepRange top = SweepRangeOf(Ip("255.255.255.1"), Ip("255.255.255.0"));
    EXPECT_EQ(top.last, Ip("255.255.255.254"));
    EXPECT_EQ(top.Count(), 254u);
}

TEST(SweepRange, FindsTheFirstRowWithTheAddress) {
    std::vector<InterfaceRow> table(3);
    table[0].address = Ip("10.0.0.5");
    table[0].mask = Ip("255.0.0.0");
    table[1].address = Ip("192.168.1.7");
    table[1].mask = Ip("255.255.255.0");
    table[1].name = "first";
    table[2] = table[1];
    table[2].name = "second";
    ASSERT_NE(FindInterfaceRow(table, "192.168.1.7"), nullptr);
    EXPECT_EQ(FindInterfaceRow(table, "192.168.1.7")->name, "first");
    EXPECT_EQ(FindInterfaceRow(table, "192.168.1.8"), nullptr);
}

TEST(MacFilter, PrefixMatchIgnoringCase) {
    const uint8_t bytes[6] = {0x0A, 0x1B, 0x2C, 0x33, 0x44, 0x55};
    EXPECT_EQ(MacText(bytes), "0a-1b-2c-33-44-55");
    const struct {
        const char* mac;
        const char* filter;
        bool matches;
    } cases[] = {
        {"0a-1b-2c-33-44-55", "", true},
        {"0a-1b-2c-33-44-55", "   ", true},
        {"0a-1b-2c-33-44-55", "0a-1b-2c-", true},
        {"0a-1b-2d-33-44-55", "0a-1b-2c-", false},
        {"0a-1b-2c-33-44-55", "0A-1b", true},
        {"0a-1b-2c-33-44-55", " 0a-1b-2c ", true},
        {"0a-1b-2c-33-44-55", "0a-1b-2c-33-44-55", true},
        {"0a-1b-2c-33-44-55", "0a-1b-2c-33-44-55-", false},  // longer than the MAC text
        {"0a-1b-2c-33-44-55", "0a:1b", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MacMatchesFilter(c.mac, c.filter), c.matches) << c.mac << " / " << c.filter;
}

}  // namespace
