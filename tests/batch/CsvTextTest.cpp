#include "batch/CsvText.h"

#include <gtest/gtest.h>

#include <QList>

namespace {

QList<QByteArray> split(const QByteArray& line) {
    const std::vector<QByteArray> fields = SplitCsvLine(line);
    return QList<QByteArray>(fields.begin(), fields.end());
}

TEST(CsvLine, SplitsByTheFieldRules) {
    const struct {
        const char* line;
        QList<QByteArray> fields;
    } cases[] = {
        {"", {}},
        {"   \t ", {}},
        {"MAC,{$cfg_srv_path}", {"MAC", "{$cfg_srv_path}"}},
        {"  \tMAC,x", {"MAC", "x"}},                    // leading blanks and tabs skipped
        {"a b ,c", {"a b ", "c"}},                      // blanks inside and at the end kept
        {"a, b", {"a", "b"}},                           // blanks after a comma skipped
        {"\"a, b\"", {"a, b"}},                         // quotes keep the comma
        {"\"say \"\"hi\"\"\",x", {"say \"hi\"", "x"}},  // "" is one quote
        {"\"open, to the end", {"open, to the end"}},   // no closing quote
        {"\"ab\"cd,e", {"ab", "cd", "e"}},              // text after the quote: a new field
        {"\"ab\"  ,e", {"ab", "e"}},                    // blanks after the quote skipped
        {"a,", {"a", ""}},                              // final comma: final empty field
        {"a,,b", {"a", "", "b"}},                       // two commas: an empty field
        {",a", {"", "a"}},
        {",,", {"", "", ""}},
        {"a,  ", {"a"}},  // the comma is not the last character
        {"\"\",x", {"", "x"}},
        {"x\"y,z", {"x\"y", "z"}},  // a quote inside a field is kept
        {"02E5D2000001,http://10.0.0.1:6000/cfg", {"02E5D2000001", "http://10.0.0.1:6000/cfg"}},
        {"\xC3\xA9t\xC3\xA9,\xE6\x97\xA5", {"\xC3\xA9t\xC3\xA9", "\xE6\x97\xA5"}},  // UTF-8 as is
    };
    for (const auto& c : cases)
        EXPECT_EQ(split(c.line), c.fields) << c.line;
}

TEST(CsvLine, FieldsReadBackAsTheCellTheyCameFrom) {
    const struct {
        QByteArray cell;
        QByteArray field;
    } cases[] = {
        {"plain", "plain"},
        {"", ""},
        {"inner \"quote\" and end ", "inner \"quote\" and end "},
        {"a,b", "\"a,b\""},
        {"\"quoted\"", "\"\"\"quoted\"\"\""},
        {" lead", "\" lead\""},
        {"\tlead", "\"\tlead\""},
        {"  ", "\"  \""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CsvField(c.cell), c.field) << c.cell.constData();
        // In the middle of a line and at its end.
        EXPECT_EQ(split("x," + CsvField(c.cell) + ",y"), (QList<QByteArray>{"x", c.cell, "y"}))
            << c.cell.constData();
        EXPECT_EQ(split("x," + CsvField(c.cell)), (QList<QByteArray>{"x", c.cell}))
            << c.cell.constData();
    }
}

TEST(CsvLine, ALeadingByteOrderMarkIsDropped) {
    EXPECT_EQ(WithoutUtf8Bom("\xEF\xBB\xBFMAC,x"), "MAC,x");
    EXPECT_EQ(WithoutUtf8Bom("MAC,\xEF\xBB\xBF"), "MAC,\xEF\xBB\xBF");
    EXPECT_EQ(WithoutUtf8Bom("\xEF\xBB"), "\xEF\xBB");
}

}  // namespace
