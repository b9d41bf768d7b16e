#include "batch/CsvText.h"

#include <QStringDecoder>

namespace {

bool isBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= 0x20;
}

qsizetype skipBlanks(const QByteArray& line, qsizetype i) {
    while (i < line.size() && isBlankOrControl(line[i]))
        ++i;
    return i;
}

}  // namespace

std::vector<QByteArray> SplitCsvLine(const QByteArray& line) {
    std::vector<QByteArray> fields;
    const qsizetype n = line.size();
    qsizetype i = skipBlanks(line, 0);
    while (i < n) {
        QByteArray field;
        if (line[i] == '"') {
            for (++i; i < n; ++i) {
                if (line[i] != '"') {
                    field += line[i];
                } else if (i + 1 < n && line[i + 1] == '"') {
                    field += '"';
                    ++i;
                } else {
                    ++i;
                    break;
                }
            }
        } else {
            const qsizetype start = i;
            while (i < n && line[i] != ',')
                ++i;
            field = line.mid(start, i - start);
        }
        fields.push_back(field);
        i = skipBlanks(line, i);
        if (i < n && line[i] == ',') {
            if (i == n - 1)
                fields.emplace_back();
            i = skipBlanks(line, i + 1);
        }
    }
    return fields;
}

QByteArray CsvField(const QByteArray& cell) {
    const bool quote =
        cell.contains(',') || (!cell.isEmpty() && (cell[0] == '"' || isBlankOrControl(cell[0])));
    if (!quote)
        return cell;
    QByteArray out;
    out.reserve(cell.size() + 2);
    out += '"';
    for (const char c : cell) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
    return out;
}

QString CsvCell(const QByteArray& field) {
    // QString::fromUtf8 would drop a leading U+FEFF as a byte-order mark.
    QStringDecoder decode(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return decode(field);
}

QByteArray WithoutUtf8Bom(const QByteArray& text) {
    return text.startsWith("\xEF\xBB\xBF") ? text.mid(3) : text;
}
