#include "batch/BatchTable.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <iterator>

namespace {

QStringList row(const BatchTable& t, int r) {
    QStringList cells;
    for (int c = 0; c < t.ColumnCount(); ++c)
        cells << t.Cell(r, c);
    return cells;
}

bool isEmptyTwoByTwo(const BatchTable& t) {
    return t == BatchTable(2, 2);
}

TEST(BatchTableLoad, RefusesWithTheMessageOfTheCheckThatFailed) {
    const struct {
        const char* text;
        BatchMode mode;
        const char* key;
    } cases[] = {
        {"", BatchMode::Mac, "LCsvError4"},
        {"MAC,{$a}\r\n", BatchMode::Mac, "LCsvError4"},                  // header only
        {"MAC,{$a}\r\n02E5D2000001\r\n", BatchMode::Mac, "LCsvError4"},  // line 1: one field
        {"MAC,{$a}\r\n\r\n", BatchMode::Mac, "LCsvError4"},              // line 1: no field
        {"MAC,{$a},{$b}\r\n1,x\r\n", BatchMode::Mac, "LCsvError5"},      // 3 fields over 2
        {"MAC\r\n1,x\r\n", BatchMode::Mac, "LCsvError5"},
        {"mac,{$a}\r\n1,x\r\n", BatchMode::Mac, "LCsvError6"},
        {"PIN,{$a}\r\n1,x\r\n", BatchMode::Mac, "LCsvError6"},
        {"MAC,{$a}\r\n1,x\r\n", BatchMode::Pin, "LCsvError7"},
        {"Pin,{$a}\r\n1,x\r\n", BatchMode::Pin, "LCsvError7"},
    };
    for (const auto& c : cases) {
        BatchTable t(4, 9);
        t.SetCell(1, 1, "earlier");
        EXPECT_EQ(t.LoadCsv(c.text, c.mode), c.key) << c.text;
        EXPECT_TRUE(isEmptyTwoByTwo(t)) << c.text;
    }
}

TEST(BatchTableLoad, FillsOneRowPerLineAndNumbersThem) {
    BatchTable t;
    // Mixed line breaks; line 3 has fewer fields, line 4 more than the header.
    const QByteArray text =
        "MAC,{$cfg_srv_path},{$username.line.1}\r\n"
        "02E5D2000001,http://a/cfg,alice\n"
        "02E5D2000002,\"b, c\",bob\r"
        "02E5D2000003\r\n"
        "02E5D2000004,x,y,surplus\r\n";
    ASSERT_EQ(t.LoadCsv(text, BatchMode::Mac), "");
    EXPECT_EQ(t.ColumnCount(), 4);
    EXPECT_EQ(t.RowCount(), 5);
    EXPECT_EQ(row(t, 0), (QStringList{"", "MAC", "{$cfg_srv_path}", "{$username.line.1}"}));
    EXPECT_EQ(row(t, 1), (QStringList{"1", "02E5D2000001", "http://a/cfg", "alice"}));
    EXPECT_EQ(row(t, 2), (QStringList{"2", "02E5D2000002", "b, c", "bob"}));
    EXPECT_EQ(row(t, 3), (QStringList{"3", "02E5D2000003", "", ""}));
    EXPECT_EQ(row(t, 4), (QStringList{"4", "02E5D2000004", "x", "y"}));
}

TEST(BatchTableLoad, PinModeAndAByteOrderMarkBeforeTheHeader) {
    BatchTable t;
    ASSERT_EQ(t.LoadCsv("\xEF\xBB\xBFPIN,{$p}\r\n12345,\xC3\xA9t\xC3\xA9\r\n", BatchMode::Pin), "");
    EXPECT_EQ(row(t, 0), (QStringList{"", "PIN", "{$p}"}));
    EXPECT_EQ(row(t, 1), (QStringList{"1", "12345", QString::fromUtf8("\xC3\xA9t\xC3\xA9")}));
    // Without the mark being dropped the key would not be "MAC".
    EXPECT_EQ(t.LoadCsv("\xEF\xBB\xBFMAC,{$p}\n1,2\n", BatchMode::Mac), "");
}

TEST(BatchTableSave, WritesColumnsOneAndUpWithCrLfAfterEveryRow) {
    BatchTable t(3, 3);
    t.SetCell(0, 1, "MAC");
    t.SetCell(0, 2, "{$a}");
    t.SetCell(1, 0, "1");
    t.SetCell(1, 1, "02E5D2000001");
    t.SetCell(1, 2, "v 1");
    t.SetCell(2, 0, "2");
    EXPECT_EQ(t.CsvText(), "MAC,{$a}\r\n02E5D2000001,v 1\r\n,\r\n");
    EXPECT_EQ(BatchTable(2, 2).CsvText(), "\r\n\r\n");
}

TEST(BatchTableSave, ALoadedTableSavesAndLoadsAgainUnchanged) {
    const QByteArray text =
        "MAC,{$a},{$b},{$c}\r\n"
        "02E5D2000001,\"with, comma\",\" leading blank\",\"\"\"quoted\"\"\"\r\n"
        "02E5D2000002,,trailing blank ,\r\n"
        "02E5D2000003,\"  \",x\"y,\xE6\x97\xA5\r\n";
    BatchTable first;
    ASSERT_EQ(first.LoadCsv(text, BatchMode::Mac), "");
    const QByteArray saved = first.CsvText();
    BatchTable second;
    ASSERT_EQ(second.LoadCsv(saved, BatchMode::Mac), "");
    EXPECT_EQ(second, first);
    EXPECT_EQ(second.CsvText(), saved);
    // A file without cells that need quotes is written back byte for byte.
    const QByteArray simple = "MAC,{$a}\r\n02E5D2000001,v\r\n02E5D2000002,\r\n";
    ASSERT_EQ(first.LoadCsv(simple, BatchMode::Mac), "");
    EXPECT_EQ(first.CsvText(), simple);
}

// Only the file's first bytes are a byte-order mark: a cell that begins with U+FEFF keeps it.
TEST(BatchTableSave, ACellBeginningWithU_FEFFKeepsIt) {
    BatchTable t;
    ASSERT_EQ(t.LoadCsv("MAC,\xEF\xBB\xBF{$a}\r\n\xEF\xBB\xBF"
                        "02E5D2000001,\"\xEF\xBB\xBFv, w\"\r\n",
                        BatchMode::Mac),
              "");
    const QString bom(QChar(0xFEFF));
    EXPECT_EQ(row(t, 0), (QStringList{"", "MAC", bom + "{$a}"}));
    EXPECT_EQ(row(t, 1), (QStringList{"1", bom + "02E5D2000001", bom + "v, w"}));
    BatchTable again;
    ASSERT_EQ(again.LoadCsv(t.CsvText(), BatchMode::Mac), "");
    EXPECT_EQ(again, t);
}

TEST(BatchTableSave, CellsWithLineBreaksQuotesAndCommasSaveAndLoadBackUnchanged) {
    const struct {
        const char* edited;
        const char* kept;  // a cell is one field of one line: line breaks are left out
    } cells[] = {
        {"a\rb", "ab"},         {"a\nb", "ab"},       {"a\r\nb", "ab"},
        {"alice\r\n", "alice"}, {"\n lead", " lead"}, {"\"q\"\r\n\"", "\"q\"\""},
        {"x,\ny", "x,y"},       {"\r\n", ""},         {"plain", "plain"},
    };
    const int n = static_cast<int>(std::size(cells));
    BatchTable t(n + 1, 3);
    t.SetCell(0, 1, "MAC");
    for (int c = 2; c <= n; ++c)
        t.SetCell(0, c, "{$p" + QString::number(c) + "}");
    t.SetCell(1, 0, "1");
    t.SetCell(2, 0, "2");
    t.SetCell(1, 1, "02E5D2000001");
    t.SetCell(2, 1, "02E5D2000002\r\n");
    for (int c = 2; c <= n; ++c) {
        t.SetCell(1, c, cells[c - 1].edited);
        t.SetCell(2, c, cells[c - 2].edited);
        EXPECT_EQ(t.Cell(1, c), cells[c - 1].kept) << c;
        EXPECT_EQ(t.Cell(2, c), cells[c - 2].kept) << c;
    }
    const QByteArray saved = t.CsvText();
    BatchTable back;
    ASSERT_EQ(back.LoadCsv(saved, BatchMode::Mac), "") << saved.constData();
    EXPECT_EQ(back, t) << saved.constData();
    EXPECT_EQ(back.CsvText(), saved);
}

TEST(BatchTableRows, AddAppendsNumberedEmptyRows) {
    const struct {
        const char* text;
        int added;
    } cases[] = {{"3", 3}, {" 2 ", 2}, {"abc", 0}, {"0", 0}, {"-4", 0}, {"", 0}};
    for (const auto& c : cases) {
        BatchTable t(3, 2);
        t.SetCell(1, 1, "kept");
        t.AddRows(AddRowCount(c.text));
        ASSERT_EQ(t.RowCount(), 2 + c.added) << c.text;
        EXPECT_EQ(t.Cell(1, 1), "kept");
        for (int r = 2; r < t.RowCount(); ++r)
            EXPECT_EQ(row(t, r), (QStringList{QString::number(r), "", ""})) << c.text;
    }
}

TEST(BatchTableRows, AHugeCountAddsAtMostTheLimitAtOnce) {
    BatchTable t(2, 2);
    t.AddRows(AddRowCount("2000000000"));
    EXPECT_EQ(t.RowCount(), 2 + BatchTable::kMaxAddRows);
    t.AddRows(1);
    EXPECT_EQ(t.RowCount(), 3 + BatchTable::kMaxAddRows);
    EXPECT_EQ(t.Cell(t.RowCount() - 1, 0), QString::number(t.RowCount() - 1));
}

}  // namespace
