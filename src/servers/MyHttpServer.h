#pragma once

#include "servers/ServerRuntime.h"

#include <chrono>
#include <memory>

// The built-in HTTP server. It answers GET, POST and HEAD with the regular file of that path
// below the document root (200, Content-Type by extension, Content-Length, the body sent from
// disk) or with 404, closes the connection after every answer, and writes one log line per
// request. Names with a part beginning with "." and the server's own secrets (its TLS key, the
// withheld files) are refused with 403. A few threads run an event loop each; a connection that
// sends or reads nothing is closed after the time-outs, so idle connections never keep others
// from being served. Start, Stop and the setters are for one controlling thread (the main
// thread).
//
// The fetch observer receives every answered request (protocol "http" or "https") when its
// connection ends. The event's bytes are the body bytes the client acknowledged, and complete
// is true only when every byte of the answer was written and acknowledged before the connection
// ended (never for a HEAD). Over HTTPS the bytes count in whole writes of the TLS layer (up to
// 64 KB of the file each): those whose every TLS byte the client acknowledged. time is when the
// connection ended. The file's size, inode and modification time are as the server opened it.
// Refused requests (the access rules: 403, 401 or 429; hidden and withheld names: 403) are
// logged "BUILT-IN HTTP SERVER refuses <peer> with <status>. File <file>: <reason>" and reported
// with that status.
class MyHttpServer : public ServerRuntime {
  public:
    explicit MyHttpServer(const QString& documentRoot = {}, MyLog* log = nullptr);
    ~MyHttpServer() override;  // stops the server

    // Time allowed to receive a whole request (the TLS handshake included), and to make
    // progress while sending the answer (5 s each unless set).
    void SetTimeouts(std::chrono::milliseconds read, std::chrono::milliseconds write);
    // HTTPS instead of HTTP, with this PEM certificate (chain) and key: TLS 1.2 and 1.3 only;
    // the key is withheld. Empty names: plain HTTP (the default).
    void SetTls(const QString& certFile, const QString& keyFile);
    bool IsHttps() const;
    // Connections accepted and not yet closed.
    int ConnectionCount() const { return activeCount(); }

    // Listens on port (0 picks a free port) at bindAddress (empty: every local IPv4 address),
    // with address reuse, on one socket per thread (SO_REUSEPORT), each with a backlog of 100; a
    // port another socket listens on is refused all the same. Throws SocketError (Kind::BindFailed,
    // or Kind::AccessDenied for EACCES) when the listening socket cannot be set up,
    // std::invalid_argument for an address that is not one, and TlsSetupError when the
    // certificate or key cannot be used. Does nothing while active.
    void Start(quint16 port, const QString& bindAddress = {});

  private:
    void stopped() override;
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
