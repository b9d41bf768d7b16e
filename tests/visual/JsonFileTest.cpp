#include "visual/JsonFile.h"

#include "support//RecordingDialogs.h"
#include "support/QtPrinters.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QDir>

TEST(ReadJsonFile, BadFilesShowTheirLiteralMessageWithThePath) {
    TempDir dir;
    QDir().mkpath(dir.file("folder.json"));
    dir.write("empty.json", "");
    dir.write("broken.json", "{\"a\": [1, 2}");
    const struct {
        const char* name;
        const char* format;
    } cases[] = {
        {"missing.json", "%1 not exist!"},
        {"folder.json", "Open Json file %1 fail!"},
        {"empty.json", "Invalid Json file %1, file is null! "},
        {"broken.json", "Invalid Json file %1 format! "},
    };
    for (const auto& c : cases) {
        RecordingDialogs dialogs;
        const QString path = dir.file(c.name);
        EXPECT_FALSE(ReadJsonFile(path, dialogs)) << c.name;
        EXPECT_EQ(dialogs.messages(), QStringList{QString(c.format).arg(path)}) << c.name;
    }
}

TEST(ReadJsonFile, ParsesAWholeFileKeepingMemberOrder) {
    TempDir dir;
    RecordingDialogs dialogs;
    const QString path =
        dir.write("page.json", "\xEF\xBB\xBF{\"b\": 1, \"a\": {\"x\": \"\xC3\xA4\"}, \"b\": 2}");
    const JsonTree tree = ReadJsonFile(path, dialogs);
    ASSERT_TRUE(tree);
    EXPECT_TRUE(dialogs.shown.isEmpty());
    EXPECT_EQ(JsonKey(JsonMemberAt(tree.get(), 0)), "b");
    EXPECT_EQ(JsonKey(JsonMemberAt(tree.get(), 1)), "a");
    EXPECT_EQ(JsonKey(JsonMemberAt(tree.get(), 2)), "b");
    EXPECT_EQ(JsonMemberAt(tree.get(), 3), nullptr);
    EXPECT_STREQ(JsonString(JsonFirst(JsonMemberAt(tree.get(), 1))), "\xC3\xA4");
    EXPECT_FALSE(JsonHasMembers(JsonMemberAt(tree.get(), 0)));
}
