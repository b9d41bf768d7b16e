#include "discovery/SweepRange.h"

#include <cstdio>

SweepRange SweepRangeOf(uint32_t address, uint32_t mask) {
    SweepRange range;
    range.first = static_cast<int64_t>(address & mask) + 1;
    range.last = static_cast<int64_t>(address | ~mask) - 1;
    return range;
}

const InterfaceRow* FindInterfaceRow(const std::vector<InterfaceRow>& table,
                                     const QString& addressText) {
    for (const InterfaceRow& row : table)
        if (row.AddressText() == addressText)
            return &row;
    return nullptr;
}

QString MacText(const uint8_t mac[6]) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x-%02x-%02x-%02x-%02x-%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return QString::fromLatin1(text);
}

bool MacMatchesFilter(const QString& macText, const QString& filter) {
    const QString f = filter.trimmed();
    if (f.isEmpty())
        return true;
    if (f.size() > macText.size())
        return false;
    return macText.left(f.size()).compare(f, Qt::CaseInsensitive) == 0;
}
