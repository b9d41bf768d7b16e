#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

// How rows name their phones: by MAC address (header key "MAC") or by PIN (header key "PIN").
enum class BatchMode { Mac, Pin };

// The batch table as text cells, without a window. Row 0 holds the mode key (column 1) and the
// placeholders (columns 2 and up); column 0 holds the row numbers; row r >= 1 holds one phone:
// its MAC or PIN in column 1 and the values of the placeholders after it.
class BatchTable {
  public:
    // The table at start: five columns and two rows, all empty.
    BatchTable() : BatchTable(5, 2) {}
    BatchTable(int columns, int rows) { Reset(columns, rows); }

    int ColumnCount() const { return columns_; }
    int RowCount() const { return rows_; }
    // Empty outside the table.
    QString Cell(int row, int column) const;
    // Ignored outside the table. CR and LF are left out: a cell is one field of one CSV line.
    void SetCell(int row, int column, const QString& text);

    // Empties every cell and gives the table this size.
    void Reset(int columns, int rows);
    // Appends n empty rows, each numbered in column 0; nothing for n <= 0, at most kMaxAddRows
    // at once.
    void AddRows(int n);
    static constexpr int kMaxAddRows = 100000;

    // Loads a CSV text for a mode: empty text on success, else the message key of the refusal
    // ("LCsvError4" to "LCsvError7"), the table then being the emptied two-by-two table. A
    // leading UTF-8 byte-order mark is ignored. The table gets one column more than line 1 has
    // fields and one row per line; later lines fill as many cells as they have fields.
    QString LoadCsv(const QByteArray& text, BatchMode mode);

    // Every row as a line of the cells of columns 1 and up joined by ",", each line ended by
    // CR LF. Cells that would not read back as themselves are quoted (see CsvField).
    QByteArray CsvText() const;

    bool operator==(const BatchTable& o) const {
        return columns_ == o.columns_ && rows_ == o.rows_ && cells_ == o.cells_;
    }

  private:
    int columns_ = 0;
    int rows_ = 0;
    std::vector<QString> cells_;  // row by row
};

// The number of rows the text of the "Add" box asks for: trimmed, read as a leading decimal
// number, 0 for text that is not a number.
int AddRowCount(const QString& text);
