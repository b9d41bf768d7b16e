#include "servers/MyHttpServer.h"

#include "app/MyLog.h"
#include "app/SocketError.h"
#include "servers/HttpDocumentRoot.h"
#include "servers/MimeTypes.h"

#include <QFile>

#include <boost/asio.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
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
const char kLogSubject[] = "BUILT-IN HTTP SERVER responses to ";

// What every connection of one run reads; lives from Start to Stop.
struct Shared {
    Shared(const QString& root, MyLog* log, MyHttpServer::LineObserver observer, milliseconds read,
           milliseconds write)
        : documentRoot(QFile::encodeName(root).toStdString()),
          rootBytes(QFile::encodeName(root)),
          log(log),
          observer(std::move(observer)),
          readTimeout(read),
          writeTimeout(write) {}

    void Log(const QByteArray& message) const {
        if (log)
            log->Write(message);
        if (observer)
            observer(message);
    }

    HttpDocumentRoot documentRoot;
    QByteArray rootBytes;
    MyLog* log;
    MyHttpServer::LineObserver observer;
    milliseconds readTimeout;
    milliseconds writeTimeout;
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

// A parse failure, as opposed to a closed, failed or timed-out connection.
bool isMalformed(const boost::system::error_code& ec) {
    const auto& category = http::make_error_code(http::error::end_of_stream).category();
    return ec.category() == category && ec != http::error::end_of_stream &&
           ec != http::error::partial_message;
}

std::string errorText(int error) {
    char buf[256];
    return strerror_r(error, buf, sizeof buf);
}

// One accepted connection: reads one request, answers it, closes. It lives on one worker's
// event loop only, so its members need no lock.
class Connection : public std::enable_shared_from_this<Connection> {
  public:
    Connection(asio::io_context& ioc, Shared& shared)
        : socket_(ioc), timer_(ioc), shared_(shared) {}
    ~Connection() {
        if (fileFd_ >= 0)
            ::close(fileFd_);
        if (counted_)
            --shared_.connections;
    }

    tcp::socket& socket() { return socket_; }
    tcp::endpoint& peer() { return peer_; }

    void Run() {
        counted_ = true;
        ++shared_.connections;
        boost::system::error_code ec;
        socket_.non_blocking(true, ec);
        if (ec)
            return;
        parser_.header_limit(kHeaderLimit);
        parser_.body_limit(kBodyLimit);
        // The whole request must arrive within the read time-out, however slowly it trickles.
        armTimer(shared_.readTimeout);
        http::async_read(socket_, buffer_, parser_,
                         [self = shared_from_this()](const boost::system::error_code& ec, size_t) {
                             self->onRead(ec);
                         });
    }

  private:
    void armTimer(milliseconds timeout) {
        timer_.expires_after(timeout);
        timer_.async_wait([self = shared_from_this()](const boost::system::error_code& ec) {
            // A wait that expired just before the timer was re-armed must not count.
            if (!ec && self->timer_.expiry() <= asio::steady_timer::clock_type::now())
                self->close();
        });
    }

    void close() {
        boost::system::error_code ec;
        timer_.cancel();
        socket_.close(ec);
    }

    void onRead(const boost::system::error_code& ec) {
        if (ec) {
            // A malformed request gets an answer; a closed, failed or timed-out one does not.
            if (isMalformed(ec)) {
                head_ = responseHead("400 Bad Request", "text/plain", 0);
                send();
            } else {
                close();
            }
            return;
        }
        try {
            answer(parser_.get());
        } catch (const std::exception& e) {
            failed(e.what());
        }
        send();
    }

    void failed(const std::string& text) {
        if (fileFd_ >= 0)
            ::close(fileFd_);
        fileFd_ = -1;
        body_ = text;
        head_ = responseHead("500 Internal Server Error", "text/plain", body_.size());
    }

    void answer(const http::request<http::string_body>& request) {
        const http::verb method = request.method();
        if (method != http::verb::get && method != http::verb::post && method != http::verb::head) {
            body_ = "405 Method Not Allowed\r\n";
            head_ = responseHead("405 Method Not Allowed", "text/plain", body_.size(),
                                 "Allow: GET, POST, HEAD\r\n");
            return;
        }
        const bool headOnly = method == http::verb::head;
        const auto target = request.target();
        const std::string path = RequestPath(std::string_view(target.data(), target.size()));
        const QByteArray file = shared_.rootBytes + QByteArray(path.data(), qsizetype(path.size()));
        const QByteArray peer = QByteArray::fromStdString(peer_.address().to_string());

        int error = 0;
        off_t size = 0;
        const int fd = shared_.documentRoot.Open(path, &error, &size);
        if (fd < 0 && error == ENOENT) {
            shared_.Log(kLogSubject + peer + " with 404. File " + file + " NOT exist!");
            static const std::string notFound = "404 Not Found\r\n";
            if (!headOnly)
                body_ = notFound;
            head_ = responseHead("404 Not Found", "text/plain", notFound.size());
            return;
        }
        if (fd < 0) {
            const std::string text = errorText(error);
            shared_.Log(kLogSubject + peer + " with 500. File " + file + ": " +
                        QByteArray::fromStdString(text));
            failed(text);
            if (headOnly)
                body_.clear();
            return;
        }
        shared_.Log(kLogSubject + peer + " with File " + file);
        fileFd_ = fd;
        offset_ = 0;
        end_ = headOnly ? 0 : size;
        head_ =
            responseHead("200 OK", MimeTypeForFile(path), static_cast<unsigned long long>(size));
    }

    // Sends head_, then body_ or the file, as far as the socket takes them; waits for room when
    // it is full.
    void send() {
        const int fd = socket_.native_handle();
        for (;;) {
            ssize_t n = 0;
            const bool more = !body_.empty() || offset_ < end_;
            if (sent_ < head_.size()) {
                n = ::send(fd, head_.data() + sent_, head_.size() - sent_,
                           MSG_NOSIGNAL | (more ? MSG_MORE : 0));
                if (n > 0)
                    sent_ += static_cast<size_t>(n);
            } else if (!body_.empty()) {
                n = ::send(fd, body_.data(), body_.size(), MSG_NOSIGNAL);
                if (n > 0)
                    body_.erase(0, static_cast<size_t>(n));
            } else if (offset_ < end_) {
                const size_t chunk =
                    static_cast<size_t>(std::min<off_t>(end_ - offset_, kSendfileChunk));
                n = ::sendfile(fd, fileFd_, &offset_, chunk);
                // A file that shrank while being sent cannot keep its announced length.
                if (n == 0)
                    break;
            } else {
                break;
            }
            if (n >= 0)
                continue;
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                armTimer(shared_.writeTimeout);
                socket_.async_wait(
                    tcp::socket::wait_write,
                    [self = shared_from_this()](const boost::system::error_code& ec) {
                        if (ec)
                            self->close();
                        else
                            self->send();
                    });
                return;
            }
            break;
        }
        close();
    }

    tcp::socket socket_;
    asio::steady_timer timer_;
    tcp::endpoint peer_;
    Shared& shared_;
    bool counted_ = false;
    beast::flat_buffer buffer_{kHeaderLimit};
    http::request_parser<http::string_body> parser_;
    std::string head_;
    size_t sent_ = 0;
    std::string body_;
    int fileFd_ = -1;
    off_t offset_ = 0;
    off_t end_ = 0;
};

// One thread with its own event loop and its own handle of the listening socket.
class Worker {
  public:
    explicit Worker(Shared& shared) : shared_(shared) {}

    asio::io_context& context() { return ioc_; }
    tcp::acceptor& acceptor() { return acceptor_; }

    void Start() {
        accept();
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
    void accept() {
        auto connection = std::make_shared<Connection>(ioc_, shared_);
        acceptor_.async_accept(
            connection->socket(), connection->peer(),
            [this, connection](const boost::system::error_code& ec) {
                if (ec == asio::error::operation_aborted || !acceptor_.is_open())
                    return;
                if (!ec) {
                    connection->Run();
                } else if (ec == asio::error::no_descriptors || ec.value() == ENFILE ||
                           ec == asio::error::no_buffer_space || ec == asio::error::no_memory) {
                    // Out of descriptors: try again shortly, once time-outs have freed some.
                    retry_.expires_after(milliseconds(100));
                    retry_.async_wait([this](const boost::system::error_code& ec) {
                        if (!ec)
                            accept();
                    });
                    return;
                }
                accept();
            });
    }

    Shared& shared_;
    asio::io_context ioc_{1};
    tcp::acceptor acceptor_{ioc_};
    asio::steady_timer retry_{ioc_};
    std::thread thread_;
};

SocketError listenError(const boost::system::error_code& ec, quint16 port) {
    const int code = ec.value();
    const auto kind =
        code == EACCES ? SocketError::Kind::AccessDenied : SocketError::Kind::BindFailed;
    return SocketError(kind, code,
                       "cannot listen on port " + std::to_string(port) + ": " + ec.message());
}

int defaultThreadCount() {
    const unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(cores, 1u, 4u));
}

}  // namespace

struct MyHttpServer::Impl {
    QString documentRoot;
    MyLog* log = nullptr;
    LineObserver observer;
    milliseconds readTimeout{5000};
    milliseconds writeTimeout{5000};
    int threadCount = defaultThreadCount();

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

void MyHttpServer::SetTimeouts(milliseconds read, milliseconds write) {
    impl_->readTimeout = read;
    impl_->writeTimeout = write;
}

void MyHttpServer::SetThreadCount(int count) {
    impl_->threadCount = std::max(1, count);
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

    auto shared = std::make_unique<Shared>(impl_->documentRoot, impl_->log, impl_->observer,
                                           impl_->readTimeout, impl_->writeTimeout);
    std::vector<std::unique_ptr<Worker>> workers;
    for (int i = 0; i < impl_->threadCount; ++i)
        workers.push_back(std::make_unique<Worker>(*shared));

    const tcp::endpoint endpoint(address, port);
    tcp::acceptor& acceptor = workers[0]->acceptor();
    boost::system::error_code ec;
    acceptor.open(endpoint.protocol(), ec);
    if (!ec)
        acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec)
        acceptor.bind(endpoint, ec);
    if (!ec)
        acceptor.listen(kBacklog, ec);
    if (ec)
        throw listenError(ec, port);
    const quint16 boundPort = acceptor.local_endpoint(ec).port();
    // Every worker accepts on its own handle of the one listening socket.
    for (size_t i = 1; i < workers.size(); ++i) {
        const int fd = ::dup(acceptor.native_handle());
        if (fd < 0 || workers[i]->acceptor().assign(endpoint.protocol(), fd, ec)) {
            if (fd >= 0)
                ::close(fd);
            throw listenError(
                ec ? ec : boost::system::error_code(errno, boost::system::system_category()), port);
        }
    }

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
