#include "servers/HttpWorker.h"

#include "app/MyLog.h"
#include "servers/HttpConnection.h"

#include <boost/asio/post.hpp>

#include <sys/socket.h>
#include <algorithm>
#include <cerrno>

using std::chrono::milliseconds;

namespace {
constexpr int kBacklog = 100;
}  // namespace

void HttpWorker::SendAfterLogLines(std::shared_ptr<HttpConnection> connection) {
    if (logLines_.isEmpty()) {
        connection->SendAnswer();
        return;
    }
    answers_.push_back(std::move(connection));
    if (!writePosted_) {
        writePosted_ = true;
        boost::asio::post(context(), [this] { writeLogLines(); });
    }
}

void ListenOn(boost::asio::ip::tcp::acceptor& acceptor,
              const boost::asio::ip::tcp::endpoint& endpoint, bool shared) {
    using ReusePort = boost::asio::detail::socket_option::boolean<SOL_SOCKET, SO_REUSEPORT>;
    try {
        acceptor.open(endpoint.protocol());
        acceptor.set_option(boost::asio::ip::tcp::acceptor::reuse_address(true));
        if (shared)
            acceptor.set_option(ReusePort(true));
        acceptor.bind(endpoint);
        acceptor.listen(kBacklog);
        acceptor.non_blocking(true);  // accept4 takes what is there
    } catch (const boost::system::system_error& e) {
        throw ListenError(e.code().value(), "port", endpoint.port());
    }
}

void HttpWorker::Listen(const boost::asio::ip::tcp::endpoint& endpoint) {
    ListenOn(acceptor_, endpoint, true);
    accept();
    sweep();
}

void HttpWorker::stopped() {
    // The held lines still go to the log; the answers not sent are dropped with their
    // connections, and so are those that hold themselves.
    writeHeldLines();
    answers_.clear();
    std::vector<std::shared_ptr<HttpConnection>> waiting;
    for (HttpConnection* connection : waiting_)
        waiting.push_back(connection->shared_from_this());
    for (const auto& connection : waiting)
        connection->Release();
}

void HttpWorker::writeHeldLines() {
    if (run_.log && !logLines_.isEmpty())
        run_.log->Append(logLines_);
    logLines_.resize(0);
}

void HttpWorker::writeLogLines() {
    writePosted_ = false;
    writeHeldLines();
    std::vector<std::shared_ptr<HttpConnection>> answers;
    answers.swap(answers_);
    for (const auto& connection : answers)
        connection->SendAnswer();
}

void HttpWorker::accept() {
    acceptor_.async_wait(boost::asio::ip::tcp::acceptor::wait_read,
                         [this](const boost::system::error_code& ec) {
                             if (!ec && acceptWaiting())  // else closed, or retried later
                                 accept();
                         });
}

bool HttpWorker::acceptWaiting() {
    for (int i = 0; i < 64; ++i) {
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        const int fd = ::accept4(acceptor_.native_handle(), reinterpret_cast<sockaddr*>(&peer),
                                 &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            std::make_shared<HttpConnection>(*this, fd, peer)->Start();
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
            return false;
        }
        break;  // EAGAIN: none left
    }
    return true;
}

void HttpWorker::sweep() {
    const milliseconds shortest = std::min(run_.readTimeout, run_.writeTimeout);
    sweep_.expires_after(std::clamp(shortest / 4, milliseconds(10), milliseconds(250)));
    sweep_.async_wait([this](const boost::system::error_code& ec) {
        if (ec)
            return;
        const auto now = std::chrono::steady_clock::now();
        // Closing removes a connection from the list, so walk a copy.
        std::vector<std::shared_ptr<HttpConnection>> due;
        for (HttpConnection* connection : waiting_)
            due.push_back(connection->shared_from_this());
        for (const auto& connection : due)
            connection->ExpireBefore(now);
        sweep();
    });
}
