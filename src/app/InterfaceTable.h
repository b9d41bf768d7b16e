#pragma once

#include <QString>
#include <cstdint>
#include <vector>

// One local IPv4 address with its mask, both in host byte order.
struct InterfaceRow {
    uint32_t address = 0;
    uint32_t mask = 0;
    QString name;  // the interface's name, e.g. "eth0"

    QString AddressText() const;
};

// The system's IPv4 address table, sorted by address. At most 170 rows fit the table; a system
// with more (or a failure to read it) gives false and an empty table.
bool ReadInterfaceTable(std::vector<InterfaceRow>* rows);

QString Ipv4Text(uint32_t hostOrderAddress);
// Parses dotted decimal; false for anything else.
bool ParseIpv4(const QString& text, uint32_t* hostOrderAddress);
