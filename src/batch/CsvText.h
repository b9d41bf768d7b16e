#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

// The fields of one CSV line. Blanks and control characters are skipped at the start of the
// line, after a field and after a comma. A field beginning with a double quote runs to the
// closing quote ("" inside stands for one quote; without a closing quote it runs to the end of
// the line), and text after the closing quote starts a further field. Any other field runs to
// the next comma, keeping its blanks. A comma that is the last character adds an empty field.
std::vector<QByteArray> SplitCsvLine(const QByteArray& line);

// A cell as a CSV field that SplitCsvLine reads back as the same text: as it stands, or in
// double quotes (inner quotes doubled) when it holds a comma or begins with a quote, a blank or
// a control character.
QByteArray CsvField(const QByteArray& cell);

// The cell a field gives: its UTF-8 text, a leading U+FEFF kept (only the file's first bytes
// are a byte-order mark).
QString CsvCell(const QByteArray& field);

// The text without a leading UTF-8 byte-order mark.
QByteArray WithoutUtf8Bom(const QByteArray& text);
