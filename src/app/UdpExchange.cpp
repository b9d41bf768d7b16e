#include "app/UdpExchange.h"

#include "app/Workers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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
    // Connected, the socket only takes datagrams from the peer.
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) == 0 &&
              ::send(fd, message.constData(), static_cast<size_t>(message.size()), 0) ==
                  static_cast<ssize_t>(message.size());
    if (ok && waitMs > 0 && reply && Workers::WaitReadable(fd, waitMs)) {
        char buffer[8192];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n > 0)
            *reply = QByteArray(buffer, n);
    }
    ::close(fd);
    return ok;
}
