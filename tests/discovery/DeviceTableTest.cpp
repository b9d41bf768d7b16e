#include "discovery/DeviceTable.h"

#include <gtest/gtest.h>

namespace {

Tag_DevInfo Device(const char* mac, uint8_t online = 1) {
    Tag_DevInfo d;
    d.online = online;
    d.mac = mac;
    d.address = "10.0.0.1";
    return d;
}

using Numbers = std::vector<int>;

TEST(DeviceTable, IndexesKeepEntryOrderAndMoveOnChange) {
    DeviceTable t;
    t.Add(1, Device("aa"));
    t.Add(2, Device("bb"));
    t.Add(3, Device("aa"));
    EXPECT_EQ(t.NumbersByMac("aa"), (Numbers{1, 3}));
    EXPECT_EQ(t.NumbersByOnline(1), (Numbers{1, 2, 3}));
    // Vendor, model and version are indexed once set.
    EXPECT_TRUE(t.NumbersByVendor("").empty());
    t.SetModel(3, "X100");
    t.SetModel(1, "X100");
    t.SetModel(2, "X200");
    EXPECT_EQ(t.NumbersByModel("X100"), (Numbers{3, 1}));

    // Moving a device removes it under the old value and appends it under the new one.
    t.SetModel(3, "X200");
    EXPECT_EQ(t.NumbersByModel("X100"), (Numbers{1}));
    EXPECT_EQ(t.NumbersByModel("X200"), (Numbers{2, 3}));
    t.SetOnline(1, 0);
    EXPECT_EQ(t.NumbersByOnline(1), (Numbers{2, 3}));
    EXPECT_EQ(t.NumbersByOnline(0), (Numbers{1}));
    EXPECT_EQ(t.Find(1)->online, 0);
    // Setting the same value again keeps the place.
    t.SetVersion(2, "1.0");
    t.SetVersion(3, "1.0");
    t.SetVersion(2, "1.0");
    EXPECT_EQ(t.NumbersByVersion("1.0"), (Numbers{2, 3}));

    EXPECT_FALSE(t.SetVendor(9, "x"));
    EXPECT_EQ(t.Numbers(), (Numbers{1, 2, 3}));
    t.Clear();
    EXPECT_TRUE(t.Empty());
    EXPECT_TRUE(t.NumbersByMac("aa").empty());
    EXPECT_TRUE(t.NumbersByModel("X200").empty());
    EXPECT_TRUE(t.NumbersByOnline(1).empty());
}

// The column filters: the devices that hold every value chosen, in the order of the shortest
// list; a value no device has any more filters nothing.
TEST(DeviceTable, FiltersKeepTheDevicesThatHoldEveryValueChosen) {
    DeviceTable t;
    for (int n = 1; n <= 5; ++n)
        t.Add(n, Device("m", n == 4 ? 0 : 1));
    const char* models[] = {"X100", "X200", "X100", "X100", "X300"};
    for (int n = 1; n <= 5; ++n)
        t.SetModel(n, models[n - 1]);
    t.SetVersion(3, "2.0");
    t.SetVersion(1, "2.0");
    t.SetVendor(2, "Orvo");
    const struct {
        DeviceFilter filter;
        Numbers expected;
    } cases[] = {
        {{}, {1, 2, 3, 4, 5}},
        {{1, {}, {}, {}}, {1, 2, 3, 5}},
        {{{}, {}, QString("X100"), {}}, {1, 3, 4}},
        {{1, {}, QString("X100"), {}}, {1, 3}},
        {{0, {}, QString("X100"), {}}, {4}},
        {{{}, {}, QString("X100"), QString("2.0")}, {3, 1}},
        {{{}, QString("Orvo"), QString("X100"), {}}, {}},
        {{{}, QString("Acme"), QString("X300"), {}}, {5}},  // no device is Acme any more
    };
    for (const auto& c : cases)
        EXPECT_EQ(t.Filtered(c.filter), c.expected);
}

}  // namespace
