#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <memory>

// The system's ARP request: the hardware address of a target, asked from the computer's own
// address on that network. Resolve blocks until an answer or the time-out and is called from
// many threads at once.
class ArpResolver {
  public:
    using Mac = std::array<uint8_t, 6>;

    virtual ~ArpResolver() = default;
    // Both addresses in host byte order. True with *mac filled when the target answered.
    virtual bool Resolve(uint32_t target, uint32_t source, Mac* mac) = 0;
    // A short name for logs and reports: "raw", "kernel", "scripted".
    virtual QString Name() const = 0;
};

// How long one request waits for an answer: the request goes out, is sent again after
// kArpResendMs when no answer came, and is given up after kArpTimeoutMs.
inline constexpr int kArpTimeoutMs = 500;
inline constexpr int kArpResendMs = 200;

// An ARP request over a packet socket (needs CAP_NET_RAW).
std::shared_ptr<ArpResolver> MakeRawArpResolver();
// Without CAP_NET_RAW: provoke the kernel's own resolution with a datagram to the target and
// read its neighbour table over netlink.
std::shared_ptr<ArpResolver> MakeKernelArpResolver();
// The raw resolver when a packet socket can be opened, else the kernel one.
std::shared_ptr<ArpResolver> MakeSystemArpResolver();
