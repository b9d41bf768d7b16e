#include "app/TextLines.h"

std::vector<QByteArray> SplitTextLines(const QByteArray& text) {
    std::vector<QByteArray> lines;
    const char* p = text.constData();
    const qsizetype n = text.size();
    qsizetype start = 0;
    while (start < n) {
        qsizetype end = start;
        while (end < n && p[end] != '\n' && p[end] != '\r')
            ++end;
        lines.emplace_back(p + start, end - start);
        if (end < n && p[end] == '\r' && end + 1 < n && p[end + 1] == '\n')
            ++end;
        start = end + 1;
    }
    return lines;
}

QString WithoutLineBreaks(QString text) {
    text.removeIf([](QChar c) { return c == u'\r' || c == u'\n'; });
    return text;
}
