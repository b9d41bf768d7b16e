#pragma once

#include "discovery/ArpChannel.h"

#include <QString>
#include <cstdint>
#include <memory>

// The system's ARP service: opens the requests of one sweep, asked from the computer's own
// address on the swept network.
class ArpResolver {
  public:
    using Mac = ArpChannel::Mac;

    virtual ~ArpResolver() = default;
    // source in host byte order. nullptr when no request can be made there (no address of this
    // computer, no socket): then no address answers.
    virtual std::shared_ptr<ArpChannel> Open(uint32_t source) = 0;
    // A short name for logs and reports: "raw", "kernel", "scripted".
    virtual QString Name() const = 0;
};

// Requests of our own on a packet socket. A LAN host answers within milliseconds; the resends
// and the give-up time catch a host that answers up to a few hundred milliseconds late or whose
// link loses packets.
inline constexpr ArpTiming kRawArpTiming{200, 200, 3, 600};
// The kernel's resolution: it sends its own requests, one a second (three in all by default),
// and marks the entry failed after the last; the give-up time lets the second one be answered.
inline constexpr ArpTiming kKernelArpTiming{200, 200, 1, 1200};

// ARP requests over a packet socket (needs CAP_NET_RAW).
std::shared_ptr<ArpResolver> MakeRawArpResolver();
// Without CAP_NET_RAW: a datagram to the target's discard port makes the kernel resolve its
// address, and the kernel's neighbour events over netlink bring the answer.
std::shared_ptr<ArpResolver> MakeKernelArpResolver();
// The raw resolver when a packet socket can be opened, else the kernel one.
std::shared_ptr<ArpResolver> MakeSystemArpResolver();
