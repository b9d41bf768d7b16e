#include "visual/CfgOutline.h"

#include "app/KeyHash.h"
#include "support//RecordingDialogs.h"
#include "support/QtPrinters.h"
#include "support/TempDir.h"
#include "visual/JsonFile.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<int32_t> keysOf(const CfgOutline& outline) {
    std::vector<int32_t> out;
    for (int i = 0; i < outline.PictureKeys().Count(); ++i)
        out.push_back(outline.PictureKeys().At(i));
    return out;
}

struct Built {
    RecordingDialogs dialogs;
    CfgOutline outline;
    bool ok = false;
    explicit Built(const char* json) {
        const JsonTree root = ParseJsonText(json);
        EXPECT_TRUE(root) << json;
        ok = outline.Build(root.get(), dialogs);
    }
};

}  // namespace

TEST(CfgOutline, NodesInDepthFirstOrderWithTheirReferences) {
    Built b(R"({"outline": {
        "Status": "status.json",
        "Accounts": {"Account 1": "account.json?Account1", "Empty": {}, "Account 2": "account.json?Account2"},
        "Network": "network.json"
    }, "ignored": 1})");
    ASSERT_TRUE(b.ok);
    const auto& n = b.outline.Nodes();
    ASSERT_EQ(n.size(), 6u);
    const char* captions[] = {"Status", "Accounts", "Account 1", "Empty", "Account 2", "Network"};
    const char* refs[] = {"status.json", "", "account.json?Account1", "", "account.json?Account2",
                          "network.json"};
    const int parents[] = {-1, -1, 1, 1, 1, -1};
    for (size_t i = 0; i < n.size(); ++i) {
        EXPECT_EQ(n[i].caption, captions[i]) << i;
        EXPECT_EQ(n[i].reference, refs[i]) << i;
        EXPECT_EQ(n[i].parent, parents[i]) << i;
    }
    EXPECT_EQ(b.outline.Reference(2), "account.json?Account1");
    EXPECT_EQ(b.outline.Reference(6), "");
    EXPECT_EQ(b.outline.Reference(-1), "");
}

TEST(CfgOutline, PictureKeysFollowTheNodeRules) {
    const struct {
        const char* json;
        std::vector<int32_t> keys;
    } cases[] = {
        // Top-level file stem, group from its first child's stem, child from its section.
        {R"({"o": {"A": "Account.json", "L": {"L1": "line.json?Line1", "L2": "line.json?LINE2"}}})",
         {KeyHash("account"), KeyHash("line"), KeyHash("line1"), KeyHash("line2")}},
        // A child without section contributes its whole reference; a stem without "." is empty.
        {R"({"o": {"G": {"C": "Net.json"}, "T": "plain"}})",
         {KeyHash("net"), KeyHash("net.json"), KeyHash("")}},
        // A group whose first child has no page adds nothing; pageless children add 0.
        {R"({"o": {"G": {"C1": {}, "C2": "x.json?S", "C3": 5}}})", {0, KeyHash("s")}},
        // Keys that hash alike are listed once, so later positions shift.
        {R"({"o": {"A": "a.json", "B": "A.json", "C": "c.json"}})", {KeyHash("a"), KeyHash("c")}},
        // An array root is read through its first element; an empty group adds nothing.
        {R"([{"E": {}, "N": "n.json"}])", {KeyHash("n")}},
    };
    for (const auto& c : cases) {
        Built b(c.json);
        ASSERT_TRUE(b.ok) << c.json;
        EXPECT_EQ(keysOf(b.outline), c.keys) << c.json;
        EXPECT_TRUE(b.dialogs.shown.isEmpty());
    }
}

TEST(CfgOutline, PictureIdsAreLowerCasedBeforeLookUp) {
    Built b(
        R"({"o": {"Accounts": {"One": "account.json?account1", "Two": "account.json?Account2"}}})");
    EXPECT_EQ(b.outline.PictureKeyPosition("Account1"), 1);
    EXPECT_EQ(b.outline.PictureKeyPosition("ACCOUNT2"), 2);
    EXPECT_EQ(b.outline.PictureKeyPosition("account"), 0);
    EXPECT_EQ(b.outline.PictureKeyPosition("nothing"), -1);
}

TEST(CfgOutline, RefusedOutlinesKeepThePreviousOne) {
    const struct {
        const char* json;
        const char* message;
    } cases[] = {
        {"{}", "LJsonError3"},
        {"[]", "LJsonError3"},
        {R"({"o": "page.json"})", "LJsonError1"},
        {R"({"o": 12})", "LJsonError1"},
    };
    for (const auto& c : cases) {
        RecordingDialogs dialogs;
        CfgOutline outline;
        const JsonTree good = ParseJsonText(R"({"o": {"A": "a.json"}})");
        ASSERT_TRUE(outline.Build(good.get(), dialogs));
        const JsonTree root = ParseJsonText(c.json);
        EXPECT_FALSE(outline.Build(root.get(), dialogs)) << c.json;
        EXPECT_EQ(dialogs.messages(), QStringList{c.message}) << c.json;
        EXPECT_EQ(outline.NodeCount(), 1) << c.json;
    }
}

TEST(CfgOutline, LoadReadsTheOutlineFileOfAFolder) {
    TempDir dir;
    RecordingDialogs dialogs;
    CfgOutline outline;
    EXPECT_FALSE(outline.Load(dir.path() + "/", dialogs));
    EXPECT_EQ(dialogs.messages(),
              (QStringList{dir.path() + "/$outline.json not exist!", "LJsonError2"}));

    dir.write("$outline.json", "not json");
    dialogs.clear();
    EXPECT_FALSE(outline.Load(dir.path() + "/", dialogs));
    EXPECT_EQ(dialogs.messages(),
              (QStringList{"Invalid Json file " + dir.path() + "/$outline.json format! ",
                           "LJsonError2"}));

    dir.write("$outline.json", R"({"o": {"\u00c4nderungen": "a.json"}})");
    dialogs.clear();
    EXPECT_TRUE(outline.Load(dir.path() + "/", dialogs));
    EXPECT_TRUE(dialogs.shown.isEmpty());
    ASSERT_EQ(outline.NodeCount(), 1);
    EXPECT_EQ(outline.Nodes()[0].caption, QString::fromUtf8("\xC3\x84nderungen"));
}

TEST(CfgOutline, SplitsReferencesAtTheFirstQuestionMark) {
    const struct {
        const char* ref;
        const char* file;
        const char* section;
    } cases[] = {
        {"a.json", "a.json", ""},
        {"a.json?", "a.json", ""},
        {"a.json?S1", "a.json", "S1"},
        {"a.json?S?T", "a.json", "S?T"},
    };
    for (const auto& c : cases) {
        const PageReference r = SplitPageReference(c.ref);
        EXPECT_EQ(r.file, c.file);
        EXPECT_EQ(r.section, c.section);
    }
}
