#pragma once

#include <QString>
#include <cstdint>
#include <vector>

// Looks for DHCP servers on a link: a DHCPDISCOVER (from a random, locally administered MAC,
// with the broadcast flag) goes out on the interface at the start and again every resend
// interval, as a client retries, and every server that answers within the wait is reported. Needs
// port 68 and SO_BINDTODEVICE: root or the capabilities cap_net_bind_service and cap_net_raw.
struct DhcpProbeOptions {
    QString interfaceName;
    // A server that checks an address by ping before it offers it (dnsmasq waits 3 s for an
    // echo) answers only a DISCOVER sent after that check: 4 s finds it.
    int waitMs = 4000;
    int resendMs = 1000;
    // Tests use other ports and a unicast destination; host byte order.
    uint16_t serverPort = 67;
    uint16_t clientPort = 68;
    uint32_t destination = 0xffffffff;
};

struct DhcpProbeResult {
    // The errno of a socket that could not be set up (EACCES or EPERM: not privileged); 0 when
    // the probe ran.
    int error = 0;
    // Each server once, in the order of its first answer: the address of its option 54, or the
    // answer's source address when it gives none (host byte order).
    std::vector<uint32_t> servers;
};

// Blocks for the wait (or until the socket fails).
DhcpProbeResult ProbeDhcpServers(const DhcpProbeOptions& options);
