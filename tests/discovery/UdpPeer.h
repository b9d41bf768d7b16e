#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QByteArray>

// A UDP socket on 127.0.0.1 with a port the system chooses, playing a phone in tests.
class UdpPeer {
  public:
    UdpPeer() {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~UdpPeer() { Close(); }
    void Close() {
        if (fd_ >= 0)
            close(fd_);
        fd_ = -1;
    }
    int Port() const { return port_; }

    // The next datagram (empty after timeoutMs); remembers its sender for Reply.
    QByteArray Receive(int timeoutMs = 5000) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) != 1)
            return {};
        QByteArray buffer(65536, '\0');
        socklen_t len = sizeof from_;
        const ssize_t n = recvfrom(fd_, buffer.data(), buffer.size(), 0,
                                   reinterpret_cast<sockaddr*>(&from_), &len);
        return n > 0 ? buffer.left(n) : QByteArray();
    }
    void Reply(const QByteArray& bytes) {
        sendto(fd_, bytes.constData(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&from_),
               sizeof from_);
    }

  private:
    int fd_ = -1;
    int port_ = 0;
    sockaddr_in from_{};
};
