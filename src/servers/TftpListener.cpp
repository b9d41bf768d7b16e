#include "servers/TftpListener.h"

#include "app/MyLog.h"
#include "protection/ServerAccess.h"

#include <boost/asio/post.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace asio = boost::asio;
using udp = asio::ip::udp;

namespace {

const char kTftpLogSubject[] = "BUILT-IN TFTP SERVER responses to ";
const char kTftpRefusalSubject[] = "BUILT-IN TFTP SERVER refuses ";
// The largest window a transfer sends before it waits for an ACK.
constexpr unsigned kMaxWindow = 64;
// Requests taken from the socket before other work gets a turn.
constexpr int kRequestBatch = 64;

}  // namespace

void TftpListener::Open(const udp::endpoint& endpoint) {
    // No address reuse: a second server on the same port must fail, not share the requests.
    try {
        socket_.open(endpoint.protocol());
        socket_.bind(endpoint);
        socket_.non_blocking(true);
    } catch (const boost::system::system_error& e) {
        throw ListenError(e.code().value(), "UDP port", endpoint.port());
    }
    const int on = 1;
    const int fd = socket_.native_handle();
    if (endpoint.protocol() == udp::v4())
        ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    else
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_RECVPKTINFO, &on, sizeof on);
    bound_.length = sizeof bound_.storage;
    ::getsockname(fd, bound_.get(), &bound_.length);
    boundToAny_ = endpoint.address().is_unspecified();
}

void TftpListener::Receive() {
    socket_.async_wait(udp::socket::wait_read, [this](const boost::system::error_code& ec) {
        if (ec)
            return;  // closed
        for (int i = 0; i < kRequestBatch; ++i) {
            uint8_t buffer[2048];
            alignas(cmsghdr) char control[256];
            SocketAddress peer;
            iovec io{buffer, sizeof buffer};
            msghdr message{};
            message.msg_name = peer.get();
            message.msg_namelen = sizeof peer.storage;
            message.msg_iov = &io;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            const ssize_t n = ::recvmsg(socket_.native_handle(), &message, MSG_DONTWAIT);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                break;
            peer.length = message.msg_namelen;
            // The local address the request was sent to, when listening on every address.
            SocketAddress local = bound_;
            for (cmsghdr* c = CMSG_FIRSTHDR(&message); c && boundToAny_;
                 c = CMSG_NXTHDR(&message, c)) {
                if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                    in_pktinfo info{};
                    std::memcpy(&info, CMSG_DATA(c), sizeof info);
                    auto& v4 = reinterpret_cast<sockaddr_in&>(local.storage);
                    v4.sin_addr = IN_MULTICAST(ntohl(info.ipi_addr.s_addr)) ||
                                          info.ipi_addr.s_addr == INADDR_BROADCAST
                                      ? info.ipi_spec_dst
                                      : info.ipi_addr;
                } else if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_PKTINFO) {
                    in6_pktinfo info{};
                    std::memcpy(&info, CMSG_DATA(c), sizeof info);
                    auto& v6 = reinterpret_cast<sockaddr_in6&>(local.storage);
                    v6.sin6_addr = info.ipi6_addr;
                    v6.sin6_scope_id = info.ipi6_ifindex;
                }
            }
            onRequest(buffer, static_cast<size_t>(n), peer, local);
        }
        Receive();
    });
}

int TftpListener::transferSocket(const SocketAddress& local) const {
    const int fd = ::socket(local.family(), SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    SocketAddress any = local;
    if (any.family() == AF_INET)
        reinterpret_cast<sockaddr_in&>(any.storage).sin_port = 0;
    else
        reinterpret_cast<sockaddr_in6&>(any.storage).sin6_port = 0;
    if (::bind(fd, any.get(),
               local.family() == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in)) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

void TftpListener::refuse(const SocketAddress& peer, const std::string& path, uint16_t code,
                          const std::string& text, const char* refusal) {
    const QByteArray file =
        run_.rootBytes + "/" +
        LogSafeText(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
    const QByteArray head = (refusal ? kTftpRefusalSubject : kTftpLogSubject) + peer.HostText() +
                            " with error " + QByteArray::number(code) + ". File " + file;
    if (refusal)
        run_.Log(head + ": " + refusal);
    else
        run_.Log(
            code == Tftp::FileNotFound
                ? head + " NOT exist!"
                : head + ": " +
                      LogSafeText(QByteArray(text.data(), static_cast<qsizetype>(text.size()))));
    FetchEvent report;
    report.protocol = "tftp";
    report.method = method_;
    report.peer = peer.HostText();
    report.path = QByteArray::fromStdString(path);
    run_.Report(report, TftpStatus::OfError(code));
    // Logged and reported before the client hears of it.
    const std::string packet = Tftp::ComposeError(code, text);
    ::sendto(socket_.native_handle(), packet.data(), packet.size(), MSG_DONTWAIT, peer.get(),
             peer.length);
}

void TftpListener::onRequest(const uint8_t* data, size_t size, const SocketAddress& peer,
                             const SocketAddress& local) {
    const uint16_t opcode = size >= 2 ? static_cast<uint16_t>(data[0] << 8 | data[1]) : 0;
    if (opcode != Tftp::Rrq && opcode != Tftp::Wrq) {
        // DATA or ACK of no transfer; anything else is not answered.
        if (opcode == Tftp::Data || opcode == Tftp::Ack) {
            const std::string packet = Tftp::ComposeError(Tftp::UnknownTransferId,
                                                          Tftp::ErrorText(Tftp::UnknownTransferId));
            ::sendto(socket_.native_handle(), packet.data(), packet.size(), MSG_DONTWAIT,
                     peer.get(), peer.length);
        }
        return;
    }
    method_ = opcode == Tftp::Wrq ? "WRQ" : "RRQ";
    const auto refuseWith = [&](const std::string& path, uint16_t code) {
        refuse(peer, path, code, Tftp::ErrorText(code));
    };
    Tftp::Request request;
    const bool parsed = Tftp::ParseRequest(data, size, &request);
    const auto* name = reinterpret_cast<const char*>(data + 2);
    const std::string path = parsed ? Tftp::RequestPathBelowRoot(request.filename)
                                    : std::string(name, strnlen(name, size - 2));
    if (run_.access && !run_.access->AllowList().Allows(peer.get())) {
        refuse(peer, path, Tftp::AccessViolation, Tftp::ErrorText(Tftp::AccessViolation),
               "address not allowed");
        return;
    }
    if (!parsed) {
        refuseWith(path, Tftp::IllegalOperation);
        return;
    }
    if (request.opcode == Tftp::Wrq || PathLeavesRoot(path)) {
        refuseWith(path, Tftp::AccessViolation);
        return;
    }
    const bool netascii = request.mode == "netascii";
    if (!netascii && request.mode != "octet") {
        refuseWith(path, Tftp::IllegalOperation);
        return;
    }
    const std::string firstPacketKey = peer.Key() + '\0' + request.filename;
    if (!run_.BeginFirstPacket(firstPacketKey))
        return;  // a repeated request: its transfer resends on its own

    int error = 0;
    OpenedFile opened;
    const int fileFd = run_.documentRoot.Open("/" + path, &error, &opened);
    if (fileFd < 0) {
        run_.EndFirstPacket(firstPacketKey);
        if (error == DocumentRoot::kHiddenName || error == DocumentRoot::kWithheldFile)
            refuse(peer, path, Tftp::AccessViolation, Tftp::ErrorText(Tftp::AccessViolation),
                   DocumentRoot::RefusalReason(error));
        else if (error == ENOENT)
            refuseWith(path, opened.outsideRoot ? Tftp::AccessViolation : Tftp::FileNotFound);
        else if (error == EACCES || error == EPERM)
            refuseWith(path, Tftp::AccessViolation);
        else
            refuse(peer, path, Tftp::NotDefined, ErrnoText(error));
        return;
    }
    // The listener reads nothing of the file: a netascii size is counted by the transfer.
    TransferSetup setup;
    setup.negotiation = Tftp::Negotiate(request.options, Tftp::kMaxBlockSize, kMaxWindow);
    setup.fileSize = opened.size;
    setup.socketFd = transferSocket(local);
    if (setup.socketFd < 0) {
        const int socketError = errno;
        ::close(fileFd);
        run_.EndFirstPacket(firstPacketKey);
        refuse(peer, path, Tftp::NotDefined, ErrnoText(socketError));
        return;
    }
    run_.Log(kTftpLogSubject + peer.HostText() + " with File " + run_.rootBytes + "/" +
             LogSafeText(QByteArray(path.data(), static_cast<qsizetype>(path.size()))));
    setup.peer = peer;
    setup.fileFd = fileFd;
    setup.netascii = netascii;
    setup.firstPacketKey = firstPacketKey;
    setup.report.protocol = "tftp";
    setup.report.method = method_;
    setup.report.peer = peer.HostText();
    setup.report.path = QByteArray::fromStdString(path);
    setup.report.fileSize = opened.size;
    setup.report.fileInode = opened.inode;
    setup.report.fileMtimeNs = opened.mtimeNs;
    // Made here, started on its worker's loop; one never started reports itself stopped.
    asio::io_context& loop = loops_[nextLoop_++ % loops_.size()]->Context();
    auto transfer = std::make_shared<TftpTransfer>(run_, loop, std::move(setup));
    asio::post(loop, [transfer] { transfer->Start(); });
}
