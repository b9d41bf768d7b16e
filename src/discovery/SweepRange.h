#pragma once

#include "app/InterfaceTable.h"

#include <QString>
#include <cstdint>
#include <vector>

// The host addresses of one network, in host byte order: first = (address AND mask) + 1,
// last = (address OR NOT mask) - 1. Worked out in 64 bits, so that a /31, a /32 or an address
// at either end of the address space gives an empty range instead of a wrapped one.
struct SweepRange {
    int64_t first = 0;
    int64_t last = -1;

    // The number of addresses from first to last, 0 when last lies below first.
    uint64_t Count() const { return last < first ? 0 : static_cast<uint64_t>(last - first + 1); }
    // The size shown to the user: one less than the count (a /24 gives 253).
    int64_t ShownSize() const { return last - first; }
    // A range of fewer than two addresses starts no sweep.
    bool Sweepable() const { return Count() >= 2; }
};

SweepRange SweepRangeOf(uint32_t address, uint32_t mask);

// The first row whose dotted address equals the text; nullptr when there is none.
const InterfaceRow* FindInterfaceRow(const std::vector<InterfaceRow>& table,
                                     const QString& addressText);

// Six bytes as "%02x-%02x-%02x-%02x-%02x-%02x".
QString MacText(const uint8_t mac[6]);

// Whether the MAC text begins with the filter, ignoring letter case. An empty filter (after
// trimming spaces) matches everything; a filter longer than the MAC text matches nothing.
bool MacMatchesFilter(const QString& macText, const QString& filter);
