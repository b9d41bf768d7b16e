#include "dhcp/DhcpProbe.h"

#include "dhcp/DhcpPacket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <random>

namespace {

struct Socket {
    int fd = -1;
    ~Socket() {
        if (fd >= 0)
            ::close(fd);
    }
};

int openSocket(const DhcpProbeOptions& o, Socket* s) {
    s->fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s->fd < 0)
        return errno;
    const int on = 1;
    const QByteArray device = o.interfaceName.toLocal8Bit();
    if (::setsockopt(s->fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::setsockopt(s->fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
        ::setsockopt(s->fd, SOL_SOCKET, SO_BINDTODEVICE, device.constData(),
                     static_cast<socklen_t>(device.size())) != 0)
        return errno;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(o.clientPort);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(s->fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
        return errno;
    return 0;
}

}  // namespace

DhcpProbeResult ProbeDhcpServers(const DhcpProbeOptions& o) {
    DhcpProbeResult result;
    if (o.interfaceName.isEmpty()) {
        result.error = ENODEV;
        return result;
    }
    Socket s;
    result.error = openSocket(o, &s);
    if (result.error != 0)
        return result;

    std::random_device random;
    const uint32_t xid = random();
    DhcpMac mac{};
    for (uint8_t& b : mac)
        b = static_cast<uint8_t>(random());
    mac[0] = static_cast<uint8_t>((mac[0] & 0xfc) | 0x02);  // locally administered, unicast
    const QByteArray discover = ComposeDhcpDiscover(mac, xid);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(o.serverPort);
    server.sin_addr.s_addr = htonl(o.destination);

    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + std::chrono::milliseconds(o.waitMs);
    Clock::time_point nextSend = start;
    uint8_t buffer[1500];
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (now >= end)
            break;
        if (now >= nextSend) {
            if (::sendto(s.fd, discover.constData(), static_cast<size_t>(discover.size()), 0,
                         reinterpret_cast<sockaddr*>(&server), sizeof server) < 0) {
                result.error = errno;
                return result;
            }
            nextSend += std::chrono::milliseconds(o.resendMs);
        }
        const Clock::time_point wake = std::min(end, nextSend);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(wake - now).count();
        pollfd p{s.fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(std::max<long long>(ms, 1))) <= 0)
            continue;
        sockaddr_in from{};
        socklen_t fromSize = sizeof from;
        const ssize_t size = ::recvfrom(s.fd, buffer, sizeof buffer, MSG_DONTWAIT,
                                        reinterpret_cast<sockaddr*>(&from), &fromSize);
        if (size <= 0)
            continue;
        const std::optional<DhcpReply> reply =
            ReadDhcpReply(buffer, static_cast<size_t>(size), xid);
        if (!reply)
            continue;
        const uint32_t address = reply->serverId ? reply->serverId : ntohl(from.sin_addr.s_addr);
        if (std::find(result.servers.begin(), result.servers.end(), address) ==
            result.servers.end())
            result.servers.push_back(address);
    }
    return result;
}
