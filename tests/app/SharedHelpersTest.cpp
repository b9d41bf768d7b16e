#include "app/AtomicFile.h"
#include "app/Dialogs.h"
#include "app/InterfaceTable.h"
#include "app/KeyHash.h"
#include "app/LanguageTable.h"
#include "app/MyExclusiveIntArray.h"
#include "app/Numbers.h"
#include "app/TextLines.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

TEST(LeadingInt, ReadsTheLeadingDecimalNumber) {
    const struct {
        const char* text;
        int value;
    } cases[] = {{"7", 7},
                 {"7abc", 7},
                 {" 7", 7},
                 {"", 0},
                 {"abc", 0},
                 {"-3", -3},
                 {"+4", 4},
                 {"0012", 12},
                 {"99999999999", 2147483647},
                 {"-99999999999", -2147483647 - 1}};
    for (const auto& c : cases) {
        EXPECT_EQ(ReadLeadingInt(QString(c.text)), c.value) << c.text;
        EXPECT_EQ(ReadLeadingInt(c.text, qstrlen(c.text)), c.value) << c.text;
    }
}

TEST(KeyHashTest, IsTheSignedByteRecurrenceMaskedTo31Bits) {
    EXPECT_EQ(KeyHash(""), 0);
    EXPECT_EQ(KeyHash("A"), 65);
    EXPECT_EQ(KeyHash("PNo"), (('P' * 131 + 'N') * 131 + 'o') & 0x7FFFFFFF);
    // a byte above 127 counts as negative
    EXPECT_EQ(KeyHash("\xff"), 0x7FFFFFFF);
    uint32_t h = 0;
    for (char c : QByteArray("ViewType-a-long-name-that-wraps"))
        h = h * 131u + static_cast<uint32_t>(static_cast<signed char>(c));
    EXPECT_EQ(KeyHash("ViewType-a-long-name-that-wraps"), static_cast<int32_t>(h & 0x7FFFFFFF));
}

TEST(ExclusiveIntArray, KeepsInsertionOrderWithoutDuplicates) {
    MyExclusiveIntArray a;
    for (int v : {5, 3, 5, 9, 3})
        a.Add(v);
    EXPECT_EQ(a.Count(), 3);
    EXPECT_EQ(a.At(0), 5);
    EXPECT_EQ(a.At(2), 9);
    EXPECT_EQ(a.At(-1), -1);
    EXPECT_EQ(a.At(3), -1);
    EXPECT_EQ(a.IndexOf(9), 2);
    EXPECT_EQ(a.IndexOf(4), -1);
    a.Remove(3);
    a.Remove(42);
    EXPECT_EQ(a.Count(), 2);
    EXPECT_EQ(a.At(1), 9);
    a.Clear();
    EXPECT_EQ(a.Count(), 0);
}

TEST(Language, FirstLineOfANameWinsIgnoringCase) {
    LanguageTable t;
    EXPECT_EQ(t.Translate("DDButton"), "");
    ASSERT_TRUE(
        t.LoadText("[section]\r\nDDButton=Discover\r\nddbutton=second\r\nLCfgError1 =blank\r\n"
                   "LCfgError2=Bad file: \r\nLGerman=Ger\xc3\xa4t\r\nLEq=a=b\n"));
    EXPECT_EQ(t.Translate("DDButton"), "Discover");
    EXPECT_EQ(t.Translate("ddBUTTON"), "Discover");
    EXPECT_EQ(t.Translate("LCfgError1"), "");  // the blank belongs to the name
    EXPECT_EQ(t.Translate("LCfgError2"), "Bad file: ");
    EXPECT_EQ(t.Translate("LGerman"), QString::fromUtf8("Ger\xc3\xa4t"));
    EXPECT_EQ(t.Translate("LEq"), "a=b");
    EXPECT_EQ(t.Translate("[section]"), "");
    EXPECT_FALSE(t.LoadText(""));
    EXPECT_EQ(t.Translate("DDButton"), "Discover");  // an empty file keeps the table in force

    TempDir dir;
    EXPECT_EQ(t.LoadFile(dir.file("none")), LanguageTable::LoadResult::Missing);
    EXPECT_EQ(t.LoadFile(dir.write("Empty", "")), LanguageTable::LoadResult::Empty);
    EXPECT_EQ(t.LoadFile(dir.write("Other", "DDButton=Suchen")), LanguageTable::LoadResult::Ok);
    EXPECT_EQ(t.Translate("DDButton"), "Suchen");
}

TEST(UiTextTest, KeepsKeysAndLiteralsInOrder) {
    const UiText t = UiText::key("LMsgTooMuchPart1").addLiteral("1021").addKey("LMsgTooMuchPart2");
    EXPECT_EQ(t.keys(), QStringList({"LMsgTooMuchPart1", "LMsgTooMuchPart2"}));
    EXPECT_EQ(t.render([](const QString& k) { return "<" + k + ">"; }),
              "<LMsgTooMuchPart1>1021<LMsgTooMuchPart2>");
}

TEST(Lines, SplitOnEveryKindOfBreak) {
    const std::vector<QByteArray> lines = SplitTextLines("a\r\nb\nc\rd\r\n\r\ne");
    EXPECT_EQ(lines, (std::vector<QByteArray>{"a", "b", "c", "d", "", "e"}));
    EXPECT_TRUE(SplitTextLines("").empty());
    EXPECT_EQ(SplitTextLines("x\n").size(), 1u);
}

TEST(AtomicWrite, ReplacesWholeAndKeepsTheMode) {
    TempDir dir;
    const QString path = dir.write("f", "old");
    ::chmod(QFile::encodeName(path).constData(), 0640);
    ASSERT_TRUE(WriteFileAtomically(path, QByteArray("new")));
    EXPECT_EQ(ReadFileBytes(path), "new");
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"f"});
    EXPECT_FALSE(WriteFileAtomically("", QByteArray("x")));
    EXPECT_FALSE(WriteFileAtomically(dir.path() + "/", QByteArray("x")));
}

TEST(AtomicWrite, EveryNameTheFolderTakesCanBeWrittenAndReplaced) {
    TempDir dir;
    const qsizetype limit = FileNameLimit(dir.path());
    ASSERT_GE(limit, 255);
    const QByteArray e = "\xc3\xa9";  // two bytes, one character
    const QByteArray names[] = {
        "f",
        QByteArray(200, 'a'),
        QByteArray(240, 'b'),
        QByteArray(255, 'c'),
        e.repeated(127) + "x",  // 255 bytes: the cut must not split a character
        "x" + e.repeated(127),
    };
    for (const QByteArray& name : names) {
        const QString path = dir.path() + "/" + QFile::decodeName(name);
        ASSERT_TRUE(WriteFileAtomically(path, QByteArray("one"))) << name.size();
        ASSERT_TRUE(WriteFileAtomically(path, QByteArray("two"))) << name.size();
        EXPECT_EQ(ReadFileBytes(path), "two");
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                  QStringList{QFile::decodeName(name)});
        QFile::remove(path);
    }
    // A name the folder does not take fails and leaves nothing behind.
    EXPECT_FALSE(WriteFileAtomically(dir.path() + "/" + QString(limit + 1, 'd'), QByteArray("x")));
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

TEST(Interfaces, LoopbackIsListedWithItsMaskAndRowsAreSorted) {
    std::vector<InterfaceRow> rows;
    ASSERT_TRUE(ReadInterfaceTable(&rows));
    bool loopback = false;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].AddressText() == "127.0.0.1") {
            loopback = true;
            EXPECT_EQ(rows[i].mask, 0xFF000000u);
        }
        if (i > 0) {
            EXPECT_LE(rows[i - 1].address, rows[i].address);
        }
    }
    EXPECT_TRUE(loopback);
    uint32_t a = 0;
    EXPECT_TRUE(ParseIpv4("192.168.1.7", &a));
    EXPECT_EQ(a, 0xC0A80107u);
    EXPECT_EQ(Ipv4Text(a), "192.168.1.7");
    EXPECT_FALSE(ParseIpv4("192.168.1", &a));
    EXPECT_FALSE(ParseIpv4("host", &a));
}

}  // namespace
