#include "servers/MyHttpServer.h"

#include "app/MyLog.h"
#include "app/SocketError.h"
#include "protection/ServerAccess.h"
#include "protection/TlsServerContext.h"
#include "servers/DocumentRoot.h"
#include "servers/MimeTypes.h"
#include "servers/ServerThreads.h"
#include "servers/TcpDelivery.h"

#include <QFile>

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

#include <arpa/inet.h>
#include <pthread.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>
#include <list>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using std::chrono::milliseconds;

namespace {

constexpr int kBacklog = 100;
constexpr unsigned kHeaderLimit = 8 * 1024;
constexpr unsigned kBodyLimit = 1024 * 1024;
constexpr size_t kSendfileChunk = 1 << 20;
// Files up to this size are read and sent with the head in one call (a configuration file);
// larger ones go from disk to the socket with sendfile.
constexpr off_t kReadWhole = 32 * 1024;
// A fast reader of a large file lets the worker's other connections in after this much.
constexpr off_t kTurnBytes = 4 << 20;
const char kLogSubject[] = "BUILT-IN HTTP SERVER responses to ";
const char kRefusalSubject[] = "BUILT-IN HTTP SERVER refuses ";

// Where a worker holds the log lines of the answers it forms, while it forms one.
thread_local QByteArray* tHeldLogLines = nullptr;

// What every connection of one run reads; lives from Start to Stop.
struct Shared {
    Shared(const QString& root, MyLog* log, MyHttpServer::LineObserver observer,
           FetchObserver fetchObserver, milliseconds read, milliseconds write,
           std::shared_ptr<asio::ssl::context> tls, std::shared_ptr<ServerAccess> access,
           const std::vector<std::string>& withheld)
        : documentRoot(QFile::encodeName(root).toStdString()),
          rootBytes(QFile::encodeName(root)),
          log(log),
          observer(std::move(observer)),
          fetchObserver(std::move(fetchObserver)),
          readTimeout(read),
          writeTimeout(write),
          tls(std::move(tls)),
          access(std::move(access)) {
        documentRoot.Withhold(withheld);
    }

    void Log(const QByteArray& message) const {
        if (log && tHeldLogLines)
            *tHeldLogLines += log->FormatLine(message);
        else if (log)
            log->Write(message);
        if (observer)
            observer(message);
    }

    DocumentRoot documentRoot;
    QByteArray rootBytes;
    MyLog* log;
    MyHttpServer::LineObserver observer;
    FetchObserver fetchObserver;
    milliseconds readTimeout;
    milliseconds writeTimeout;
    // HTTPS when set; who may download when set.
    std::shared_ptr<asio::ssl::context> tls;
    std::shared_ptr<ServerAccess> access;
    std::atomic<int> connections{0};
};

// "Sun, 06 Nov 1994 08:49:37 GMT", formatted once per second per thread.
const std::string& httpDate() {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    thread_local std::time_t last = -1;
    thread_local std::string text;
    const std::time_t now = std::time(nullptr);
    if (now != last) {
        std::tm t{};
        gmtime_r(&now, &t);
        char buf[40];
        std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d GMT", days[t.tm_wday],
                      t.tm_mday, months[t.tm_mon], t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
        text = buf;
        last = now;
    }
    return text;
}

std::string responseHead(const char* status, std::string_view contentType,
                         unsigned long long length, const char* extra = "") {
    std::string head;
    head.reserve(200);
    head += "HTTP/1.1 ";
    head += status;
    head += "\r\nDate: ";
    head += httpDate();
    head += "\r\nContent-Type: ";
    head += contentType;
    head += "\r\nContent-Length: ";
    head += std::to_string(length);
    head += "\r\nConnection: close\r\n";
    head += extra;
    head += "\r\n";
    return head;
}

// The parts one after the other, in one allocation.
template <typename... Parts>
QByteArray joined(const Parts&... parts) {
    const QByteArrayView views[] = {QByteArrayView(parts)...};
    qsizetype size = 0;
    for (const QByteArrayView view : views)
        size += view.size();
    QByteArray out;
    out.reserve(size);
    for (const QByteArrayView view : views)
        out.append(view);
    return out;
}

std::string errorText(int error) {
    char buf[256];
    return strerror_r(error, buf, sizeof buf);
}

class Worker;

// One request's answer, for either kind of connection: the head, then a short body or the file
// from offset_ to end_, and what the fetch observer gets when the connection ends.
class Exchange {
  protected:
    Exchange(Shared& shared, const sockaddr_storage& peer);
    ~Exchange();

    // Answers a whole request (or a refusal of it).
    void respond(const http::request<http::string_body>& request);
    // Answers a request that could not be read with 400.
    void badRequest();
    // The client has acknowledged this many bytes of the answer (head first, then body): sets
    // the body bytes it took and whether the whole body reached it.
    void delivered(uint64_t acknowledged);
    // Hands the answered request to the fetch observer, once, stamped with the time it ended.
    void report();
    QByteArray peerText() const;

    Shared& shared_;
    sockaddr_storage peer_;
    std::string head_;
    std::string body_;
    int fileFd_ = -1;
    off_t offset_ = 0;
    off_t end_ = 0;
    // What the fetch observer gets when the connection ends.
    FetchEvent fetch_;
    // The answer formed: its head's and body's bytes; a HEAD's answer delivers no body.
    qint64 headBytes_ = 0;
    qint64 bodyBytes_ = 0;
    bool headOnly_ = false;

  private:
    void answer(const http::request<http::string_body>& request);
    // A client the access rules refuse gets 403, 429 or 401 (logged); false when it is served.
    bool refused(const http::request<http::string_body>& request, const QByteArray& file,
                 bool headOnly);
    // Answers with status and its status line as the body (none for a HEAD).
    void shortAnswer(int status, const char* statusLine, bool headOnly, const char* extra = "");
    // Reads the opened file (end_ bytes) into body_ and closes it; false with *error on failure.
    bool readWhole(int* error);
    void failed(const std::string& text);
    // Notes the sizes of the answer formed.
    void noteAnswer();
};

// One accepted connection: reads one request, answers it, closes. It lives on one worker's
// event loop only, so its members need no lock. The socket is read and written directly; only
// when it has to wait (no data yet, or the send buffer full) is it handed to the event loop,
// which keeps the common short exchange down to a few system calls.
class Connection : public Exchange, public std::enable_shared_from_this<Connection> {
  public:
    Connection(Worker& worker, int fd, const sockaddr_storage& peer);
    ~Connection();

    // Reads what has arrived and goes on from there.
    void Start() { receive(); }
    // Sends the answer formed.
    void SendAnswer() { send(); }
    // Closes the connection when its time-out has passed, or when the answer it waits to see
    // acknowledged is.
    void ExpireBefore(std::chrono::steady_clock::time_point now);
    // At Stop: a connection that holds itself (see awaitAcknowledgement) lets go.
    void Release() { self_.reset(); }

  private:
    void receive();
    void onRequest();
    void send();
    ssize_t sendHeadAndBody();
    // After the last byte of the answer: ends the sending side and discards what the client
    // still sends until it closes or has acknowledged the whole answer, at most for the write
    // time-out (longer while it still takes bytes of the answer). Closing with unread bytes, or
    // before bytes the client still sends, would reset the connection and drop the answer's
    // tail that is still on its way.
    void finish();
    void discard();
    // The client closed its side before it acknowledged the whole answer, which the kernel
    // still sends: the worker's sweep looks at the acknowledgments until they are all in, or
    // until the client takes no byte for the write time-out. Only then is the download's fate
    // known. Nothing else refers to the connection meanwhile, so it holds itself.
    void awaitAcknowledgement();
    // Sets what the client acknowledged of the answer, before the socket is closed.
    void settle();
    // Waits, at most timeout, until the socket can be read or written, then calls next.
    void wait(tcp::socket::wait_type type, milliseconds timeout, void (Connection::*next)());
    void close();
    // Bytes sent and not yet taken by the peer.
    int unacknowledged() const;

    Worker& worker_;
    int fd_;
    std::optional<tcp::socket> socket_;  // once the connection waits in the event loop
    bool waiting_ = false;               // listed among the worker's waiting connections
    std::list<Connection*>::iterator waitingAt_;
    std::chrono::steady_clock::time_point deadline_;
    std::chrono::steady_clock::time_point readDeadline_;
    bool waitingToWrite_ = false;
    bool finishing_ = false;   // the answer is out; discarding until the client closes
    bool peerClosed_ = false;  // closed by the client; awaiting the answer's acknowledgment
    std::shared_ptr<Connection> self_;  // while awaiting it
    std::chrono::steady_clock::time_point finishDeadline_;
    int queued_ = 0;  // unacknowledged() when the wait to write began, or at the last progress
    http::request_parser<http::string_body> parser_;
    char input_[kHeaderLimit];
    size_t inputSize_ = 0;
    size_t sent_ = 0;  // of head_ and body_ together
};

// The TCP socket under a TLS stream, counting the bytes the TLS layer writes to it: after each
// write of the answer the count tells where in the TCP stream that part of the answer ends, so
// the bytes the client acknowledged tell how much of the answer it has.
class CountedSocket {
  public:
    using executor_type = tcp::socket::executor_type;
    using lowest_layer_type = tcp::socket::lowest_layer_type;

    explicit CountedSocket(asio::io_context& context) : socket_(context) {}

    executor_type get_executor() { return socket_.get_executor(); }
    lowest_layer_type& lowest_layer() { return socket_.lowest_layer(); }
    const lowest_layer_type& lowest_layer() const { return socket_.lowest_layer(); }
    tcp::socket& socket() { return socket_; }
    // Bytes written to the socket so far.
    uint64_t Written() const { return written_; }

    template <typename Buffers, typename Handler>
    void async_read_some(const Buffers& buffers, Handler&& handler) {
        socket_.async_read_some(buffers, std::forward<Handler>(handler));
    }
    template <typename Buffers, typename Handler>
    void async_write_some(const Buffers& buffers, Handler&& handler) {
        socket_.async_write_some(buffers,
                                 [this, next = std::forward<Handler>(handler)](
                                     const boost::system::error_code& ec, size_t n) mutable {
                                     written_ += n;
                                     next(ec, n);
                                 });
    }

  private:
    tcp::socket socket_;
    uint64_t written_ = 0;
};

// One accepted connection of the HTTPS server: the TLS handshake, one request, its answer, the
// TLS close. Asio's SSL stream does the TLS work on the worker's event loop. A timer cuts a
// handshake and request that have not arrived within the read time-out, and an answer the
// client takes no byte of for the write time-out, as for plain connections.
class TlsConnection : public Exchange, public std::enable_shared_from_this<TlsConnection> {
  public:
    TlsConnection(Worker& worker, int fd, const sockaddr_storage& peer);
    ~TlsConnection();
    void Start();

  private:
    enum class Stage { Handshake, Request, Answer, Closing };
    int fd() { return stream_.next_layer().socket().native_handle(); }
    void onHandshake(const boost::system::error_code& ec);
    void onRead(const boost::system::error_code& ec);
    // Sends the head with the body or the file's first piece, then the file piece by piece.
    void write();
    void onWritten();
    // Writes out_ to stream within the write time-out, then goes on with next; a failed write
    // closes.
    template <typename Stream>
    void writeOut(Stream& stream, void (TlsConnection::*next)());
    // Sends the TLS close and waits, at most the write time-out, for the client's.
    void finish();
    // After the TLS close: looks every 10 ms until the client has acknowledged the whole answer
    // (the kernel tells no one), as long as it keeps taking bytes within the write time-out.
    void awaitAcknowledgement();
    // Sets what the client acknowledged of the answer, before the socket is closed: the answer
    // bytes of the writes whose every TLS byte it acknowledged.
    void settle();
    // A failed handshake: logged; a plain HTTP request gets a plain 400.
    void refuseHandshake(const boost::system::error_code& ec);
    // After the plain 400: ends the sending side and drains.
    void endPlain();
    // Reads and drops what the client still sends until it closes (or the timer ends it).
    void drain();
    void arm(milliseconds timeout);
    void onTimer();
    void close();

    asio::ssl::stream<CountedSocket> stream_;
    asio::steady_timer timer_;
    Stage stage_ = Stage::Handshake;
    bool closed_ = false;
    int queued_ = 0;  // unacknowledged bytes when the write time-out was last set
    beast::flat_buffer buffer_{kHeaderLimit};
    http::request_parser<http::string_body> parser_;
    std::string out_;  // what the write under way sends
    // After each write of the answer: the TLS bytes written to the socket in all, and the
    // answer's bytes (head and body) written in all.
    std::vector<std::pair<uint64_t, qint64>> written_;
    qint64 answerWritten_ = 0;
    std::chrono::steady_clock::time_point ackDeadline_;
    int ackQueued_ = -1;  // unacknowledged bytes at the last look; -1 before the first
};

// One thread with its own event loop and its own listening socket.
class Worker {
  public:
    explicit Worker(Shared& shared) : shared_(shared) {}

    Shared& shared() { return shared_; }
    asio::io_context& context() { return ioc_; }
    tcp::acceptor& acceptor() { return acceptor_; }

    std::list<Connection*>::iterator AddWaiting(Connection* connection) {
        return waiting_.insert(waiting_.end(), connection);
    }
    void RemoveWaiting(std::list<Connection*>::iterator at) { waiting_.erase(at); }

    // The log lines of the answers formed in one turn of the event loop are written together,
    // in one call, before those answers go out: a client never has an answer whose line is not
    // in the log yet, and the log takes one write per turn instead of one per request.
    // While one lives, the lines this thread logs are held.
    class HeldLogLines {
      public:
        explicit HeldLogLines(Worker& worker) { tHeldLogLines = &worker.logLines_; }
        ~HeldLogLines() { tHeldLogLines = nullptr; }
        HeldLogLines(const HeldLogLines&) = delete;
        HeldLogLines& operator=(const HeldLogLines&) = delete;
    };
    // Sends the connection's answer once the held lines are written (at once when none are).
    void SendAfterLogLines(std::shared_ptr<Connection> connection) {
        if (logLines_.isEmpty()) {
            connection->SendAnswer();
            return;
        }
        answers_.push_back(std::move(connection));
        if (!writePosted_) {
            writePosted_ = true;
            asio::post(ioc_, [this] { writeLogLines(); });
        }
    }

    void Start() {
        accept();
        sweep();
        thread_ = std::thread([this] {
            // sendfile to a connection the peer has reset raises SIGPIPE, which would end the
            // program; blocked here, the call fails with EPIPE instead.
            sigset_t pipe;
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
            for (;;) {
                try {
                    ioc_.run();
                    break;
                } catch (...) {
                    // A failure in one handler must not end the thread serving the others.
                }
            }
            // Stopped: the held lines still go to the log; the answers not sent are dropped with
            // their connections, and so are those that hold themselves.
            writeHeldLines();
            answers_.clear();
            std::vector<std::shared_ptr<Connection>> waiting;
            for (Connection* connection : waiting_)
                waiting.push_back(connection->shared_from_this());
            for (const auto& connection : waiting)
                connection->Release();
        });
    }

    void Stop() {
        ioc_.stop();
        if (thread_.joinable())
            thread_.join();
    }

  private:
    void writeHeldLines() {
        if (shared_.log && !logLines_.isEmpty())
            shared_.log->Append(logLines_);
        logLines_.resize(0);
    }
    void writeLogLines() {
        writePosted_ = false;
        writeHeldLines();
        std::vector<std::shared_ptr<Connection>> answers;
        answers.swap(answers_);
        for (const auto& connection : answers)
            connection->SendAnswer();
    }

    // Takes every connection waiting to be accepted, then waits for more.
    void accept() {
        acceptor_.async_wait(tcp::acceptor::wait_read, [this](const boost::system::error_code& ec) {
            if (ec)
                return;  // closed
            for (int i = 0; i < 64; ++i) {
                sockaddr_storage peer{};
                socklen_t length = sizeof peer;
                const int fd =
                    ::accept4(acceptor_.native_handle(), reinterpret_cast<sockaddr*>(&peer),
                              &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd >= 0) {
                    if (shared_.tls)
                        std::make_shared<TlsConnection>(*this, fd, peer)->Start();
                    else
                        std::make_shared<Connection>(*this, fd, peer)->Start();
                    continue;
                }
                if (errno == EINTR || errno == ECONNABORTED)
                    continue;
                if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                    // Out of descriptors: try again once time-outs have freed some.
                    retry_.expires_after(milliseconds(100));
                    retry_.async_wait([this](const boost::system::error_code& ec) {
                        if (!ec)
                            accept();
                    });
                    return;
                }
                break;  // EAGAIN: none left
            }
            accept();
        });
    }

    // Closes the waiting connections whose time-out has passed, a few times a second.
    void sweep() {
        const milliseconds shortest = std::min(shared_.readTimeout, shared_.writeTimeout);
        sweep_.expires_after(std::clamp(shortest / 4, milliseconds(10), milliseconds(250)));
        sweep_.async_wait([this](const boost::system::error_code& ec) {
            if (ec)
                return;
            const auto now = std::chrono::steady_clock::now();
            // Closing removes a connection from the list, so walk a copy.
            std::vector<std::shared_ptr<Connection>> due;
            for (Connection* connection : waiting_)
                due.push_back(connection->shared_from_this());
            for (const auto& connection : due)
                connection->ExpireBefore(now);
            sweep();
        });
    }

    Shared& shared_;
    QByteArray logLines_;
    bool writePosted_ = false;
    // Declared before the event loop: connections still unlist themselves while the loop's
    // pending handlers are destroyed.
    std::list<Connection*> waiting_;
    asio::io_context ioc_{1};
    tcp::acceptor acceptor_{ioc_};
    asio::steady_timer retry_{ioc_};
    asio::steady_timer sweep_{ioc_};
    std::vector<std::shared_ptr<Connection>> answers_;  // waiting for logLines_ to be written
    std::thread thread_;
};

Exchange::Exchange(Shared& shared, const sockaddr_storage& peer) : shared_(shared), peer_(peer) {
    ++shared_.connections;
    if (shared_.tls)
        fetch_.protocol = "https";
}

Exchange::~Exchange() {
    report();
    if (fileFd_ >= 0)
        ::close(fileFd_);
    --shared_.connections;
}

Connection::Connection(Worker& worker, int fd, const sockaddr_storage& peer)
    : Exchange(worker.shared(), peer), worker_(worker), fd_(fd) {
    readDeadline_ = std::chrono::steady_clock::now() + shared_.readTimeout;
    parser_.header_limit(kHeaderLimit);
    parser_.body_limit(kBodyLimit);
    parser_.eager(true);
}

Connection::~Connection() {
    settle();
    report();
    if (waiting_)
        worker_.RemoveWaiting(waitingAt_);
    if (!socket_ && fd_ >= 0)
        ::close(fd_);
}

void Connection::receive() {
    for (;;) {
        const ssize_t n = ::recv(fd_, input_ + inputSize_, sizeof input_ - inputSize_, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The whole request must arrive within the read time-out, however slowly it trickles.
            wait(tcp::socket::wait_read,
                 std::chrono::duration_cast<milliseconds>(readDeadline_ -
                                                          std::chrono::steady_clock::now()),
                 &Connection::receive);
            return;
        }
        if (n <= 0) {
            close();  // closed by the peer, or failed
            return;
        }
        inputSize_ += static_cast<size_t>(n);
        boost::system::error_code ec;
        size_t used = 0;
        while (used < inputSize_ && !parser_.is_done()) {
            const size_t step = parser_.put(asio::buffer(input_ + used, inputSize_ - used), ec);
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

void Connection::onRequest() {
    {
        const Worker::HeldLogLines held(worker_);
        respond(parser_.get());
    }
    worker_.SendAfterLogLines(shared_from_this());
}

void Exchange::respond(const http::request<http::string_body>& request) {
    if (shared_.fetchObserver) {
        const auto agent = request[http::field::user_agent];
        fetch_.userAgent = QByteArray(agent.data(), qsizetype(agent.size()));
    }
    try {
        answer(request);
    } catch (const std::exception& e) {
        failed(e.what());
    }
    noteAnswer();
}

void Exchange::badRequest() {
    fetch_.status = 400;
    fetch_.method = "";  // not read
    head_ = responseHead("400 Bad Request", "text/plain", 0);
    noteAnswer();
}

void Exchange::noteAnswer() {
    headBytes_ = qint64(head_.size());
    bodyBytes_ = qint64(body_.size()) + (end_ - offset_);
}

void Exchange::delivered(uint64_t acknowledged) {
    const qint64 answer = headBytes_ + bodyBytes_;
    const qint64 acked = qint64(std::min<uint64_t>(acknowledged, uint64_t(answer)));
    fetch_.bytes = std::clamp<qint64>(acked - headBytes_, 0, bodyBytes_);
    fetch_.complete = !headOnly_ && acked == answer;
}

QByteArray Exchange::peerText() const {
    // A client usually asks for several files in a row: the last address's text is kept.
    thread_local std::array<unsigned char, 16> lastAddress{};
    thread_local sa_family_t lastFamily = AF_UNSPEC;
    thread_local QByteArray lastText;
    const bool v6 = peer_.ss_family == AF_INET6;
    const void* address =
        v6 ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6&>(peer_).sin6_addr)
           : &reinterpret_cast<const sockaddr_in&>(peer_).sin_addr;
    const size_t length = v6 ? 16 : 4;
    if (peer_.ss_family != lastFamily || std::memcmp(address, lastAddress.data(), length) != 0) {
        char text[INET6_ADDRSTRLEN] = {};
        inet_ntop(v6 ? AF_INET6 : AF_INET, address, text, sizeof text);
        lastText = QByteArray(text);
        lastFamily = peer_.ss_family;
        std::memcpy(lastAddress.data(), address, length);
    }
    return lastText;
}

void Exchange::failed(const std::string& text) {
    if (fileFd_ >= 0)
        ::close(fileFd_);
    fileFd_ = -1;
    offset_ = end_ = 0;
    body_ = text;
    head_ = responseHead("500 Internal Server Error", "text/plain", body_.size());
    fetch_.status = 500;
}

// The method as the record names it: a literal that lives for good ("" for one unknown).
const char* methodName(http::verb method) {
    switch (method) {
        case http::verb::get:
            return "GET";
        case http::verb::head:
            return "HEAD";
        case http::verb::post:
            return "POST";
        case http::verb::unknown:
            return "";
        default:
            return http::to_string(method).data();  // Beast's own literals
    }
}

void Exchange::answer(const http::request<http::string_body>& request) {
    const http::verb method = request.method();
    fetch_.method = methodName(method);
    headOnly_ = method == http::verb::head;
    const auto target = request.target();
    const std::string path = RequestPath(std::string_view(target.data(), target.size()));
    fetch_.path = QByteArray(path.data(), qsizetype(path.size()));
    while (fetch_.path.startsWith('/'))
        fetch_.path.remove(0, 1);
    if (shared_.access &&
        refused(request,
                shared_.rootBytes + LogSafeText(QByteArray(path.data(), qsizetype(path.size()))),
                method == http::verb::head))
        return;
    if (method != http::verb::get && method != http::verb::post && method != http::verb::head) {
        shortAnswer(405, "405 Method Not Allowed", false, "Allow: GET, POST, HEAD\r\n");
        return;
    }
    const bool headOnly = headOnly_;
    if (path.empty()) {  // not a path from the root
        fetch_.status = 400;
        head_ = responseHead("400 Bad Request", "text/plain", 0);
        return;
    }
    fetch_.peer = peerText();
    const QByteArray file =
        joined(shared_.rootBytes, LogSafeText(QByteArray(path.data(), qsizetype(path.size()))));
    const auto logFailure = [&](int error) {
        const std::string text = errorText(error);
        shared_.Log(joined(kLogSubject, fetch_.peer, " with 500. File ", file, ": ", text));
        failed(text);
    };

    int error = 0;
    OpenedFile opened;
    const int fd = shared_.documentRoot.Open(path, &error, &opened);
    off_t size = opened.size;
    if (fd < 0 &&
        (error == DocumentRoot::kHiddenName || error == DocumentRoot::kWithheldFile)) {
        shared_.Log(joined(kRefusalSubject, fetch_.peer, " with 403. File ", file, ": ",
                           DocumentRoot::RefusalReason(error)));
        shortAnswer(403, "403 Forbidden", headOnly);
        return;
    }
    if (fd < 0 && error == ENOENT) {
        shared_.Log(joined(kLogSubject, fetch_.peer, " with 404. File ", file, " NOT exist!"));
        shortAnswer(404, "404 Not Found", headOnly);
        return;
    }
    if (fd < 0) {
        logFailure(error);
        if (headOnly)
            body_.clear();
        return;
    }
    fileFd_ = fd;
    fetch_.fileSize = size;
    fetch_.fileInode = opened.inode;
    fetch_.fileMtimeNs = opened.mtimeNs;
    offset_ = 0;
    end_ = headOnly ? 0 : size;
    if (!headOnly && size <= kReadWhole && !readWhole(&error)) {
        logFailure(error);
        return;
    }
    if (!headOnly && end_ == 0)
        size = static_cast<off_t>(body_.size());  // read whole: what was read is announced
    shared_.Log(joined(kLogSubject, fetch_.peer, " with File ", file));
    fetch_.status = 200;
    head_ = responseHead("200 OK", MimeTypeForFile(path), static_cast<unsigned long long>(size));
}

bool Exchange::readWhole(int* error) {
    body_.resize(static_cast<size_t>(end_));
    size_t got = 0;
    while (got < body_.size()) {
        const ssize_t n = ::pread(fileFd_, body_.data() + got, body_.size() - got, off_t(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *error = errno;
            return false;
        }
        if (n == 0)
            break;  // shrunk since it was opened
        got += static_cast<size_t>(n);
    }
    body_.resize(got);
    ::close(fileFd_);
    fileFd_ = -1;
    end_ = 0;
    return true;
}

// Sends head_ and body_, then the file, as far as the socket takes them; waits for room when
// it is full.
void Connection::send() {
    const off_t turnEnd = offset_ + kTurnBytes;
    for (;;) {
        ssize_t n = 0;
        if (sent_ < head_.size() + body_.size()) {
            n = sendHeadAndBody();
        } else if (offset_ < end_) {
            const size_t chunk =
                static_cast<size_t>(std::min<off_t>(end_ - offset_, kSendfileChunk));
            n = ::sendfile(fd_, fileFd_, &offset_, chunk);
            // A file that shrank while being sent cannot keep its announced length.
            if (n == 0)
                break;
            if (offset_ >= turnEnd && offset_ < end_) {
                deadline_ = std::chrono::steady_clock::now() + shared_.writeTimeout;  // progress
                asio::post(worker_.context(), [self = shared_from_this()] { self->send(); });
                return;
            }
        } else {
            finish();
            return;
        }
        if (n >= 0 || errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            wait(tcp::socket::wait_write, shared_.writeTimeout, &Connection::send);
            return;
        }
        break;  // failed
    }
    close();
}

// MSG_MORE holds back a last part smaller than a segment: the shutdown that follows sends it
// with the FIN in one segment, or sendfile's end pushes it.
ssize_t Connection::sendHeadAndBody() {
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
    const ssize_t n = ::sendmsg(fd_, &message, MSG_NOSIGNAL | MSG_MORE);
    if (n > 0)
        sent_ += static_cast<size_t>(n);
    return n;
}

void Connection::finish() {
    ::shutdown(fd_, SHUT_WR);
    finishing_ = true;
    queued_ = INT_MAX;  // looked at only once the time-out has passed
    finishDeadline_ = std::chrono::steady_clock::now() + shared_.writeTimeout;
    asio::post(worker_.context(), [self = shared_from_this()] { self->discard(); });
}

void Connection::discard() {
    // A client that keeps sending gets its turn like the others: a few reads, then the event
    // loop again (the time-out sweep ends it).
    for (int reads = 0; reads < 16; ++reads) {
        const ssize_t n = ::recv(fd_, input_, sizeof input_, 0);
        if (n > 0 || (n < 0 && errno == EINTR))
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (n == 0 && shared_.fetchObserver && unacknowledged() > 1) {
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
    wait(tcp::socket::wait_read,
         std::chrono::duration_cast<milliseconds>(finishDeadline_ -
                                                  std::chrono::steady_clock::now()),
         &Connection::discard);
}

void Connection::awaitAcknowledgement() {
    peerClosed_ = true;
    self_ = shared_from_this();
    if (!waiting_) {
        waitingAt_ = worker_.AddWaiting(this);
        waiting_ = true;
    }
    deadline_ = finishDeadline_;
}

void Connection::settle() {
    if (fetch_.status == 0 || !shared_.fetchObserver || fd_ < 0)
        return;
    TcpSendState state;
    if (ReadTcpSendState(fd_, &state))
        delivered(std::min<uint64_t>(state.acknowledged, sent_ + uint64_t(offset_)));
}

void Connection::wait(tcp::socket::wait_type type, milliseconds timeout,
                      void (Connection::*next)()) {
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
    deadline_ = std::chrono::steady_clock::now() + timeout;
    waitingToWrite_ = type == tcp::socket::wait_write;
    if (waitingToWrite_)
        queued_ = unacknowledged();
    socket_->async_wait(type,
                        [self = shared_from_this(), next](const boost::system::error_code& ec) {
                            if (ec)
                                self->close();  // closed by a time-out or by Stop
                            else
                                (self.get()->*next)();
                        });
}

int Connection::unacknowledged() const {
    return TcpUnacknowledgedBytes(fd_);
}

void Connection::ExpireBefore(std::chrono::steady_clock::time_point now) {
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
    if (waitingToWrite_ || finishing_) {
        const int queued = unacknowledged();
        if (queued < queued_ && (waitingToWrite_ || queued > 1)) {
            queued_ = queued;
            deadline_ = now + shared_.writeTimeout;
            finishDeadline_ = deadline_;
            return;
        }
    }
    close();
}

void Exchange::report() {
    if (fetch_.status == 0 || !shared_.fetchObserver)
        return;
    fetch_.time = std::time(nullptr);
    if (fetch_.peer.isEmpty())
        fetch_.peer = peerText();
    shared_.fetchObserver(fetch_);
    fetch_.status = 0;
}

void Connection::close() {
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
    peerClosed_ = false;
    const auto held = std::move(self_);  // may be the last reference: released on return
}

bool Exchange::refused(const http::request<http::string_body>& request, const QByteArray& file,
                       bool headOnly) {
    fetch_.peer = peerText();
    const auto authorization = request[http::field::authorization];
    const ServerAccess::Refusal refusal =
        shared_.access->Check(reinterpret_cast<const sockaddr*>(&peer_), fetch_.peer,
                              std::string_view(authorization.data(), authorization.size()));
    if (refusal.status == 0)
        return false;
    if (refusal.logged)
        shared_.Log(kRefusalSubject + fetch_.peer + " with " + QByteArray::number(refusal.status) +
                    ". File " + file + ": " + refusal.reason);
    const char* status = "403 Forbidden";
    const char* extra = "";
    if (refusal.status == 401) {
        status = "401 Unauthorized";
        extra = "WWW-Authenticate: Basic realm=\"Orvo Provision Tool\", charset=\"UTF-8\"\r\n";
    } else if (refusal.status == 429) {
        status = "429 Too Many Requests";
        extra = "Retry-After: 60\r\n";
    }
    shortAnswer(refusal.status, status, headOnly, extra);
    return true;
}

void Exchange::shortAnswer(int status, const char* statusLine, bool headOnly, const char* extra) {
    fetch_.status = status;
    const std::string text = std::string(statusLine) + "\r\n";
    if (!headOnly)
        body_ = text;
    head_ = responseHead(statusLine, "text/plain", text.size(), extra);
}

TlsConnection::TlsConnection(Worker& worker, int fd, const sockaddr_storage& peer)
    : Exchange(worker.shared(), peer),
      stream_(worker.context(), *worker.shared().tls),
      timer_(worker.context()) {
    boost::system::error_code ec;
    stream_.next_layer().socket().assign(peer.ss_family == AF_INET6 ? tcp::v6() : tcp::v4(), fd,
                                         ec);
    if (ec) {
        ::close(fd);
        closed_ = true;
    }
    parser_.header_limit(kHeaderLimit);
    parser_.body_limit(kBodyLimit);
    parser_.eager(true);
}

TlsConnection::~TlsConnection() {
    if (closed_)
        return;
    settle();
    report();
}

void TlsConnection::Start() {
    if (closed_)
        return;
    // The handshake and the whole request within the read time-out.
    arm(shared_.readTimeout);
    stream_.async_handshake(asio::ssl::stream_base::server,
                            [self = shared_from_this()](const boost::system::error_code& ec) {
                                self->onHandshake(ec);
                            });
}

void TlsConnection::onHandshake(const boost::system::error_code& ec) {
    if (closed_)
        return;
    if (ec) {
        refuseHandshake(ec);
        return;
    }
    stage_ = Stage::Request;
    http::async_read(stream_, buffer_, parser_,
                     [self = shared_from_this()](const boost::system::error_code& ec, size_t) {
                         self->onRead(ec);
                     });
}

void TlsConnection::onRead(const boost::system::error_code& ec) {
    if (closed_)
        return;
    if (ec && ec.category() != http::make_error_code(http::error::bad_target).category()) {
        close();  // closed, reset or cut off: nothing to answer
        return;
    }
    if (ec)
        badRequest();
    else
        respond(parser_.get());
    stage_ = Stage::Answer;
    write();
}

void TlsConnection::write() {
    out_.clear();
    if (!head_.empty()) {
        out_.swap(head_);
        out_ += body_;
        body_.clear();
    }
    if (offset_ < end_) {
        // One TLS record holds up to 16 KB; a few of them go out per write.
        constexpr off_t kPiece = 64 * 1024;
        const size_t at = out_.size();
        const size_t want = static_cast<size_t>(std::min<off_t>(end_ - offset_, kPiece));
        out_.resize(at + want);
        ssize_t n;
        do
            n = ::pread(fileFd_, out_.data() + at, want, offset_);
        while (n < 0 && errno == EINTR);
        // A file that shrank while being sent cannot keep its announced length.
        if (n <= 0) {
            close();
            return;
        }
        out_.resize(at + static_cast<size_t>(n));
        offset_ += n;
    }
    if (out_.empty()) {
        finish();
        return;
    }
    writeOut(stream_, &TlsConnection::onWritten);
}

void TlsConnection::onWritten() {
    answerWritten_ += qint64(out_.size());
    written_.emplace_back(stream_.next_layer().Written(), answerWritten_);
    write();
}

template <typename Stream>
void TlsConnection::writeOut(Stream& stream, void (TlsConnection::*next)()) {
    arm(shared_.writeTimeout);
    asio::async_write(
        stream, asio::buffer(out_),
        [self = shared_from_this(), next](const boost::system::error_code& ec, size_t) {
            if (self->closed_)
                return;
            if (ec)
                self->close();
            else
                ((*self).*next)();
        });
}

void TlsConnection::finish() {
    stage_ = Stage::Closing;
    arm(shared_.writeTimeout);
    stream_.async_shutdown([self = shared_from_this()](const boost::system::error_code&) {
        if (self->closed_)
            return;
        if (self->shared_.fetchObserver)
            self->awaitAcknowledgement();
        else
            self->close();
    });
}

void TlsConnection::awaitAcknowledgement() {
    if (closed_)
        return;
    const auto now = std::chrono::steady_clock::now();
    const int queued = TcpUnacknowledgedBytes(fd());
    TcpSendState state;
    if (queued <= 1 || !ReadTcpSendState(fd(), &state) || state.ended) {
        close();
        return;
    }
    if (ackQueued_ < 0 || queued < ackQueued_) {  // the first look, or progress
        ackQueued_ = queued;
        ackDeadline_ = now + shared_.writeTimeout;
    }
    if (now >= ackDeadline_) {
        close();
        return;
    }
    timer_.expires_after(milliseconds(10));
    timer_.async_wait([self = shared_from_this()](const boost::system::error_code& ec) {
        if (!ec)
            self->awaitAcknowledgement();
    });
}

void TlsConnection::settle() {
    if (fetch_.status == 0 || !shared_.fetchObserver)
        return;
    TcpSendState state;
    if (!ReadTcpSendState(fd(), &state))
        return;
    qint64 acknowledged = 0;
    for (const auto& [tlsBytes, answerBytes] : written_) {
        if (tlsBytes > state.acknowledged)
            break;
        acknowledged = answerBytes;
    }
    delivered(uint64_t(acknowledged));
}

void TlsConnection::refuseHandshake(const boost::system::error_code& ec) {
    const bool plainHttp =
        ec.category() == asio::error::get_ssl_category() &&
        ERR_GET_REASON(static_cast<unsigned long>(ec.value())) == SSL_R_HTTP_REQUEST;
    std::string reason = ec.message();
    if (plainHttp)
        reason = "a plain HTTP request to the HTTPS port";
    else if (ec == asio::error::eof || ec == asio::ssl::error::stream_truncated)
        reason = "the client closed the connection";
    shared_.Log(kRefusalSubject + peerText() +
                ": TLS handshake failed: " + LogSafeText(QByteArray::fromStdString(reason)));
    if (!plainHttp) {
        close();
        return;
    }
    static const std::string text = "400 Bad Request: this port speaks HTTPS\r\n";
    out_ = responseHead("400 Bad Request", "text/plain", text.size()) + text;
    stage_ = Stage::Closing;
    writeOut(stream_.next_layer().socket(), &TlsConnection::endPlain);
}

void TlsConnection::endPlain() {
    boost::system::error_code ignored;
    stream_.next_layer().socket().shutdown(tcp::socket::shutdown_send, ignored);
    drain();
}

void TlsConnection::drain() {
    stream_.next_layer().socket().async_read_some(
        asio::buffer(out_.data(), out_.size()),
        [self = shared_from_this()](const boost::system::error_code& ec, size_t) {
            if (self->closed_)
                return;
            if (ec)
                self->close();
            else
                self->drain();
        });
}

void TlsConnection::arm(milliseconds timeout) {
    queued_ =
        stage_ == Stage::Handshake || stage_ == Stage::Request ? 0 : TcpUnacknowledgedBytes(fd());
    timer_.expires_after(timeout);
    timer_.async_wait([self = shared_from_this()](const boost::system::error_code& ec) {
        if (!ec)
            self->onTimer();
    });
}

void TlsConnection::onTimer() {
    if (closed_)
        return;
    // A slow reader that still takes bytes of the answer is given more time.
    if (stage_ == Stage::Answer || stage_ == Stage::Closing) {
        const int queued = TcpUnacknowledgedBytes(fd());
        if (queued > 0 && queued < queued_) {
            arm(shared_.writeTimeout);
            return;
        }
    }
    if (stage_ == Stage::Handshake) {
        const qint64 ms = shared_.readTimeout.count();
        shared_.Log(
            kRefusalSubject + peerText() + ": TLS handshake failed: not completed within " +
            (ms % 1000 ? QByteArray::number(ms) + " ms" : QByteArray::number(ms / 1000) + " s"));
    }
    close();
}

void TlsConnection::close() {
    if (closed_)
        return;
    settle();
    closed_ = true;
    report();
    timer_.cancel();
    boost::system::error_code ec;
    stream_.next_layer().socket().close(ec);
}

SocketError listenError(const boost::system::error_code& ec, quint16 port) {
    const int code = ec.value();
    const auto kind =
        code == EACCES ? SocketError::Kind::AccessDenied : SocketError::Kind::BindFailed;
    return SocketError(kind, code,
                       "cannot listen on port " + std::to_string(port) + ": " + ec.message());
}

// Opens, binds and listens, without blocking on accept; with SO_REUSEPORT when shared.
void listenOn(tcp::acceptor& acceptor, const tcp::endpoint& endpoint, bool shared,
              boost::system::error_code& ec) {
    using ReusePort = asio::detail::socket_option::boolean<SOL_SOCKET, SO_REUSEPORT>;
    acceptor.open(endpoint.protocol(), ec);
    if (!ec)
        acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec && shared)
        acceptor.set_option(ReusePort(true), ec);
    if (!ec)
        acceptor.bind(endpoint, ec);
    if (!ec)
        acceptor.listen(kBacklog, ec);
    if (!ec)
        acceptor.non_blocking(true, ec);
}

}  // namespace

struct MyHttpServer::Impl {
    QString documentRoot;
    MyLog* log = nullptr;
    LineObserver observer;
    FetchObserver fetchObserver;
    milliseconds readTimeout{5000};
    milliseconds writeTimeout{5000};
    int threadCount = DefaultServerThreadCount();
    QString certFile;
    QString keyFile;
    std::shared_ptr<ServerAccess> access;
    QStringList withheld;

    // While active:
    std::unique_ptr<Shared> shared;
    std::vector<std::unique_ptr<Worker>> workers;
    quint16 port = 0;
};

MyHttpServer::MyHttpServer(const QString& documentRoot, MyLog* log) : impl_(new Impl) {
    impl_->documentRoot = documentRoot;
    impl_->log = log;
}

MyHttpServer::~MyHttpServer() {
    Stop();
}

void MyHttpServer::SetDocumentRoot(const QString& documentRoot) {
    impl_->documentRoot = documentRoot;
}

QString MyHttpServer::DocumentRoot() const {
    return impl_->documentRoot;
}

void MyHttpServer::SetLog(MyLog* log) {
    impl_->log = log;
}

void MyHttpServer::SetLineObserver(LineObserver observer) {
    impl_->observer = std::move(observer);
}

void MyHttpServer::SetFetchObserver(FetchObserver observer) {
    impl_->fetchObserver = std::move(observer);
}

void MyHttpServer::SetTimeouts(milliseconds read, milliseconds write) {
    impl_->readTimeout = read;
    impl_->writeTimeout = write;
}

void MyHttpServer::SetThreadCount(int count) {
    impl_->threadCount = std::max(1, count);
}

void MyHttpServer::SetTls(const QString& certFile, const QString& keyFile) {
    impl_->certFile = certFile;
    impl_->keyFile = keyFile;
}

bool MyHttpServer::IsHttps() const {
    return !impl_->certFile.isEmpty();
}

void MyHttpServer::SetAccess(std::shared_ptr<ServerAccess> access) {
    impl_->access = std::move(access);
}

void MyHttpServer::SetWithheldFiles(const QStringList& files) {
    impl_->withheld = files;
}

void MyHttpServer::Start(quint16 port, const QString& bindAddress) {
    if (IsActive())
        return;
    asio::ip::address address = asio::ip::address_v4::any();
    if (!bindAddress.isEmpty()) {
        boost::system::error_code ec;
        address = asio::ip::make_address(bindAddress.toStdString(), ec);
        if (ec)
            throw std::invalid_argument("not an IP address: " + bindAddress.toStdString());
    }
    PrepareMimeTypes();
    // Throws TlsSetupError before anything listens.
    std::shared_ptr<asio::ssl::context> tls =
        IsHttps() ? MakeTlsServerContext(impl_->certFile, impl_->keyFile) : nullptr;

    // The key is never served, nor any file set aside.
    std::vector<std::string> withheld;
    for (const QString& file : impl_->withheld)
        withheld.push_back(QFile::encodeName(file).toStdString());
    if (IsHttps())
        withheld.push_back(QFile::encodeName(impl_->keyFile).toStdString());
    auto shared = std::make_unique<Shared>(
        impl_->documentRoot, impl_->log, impl_->observer, impl_->fetchObserver, impl_->readTimeout,
        impl_->writeTimeout, std::move(tls), impl_->access, withheld);
    std::vector<std::unique_ptr<Worker>> workers;
    for (int i = 0; i < impl_->threadCount; ++i)
        workers.push_back(std::make_unique<Worker>(*shared));

    // A port that something else listens on fails here, before the sockets below share it.
    if (port != 0) {
        tcp::acceptor probe(workers[0]->context());
        boost::system::error_code ec;
        listenOn(probe, tcp::endpoint(address, port), false, ec);
        if (ec)
            throw listenError(ec, port);
    }
    // Each worker listens on a socket of its own on the same port (the first one picks it when
    // port is 0); the kernel spreads the connections over them, waking only the worker it gives
    // one to.
    tcp::endpoint endpoint(address, port);
    for (auto& worker : workers) {
        boost::system::error_code ec;
        listenOn(worker->acceptor(), endpoint, true, ec);
        if (ec)
            throw listenError(ec, port);
        endpoint.port(worker->acceptor().local_endpoint(ec).port());
    }
    const quint16 boundPort = endpoint.port();

    impl_->shared = std::move(shared);
    impl_->workers = std::move(workers);
    impl_->port = boundPort;
    for (auto& worker : impl_->workers)
        worker->Start();
}

void MyHttpServer::Stop() {
    if (!IsActive())
        return;
    for (auto& worker : impl_->workers)
        worker->Stop();
    // Destroying the event loops closes the listening socket and every connection.
    impl_->workers.clear();
    impl_->shared.reset();
    impl_->port = 0;
}

bool MyHttpServer::IsActive() const {
    return impl_->shared != nullptr;
}

quint16 MyHttpServer::Port() const {
    return impl_->port;
}

int MyHttpServer::ConnectionCount() const {
    return impl_->shared ? impl_->shared->connections.load() : 0;
}
