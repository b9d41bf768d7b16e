#include "config/ParameterSet.h"

PNumber ParameterSet::FindParameterByValue(const QByteArray& text) const {
    for (const auto& [p, value] : map_)
        if (value == text)
            return p;
    return -1;
}

PNumber LeadingPNumber(const char* text, qsizetype size) {
    uint32_t n = 0;
    for (qsizetype i = 0; i < size && text[i] >= '0' && text[i] <= '9'; ++i)
        n = n * 10u + static_cast<uint32_t>(text[i] - '0');
    return static_cast<PNumber>(n);
}
