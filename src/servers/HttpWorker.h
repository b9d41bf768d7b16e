#pragma once

#include "servers/HttpExchange.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include <list>
#include <memory>
#include <vector>

class HttpConnection;

// Opens acceptor, binds it to endpoint with address reuse (and SO_REUSEPORT when shared) and
// listens with a backlog of 100, without blocking on accept. Throws SocketError.
void ListenOn(boost::asio::ip::tcp::acceptor& acceptor,
              const boost::asio::ip::tcp::endpoint& endpoint, bool shared);

// One thread of the HTTP server with its own event loop and its own listening socket: it
// accepts connections, closes those whose time-out has passed (one sweep a few times a
// second), and writes the log lines of the answers it forms in one turn of its loop together,
// before those answers go out.
class HttpWorker {
  public:
    explicit HttpWorker(HttpRun& run) : run_(run) {}

    HttpRun& run() { return run_; }
    boost::asio::io_context& context() { return loop_.Context(); }
    boost::asio::ip::tcp::acceptor& acceptor() { return acceptor_; }

    // A connection waiting in the event loop is listed, for the sweep.
    std::list<HttpConnection*>::iterator AddWaiting(HttpConnection* connection) {
        return waiting_.insert(waiting_.end(), connection);
    }
    void RemoveWaiting(std::list<HttpConnection*>::iterator at) { waiting_.erase(at); }

    // Where the answers formed in this turn of the loop put their log lines: a client never has
    // an answer whose line is not in the log yet, and the log takes one write per turn instead
    // of one per request.
    QByteArray* HeldLogLines() { return &logLines_; }
    // Sends the connection's answer once the held lines are written (at once when none are).
    void SendAfterLogLines(std::shared_ptr<HttpConnection> connection);

    EventLoopThread& Loop() { return loop_; }
    // Listens on endpoint, sharing the port with the other workers, and is ready to accept
    // once its loop runs. Throws SocketError.
    void Listen(const boost::asio::ip::tcp::endpoint& endpoint);

  private:
    // On the worker's thread once its loop has stopped.
    void stopped();
    void writeHeldLines();
    void writeLogLines();
    // Waits for connections to accept.
    void accept();
    // Takes every connection waiting to be accepted; false when out of descriptors (a retry
    // is set).
    bool acceptWaiting();
    // Closes the waiting connections whose time-out has passed, a few times a second.
    void sweep();

    HttpRun& run_;
    QByteArray logLines_;
    bool writePosted_ = false;
    // Declared before the event loop: connections still unlist themselves while the loop's
    // pending handlers are destroyed.
    std::list<HttpConnection*> waiting_;
    EventLoopThread loop_{run_, "BUILT-IN HTTP SERVER", [this] { stopped(); }};
    boost::asio::ip::tcp::acceptor acceptor_{loop_.Context()};
    boost::asio::steady_timer retry_{loop_.Context()};
    boost::asio::steady_timer sweep_{loop_.Context()};
    std::vector<std::shared_ptr<HttpConnection>> answers_;  // waiting for logLines_ to be written
};
