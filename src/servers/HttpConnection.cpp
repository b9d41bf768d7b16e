#include "servers/HttpConnection.h"

#include "app/MyLog.h"
#include "servers/HttpResponseHead.h"
#include "servers/HttpWorker.h"
#include "servers/TcpDelivery.h"
#include "servers/TlsSession.h"

#include <boost/asio/post.hpp>
#include <boost/beast/http/error.hpp>

#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace http = boost::beast::http;
using tcp = boost::asio::ip::tcp;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

constexpr size_t kSendfileChunk = 1 << 20;
// A fast reader of a large file lets the worker's other connections in after this much.
constexpr off_t kTurnBytes = 4 << 20;
// The file's bytes of one TLS write (one TLS record holds up to 16 KB; a few go out at once).
constexpr off_t kTlsPiece = 64 * 1024;

}  // namespace

HttpConnection::HttpConnection(HttpWorker& worker, int fd, const sockaddr_storage& peer)
    : HttpExchange(worker.run(), peer), worker_(worker), fd_(fd) {
    readDeadline_ = Clock::now() + run_.readTimeout;
    if (run_.tls) {
        tls_ = std::make_unique<TlsSession>(run_.tls, fd_);
        stage_ = Stage::Handshake;
    }
}

HttpConnection::~HttpConnection() {
    settle();
    report();
    if (waiting_)
        worker_.RemoveWaiting(waitingAt_);
    if (!socket_ && fd_ >= 0)
        ::close(fd_);
}

void HttpConnection::Start() {
    if (tls_)
        handshake();
    else
        receive();
}

HttpConnection::Io HttpConnection::fromTls(TlsSession::Result result) {
    switch (result) {
        case TlsSession::Result::Done:
            return Io::Progress;
        case TlsSession::Result::WantRead:
            return Io::WaitRead;
        case TlsSession::Result::WantWrite:
            return Io::WaitWrite;
        case TlsSession::Result::Closed:
            return Io::PeerClosed;
        default:
            return Io::Failed;
    }
}

void HttpConnection::handshake() {
    const Io io = fromTls(tls_->Handshake());
    if (io == Io::Progress) {
        stage_ = Stage::Request;
        receive();  // the handshake and the whole request within the read time-out
    } else if (io == Io::WaitRead || io == Io::WaitWrite) {
        wait(io, until(readDeadline_), &HttpConnection::handshake);
    } else {
        refuseHandshake();
    }
}

void HttpConnection::refuseHandshake() {
    const QByteArray reason = tls_->PlainHttp()
                                  ? QByteArray("a plain HTTP request to the HTTPS port")
                                  : LogSafeText(QByteArray::fromStdString(tls_->Reason()));
    run_.Log(kHttpRefusalSubject + peerText() + ": TLS handshake failed: " + reason);
    if (!tls_->PlainHttp()) {
        close();
        return;
    }
    // Told so in plain HTTP, on the bare socket (no fetch event: nothing was asked for).
    tls_.reset();
    body_ = "400 Bad Request: this port speaks HTTPS\r\n";
    head_ = HttpResponseHead("400 Bad Request", "text/plain", body_.size());
    send();
}

void HttpConnection::receive() {
    for (;;) {
        size_t got = 0;
        const Io io = readSome(input_ + inputSize_, sizeof input_ - inputSize_, &got);
        if (io == Io::WaitRead || io == Io::WaitWrite) {
            // The whole request must arrive within the read time-out, however slowly it trickles.
            wait(io, until(readDeadline_), &HttpConnection::receive);
            return;
        }
        if (io != Io::Progress) {
            close();  // closed by the peer, or failed: nothing to answer
            return;
        }
        inputSize_ += got;
        boost::system::error_code ec;
        size_t used = 0;
        while (used < inputSize_ && !parser_.is_done()) {
            const size_t step =
                parser_.put(boost::asio::buffer(input_ + used, inputSize_ - used), ec);
            used += step;
            if (ec || step == 0)
                break;
        }
        std::memmove(input_, input_ + used, inputSize_ - used);
        inputSize_ -= used;
        if (ec == http::error::need_more && inputSize_ == sizeof input_)
            ec = http::error::header_limit;
        if (ec && ec != http::error::need_more) {
            badRequest();
            send();
            return;
        }
        if (parser_.is_done()) {
            onRequest();
            return;
        }
    }
}

void HttpConnection::onRequest() {
    respond(worker_.HeldLogLines());
    worker_.SendAfterLogLines(shared_from_this());
}

void HttpConnection::send() {
    if (fd_ < 0)
        return;  // closed meanwhile
    stage_ = Stage::Answer;
    const off_t turnEnd = offset_ + kTurnBytes;
    for (;;) {
        const Io io = tls_ ? sendTls() : sendPlain();
        if (io == Io::Progress && offset_ >= turnEnd && offset_ < end_) {
            deadline_ = Clock::now() + run_.writeTimeout;  // progress
            boost::asio::post(worker_.context(), [self = shared_from_this()] { self->send(); });
            return;
        }
        if (io == Io::Progress)
            continue;
        if (io == Io::Done)
            finish();
        else if (io == Io::WaitRead || io == Io::WaitWrite)
            wait(io, run_.writeTimeout, &HttpConnection::send);
        else
            close();  // failed, or a file that shrank and cannot keep its announced length
        return;
    }
}

// MSG_MORE holds back a last part smaller than a segment: the shutdown that follows sends it
// with the FIN in one segment, or sendfile's end pushes it.
HttpConnection::Io HttpConnection::sendPlain() {
    ssize_t n;
    if (sent_ < head_.size() + body_.size()) {
        iovec parts[2];
        int count = 0;
        const size_t headSent = std::min(sent_, head_.size());
        if (headSent < head_.size())
            parts[count++] = {head_.data() + headSent, head_.size() - headSent};
        const size_t bodySent = sent_ - headSent;
        if (bodySent < body_.size())
            parts[count++] = {body_.data() + bodySent, body_.size() - bodySent};
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = static_cast<size_t>(count);
        n = ::sendmsg(fd_, &message, MSG_NOSIGNAL | MSG_MORE);
        if (n > 0)
            sent_ += static_cast<size_t>(n);
    } else if (offset_ < end_) {
        const size_t chunk = static_cast<size_t>(std::min<off_t>(end_ - offset_, kSendfileChunk));
        n = ::sendfile(fd_, fileFd_, &offset_, chunk);
        if (n == 0)
            return Io::Failed;  // shrunk
    } else {
        return Io::Done;
    }
    if (n >= 0 || errno == EINTR)
        return Io::Progress;
    return errno == EAGAIN || errno == EWOULDBLOCK ? Io::WaitWrite : Io::Failed;
}

HttpConnection::Io HttpConnection::sendTls() {
    if (piece_.empty()) {
        if (!head_.empty()) {
            piece_.swap(head_);
            piece_ += body_;
            body_.clear();
        }
        if (offset_ < end_) {
            const size_t at = piece_.size();
            const size_t want = static_cast<size_t>(std::min<off_t>(end_ - offset_, kTlsPiece));
            piece_.resize(at + want);
            ssize_t n;
            do
                n = ::pread(fileFd_, piece_.data() + at, want, offset_);
            while (n < 0 && errno == EINTR);
            if (n <= 0)
                return Io::Failed;  // shrunk, or unreadable
            piece_.resize(at + static_cast<size_t>(n));
            offset_ += n;
        }
        if (piece_.empty())
            return Io::Done;
    }
    const Io io = fromTls(tls_->Write(piece_.data(), piece_.size()));
    if (io == Io::Progress) {
        answerWritten_ += qint64(piece_.size());
        written_.emplace_back(tls_->Written(), answerWritten_);
        piece_.clear();
    }
    return io;
}

void HttpConnection::finish() {
    if (fd_ < 0)
        return;
    if (stage_ != Stage::Finishing) {
        stage_ = Stage::Finishing;
        queued_ = INT_MAX;  // looked at only once the time-out has passed
        finishDeadline_ = Clock::now() + run_.writeTimeout;
    }
    if (tls_) {
        const Io io = fromTls(tls_->Shutdown());
        if (io == Io::WaitRead || io == Io::WaitWrite) {
            wait(io, until(finishDeadline_), &HttpConnection::finish);
            return;
        }
        if (io != Io::Progress) {
            close();
            return;
        }
    }
    ::shutdown(fd_, SHUT_WR);
    boost::asio::post(worker_.context(), [self = shared_from_this()] { self->discard(); });
}

void HttpConnection::discard() {
    if (fd_ < 0)
        return;
    // A client that keeps sending gets its turn like the others: a few reads, then the event
    // loop again (the time-out sweep ends it).
    Io waitFor = Io::WaitRead;
    for (int reads = 0; reads < 16; ++reads) {
        size_t got = 0;
        const Io io = readSome(input_, sizeof input_, &got);
        if (io == Io::Progress)
            continue;
        if (io == Io::WaitRead || io == Io::WaitWrite) {
            waitFor = io;
            break;
        }
        if (io == Io::PeerClosed && run_.fetchObserver && unacknowledged() > 1) {
            awaitAcknowledgement();
            return;
        }
        close();  // closed by the client, or failed
        return;
    }
    // Once the client has acknowledged every byte of the answer (only the end-of-sending mark
    // may be outstanding), nothing of it can be lost any more: close now. Otherwise wait for
    // the client to close.
    if (unacknowledged() <= 1) {
        close();
        return;
    }
    wait(waitFor, until(finishDeadline_), &HttpConnection::discard);
}

void HttpConnection::awaitAcknowledgement() {
    peerClosed_ = true;
    self_ = shared_from_this();
    if (!waiting_) {
        waitingAt_ = worker_.AddWaiting(this);
        waiting_ = true;
    }
    deadline_ = finishDeadline_;
    lookForAcknowledgement();
}

void HttpConnection::lookForAcknowledgement() {
    // The kernel tells no one when the last byte is acknowledged: looked at every 10 ms, so
    // that the download is reported soon after (the sweep ends a client that stopped taking).
    if (!ackTimer_)
        ackTimer_.emplace(worker_.context());
    ackTimer_->expires_after(milliseconds(10));
    ackTimer_->async_wait([self = shared_from_this()](const boost::system::error_code& ec) {
        if (ec || !self->peerClosed_)
            return;
        self->ExpireBefore(Clock::now());
        if (self->peerClosed_)
            self->lookForAcknowledgement();
    });
}

void HttpConnection::settle() {
    if (fetch_.status == 0 || !run_.fetchObserver || fd_ < 0)
        return;
    TcpSendState state;
    if (!ReadTcpSendState(fd_, &state))
        return;
    if (!tls_) {
        delivered(std::min<uint64_t>(state.acknowledged, sent_ + uint64_t(offset_)));
        return;
    }
    // The answer's bytes of the writes whose every TLS byte the client acknowledged.
    qint64 acknowledged = 0;
    for (const auto& [tlsBytes, answerBytes] : written_) {
        if (tlsBytes > state.acknowledged)
            break;
        acknowledged = answerBytes;
    }
    delivered(uint64_t(acknowledged));
}

HttpConnection::Io HttpConnection::readSome(char* buffer, size_t size, size_t* got) {
    if (tls_)
        return fromTls(tls_->Read(buffer, size, got));
    for (;;) {
        const ssize_t n = ::recv(fd_, buffer, size, 0);
        if (n > 0) {
            *got = static_cast<size_t>(n);
            return Io::Progress;
        }
        if (n == 0)
            return Io::PeerClosed;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? Io::WaitRead : Io::Failed;
    }
}

void HttpConnection::wait(Io io, milliseconds timeout, Step next) {
    if (!socket_) {
        boost::system::error_code ec;
        socket_.emplace(worker_.context());
        socket_->assign(peer_.ss_family == AF_INET6 ? tcp::v6() : tcp::v4(), fd_, ec);
        if (ec) {
            socket_.reset();
            close();
            return;
        }
    }
    if (!waiting_) {
        waitingAt_ = worker_.AddWaiting(this);
        waiting_ = true;
    }
    deadline_ = Clock::now() + timeout;
    if (stage_ == Stage::Answer)
        queued_ = unacknowledged();
    socket_->async_wait(io == Io::WaitWrite ? tcp::socket::wait_write : tcp::socket::wait_read,
                        [self = shared_from_this(), next](const boost::system::error_code& ec) {
                            if (ec || self->fd_ < 0)
                                self->close();  // closed by a time-out or by Stop
                            else
                                (self.get()->*next)();
                        });
}

milliseconds HttpConnection::until(Clock::time_point deadline) {
    return std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
}

int HttpConnection::unacknowledged() const {
    return TcpUnacknowledgedBytes(fd_);
}

void HttpConnection::ExpireBefore(Clock::time_point now) {
    if (peerClosed_) {
        TcpSendState state;
        if (unacknowledged() <= 1 || !ReadTcpSendState(fd_, &state) || state.ended) {
            close();
            return;
        }
    }
    if (deadline_ > now)
        return;
    // The socket reports room to write only once a good part of its buffer is free; a slow
    // reader may take longer than the time-out for that while taking bytes all along. The same
    // holds for the answer's last bytes while finishing.
    if (stage_ == Stage::Answer || stage_ == Stage::Finishing) {
        const int queued = unacknowledged();
        if (queued < queued_ && (stage_ == Stage::Answer || queued > 1)) {
            queued_ = queued;
            deadline_ = now + run_.writeTimeout;
            finishDeadline_ = deadline_;
            return;
        }
    }
    if (stage_ == Stage::Handshake) {
        const qint64 ms = run_.readTimeout.count();
        run_.Log(
            kHttpRefusalSubject + peerText() + ": TLS handshake failed: not completed within " +
            (ms % 1000 ? QByteArray::number(ms) + " ms" : QByteArray::number(ms / 1000) + " s"));
    }
    close();
}

void HttpConnection::close() {
    settle();
    report();
    if (waiting_) {
        worker_.RemoveWaiting(waitingAt_);
        waiting_ = false;
    }
    if (socket_) {
        boost::system::error_code ec;
        socket_->close(ec);
    } else if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = -1;
    tls_.reset();  // no TLS call after the close: the descriptor's number may be taken anew
    peerClosed_ = false;
    const auto held = std::move(self_);  // may be the last reference: released on return
}
