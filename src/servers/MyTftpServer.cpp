#include "servers/MyTftpServer.h"

#include "app/MyLog.h"
#include "app/SocketError.h"
#include "protection/ServerAccess.h"
#include "servers/DocumentRoot.h"
#include "servers/ServerThreads.h"
#include "servers/TftpPacket.h"

#include <QFile>

#include <boost/asio.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace asio = boost::asio;
using udp = asio::ip::udp;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

const char kLogSubject[] = "BUILT-IN TFTP SERVER responses to ";
const char kRefusalSubject[] = "BUILT-IN TFTP SERVER refuses ";
// The largest window a transfer sends before it waits for an ACK.
constexpr unsigned kMaxWindow = 64;
// Requests taken from the socket before other work gets a turn.
constexpr int kRequestBatch = 64;
// The largest netascii file whose converted size a tsize request is answered with: counting
// reads the whole file on the transfer's thread, which would hold up its other transfers for
// a large one. A configuration file is far smaller; a larger file's OACK leaves tsize out.
constexpr off_t kCountedNetascii = 64 * 1024;

// What became of a request, as the HTTP status that means the same (for the fetch observer).
constexpr int kDelivered = 200;
constexpr int kEndedByClient = 499;  // the client sent an ERROR
constexpr int kTimedOut = 408;       // the client stopped answering
constexpr int kFailed = 500;         // a file or socket failed
constexpr int kStopped = 503;        // the server stopped during the transfer

// The status of a request answered with an ERROR of this code.
int statusOf(uint16_t errorCode) {
    switch (errorCode) {
        case Tftp::FileNotFound:
            return 404;
        case Tftp::AccessViolation:
            return 403;
        case Tftp::IllegalOperation:
            return 400;
        default:
            return kFailed;
    }
}

std::string errorText(int error) {
    char buf[256];
    return strerror_r(error, buf, sizeof buf);
}

// A socket address with its length.
struct Address {
    sockaddr_storage storage{};
    socklen_t length = 0;

    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
    sockaddr* get() { return reinterpret_cast<sockaddr*>(&storage); }
    int family() const { return storage.ss_family; }

    bool operator==(const Address& other) const {
        if (family() != other.family())
            return false;
        if (family() == AF_INET) {
            const auto& a = reinterpret_cast<const sockaddr_in&>(storage);
            const auto& b = reinterpret_cast<const sockaddr_in&>(other.storage);
            return a.sin_port == b.sin_port && a.sin_addr.s_addr == b.sin_addr.s_addr;
        }
        const auto& a = reinterpret_cast<const sockaddr_in6&>(storage);
        const auto& b = reinterpret_cast<const sockaddr_in6&>(other.storage);
        return a.sin6_port == b.sin6_port &&
               std::memcmp(&a.sin6_addr, &b.sin6_addr, sizeof a.sin6_addr) == 0;
    }

    // The address without the port, as text.
    QByteArray HostText() const {
        char text[INET6_ADDRSTRLEN] = {};
        if (family() == AF_INET6)
            inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(storage).sin6_addr, text,
                      sizeof text);
        else
            inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(storage).sin_addr, text,
                      sizeof text);
        return QByteArray(text);
    }

    // Address and port as bytes, to tell one client socket from another.
    std::string Key() const {
        return std::string(reinterpret_cast<const char*>(&storage),
                           family() == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in));
    }
};

// What every transfer of one run reads; lives from Start to Stop.
struct Shared {
    Shared(const QString& root, MyLog* log, MyTftpServer::LineObserver lineObserver,
           FetchObserver fetchObserver, milliseconds timeout, int retries,
           std::shared_ptr<ServerAccess> access, const std::vector<std::string>& withheld)
        : documentRoot(QFile::encodeName(root).toStdString()),
          rootBytes(QFile::encodeName(root)),
          log(log),
          lineObserver(std::move(lineObserver)),
          fetchObserver(std::move(fetchObserver)),
          timeout(timeout),
          retries(retries),
          access(std::move(access)) {
        documentRoot.Withhold(withheld);
    }

    void Log(const QByteArray& message) const {
        if (log)
            log->Write(message);
        if (lineObserver)
            lineObserver(message);
    }
    // A finished request, with its status and the time it ended; complete when the client
    // acknowledged the last block.
    void Report(FetchEvent fetch, int status) const {
        if (!fetchObserver)
            return;
        fetch.status = status;
        fetch.complete = status == kDelivered;
        fetch.time = std::time(nullptr);
        fetchObserver(fetch);
    }

    // The first packet of a transfer for this client socket and file name has not been
    // acknowledged yet: a repeated request is the same request, already being answered.
    bool BeginFirstPacket(const std::string& key) {
        std::lock_guard<std::mutex> lock(firstPacketMutex);
        return firstPacket.insert(key).second;
    }
    void EndFirstPacket(const std::string& key) {
        std::lock_guard<std::mutex> lock(firstPacketMutex);
        firstPacket.erase(key);
    }

    DocumentRoot documentRoot;
    QByteArray rootBytes;
    MyLog* log;
    MyTftpServer::LineObserver lineObserver;
    FetchObserver fetchObserver;
    milliseconds timeout;
    int retries;
    // Whose requests are read (its allow-list); everyone's when not set.
    std::shared_ptr<ServerAccess> access;
    std::atomic<int> transfers{0};
    std::mutex firstPacketMutex;
    std::set<std::string> firstPacket;
};

// One thread with its own event loop.
class Worker {
  public:
    explicit Worker(Shared& shared) : shared_(shared) {}

    Shared& shared() { return shared_; }
    asio::io_context& context() { return ioc_; }

    void Start() {
        thread_ = std::thread([this] {
            for (;;) {
                try {
                    ioc_.run();
                    return;
                } catch (...) {
                    // A failure in one handler must not end the thread serving the others.
                }
            }
        });
    }
    void Stop() {
        ioc_.stop();
        if (thread_.joinable())
            thread_.join();
    }

  private:
    Shared& shared_;
    asio::io_context ioc_{1};
    // Keeps the loop running while no transfer is under way.
    asio::executor_work_guard<asio::io_context::executor_type> idle_{ioc_.get_executor()};
    std::thread thread_;
};

// Reads up to length bytes at offset, fewer only at the end of the file; -1 on failure.
ssize_t readAt(int fd, char* out, size_t length, off_t offset) {
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd, out + done, length - done, offset + off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

// Where a block begins in the file, and the second byte of a netascii pair still to be sent
// (-1 when none).
struct BlockStart {
    off_t offset = 0;
    int pending = -1;
};

// What the listener hands a transfer.
struct TransferSetup {
    int socketFd = -1;
    Address peer;
    int fileFd = -1;
    bool netascii = false;
    Tftp::Negotiation negotiation;
    off_t fileSize = 0;
    std::string firstPacketKey;
    FetchEvent report;
};

// One read request being answered, on one worker's event loop only.
class Transfer : public std::enable_shared_from_this<Transfer> {
  public:
    Transfer(Worker& worker, TransferSetup setup);
    ~Transfer();
    void Start();

  private:
    // The OACK of the options taken (none: DATA 1 comes first). tsize is the size sent: in
    // netascii counted here, off the listener, for files up to kCountedNetascii only.
    void negotiate();
    // The OACK while it waits for its ACK, else the current window; the timer armed.
    void sendCurrent();
    void sendWindow();
    // Reads block start into packet_ after its header; false on a read failure (errno set).
    bool produce(const BlockStart& start, size_t* size, BlockStart* next);
    void waitForPacket();
    void onPacket(const uint8_t* data, size_t size, const Address& from);
    void onAck(uint16_t block);
    void armTimer();
    void startTimer();
    void onTimer();
    void sendTo(const std::string& packet, const Address& to);
    void firstPacketAnswered();
    void finish(int status);

    Shared& shared_;
    udp::socket socket_;
    asio::steady_timer timer_;
    bool timerArmed_ = false;
    Clock::time_point deadline_;
    milliseconds timeout_;
    int retriesLeft_;
    Address peer_;
    int fileFd_;
    bool netascii_;
    unsigned blockSize_;
    unsigned windowSize_;
    Tftp::Negotiation negotiation_;
    off_t fileSize_;
    std::string oack_;
    bool awaitingOackAck_ = false;
    std::string firstPacketKey_;
    uint64_t base_ = 1;               // the first unacknowledged block
    unsigned sent_ = 0;               // blocks sent from base_ on
    uint64_t last_ = 0;               // the final (short) block, once read
    std::vector<BlockStart> starts_;  // starts_[i]: where block base_ + i begins
    std::vector<size_t> sizes_;       // sizes_[i]: data bytes of block base_ + i
    std::vector<uint8_t> packet_;
    std::array<uint8_t, 1024> input_;
    udp::endpoint sender_;
    FetchEvent report_;
    bool finished_ = false;
};

Transfer::Transfer(Worker& worker, TransferSetup setup)
    : shared_(worker.shared()),
      socket_(worker.context()),
      timer_(worker.context()),
      timeout_(setup.negotiation.timeoutSeconds
                   ? milliseconds(setup.negotiation.timeoutSeconds * 1000)
                   : worker.shared().timeout),
      retriesLeft_(worker.shared().retries),
      peer_(setup.peer),
      fileFd_(setup.fileFd),
      netascii_(setup.netascii),
      blockSize_(setup.negotiation.blockSize),
      windowSize_(setup.negotiation.windowSize),
      negotiation_(std::move(setup.negotiation)),
      fileSize_(setup.fileSize),
      firstPacketKey_(std::move(setup.firstPacketKey)),
      starts_(windowSize_ + 1),
      sizes_(windowSize_),
      packet_(blockSize_ + 4),
      report_(std::move(setup.report)) {
    ++shared_.transfers;
    boost::system::error_code ec;
    socket_.assign(peer_.family() == AF_INET6 ? udp::v6() : udp::v4(), setup.socketFd, ec);
    if (ec)
        ::close(setup.socketFd);
}

Transfer::~Transfer() {
    if (!finished_) {
        finished_ = true;
        shared_.Report(report_, kStopped);
    }
    firstPacketAnswered();
    if (fileFd_ >= 0)
        ::close(fileFd_);
    --shared_.transfers;
}

void Transfer::sendCurrent() {
    if (awaitingOackAck_) {
        sendTo(oack_, peer_);
        armTimer();
    } else {
        sendWindow();
    }
}

void Transfer::negotiate() {
    Tftp::Negotiation answered = negotiation_;
    uint64_t transferSize = static_cast<uint64_t>(fileSize_);
    if (answered.sizeRequested && netascii_) {
        answered.sizeRequested = fileSize_ <= kCountedNetascii;
        transferSize = 0;
        thread_local std::vector<char> chunk(kCountedNetascii);
        off_t offset = 0;
        ssize_t n;
        while (answered.sizeRequested &&
               (n = readAt(fileFd_, chunk.data(), chunk.size(), offset)) > 0) {
            transferSize += Tftp::NetasciiLength(chunk.data(), static_cast<size_t>(n));
            offset += n;
            // Grown past the cap since it was opened: left unsaid all the same.
            answered.sizeRequested = offset <= kCountedNetascii;
        }
    }
    // Some clients take a size of 0 for a refusal: an empty file's size goes unsaid.
    answered.sizeRequested = answered.sizeRequested && transferSize > 0;
    if (!answered.accepted.empty() || answered.sizeRequested)
        oack_ = Tftp::ComposeOack(answered, transferSize);
    awaitingOackAck_ = !oack_.empty();
}

void Transfer::Start() {
    if (!socket_.is_open()) {
        finish(kFailed);
        return;
    }
    negotiate();
    sendCurrent();
    if (!finished_)
        waitForPacket();
}

void Transfer::sendWindow() {
    sent_ = 0;
    for (unsigned i = 0; i < windowSize_; ++i) {
        const uint64_t index = base_ + i;
        if (last_ && index > last_)
            break;
        size_t size = 0;
        if (!produce(starts_[i], &size, &starts_[i + 1])) {
            const int error = errno;
            sendTo(Tftp::ComposeError(Tftp::NotDefined, errorText(error)), peer_);
            finish(kFailed);
            return;
        }
        sizes_[i] = size;
        if (size < blockSize_)
            last_ = index;
        Tftp::WriteDataHeader(packet_.data(), static_cast<uint16_t>(index & 0xFFFF));
        ::sendto(socket_.native_handle(), packet_.data(), size + 4, MSG_DONTWAIT, peer_.get(),
                 peer_.length);
        ++sent_;
    }
    armTimer();
}

bool Transfer::produce(const BlockStart& start, size_t* size, BlockStart* next) {
    char* out = reinterpret_cast<char*>(packet_.data()) + 4;
    if (!netascii_) {
        const ssize_t n = readAt(fileFd_, out, blockSize_, start.offset);
        if (n < 0)
            return false;
        *size = static_cast<size_t>(n);
        *next = {start.offset + n, -1};
        return true;
    }
    thread_local std::vector<char> input;
    if (input.size() < blockSize_)
        input.resize(blockSize_);
    BlockStart at = start;
    size_t consumed = 0;
    size_t written = Tftp::NetasciiEncode(nullptr, 0, out, blockSize_, &at.pending, &consumed);
    while (written < blockSize_) {
        // Every input byte gives at least one output byte: read no more than there is room for.
        const ssize_t n = readAt(fileFd_, input.data(), blockSize_ - written, at.offset);
        if (n < 0)
            return false;
        if (n == 0)
            break;
        written += Tftp::NetasciiEncode(input.data(), static_cast<size_t>(n), out + written,
                                        blockSize_ - written, &at.pending, &consumed);
        at.offset += static_cast<off_t>(consumed);
    }
    *size = written;
    *next = at;
    return true;
}

// Receiving (rather than waiting to read) lets the event loop try the socket first, with no
// change to its registration per packet.
void Transfer::waitForPacket() {
    socket_.async_receive_from(
        asio::buffer(input_), sender_,
        [self = shared_from_this()](const boost::system::error_code& ec, size_t size) {
            if (ec == asio::error::operation_aborted || self->finished_)
                return;
            if (!ec) {
                Address from;
                from.length = static_cast<socklen_t>(self->sender_.size());
                std::memcpy(&from.storage, self->sender_.data(), from.length);
                self->onPacket(self->input_.data(), size, from);
            }
            // A failed receive (an ICMP error of an earlier send) leaves the transfer waiting.
            if (!self->finished_)
                self->waitForPacket();
        });
}

void Transfer::onPacket(const uint8_t* data, size_t size, const Address& from) {
    const uint16_t opcode = size >= 2 ? static_cast<uint16_t>(data[0] << 8 | data[1]) : 0;
    if (!(from == peer_)) {
        // Another client (or another port of this one): told so, the transfer goes on.
        if (opcode != Tftp::Error)
            sendTo(Tftp::ComposeError(Tftp::UnknownTransferId,
                                      Tftp::ErrorText(Tftp::UnknownTransferId)),
                   from);
        return;
    }
    if (size < 4)
        return;
    const uint16_t value = static_cast<uint16_t>(data[2] << 8 | data[3]);
    if (opcode == Tftp::Ack) {
        onAck(value);
    } else if (opcode == Tftp::Error) {
        finish(kEndedByClient);
    } else {
        sendTo(Tftp::ComposeError(Tftp::IllegalOperation, Tftp::ErrorText(Tftp::IllegalOperation)),
               peer_);
        finish(statusOf(Tftp::IllegalOperation));
    }
}

void Transfer::onAck(uint16_t block) {
    if (awaitingOackAck_) {
        if (block != 0)
            return;
        awaitingOackAck_ = false;
        firstPacketAnswered();
        retriesLeft_ = shared_.retries;
        sendWindow();
        return;
    }
    // Blocks newly acknowledged; 0 is a duplicate of an earlier ACK and sends nothing.
    const unsigned acked = static_cast<uint16_t>(block - static_cast<uint16_t>(base_ - 1));
    if (acked == 0 || acked > sent_)
        return;
    firstPacketAnswered();
    for (unsigned i = 0; i < acked; ++i)
        report_.bytes += sizes_[i];
    base_ += acked;
    if (last_ && base_ > last_) {
        finish(kDelivered);
        return;
    }
    std::copy(starts_.begin() + acked, starts_.begin() + sent_ + 1, starts_.begin());
    retriesLeft_ = shared_.retries;
    sendWindow();
}

// The deadline moves with every packet sent; the timer fires at most once per time-out and
// then waits on when the deadline has moved.
void Transfer::armTimer() {
    deadline_ = Clock::now() + timeout_;
    startTimer();
}

void Transfer::startTimer() {
    if (timerArmed_)
        return;
    timerArmed_ = true;
    timer_.expires_at(deadline_);
    timer_.async_wait([self = shared_from_this()](const boost::system::error_code& ec) {
        self->timerArmed_ = false;
        if (!ec && !self->finished_)
            self->onTimer();
    });
}

void Transfer::onTimer() {
    if (Clock::now() < deadline_) {
        startTimer();
        return;
    }
    if (retriesLeft_-- <= 0) {
        finish(kTimedOut);
        return;
    }
    sendCurrent();
}

void Transfer::sendTo(const std::string& packet, const Address& to) {
    ::sendto(socket_.native_handle(), packet.data(), packet.size(), MSG_DONTWAIT, to.get(),
             to.length);
}

void Transfer::firstPacketAnswered() {
    if (!firstPacketKey_.empty()) {
        shared_.EndFirstPacket(firstPacketKey_);
        firstPacketKey_.clear();
    }
}

void Transfer::finish(int status) {
    if (finished_)
        return;
    finished_ = true;
    boost::system::error_code ec;
    timer_.cancel();
    socket_.close(ec);
    if (fileFd_ >= 0)
        ::close(fileFd_);
    fileFd_ = -1;
    firstPacketAnswered();
    shared_.Report(report_, status);
}

// The well-known port: reads requests, refuses what it must, and hands each read request to a
// transfer of its own on one of the workers.
class Listener {
  public:
    Listener(Shared& shared, std::vector<std::unique_ptr<Worker>>& workers)
        : shared_(shared), workers_(workers), socket_(workers[0]->context()) {}

    // Throws SocketError.
    void Open(const udp::endpoint& endpoint);
    quint16 Port() const {
        boost::system::error_code ec;
        return socket_.local_endpoint(ec).port();
    }
    void Receive();

  private:
    void onRequest(const uint8_t* data, size_t size, const Address& peer, const Address& local);
    // Logs and reports the refusal, then sends the ERROR packet with text. With refusal, the
    // log line is "BUILT-IN TFTP SERVER refuses ..." with that reason instead of text.
    void refuse(const Address& peer, const std::string& path, uint16_t code,
                const std::string& text, const char* refusal = nullptr);
    // A transfer socket on the local address the request came to; -1 (errno set) on failure.
    int transferSocket(const Address& local) const;

    Shared& shared_;
    std::vector<std::unique_ptr<Worker>>& workers_;
    udp::socket socket_;
    Address bound_;
    bool boundToAny_ = true;
    size_t nextWorker_ = 0;
    const char* method_ = "RRQ";  // of the request being read
};

SocketError listenError(int code, quint16 port) {
    const auto kind =
        code == EACCES ? SocketError::Kind::AccessDenied : SocketError::Kind::BindFailed;
    return SocketError(
        kind, code, "cannot listen on UDP port " + std::to_string(port) + ": " + errorText(code));
}

void Listener::Open(const udp::endpoint& endpoint) {
    boost::system::error_code ec;
    // No address reuse: a second server on the same port must fail, not share the requests.
    socket_.open(endpoint.protocol(), ec);
    if (!ec)
        socket_.bind(endpoint, ec);
    if (!ec)
        socket_.non_blocking(true, ec);
    if (ec)
        throw listenError(ec.value(), endpoint.port());
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

void Listener::Receive() {
    socket_.async_wait(udp::socket::wait_read, [this](const boost::system::error_code& ec) {
        if (ec)
            return;  // closed
        for (int i = 0; i < kRequestBatch; ++i) {
            uint8_t buffer[2048];
            alignas(cmsghdr) char control[256];
            Address peer;
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
            Address local = bound_;
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

int Listener::transferSocket(const Address& local) const {
    const int fd = ::socket(local.family(), SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    Address any = local;
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

void Listener::refuse(const Address& peer, const std::string& path, uint16_t code,
                      const std::string& text, const char* refusal) {
    const QByteArray file =
        shared_.rootBytes + "/" +
        LogSafeText(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
    const QByteArray head = (refusal ? kRefusalSubject : kLogSubject) + peer.HostText() +
                            " with error " + QByteArray::number(code) + ". File " + file;
    if (refusal)
        shared_.Log(head + ": " + refusal);
    else
        shared_.Log(
            code == Tftp::FileNotFound
                ? head + " NOT exist!"
                : head + ": " +
                      LogSafeText(QByteArray(text.data(), static_cast<qsizetype>(text.size()))));
    FetchEvent report;
    report.protocol = "tftp";
    report.method = method_;
    report.peer = peer.HostText();
    report.path = QByteArray::fromStdString(path);
    shared_.Report(report, statusOf(code));
    // Logged and reported before the client hears of it.
    const std::string packet = Tftp::ComposeError(code, text);
    ::sendto(socket_.native_handle(), packet.data(), packet.size(), MSG_DONTWAIT, peer.get(),
             peer.length);
}

void Listener::onRequest(const uint8_t* data, size_t size, const Address& peer,
                         const Address& local) {
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
    if (shared_.access && !shared_.access->AllowList().Allows(peer.get())) {
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
    if (!shared_.BeginFirstPacket(firstPacketKey))
        return;  // a repeated request: its transfer resends on its own

    int error = 0;
    OpenedFile opened;
    const int fileFd = shared_.documentRoot.Open("/" + path, &error, &opened);
    if (fileFd < 0) {
        shared_.EndFirstPacket(firstPacketKey);
        if (error == DocumentRoot::kHiddenName || error == DocumentRoot::kWithheldFile)
            refuse(peer, path, Tftp::AccessViolation, Tftp::ErrorText(Tftp::AccessViolation),
                   DocumentRoot::RefusalReason(error));
        else if (error == ENOENT)
            refuseWith(path, opened.outsideRoot ? Tftp::AccessViolation : Tftp::FileNotFound);
        else if (error == EACCES || error == EPERM)
            refuseWith(path, Tftp::AccessViolation);
        else
            refuse(peer, path, Tftp::NotDefined, errorText(error));
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
        shared_.EndFirstPacket(firstPacketKey);
        refuse(peer, path, Tftp::NotDefined, errorText(socketError));
        return;
    }
    shared_.Log(kLogSubject + peer.HostText() + " with File " + shared_.rootBytes + "/" +
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
    Worker& worker = *workers_[nextWorker_++ % workers_.size()];
    auto transfer = std::make_shared<Transfer>(worker, std::move(setup));
    asio::post(worker.context(), [transfer] { transfer->Start(); });
}

}  // namespace

struct MyTftpServer::Impl {
    QString documentRoot;
    MyLog* log = nullptr;
    LineObserver lineObserver;
    FetchObserver fetchObserver;
    milliseconds timeout{1000};
    int retries = 5;
    int threadCount = DefaultServerThreadCount();
    std::shared_ptr<ServerAccess> access;
    QStringList withheld;

    // While active:
    std::unique_ptr<Shared> shared;
    std::vector<std::unique_ptr<Worker>> workers;
    std::unique_ptr<Listener> listener;
    quint16 port = 0;
};

MyTftpServer::MyTftpServer(const QString& documentRoot, MyLog* log) : impl_(new Impl) {
    impl_->documentRoot = documentRoot;
    impl_->log = log;
}

MyTftpServer::~MyTftpServer() {
    Stop();
}

void MyTftpServer::SetDocumentRoot(const QString& documentRoot) {
    impl_->documentRoot = documentRoot;
}

QString MyTftpServer::DocumentRoot() const {
    return impl_->documentRoot;
}

void MyTftpServer::SetLog(MyLog* log) {
    impl_->log = log;
}

void MyTftpServer::SetLineObserver(LineObserver observer) {
    impl_->lineObserver = std::move(observer);
}

void MyTftpServer::SetFetchObserver(FetchObserver observer) {
    impl_->fetchObserver = std::move(observer);
}

void MyTftpServer::SetRetransmission(milliseconds timeout, int retries) {
    impl_->timeout = std::max(timeout, milliseconds(1));
    impl_->retries = std::max(0, retries);
}

void MyTftpServer::SetThreadCount(int count) {
    impl_->threadCount = std::max(1, count);
}

void MyTftpServer::SetAccess(std::shared_ptr<ServerAccess> access) {
    impl_->access = std::move(access);
}

void MyTftpServer::SetWithheldFiles(const QStringList& files) {
    impl_->withheld = files;
}

void MyTftpServer::Start(quint16 port, const QString& bindAddress) {
    if (IsActive())
        return;
    asio::ip::address address = asio::ip::address_v4::any();
    if (!bindAddress.isEmpty()) {
        boost::system::error_code ec;
        address = asio::ip::make_address(bindAddress.toStdString(), ec);
        if (ec)
            throw std::invalid_argument("not an IP address: " + bindAddress.toStdString());
    }
    std::vector<std::string> withheld;
    for (const QString& file : impl_->withheld)
        withheld.push_back(QFile::encodeName(file).toStdString());
    impl_->shared = std::make_unique<Shared>(impl_->documentRoot, impl_->log, impl_->lineObserver,
                                             impl_->fetchObserver, impl_->timeout, impl_->retries,
                                             impl_->access, withheld);
    for (int i = 0; i < impl_->threadCount; ++i)
        impl_->workers.push_back(std::make_unique<Worker>(*impl_->shared));
    impl_->listener = std::make_unique<Listener>(*impl_->shared, impl_->workers);
    try {
        impl_->listener->Open(udp::endpoint(address, port));
    } catch (...) {
        impl_->listener.reset();
        impl_->workers.clear();
        impl_->shared.reset();
        throw;
    }
    impl_->port = impl_->listener->Port();
    impl_->listener->Receive();
    for (auto& worker : impl_->workers)
        worker->Start();
}

void MyTftpServer::Stop() {
    if (!IsActive())
        return;
    for (auto& worker : impl_->workers)
        worker->Stop();
    // The listening socket first, then the event loops with every transfer.
    impl_->listener.reset();
    impl_->workers.clear();
    impl_->shared.reset();
    impl_->port = 0;
}

bool MyTftpServer::IsActive() const {
    return impl_->shared != nullptr;
}

quint16 MyTftpServer::Port() const {
    return impl_->port;
}

int MyTftpServer::TransferCount() const {
    return impl_->shared ? impl_->shared->transfers.load() : 0;
}
