#include "visual/DescriptionCache.h"

#include "app/KeyHash.h"
#include "support//RecordingDialogs.h"
#include "support/QtPrinters.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <unordered_map>

namespace {

class ResolvePageTest : public ::testing::Test {
  protected:
    ResolvePageTest() {
        dir.write("json/account.json", R"({"account": {
            "Account1": {"Name": {"PNo": "P1", "ViewType": "Edit", "Hint": ""}},
            "account2": {"Name": {"PNo": "P2", "ViewType": "Edit", "Hint": ""}}}})");
        dir.write("json/scalar.json", R"("just text")");
        dir.write("json/noroot.json", R"({})");
        dir.write("json/flat.json", R"({"page": "text"})");
        dir.write("json/bad.json", R"({"page": )");
    }
    const cJSON* resolve(const char* ref) {
        return ResolvePage(ref, dir.file("json/"), cache, dialogs);
    }
    TempDir dir;
    RecordingDialogs dialogs;
    DescriptionCache cache;
};

}  // namespace

TEST_F(ResolvePageTest, WholePageOrNamedSection) {
    const cJSON* whole = resolve("account.json");
    ASSERT_NE(whole, nullptr);
    EXPECT_EQ(JsonKey(whole), "account");
    EXPECT_EQ(resolve("account.json?"), whole);
    const cJSON* section = resolve("account.json?Account1");
    ASSERT_NE(section, nullptr);
    EXPECT_EQ(JsonKey(section), "Account1");
    EXPECT_EQ(JsonKey(resolve("account.json?account2")), "account2");
    EXPECT_TRUE(dialogs.shown.isEmpty());
    EXPECT_EQ(resolve(""), nullptr);
    EXPECT_TRUE(dialogs.shown.isEmpty());
}

TEST_F(ResolvePageTest, RefusedPagesShowTheirMessages) {
    const struct {
        const char* ref;
        QStringList messages;
    } cases[] = {
        {"account.json?account1", {"LJsonError5"}},  // sections match case-sensitively
        {"account.json?Account3", {"LJsonError5"}},
        {"scalar.json", {"LJsonError1"}},
        {"noroot.json", {"LJsonError3"}},
        {"flat.json?S", {"LJsonError3"}},
        {"missing.json", {dir.file("json/missing.json") + " not exist!", "LJsonError4"}},
        {"bad.json?S",
         {"Invalid Json file " + dir.file("json/bad.json") + " format! ", "LJsonError4"}},
    };
    for (const auto& c : cases) {
        dialogs.clear();
        EXPECT_EQ(resolve(c.ref), nullptr) << c.ref;
        EXPECT_EQ(dialogs.messages(), c.messages) << c.ref;
    }
}

TEST_F(ResolvePageTest, EachFileIsReadOncePerModelSelection) {
    ASSERT_NE(resolve("account.json?Account1"), nullptr);
    dir.write("json/account.json", R"({"changed": {}})");
    // Later requests use the parsed tree, whichever section they name.
    EXPECT_NE(resolve("account.json?account2"), nullptr);
    EXPECT_EQ(resolve("account.json?Account9"), nullptr);
    EXPECT_EQ(cache.DiskReads(), 1);
    EXPECT_EQ(cache.Count(), 1);

    cache.Clear();
    EXPECT_EQ(JsonKey(resolve("account.json")), "changed");
    EXPECT_EQ(cache.DiskReads(), 2);
}

TEST(DescriptionCache, PathsWithTheSameHashStayApart) {
    // Two file names whose paths hash alike, found by search.
    std::unordered_map<int32_t, QString> seen;
    QString first, second;
    for (int i = 0; second.isEmpty(); ++i) {
        const QString path = "/m/" + QString::number(i * 7919) + ".json";
        const auto [it, added] = seen.emplace(KeyHash(path.toUtf8()), path);
        if (!added) {
            first = it->second;
            second = path;
        }
    }
    DescriptionCache cache;
    cache.Add(first, ParseJsonText(R"({"first": {}})"));
    EXPECT_EQ(cache.Find(second), nullptr);
    cache.Add(second, ParseJsonText(R"({"second": {}})"));
    EXPECT_EQ(JsonKey(JsonFirst(cache.Find(first))), "first");
    EXPECT_EQ(JsonKey(JsonFirst(cache.Find(second))), "second");
}
