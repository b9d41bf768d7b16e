#pragma once

#include <QByteArray>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

// A phone on loopback: receives datagrams on an ephemeral port and may answer them.
class LoopbackPhone {
  public:
    LoopbackPhone() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~LoopbackPhone() { ::close(fd_); }
    int port() const { return port_; }

    // The next datagram within waitMs (empty if none); answers it with reply when given.
    QByteArray receive(const QByteArray& reply = {}, int waitMs = 5000) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, waitMs) <= 0)
            return {};
        char buf[9000];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n =
            ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (!reply.isEmpty())
            ::sendto(fd_, reply.constData(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from),
                     len);
        sender_ = from;
        return n > 0 ? QByteArray(buf, n) : QByteArray();
    }

    // Answers the last sender from another socket, bound to address (a loopback address such
    // as 127.0.0.2) and a port the system chooses.
    void answerFrom(const char* address, const QByteArray& bytes) const {
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        ::inet_pton(AF_INET, address, &a.sin_addr);
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::sendto(fd, bytes.constData(), bytes.size(), 0,
                 reinterpret_cast<const sockaddr*>(&sender_), sizeof sender_);
        ::close(fd);
    }

  private:
    int fd_ = -1;
    int port_ = 0;
    sockaddr_in sender_{};
};
