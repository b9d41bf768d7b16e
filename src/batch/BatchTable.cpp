#include "batch/BatchTable.h"

#include "app/Numbers.h"
#include "app/TextLines.h"
#include "batch/CsvText.h"

#include <algorithm>

QString BatchTable::Cell(int row, int column) const {
    if (row < 0 || row >= rows_ || column < 0 || column >= columns_)
        return {};
    return cells_[static_cast<size_t>(row) * columns_ + column];
}

void BatchTable::SetCell(int row, int column, const QString& text) {
    if (row < 0 || row >= rows_ || column < 0 || column >= columns_)
        return;
    cells_[static_cast<size_t>(row) * columns_ + column] = WithoutLineBreaks(text);
}

void BatchTable::Reset(int columns, int rows) {
    columns_ = std::max(columns, 0);
    rows_ = std::max(rows, 0);
    cells_.assign(static_cast<size_t>(columns_) * rows_, QString());
}

void BatchTable::AddRows(int n) {
    n = std::min(n, kMaxAddRows);
    if (n <= 0)
        return;
    const int first = rows_;
    rows_ += n;
    cells_.resize(static_cast<size_t>(columns_) * rows_);
    for (int r = first; r < rows_; ++r)
        SetCell(r, 0, QString::number(r));
}

QString BatchTable::LoadCsv(const QByteArray& text, BatchMode mode) {
    Reset(2, 2);
    const std::vector<QByteArray> lines = SplitTextLines(WithoutUtf8Bom(text));
    if (lines.size() <= 1)
        return "LCsvError4";
    const size_t fieldCount = SplitCsvLine(lines[1]).size();
    if (fieldCount <= 1)
        return "LCsvError4";
    const std::vector<QByteArray> header = SplitCsvLine(lines[0]);
    if (header.size() != fieldCount)
        return "LCsvError5";
    if (mode == BatchMode::Mac && header[0] != "MAC")
        return "LCsvError6";
    if (mode == BatchMode::Pin && header[0] != "PIN")
        return "LCsvError7";

    Reset(static_cast<int>(fieldCount) + 1, static_cast<int>(lines.size()));
    for (int r = 0; r < rows_; ++r) {
        const std::vector<QByteArray> fields =
            r == 0 ? header : SplitCsvLine(lines[static_cast<size_t>(r)]);
        if (r > 0)
            SetCell(r, 0, QString::number(r));
        const int n = std::min(static_cast<int>(fields.size()), columns_ - 1);
        for (int c = 0; c < n; ++c)
            SetCell(r, c + 1, CsvCell(fields[static_cast<size_t>(c)]));
    }
    return {};
}

QByteArray BatchTable::CsvText() const {
    QByteArray text;
    for (int r = 0; r < rows_; ++r) {
        for (int c = 1; c < columns_; ++c) {
            if (c > 1)
                text += ',';
            text += CsvField(Cell(r, c).toUtf8());
        }
        text += "\r\n";
    }
    return text;
}

int AddRowCount(const QString& text) {
    return ReadLeadingInt(text.trimmed());
}
