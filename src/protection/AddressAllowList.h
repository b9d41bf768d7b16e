#pragma once

#include "app/InterfaceTable.h"

#include <QString>
#include <cstdint>
#include <vector>

struct sockaddr;

// The IPv4 addresses and networks from which the built-in servers hand out files. An empty list
// allows every client.
class AddressAllowList {
  public:
    // Entries separated by commas or blanks: "a.b.c.d" or "a.b.c.d/n" (n from 0 to 32; the
    // host part of a network is ignored). False, with the first entry that is neither in *bad
    // and the list left as it was, when the text holds one.
    bool Parse(const QString& text, QString* bad = nullptr);
    bool IsEmpty() const { return networks_.empty(); }
    bool Allows(uint32_t hostOrderAddress) const;
    // A client as a socket gives it: IPv4, or IPv4 mapped into IPv6; any other address only
    // while the list is empty.
    bool Allows(const sockaddr* peer) const;
    // The entries as "10.0.0.0/24, 192.168.1.5" (a /32 network as its address).
    QString Text() const;

    // The networks of the computer's own addresses, loopback left out, in the same form.
    static QString OwnNetworksText(const std::vector<InterfaceRow>& rows);

  private:
    struct Network {
        uint32_t address;
        uint32_t mask;
    };
    std::vector<Network> networks_;
};
