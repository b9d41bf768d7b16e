#pragma once

#include "servers/HttpExchange.h"
#include "servers/TlsSession.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <list>
#include <memory>
#include <optional>
#include <vector>

class HttpWorker;

// One accepted connection, plain or TLS (the run says which): the TLS handshake when there is
// one, one request, its answer, the graceful close. The same steps for both; only the bytes go
// through OpenSSL for TLS. It lives on one worker's event loop only, so its members need no
// lock. The socket is read and written directly; only when it has to wait (no data yet, or the
// send buffer full) is it handed to the event loop and listed with the worker, whose sweep
// closes it once its time-out has passed. That keeps the common short exchange down to a few
// system calls.
class HttpConnection : public HttpExchange, public std::enable_shared_from_this<HttpConnection> {
  public:
    HttpConnection(HttpWorker& worker, int fd, const sockaddr_storage& peer);
    ~HttpConnection();

    // The handshake (for TLS), then reads what has arrived and goes on from there.
    void Start();
    // Sends the answer formed.
    void SendAnswer() { send(); }
    // Closes the connection when its time-out has passed (a slow reader that still takes bytes
    // of the answer is given more time), or when the answer it waits to see acknowledged is.
    void ExpireBefore(std::chrono::steady_clock::time_point now);
    // At Stop: a connection that holds itself (see awaitAcknowledgement) lets go.
    void Release() { self_.reset(); }

  private:
    enum class Stage { Handshake, Request, Answer, Finishing };
    // What one step of reading or writing gave.
    enum class Io { Progress, Done, WaitRead, WaitWrite, PeerClosed, Failed };
    using Step = void (HttpConnection::*)();

    static Io fromTls(TlsSession::Result result);

    void handshake();
    // A failed handshake: logged; a plain HTTP request gets a plain 400.
    void refuseHandshake();
    void receive();
    void onRequest();
    // Sends the answer as far as the socket takes it (a fast reader of a large file lets the
    // worker's other connections in between); waits for room when it is full.
    void send();
    Io sendPlain();
    // The head with the body or the file's first piece, then the file piece by piece.
    Io sendTls();
    // After the last byte of the answer: ends the sending side (the TLS close first) and
    // discards what the client still sends until it closes or has acknowledged the whole
    // answer, at most for the write time-out (longer while it still takes bytes of the answer).
    // Closing with unread bytes, or before bytes the client still sends, would reset the
    // connection and drop the answer's tail that is still on its way.
    void finish();
    void discard();
    // The client closed its side before it acknowledged the whole answer, which the kernel
    // still sends: the acknowledgments are looked at until they are all in, or until the client
    // takes no byte for the write time-out. Only then is the download's fate known. Nothing
    // else refers to the connection meanwhile, so it holds itself.
    void awaitAcknowledgement();
    void lookForAcknowledgement();
    // Sets what the client acknowledged of the answer, before the socket is closed.
    void settle();
    Io readSome(char* buffer, size_t size, size_t* got);
    // Waits, at most timeout, until the socket can be read or written (as io says), then next.
    void wait(Io io, std::chrono::milliseconds timeout, Step next);
    // The time left until a deadline, for wait.
    static std::chrono::milliseconds until(std::chrono::steady_clock::time_point deadline);
    void close();
    // Bytes sent and not yet taken by the peer.
    int unacknowledged() const;

    HttpWorker& worker_;
    int fd_;
    std::unique_ptr<TlsSession> tls_;
    Stage stage_ = Stage::Request;
    std::optional<boost::asio::ip::tcp::socket> socket_;  // once it waits in the event loop
    bool waiting_ = false;  // listed among the worker's waiting connections
    std::list<HttpConnection*>::iterator waitingAt_;
    std::chrono::steady_clock::time_point deadline_;
    std::chrono::steady_clock::time_point readDeadline_;
    std::chrono::steady_clock::time_point finishDeadline_;
    bool peerClosed_ = false;  // closed by the client; awaiting the answer's acknowledgment
    std::shared_ptr<HttpConnection> self_;  // while awaiting it
    std::optional<boost::asio::steady_timer> ackTimer_;
    int queued_ = 0;  // unacknowledged() when the wait to write began, or at the last progress
    char input_[8 * 1024];
    size_t inputSize_ = 0;
    size_t sent_ = 0;  // of head_ and body_ together (plain)
    // TLS: the piece being written, and after each piece the TLS bytes written to the socket in
    // all with the answer's bytes (head and body) written in all.
    std::string piece_;
    std::vector<std::pair<uint64_t, qint64>> written_;
    qint64 answerWritten_ = 0;
};
