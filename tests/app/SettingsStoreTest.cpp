#include "app/SettingsStore.h"

#include "support/FileSizeLimit.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

namespace {

SettingsStore store(const QByteArray& text) {
    SettingsStore s;
    s.LoadText(text);
    return s;
}

TEST(Settings, ReadsByTheLineRules) {
    const SettingsStore s = store(
        "; comment\r\n"
        "[http server]\r\n"
        "mode=2\r\n"
        "Mode=9\r\n"
        "ex_path=a=b\r\n"
        "built_in_port= 7000\r\n"
        "\r\n"
        "hidden=1\r\n"
        "[LANG]\r\n"
        "lang =Deutsch\r\n"
        "lang=English\r\n"
        "[LANG]\r\n"
        "lang=Second\r\n");
    const struct {
        const char* section;
        const char* key;
        const char* value;
    } cases[] = {
        {"[HTTP SERVER]", "mode", "2"},       // section found ignoring case
        {"[HTTP SERVER]", "Mode", "9"},       // keys compare exactly
        {"[HTTP SERVER]", "ex_path", "a=b"},  // value after the first "="
        {"[HTTP SERVER]", "built_in_port", " 7000"},
        {"[HTTP SERVER]", "hidden", ""},  // behind an empty line: not in the section
        {"[LANG]", "lang", "English"},    // "lang " is another key; the first [LANG] counts
        {"[MISSING]", "lang", ""},
        {"HTTP SERVER", "mode", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(s.Read(c.section, c.key), c.value) << c.section << " " << c.key;
    EXPECT_EQ(s.ReadInt({"[HTTP SERVER]", "built_in_port", "6000"}), 7000);
    EXPECT_EQ(s.ReadInt({"[HTTP SERVER]", "ex_path", "0"}), 0);
    EXPECT_EQ(s.Read(SettingKey{"[HTTP SERVER]", "hidden", "dflt"}), "dflt");
    EXPECT_EQ(s.Read(Setting::HttpExPath), "a=b");
}

TEST(Settings, LineBreaksOfEveryKindAndNoFinalBreak) {
    for (const QByteArray& text : {QByteArray("[A]\r\nk=1\r\nj=2"), QByteArray("[A]\nk=1\nj=2\n"),
                                   QByteArray("[A]\rk=1\rj=2\r")}) {
        const SettingsStore s = store(text);
        EXPECT_EQ(s.Read("[A]", "k"), "1");
        EXPECT_EQ(s.Read("[A]", "j"), "2");
        EXPECT_EQ(s.Text(), "[A]\r\nk=1\r\nj=2\r\n");
    }
}

TEST(Settings, SectionEntriesStopAtTheFirstLineWithoutKey) {
    const SettingsStore s = store(
        "[MAC FILTER]\nmode=1\nfilter=A(0a-1b-2c)\nfilter=B(0a-1b-2d)\n"
        "=x\nfilter=C\n");
    const QList<SettingsStore::Entry> entries = s.SectionEntries("[mac filter]");
    ASSERT_EQ(entries.size(), 3);
    EXPECT_EQ(entries[1], SettingsStore::Entry("filter", "A(0a-1b-2c)"));
    EXPECT_EQ(entries[2], SettingsStore::Entry("filter", "B(0a-1b-2d)"));
    EXPECT_EQ(s.Read("[MAC FILTER]", "filter"), "A(0a-1b-2c)");  // plain reads take the first
}

TEST(Settings, WritesReplaceExistingKeyLinesOnly) {
    SettingsStore s = store("[A]\nk=1\nk=2\n\nhidden=3\n[B]\nk=4\n");
    EXPECT_TRUE(s.Write("[a]", "k", "x=y"));
    EXPECT_FALSE(s.Write("[A]", "hidden", "9"));
    EXPECT_FALSE(s.Write("[A]", "new", "9"));
    EXPECT_FALSE(s.Write("[C]", "k", "9"));
    EXPECT_EQ(s.Text(), "[A]\r\nk=x=y\r\nk=2\r\n\r\nhidden=3\r\n[B]\r\nk=4\r\n");
}

TEST(Settings, ValuesWithLineBreaksStayOnTheirLineAndHideNoKey) {
    const char* pasted[] = {"224.0.1.75\n", "224.0.1.75\r\n", "\r224.0\r.1.75", "224.0.\n\n1.75\r"};
    for (const char* value : pasted) {
        TempDir dir;
        dir.write("ini/setting.ini", "[PNP SERVER]\nmode=0\ngroup=224.0.1.75\nport=5060\n");
        SettingsStore s;
        ASSERT_TRUE(s.Load(dir.path()));
        ASSERT_TRUE(s.Write(Setting::PnpGroup, value));
        ASSERT_TRUE(s.Save(dir.path()));

        SettingsStore again;
        ASSERT_TRUE(again.Load(dir.path()));
        EXPECT_EQ(again.Read(Setting::PnpGroup), "224.0.1.75") << value;
        EXPECT_EQ(again.Read(Setting::PnpPort), "5060") << value;
        EXPECT_EQ(ReadFileBytes(dir.file("ini/setting.ini")),
                  "[PNP SERVER]\r\nmode=0\r\ngroup=224.0.1.75\r\nport=5060\r\n");
    }
}

TEST(Settings, WithoutAListReadsAreEmptyAndNothingIsSaved) {
    TempDir dir;
    SettingsStore s;
    EXPECT_FALSE(s.Load(dir.path()));
    EXPECT_FALSE(s.HasList());
    EXPECT_EQ(s.Read("[LANG]", "lang"), "");
    EXPECT_EQ(s.Read(Setting::HttpBuiltInPort), "6000");
    EXPECT_FALSE(s.Write(Setting::HttpBuiltInPort, "7000"));
    EXPECT_TRUE(s.Save(dir.path()));
    EXPECT_FALSE(QFileInfo::exists(dir.file("ini/setting.ini")));
}

TEST(Settings, FallsBackToTheDefaultFileAndNeverWritesIt) {
    TempDir dir;
    const QByteArray defaults = "[HTTP SERVER]\nbuilt_in_port=6000\n";
    dir.write("ini/$default.ini", defaults);
    SettingsStore s;
    ASSERT_TRUE(s.Load(dir.path()));
    EXPECT_TRUE(s.Write(Setting::HttpBuiltInPort, "7000"));
    ASSERT_TRUE(s.Save(dir.path()));
    EXPECT_EQ(ReadFileBytes(dir.file("ini/$default.ini")), defaults);
    EXPECT_EQ(ReadFileBytes(dir.file("ini/setting.ini")),
              "[HTTP SERVER]\r\nbuilt_in_port=7000\r\n");

    dir.write("ini/setting.ini", "[HTTP SERVER]\nbuilt_in_port=8000\n");
    ASSERT_TRUE(s.Load(dir.path()));
    EXPECT_EQ(s.Read(Setting::HttpBuiltInPort), "8000");
}

TEST(Settings, AFailedSaveKeepsTheOldFile) {
    TempDir dir;
    const QByteArray old = "[A]\nk=old\n";
    dir.write("ini/setting.ini", old);
    SettingsStore s;
    ASSERT_TRUE(s.Load(dir.path()));
    s.Write("[A]", "k", QString(64 * 1024, 'n'));
    {
        FileSizeLimit limit(4096);
        EXPECT_FALSE(s.Save(dir.path()));
    }
    EXPECT_EQ(ReadFileBytes(dir.file("ini/setting.ini")), old);
    EXPECT_EQ(QDir(dir.file("ini")).entryList(QDir::Files | QDir::Hidden),
              QStringList{"setting.ini"});
    EXPECT_FALSE(s.Save(dir.file("missing")));
}

}  // namespace
