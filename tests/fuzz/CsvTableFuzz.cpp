// libFuzzer target: the batch table's CSV files. The input is loaded as a CSV file in both modes;
// taken apart, it also gives a table that is saved and loaded back.
#include "FuzzSupport.h"
#include "app/TextLines.h"
#include "batch/BatchTable.h"
#include "batch/CsvText.h"

using namespace fuzz;

namespace {

// A loaded table has one row per line, one column more than line 1 has fields, the row numbers
// in column 0; saved, it loads back unchanged.
void checkLoad(const QByteArray& text, BatchMode mode) {
    BatchTable table(7, 9);
    table.SetCell(1, 1, "stale");
    const QString error = table.LoadCsv(text, mode);
    if (!error.isEmpty()) {
        FUZZ_CHECK(error == "LCsvError4" || error == "LCsvError5" || error == "LCsvError6" ||
                   error == "LCsvError7");
        FUZZ_CHECK(table == BatchTable(2, 2));
        return;
    }
    const std::vector<QByteArray> lines = SplitTextLines(WithoutUtf8Bom(text));
    FUZZ_CHECK(table.RowCount() == static_cast<int>(lines.size()) && table.RowCount() >= 2);
    FUZZ_CHECK(table.ColumnCount() == static_cast<int>(SplitCsvLine(lines[1]).size()) + 1);
    FUZZ_CHECK(table.Cell(0, 1) == (mode == BatchMode::Mac ? "MAC" : "PIN"));
    FUZZ_CHECK(table.Cell(0, 0).isEmpty());
    for (int r = 1; r < table.RowCount(); ++r)
        FUZZ_CHECK(table.Cell(r, 0) == QString::number(r));

    BatchTable again;
    FUZZ_CHECK(again.LoadCsv(table.CsvText(), mode).isEmpty());
    FUZZ_CHECK(again == table);
}

// Any text; the table leaves line breaks out of its cells.
QString takeCell(FuzzedDataProvider& in) {
    return QString::fromUtf8(takeBytes(in, 24));
}

// Any table of at least three columns with the mode key in place saves and loads back unchanged.
void checkSave(FuzzedDataProvider& in) {
    const BatchMode mode = in.ConsumeBool() ? BatchMode::Mac : BatchMode::Pin;
    const int columns = in.ConsumeIntegralInRange(3, 7);
    const int rows = in.ConsumeIntegralInRange(2, 6);
    BatchTable table(columns, rows);
    table.SetCell(0, 1, mode == BatchMode::Mac ? "MAC" : "PIN");
    for (int r = 1; r < rows; ++r)
        table.SetCell(r, 0, QString::number(r));
    for (int r = 0; r < rows && in.remaining_bytes() > 0; ++r)
        for (int c = r == 0 ? 2 : 1; c < columns; ++c)
            table.SetCell(r, c, takeCell(in));

    const QByteArray text = table.CsvText();
    BatchTable loaded;
    const QString error = loaded.LoadCsv(text, mode);
    if (!error.isEmpty() || !(loaded == table))
        std::fprintf(stderr, "saved: %s\nloads as: %s %s\n", text.toPercentEncoding().constData(),
                     qPrintable(error), loaded.CsvText().toPercentEncoding().constData());
    FUZZ_CHECK(error.isEmpty());
    FUZZ_CHECK(loaded == table);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray text = bytes(data, size);
    checkLoad(text, BatchMode::Mac);
    checkLoad(text, BatchMode::Pin);
    FuzzedDataProvider in(data, size);
    checkSave(in);
    return 0;
}
