#include "app/UdpExchange.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>

bool UdpExchange(const QByteArray& address, int port, const QByteArray& message, int waitMs,
                 QByteArray* reply) {
    if (reply)
        reply->clear();
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<uint16_t>(port));
    if (port <= 0 || port > 65535 || inet_pton(AF_INET, address.constData(), &peer.sin_addr) != 1)
        return false;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // Not connected: a phone may answer from another port (its SIP port) than the one asked.
    // The refusal of a port nobody listens on still ends the wait at once.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
    const bool ok = ::sendto(fd, message.constData(), static_cast<size_t>(message.size()), 0,
                             reinterpret_cast<const sockaddr*>(&peer),
                             sizeof peer) == static_cast<ssize_t>(message.size());
    if (ok && waitMs > 0 && reply) {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
        QByteArray buffer(65536, Qt::Uninitialized);
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                break;
            pollfd p{fd, POLLIN, 0};
            const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready != 1)
                break;
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t n = ::recvfrom(fd, buffer.data(), static_cast<size_t>(buffer.size()), 0,
                                         reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (n < 0)
                break;  // refused, or failed
            // Only the phone's own address answers; datagrams from others are dropped.
            if (from.sin_family == AF_INET && from.sin_addr.s_addr == peer.sin_addr.s_addr) {
                *reply = buffer.left(n);
                break;
            }
        }
    }
    ::close(fd);
    return ok;
}
