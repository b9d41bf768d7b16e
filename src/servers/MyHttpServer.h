#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include "record/RecordEvents.h"

#include <chrono>
#include <functional>
#include <memory>

class MyLog;
class ServerAccess;

// The built-in HTTP server. It answers GET, POST and HEAD with the regular file of that path
// below the document root (200, Content-Type by extension, Content-Length, the body sent from
// disk) or with 404, closes the connection after every answer, and writes one log line per
// request. Names with a part beginning with "." and the server's own secrets (its TLS key, the
// files set with SetWithheldFiles) are refused with 403. A few threads run an event loop each; a
// connection that sends or reads nothing is closed after the time-outs, so idle connections never
// keep others from being served. Start, Stop and the setters are for one controlling thread (the
// main thread).
class MyHttpServer {
  public:
    // Receives every request's log message (as given to the log) on a server thread.
    using LineObserver = std::function<void(const QByteArray& message)>;

    explicit MyHttpServer(const QString& documentRoot = {}, MyLog* log = nullptr);
    ~MyHttpServer();  // stops the server
    MyHttpServer(const MyHttpServer&) = delete;
    MyHttpServer& operator=(const MyHttpServer&) = delete;

    // The next Start uses these.
    void SetDocumentRoot(const QString& documentRoot);
    QString DocumentRoot() const;
    void SetLog(MyLog* log);
    void SetLineObserver(LineObserver observer);
    // Receives every answered request (protocol "http") when its connection ends, on a server
    // thread (or the thread calling Stop); it must not wait for anything. The event's bytes are
    // the body bytes the client acknowledged, and complete is true only when every byte of the
    // answer was written and acknowledged before the connection ended (never for a HEAD). Over
    // HTTPS the bytes count in whole writes of the TLS layer (up to 64 KB of the file each):
    // those whose every TLS byte the client acknowledged. time is when the connection ended.
    // The file's size, inode and modification time are as the server opened it.
    void SetFetchObserver(FetchObserver observer);
    // Time allowed to receive a whole request, and to make progress while sending the answer
    // (5 s each unless set).
    void SetTimeouts(std::chrono::milliseconds read, std::chrono::milliseconds write);
    // Threads serving connections (the machine's cores, 1 to 4, unless set).
    void SetThreadCount(int count);
    // HTTPS instead of HTTP, with this PEM certificate (chain) and key: TLS 1.2 and 1.3 only;
    // the fetch observer gets protocol "https". Empty names: plain HTTP (the default).
    void SetTls(const QString& certFile, const QString& keyFile);
    bool IsHttps() const;
    // Who may download (the allow-list, the credentials); refused requests get 403, 401 or 429,
    // one log line "BUILT-IN HTTP SERVER refuses <peer> with <status>. File <file>: <reason>"
    // each, and go to the fetch observer with that status. None: everyone (the default).
    void SetAccess(std::shared_ptr<ServerAccess> access);
    // Files never served, whatever name below the root leads to them (the credentials file, a
    // TLS key); the key of SetTls is always among them. Refused with 403 and the log line
    // "BUILT-IN HTTP SERVER refuses <peer> with 403. File <file>: <reason>".
    void SetWithheldFiles(const QStringList& files);

    // Listens on port (0 picks a free port) at bindAddress (empty: every local IPv4 address),
    // with address reuse, on one socket per thread (SO_REUSEPORT), each with a backlog of 100; a
    // port another socket listens on is refused all the same. Throws SocketError (Kind::BindFailed,
    // or Kind::AccessDenied for EACCES) when the listening socket cannot be set up,
    // std::invalid_argument for an address that is not one, and TlsSetupError when the
    // certificate or key cannot be used. Does nothing while active.
    void Start(quint16 port, const QString& bindAddress = {});
    // Stops listening and closes every connection; returns when the server threads have ended.
    void Stop();
    bool IsActive() const;
    // The port listened on while active.
    quint16 Port() const;
    // Connections accepted and not yet closed.
    int ConnectionCount() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
