#include "servers/TftpTransfer.h"

#include <boost/asio/post.hpp>

#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace asio = boost::asio;
using udp = asio::ip::udp;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

// The largest netascii file whose converted size a tsize request is answered with: counting
// reads the whole file on the transfer's thread, which would hold up its other transfers for
// a large one. A configuration file is far smaller; a larger file's OACK leaves tsize out.
constexpr off_t kCountedNetascii = 64 * 1024;

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

}  // namespace

int TftpStatus::OfError(uint16_t errorCode) {
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

void TftpRun::Report(FetchEvent fetch, int status) const {
    if (!fetchObserver)
        return;
    fetch.status = status;
    fetch.complete = status == TftpStatus::kDelivered;
    fetch.time = std::time(nullptr);
    fetchObserver(fetch);
}

bool TftpRun::BeginFirstPacket(const std::string& key) {
    std::lock_guard<std::mutex> lock(firstPacketMutex);
    return firstPacket.insert(key).second;
}

void TftpRun::EndFirstPacket(const std::string& key) {
    std::lock_guard<std::mutex> lock(firstPacketMutex);
    firstPacket.erase(key);
}

TftpTransfer::TftpTransfer(TftpRun& run, boost::asio::io_context& context, TransferSetup setup)
    : run_(run),
      socket_(context),
      timer_(context),
      timeout_(setup.negotiation.timeoutSeconds
                   ? milliseconds(setup.negotiation.timeoutSeconds * 1000)
                   : run.timeout),
      retriesLeft_(run.retries),
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
    ++run_.active;
    boost::system::error_code ec;
    socket_.assign(peer_.family() == AF_INET6 ? udp::v6() : udp::v4(), setup.socketFd, ec);
    if (ec)
        ::close(setup.socketFd);
}

TftpTransfer::~TftpTransfer() {
    if (!finished_) {
        finished_ = true;
        run_.Report(report_, TftpStatus::kStopped);
    }
    firstPacketAnswered();
    if (fileFd_ >= 0)
        ::close(fileFd_);
    --run_.active;
}

void TftpTransfer::sendCurrent() {
    if (awaitingOackAck_) {
        sendTo(oack_, peer_);
        armTimer();
    } else {
        sendWindow();
    }
}

void TftpTransfer::negotiate() {
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

void TftpTransfer::Start() {
    if (!socket_.is_open()) {
        finish(TftpStatus::kFailed);
        return;
    }
    negotiate();
    sendCurrent();
    if (!finished_)
        waitForPacket();
}

void TftpTransfer::sendWindow() {
    sent_ = 0;
    for (unsigned i = 0; i < windowSize_; ++i) {
        const uint64_t index = base_ + i;
        if (last_ && index > last_)
            break;
        size_t size = 0;
        if (!produce(starts_[i], &size, &starts_[i + 1])) {
            const int error = errno;
            sendTo(Tftp::ComposeError(Tftp::NotDefined, ErrnoText(error)), peer_);
            finish(TftpStatus::kFailed);
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

bool TftpTransfer::produce(const BlockStart& start, size_t* size, BlockStart* next) {
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
void TftpTransfer::waitForPacket() {
    socket_.async_receive_from(
        asio::buffer(input_), sender_,
        [self = shared_from_this()](const boost::system::error_code& ec, size_t size) {
            if (ec == asio::error::operation_aborted || self->finished_)
                return;
            if (!ec) {
                SocketAddress from;
                from.length = static_cast<socklen_t>(self->sender_.size());
                std::memcpy(&from.storage, self->sender_.data(), from.length);
                self->onPacket(self->input_.data(), size, from);
            }
            // A failed receive (an ICMP error of an earlier send) leaves the transfer waiting.
            if (!self->finished_)
                self->waitForPacket();
        });
}

void TftpTransfer::onPacket(const uint8_t* data, size_t size, const SocketAddress& from) {
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
        finish(TftpStatus::kEndedByClient);
    } else {
        sendTo(Tftp::ComposeError(Tftp::IllegalOperation, Tftp::ErrorText(Tftp::IllegalOperation)),
               peer_);
        finish(TftpStatus::OfError(Tftp::IllegalOperation));
    }
}

void TftpTransfer::onAck(uint16_t block) {
    if (awaitingOackAck_) {
        if (block != 0)
            return;
        awaitingOackAck_ = false;
        firstPacketAnswered();
        retriesLeft_ = run_.retries;
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
        finish(TftpStatus::kDelivered);
        return;
    }
    std::copy(starts_.begin() + acked, starts_.begin() + sent_ + 1, starts_.begin());
    retriesLeft_ = run_.retries;
    sendWindow();
}

// The deadline moves with every packet sent; the timer fires at most once per time-out and
// then waits on when the deadline has moved.
void TftpTransfer::armTimer() {
    deadline_ = Clock::now() + timeout_;
    startTimer();
}

void TftpTransfer::startTimer() {
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

void TftpTransfer::onTimer() {
    if (Clock::now() < deadline_) {
        startTimer();
        return;
    }
    if (retriesLeft_-- <= 0) {
        finish(TftpStatus::kTimedOut);
        return;
    }
    sendCurrent();
}

void TftpTransfer::sendTo(const std::string& packet, const SocketAddress& to) {
    ::sendto(socket_.native_handle(), packet.data(), packet.size(), MSG_DONTWAIT, to.get(),
             to.length);
}

void TftpTransfer::firstPacketAnswered() {
    if (!firstPacketKey_.empty()) {
        run_.EndFirstPacket(firstPacketKey_);
        firstPacketKey_.clear();
    }
}

void TftpTransfer::finish(int status) {
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
    run_.Report(report_, status);
}
