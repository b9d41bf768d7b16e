#include "config/BinFile.h"
#include "config/CfgCrypto.h"

#include "config/ConfigFixtures.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QFile>

namespace {

TEST(BinText, WritesPreamblePairsInAscendingOrderAndEndMark) {
    EXPECT_EQ(BuildBinText(MakeParams({{271, "1"}, {2, "admin"}})),
              "Flag=5678&CheckSum=0&P2=admin&P271=1&end");
    EXPECT_EQ(BuildBinText(ParameterSet()), "Flag=5678&CheckSum=0&end");
    EXPECT_EQ(BuildBinText(MakeParams({{7, ""}})), "Flag=5678&CheckSum=0&P7=&end");
    EXPECT_EQ(BuildBinText(MakeParams({{-5, "x"}, {0, "y"}})),
              "Flag=5678&CheckSum=0&P-5=x&P0=y&end");
}

struct ParseCase {
    const char* text;
    BinReadStatus status;
    std::vector<std::pair<PNumber, QByteArray>> expected;
};

TEST(BinText, ParsesByThePairRules) {
    const std::vector<ParseCase> cases = {
        {"Flag=5678&CheckSum=0&P7=&end", BinReadStatus::Ok, {{7, ""}}},
        {"Flag=5678&CheckSum=0&P1=a=b&P2=c&d&end", BinReadStatus::Ok, {{1, "a=b"}, {2, "c"}}},
        {"Flag=5678&CheckSum=0&P1=c&d&P2=e&end", BinReadStatus::Ok, {{1, "c&d"}, {2, "e"}}},
        {"Flag=x&P12abc=1&end", BinReadStatus::Ok, {{12, "1"}}},
        // the first occurrence of a P-number wins
        {"Flag=5678&CheckSum=0&P35=first&P35=second&end", BinReadStatus::Ok, {{35, "first"}}},
        // "&end" is not required; the last value runs to the end
        {"Flag=5678&CheckSum=0&P3=tail", BinReadStatus::Ok, {{3, "tail"}}},
        // a pair without "=" ends the parse
        {"Flag=5678&CheckSum=0&P1=a&P2", BinReadStatus::Ok, {{1, "a"}}},
        // a name without digits is parameter 0
        {"Flag=5678&CheckSum=0&Px=zero&end", BinReadStatus::Ok, {{0, "zero"}}},
        // truncated in the middle of a pair name
        {"Flag=5678&CheckSum=0&P4", BinReadStatus::Ok, {}},
        {"Flag=5678&CheckSum=0&end", BinReadStatus::NoPairs, {}},
        {"Flag=5678", BinReadStatus::NoPairs, {}},
        {"", BinReadStatus::NotBin, {}},
        {"Flag", BinReadStatus::NotBin, {}},
        {"flag=5678&P1=a", BinReadStatus::NotBin, {}},
        {"\x89PNG\r\n\x1a\n&P1=a", BinReadStatus::NotBin, {}},
    };
    for (const ParseCase& c : cases) {
        ParameterSet set = MakeParams({{999, "stale"}});
        EXPECT_EQ(ParseBinText(c.text, set), c.status) << c.text;
        ParameterSet expected;
        for (const auto& [p, v] : c.expected)
            expected.Set(p, v);
        EXPECT_TRUE(set == expected) << c.text;
    }
}

TEST(BinText, AValueHoldingAmpersandPSplitsWhenReadBack) {
    ParameterSet set;
    ASSERT_EQ(ParseBinText(BuildBinText(MakeParams({{1, "a&P9=b"}})), set), BinReadStatus::Ok);
    EXPECT_EQ(set.Value(1), "a");
    EXPECT_EQ(set.Value(9), "b");
}

TEST(BinFile, RoundTripsLongAndNonUtf8ValuesByteForByte) {
    TempDir dir;
    ParameterSet set;
    set.Set(1, QByteArray(200000, 'v'));
    set.Set(2, QByteArray("\xff\xfe caf\xc3\xa9 \x80", 11));
    set.Set(3, "");
    const QString path = dir.file("cfg");
    ASSERT_TRUE(WriteBinFile(path, set, BinScrambling::Plain));
    ParameterSet back;
    ASSERT_EQ(ReadBinFile(path, back), BinReadStatus::Ok);
    EXPECT_TRUE(back == set);
}

TEST(BinFile, ScrambledFileIsTheTextXorTableWithTrailer) {
    TempDir dir;
    const ParameterSet set = MakeParams({{2, "admin"}});
    const QString path = dir.file("cfg.scrambled");
    ASSERT_TRUE(WriteBinFile(path, set, BinScrambling::Scrambled));
    const QByteArray text = BuildBinText(set);
    const QByteArray bytes = ReadFileBytes(path);
    ASSERT_EQ(bytes.size(), text.size() + 14);
    for (qsizetype i = 0; i < text.size(); ++i)
        ASSERT_EQ(static_cast<uint8_t>(bytes[i]) ^ BinScrambleTable[i % 16],
                  static_cast<uint8_t>(text[i]));
    EXPECT_EQ(bytes.right(14), QByteArray("CFGBINENDHERE\0", 14));
    EXPECT_EQ(DetectConfigFileKind(path), ConfigFileKind::Other);
}

TEST(BinFile, OpenFailureLeavesTheSetAlone) {
    ParameterSet set = MakeParams({{1, "kept"}});
    EXPECT_EQ(ReadBinFile("/nonexistent/cfg", set), BinReadStatus::OpenFailed);
    EXPECT_EQ(set.Value(1), "kept");
}

TEST(BinFile, FailedWriteKeepsTheOldFileAndLeavesNoTemporary) {
    TempDir dir;
    const QString path = dir.write("cfg", "Flag=5678&CheckSum=0&P1=old&end");
    ParameterSet big;
    big.Set(1, QByteArray(64 * 1024, 'n'));
    {
        FileSizeLimit limit(4096);
        EXPECT_FALSE(WriteBinFile(path, big, BinScrambling::Plain));
    }
    EXPECT_EQ(ReadFileBytes(path), "Flag=5678&CheckSum=0&P1=old&end");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    EXPECT_FALSE(WriteBinFile(dir.file("missing/cfg"), big, BinScrambling::Plain));
    EXPECT_FALSE(WriteBinFile(dir.path(), big, BinScrambling::Plain));  // a folder is no target
}

TEST(DetectKind, ByTheFirstBytes) {
    TempDir dir;
    QByteArray late(200, ' ');
    late += "<?xml";
    const struct {
        QByteArray bytes;
        ConfigFileKind kind;
    } cases[] = {
        {"Flag=5678&CheckSum=0&end", ConfigFileKind::Bin},
        {"Flag=", ConfigFileKind::Bin},
        {"<?xml version=\"1.0\"?><a/>", ConfigFileKind::Xml},
        {"\xef\xbb\xbf<?xml version=\"1.0\"?>", ConfigFileKind::Xml},
        {QByteArray("ab\0<?xml", 8), ConfigFileKind::Other},
        {late, ConfigFileKind::Other},
        {"flag=1", ConfigFileKind::Other},
        {"hello", ConfigFileKind::Other},
        {"", ConfigFileKind::Unreadable},
    };
    int i = 0;
    for (const auto& c : cases) {
        const QString path = dir.write(QString("f%1").arg(i++), c.bytes);
        EXPECT_EQ(DetectConfigFileKind(path), c.kind) << c.bytes.constData();
    }
    EXPECT_EQ(DetectConfigFileKind(dir.file("none")), ConfigFileKind::Unreadable);
}

TEST(DetectKind, OnAnOpenFileReadsFromItsStart) {
    TempDir dir;
    QFile file(dir.write("x", "<?xml version=\"1.0\"?><zv_provision/>"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    file.read(10);
    EXPECT_EQ(DetectConfigFileKind(file), ConfigFileKind::Xml);
    EXPECT_EQ(file.pos(), file.size());
}

}  // namespace
