#include "app/Numbers.h"

#include <climits>

namespace {

template <typename CharAt>
int readLeading(qsizetype size, CharAt at) {
    qsizetype i = 0;
    while (i < size && (at(i) == ' ' || at(i) == '\t'))
        ++i;
    bool negative = false;
    if (i < size && (at(i) == '+' || at(i) == '-')) {
        negative = at(i) == '-';
        ++i;
    }
    long long value = 0;
    for (; i < size && at(i) >= '0' && at(i) <= '9'; ++i) {
        value = value * 10 + (at(i) - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        value = INT_MAX;
    return static_cast<int>(value);
}

}  // namespace

int ReadLeadingInt(QStringView text) {
    return readLeading(text.size(), [&](qsizetype i) { return text[i].unicode(); });
}

int ReadLeadingInt(const char* text, qsizetype size) {
    return readLeading(size, [&](qsizetype i) { return text[i]; });
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
