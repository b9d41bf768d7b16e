#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

// The TLS layer of one server connection, on a non-blocking socket that OpenSSL reads and
// writes itself. Each call does what the socket allows now and says what it waits for.
class TlsSession {
  public:
    enum class Result {
        Done,       // done (Read: some bytes read)
        WantRead,   // call again once the socket can be read
        WantWrite,  // call again once the socket can be written
        Closed,     // the peer ended the session (its close, or the end of the stream)
        Failed,
    };

    TlsSession(SSL_CTX* context, int fd);
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    Result Handshake();
    Result Read(char* out, size_t size, size_t* got);
    // Writes all of data; a call after WantRead or WantWrite must pass the same data again.
    Result Write(const char* data, size_t size);
    // Sends the close of the session (it does not wait for the peer's).
    Result Shutdown();
    // The TLS bytes written to the socket so far, the handshake's included.
    uint64_t Written() const;

    // After Failed or Closed: why, in words ("the client closed the connection", OpenSSL's
    // reason or the system's), and whether the peer spoke plain HTTP to the TLS port.
    const std::string& Reason() const { return reason_; }
    bool PlainHttp() const { return plainHttp_; }

  private:
    Result result(int returned);

    SSL* ssl_;
    std::string reason_;
    bool plainHttp_ = false;
};
