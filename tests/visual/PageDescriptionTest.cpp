#include "visual/PageDescription.h"

#include "support//RecordingDialogs.h"
#include "support/QtPrinters.h"
#include "visual/JsonFile.h"

#include <gtest/gtest.h>

namespace {

struct Described {
    RecordingDialogs dialogs;
    PageDescription page;
    explicit Described(const char* json) {
        const JsonTree root = ParseJsonText(json);
        EXPECT_TRUE(root) << json;
        page = DescribePage(root.get(), dialogs);
    }
};

}  // namespace

TEST(DescribePage, RowsOfItemsAndGroups) {
    Described d(R"({
        "Active": {"PNo": "P271", "ViewType": "ComboBox", "Hint": "on/off",
                   "Choices": ["No", "Yes"], "CValues": ["0", "1"]},
        "Server": {"Host": {"PNo": "P30", "ViewType": "Edit", "Hint": "host"},
                   "Note": {"PNo": "P0", "ViewType": "Label", "Hint": ""}},
        "Name": {"PNo": "P35", "ViewType": "Edit", "Hint": "n\u00e4me"}
    })");
    EXPECT_TRUE(d.dialogs.shown.isEmpty());
    EXPECT_FALSE(d.page.stopped);
    const auto& items = d.page.items;
    ASSERT_EQ(items.size(), 5u);
    // An item takes a row; a group's caption, its members, then one empty row.
    const int rows[] = {0, 1, 2, 3, 5};
    const char* captions[] = {"Active", "Server", "Host", "Note", "Name"};
    const ViewKind kinds[] = {ViewKind::ComboBox, ViewKind::None, ViewKind::Edit, ViewKind::Label,
                              ViewKind::Edit};
    for (size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(items[i].row, rows[i]) << i;
        EXPECT_EQ(items[i].caption, captions[i]) << i;
        EXPECT_EQ(items[i].kind, kinds[i]) << i;
        EXPECT_EQ(items[i].groupCaption, i == 1) << i;
    }
    EXPECT_EQ(items[0].choices, (QStringList{"No", "Yes"}));
    EXPECT_EQ(items[0].values, (std::vector<int>{0, 1}));
    EXPECT_EQ(items[0].hint, "on/off");
    EXPECT_EQ(items[4].hint, QString::fromUtf8("n\xC3\xA4me"));
    PNumber p = 0;
    EXPECT_TRUE(items[4].BoundNumber(0, &p));
    EXPECT_EQ(p, 35);
    EXPECT_FALSE(items[4].BoundNumber(1, &p));
}

TEST(DescribePage, ViewTypeIsFoundByKeyAmongAllMembers) {
    Described d(R"({
        "A": {"PNo": "P1", "Hint": "h", "X": 1, "ViewType": "Edit"},
        "B": {"PNo": "P2", "Hint": "h"},
        "C": {"PNo": "P3", "ViewType": "Slider", "Hint": "h"},
        "D": {"PNo": "P4", "ViewType": 1, "Hint": "h"}
    })");
    ASSERT_EQ(d.page.items.size(), 4u);
    EXPECT_EQ(d.page.items[0].kind, ViewKind::Edit);
    EXPECT_EQ(d.page.items[1].kind, ViewKind::None);
    EXPECT_EQ(d.page.items[2].kind, ViewKind::None);
    EXPECT_EQ(d.page.items[3].kind, ViewKind::None);
    EXPECT_EQ(d.dialogs.messages(), QStringList{"LJsonError6"});
}

TEST(DescribePage, AMemberWithoutMembersEndsThePage) {
    // A group is recognised by its first member having members; "G" is one.
    Described d(R"({
        "A": {"PNo": "P1", "ViewType": "Edit", "Hint": ""},
        "G": {"B": {"PNo": "P2", "ViewType": "Edit", "Hint": ""}, "Empty": {}},
        "Stop": "text",
        "Never": {"PNo": "P3", "ViewType": "Edit", "Hint": ""}
    })");
    EXPECT_TRUE(d.page.stopped);
    // The group member without members is a caption without control, and does not stop.
    ASSERT_EQ(d.page.items.size(), 4u);
    EXPECT_EQ(d.page.items[2].caption, "B");
    EXPECT_EQ(d.page.items[3].caption, "Empty");
    EXPECT_EQ(d.page.items[3].kind, ViewKind::None);
    EXPECT_EQ(d.dialogs.messages(), (QStringList{"LJsonError3", "LJsonError3"}));
}

TEST(DescribePage, NumbersAddressesAndUnboundItems) {
    Described d(R"({
        "IP": {"PNo": "P9.P10.P11.P12", "ViewType": "Edit", "Hint": "ip"},
        "Three": {"PNo": "P9.P10.P11", "ViewType": "Edit", "Hint": ""},
        "NoDigits": {"PNo": "Pxx", "ViewType": "Edit", "Hint": ""},
        "NoHint": {"PNo": "P5", "ViewType": "Edit"},
        "Combo": {"PNo": "P6", "ViewType": "ComboBox", "Hint": "",
                  "Choices": ["a", "b", "c"], "CValues": [" -1", "x", "+20"]}
    })");
    const auto& items = d.page.items;
    ASSERT_EQ(items.size(), 5u);
    EXPECT_TRUE(items[0].address);
    EXPECT_EQ(items[0].numbers, (std::vector<PNumber>{9, 10, 11, 12}));
    EXPECT_FALSE(items[1].address);
    PNumber p = 0;
    EXPECT_TRUE(items[1].BoundNumber(0, &p));
    EXPECT_EQ(p, 9);
    EXPECT_FALSE(items[2].BoundNumber(0, &p));
    EXPECT_FALSE(items[3].bindable);
    EXPECT_FALSE(items[3].BoundNumber(0, &p));
    EXPECT_EQ(items[4].values, (std::vector<int>{-1, 0, 20}));
}

TEST(DigitRuns, EveryRunOfDigitsInOrder) {
    EXPECT_EQ(DigitRuns("P271"), (std::vector<PNumber>{271}));
    EXPECT_EQ(DigitRuns("12ab3..045"), (std::vector<PNumber>{12, 3, 45}));
    EXPECT_TRUE(DigitRuns("P").empty());
    EXPECT_TRUE(DigitRuns(nullptr).empty());
}

TEST(ComboValues, StoredValueToOptionAndBack) {
    const std::vector<int> straight{0, 1, 2}, tens{10, 20, 30};
    const QByteArray two("2"), seven("7"), twenty(" 20abc");
    const struct {
        const std::vector<int>* values;
        const QByteArray* stored;
        bool empty;
        int index;
    } cases[] = {
        {&straight, &two, false, 2},
        {&tens, &two, false, 2},  // not listed: the value is the option number
        {&tens, &twenty, false, 1},
        {&straight, &seven, false, -1},
        {&tens, nullptr, false, 0},  // absent parameter reads as 0
        {&tens, &twenty, true, 0},   // empty set: option 0
    };
    for (const auto& c : cases)
        EXPECT_EQ(ComboIndexFor(*c.values, 3, c.stored, c.empty), c.index);
    EXPECT_EQ(ComboIndexFor({}, 0, nullptr, true), -1);
    EXPECT_EQ(ComboIndexFor({5, 6, 7, 8}, 3, &seven, false), 2);
    const QByteArray eight("8");
    EXPECT_EQ(ComboIndexFor({5, 6, 7, 8}, 3, &eight, false), -1);  // listed beyond the options

    EXPECT_EQ(ComboStoredText(tens, 1), "20");
    EXPECT_EQ(ComboStoredText(tens, -1), "-1");
    EXPECT_EQ(ComboStoredText(tens, 4), "4");
    EXPECT_EQ(ComboStoredText({-1, 5}, 0), "0");
}
