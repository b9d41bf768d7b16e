#include "servers/MyIPMCastClient.h"

#include "app/Notices.h"
#include "app/ThreadName.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>

namespace {
constexpr int kBufferSize = 8192;
}

MyIPMCastClient::MyIPMCastClient(int32_t port, const QByteArray& group,
                                 const QByteArray& interfaceAddress, NoticeTransport* notices)
    : port_(port), group_(group), interface_(interfaceAddress), notices_(notices) {}

MyIPMCastClient::~MyIPMCastClient() {
    Stop();
    Terminate();
    if (thread_.joinable()) {
        // The thread may be handing a datagram to this thread: keep notices flowing.
        WaitHandlingNotices([this] { return ended_.load(); });
        thread_.join();
    }
}

void MyIPMCastClient::Start() {
    if (!thread_.joinable())
        thread_ = std::thread([this] { run(); });
}

void MyIPMCastClient::Stop() {
    running_ = false;
    std::lock_guard<std::mutex> lock(socketMutex_);
    if (socket_ >= 0)
        ::shutdown(socket_, SHUT_RDWR);
}

bool MyIPMCastClient::setUp() {
    in_addr group{}, iface{};
    if (inet_pton(AF_INET, group_.constData(), &group) != 1 ||
        inet_pton(AF_INET, interface_.constData(), &iface) != 1)
        return false;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    {
        std::lock_guard<std::mutex> lock(socketMutex_);
        socket_ = fd;
    }
    const int on = 1;
    const unsigned char loop = 1;
    ip_mreq membership{};
    membership.imr_multiaddr = group;
    membership.imr_interface = iface;
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) != 0 ||
        ::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0)
        return false;
    // Only datagrams of the groups joined on this socket, not of every group the host joined.
    const int all = 0;
    ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_ALL, &all, sizeof all);
    // Bound to the group address, the socket receives the group's datagrams (a socket bound to
    // the interface's unicast address would not) that arrive through the joined interface.
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr = group;
    local.sin_port = htons(static_cast<uint16_t>(port_));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        lastError_ = errno;
        return false;
    }
    return true;
}

void MyIPMCastClient::run() {
    NameCurrentThread("MyIPMCastClientThread");
    running_ = false;
    lastError_ = 0;
    if (setUp()) {
        running_ = true;
        char buffer[kBufferSize];
        while (running_ && !terminated_) {
            pollfd p{socket_, POLLIN, 0};
            if (::poll(&p, 1, 250) <= 0 || !running_)
                continue;
            sockaddr_in from{};
            socklen_t fromLen = sizeof from;
            const ssize_t n = ::recvfrom(p.fd, buffer, sizeof buffer, 0,
                                         reinterpret_cast<sockaddr*>(&from), &fromLen);
            if (n < 0 || !running_)
                continue;
            char sender[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &from.sin_addr, sender, sizeof sender);
            const PnpPacket packet{QByteArray(buffer, static_cast<qsizetype>(n)),
                                   QByteArray(sender), ntohs(from.sin_port)};
            if (notices_)
                notices_->Send(PnpPacketNotice, &packet);
        }
    }
    running_ = false;
    {
        std::lock_guard<std::mutex> lock(socketMutex_);
        if (socket_ >= 0)
            ::close(socket_);
        socket_ = -1;
    }
    ended_ = true;
}
