#include "servers/MyIPMCastClient.h"

#include "app/MyLog.h"
#include "app/Notices.h"
#include "app/ThreadName.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <cstring>

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
    sizeReceiveBuffer(fd);
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

void MyIPMCastClient::sizeReceiveBuffer(int fd) {
    // The kernel doubles the value asked for (its own bookkeeping) and keeps within
    // net.core.rmem_max unless forced, which takes CAP_NET_ADMIN.
    const int asked = kReceiveBufferBytes / 2;
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &asked, sizeof asked) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &asked, sizeof asked);
    int size = 0;
    socklen_t length = sizeof size;
    ::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, &length);
    receiveBuffer_ = size;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
}

QByteArray MyIPMCastClient::ReceiveBufferNote() const {
    const int size = receiveBuffer_;
    if (size <= 0 || size >= kReceiveBufferBytes)
        return {};
    return "PNP Server: receive buffer of " + QByteArray::number(size / 1024) +
           " KB, less than the " + QByteArray::number(kReceiveBufferBytes / 1024) +
           " KB for a burst of " + QByteArray::number(kBurstPhones) +
           " phones (raise net.core.rmem_max)";
}

void MyIPMCastClient::tellDrops(uint32_t dropped, Tell when) {
    if (dropped == dropsTold_ || !log_)
        return;
    const int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now().time_since_epoch())
                           .count();
    if (when == Tell::WhenDue && dropsTold_ != 0 && ms - dropsToldAtMs_ < 1000)
        return;
    log_->Write("PNP Server: " + QByteArray::number(dropped - dropsTold_) +
                " datagrams dropped by the kernel, the receive buffer being full (" +
                QByteArray::number(dropped) + " since the start)");
    dropsTold_ = dropped;
    dropsToldAtMs_ = ms;
}

void MyIPMCastClient::run() {
    NameCurrentThread("MyIPMCastClientThread");
    running_ = false;
    lastError_ = 0;
    if (setUp()) {
        running_ = true;
        char buffer[kBufferSize];
        uint32_t drops = 0;
        while (running_ && !terminated_) {
            pollfd p{socket_, POLLIN, 0};
            if (::poll(&p, 1, 250) <= 0 || !running_)
                continue;
            sockaddr_in from{};
            iovec io{buffer, sizeof buffer};
            alignas(cmsghdr) char control[CMSG_SPACE(sizeof(uint32_t))];
            msghdr message{};
            message.msg_name = &from;
            message.msg_namelen = sizeof from;
            message.msg_iov = &io;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            const ssize_t n = ::recvmsg(p.fd, &message, 0);
            if (n < 0 || !running_)
                continue;
            // The kernel's count of the datagrams it dropped, as it stood when this one came.
            for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL) {
                    uint32_t dropped = 0;
                    std::memcpy(&dropped, CMSG_DATA(c), sizeof dropped);
                    drops = dropped;
                }
            }
            tellDrops(drops, Tell::WhenDue);
            char sender[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &from.sin_addr, sender, sizeof sender);
            const PnpPacket packet{QByteArray(buffer, static_cast<qsizetype>(n)),
                                   QByteArray(sender), ntohs(from.sin_port)};
            if (notices_)
                notices_->Send(PnpPacketNotice, &packet);
        }
        tellDrops(drops, Tell::Now);
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
