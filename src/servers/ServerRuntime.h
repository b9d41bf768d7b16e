#pragma once

#include "app/SocketError.h"
#include "record/RecordEvents.h"
#include "servers/DocumentRoot.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/address.hpp>

#include <sys/socket.h>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class EventLoopThread;
class MyLog;
class ServerAccess;

// Receives every request's log message (as given to the log) on a server thread.
using ServerLineObserver = std::function<void(const QByteArray& message)>;

// Event-loop threads of a built-in server: one per core, at most 4.
int DefaultServerThreadCount();

// What a built-in server's next Start uses.
struct ServerSettings {
    QString documentRoot;
    MyLog* log = nullptr;
    ServerLineObserver lineObserver;
    FetchObserver fetchObserver;
    int threadCount = DefaultServerThreadCount();
    std::shared_ptr<ServerAccess> access;
    QStringList withheld;
};

// What every connection or transfer of one run reads; lives from Start to Stop.
struct ServerRun {
    // alsoWithheld: files withheld beside the settings' (the TLS key).
    ServerRun(const ServerSettings& settings, const QStringList& alsoWithheld = {});
    virtual ~ServerRun() = default;

    // One log line, to the log and to the line observer. With held, the line is added to the
    // lines a thread writes together later.
    void Log(const QByteArray& message, QByteArray* held = nullptr) const;

    DocumentRoot documentRoot;
    QByteArray rootBytes;  // the root's name, as log lines show it
    MyLog* log;
    ServerLineObserver lineObserver;
    FetchObserver fetchObserver;
    std::shared_ptr<ServerAccess> access;  // who may download; everyone when not set
    std::atomic<int> active{0};            // connections or transfers under way
};

// The settings both built-in servers take, with their setters: the next Start uses them.
// For one controlling thread (the main thread), like the servers' Start and Stop.
class ServerRuntime {
  public:
    using LineObserver = ServerLineObserver;

    void SetDocumentRoot(const QString& documentRoot);
    void SetLog(MyLog* log);
    void SetLineObserver(LineObserver observer);
    // Receives every request once it has ended, on a server thread (or on the thread calling
    // Stop for those it cuts off); it must not wait for anything. Each server says what its
    // events hold.
    void SetFetchObserver(FetchObserver observer);
    // Threads serving (the machine's cores, 1 to 4, unless set).
    void SetThreadCount(int count);
    // Who may download: the allow-list (and, over HTTP, the credentials). None: everyone.
    void SetAccess(std::shared_ptr<ServerAccess> access);
    // Files never served, whatever name below the root leads to them (the credentials file, a
    // TLS key): refused, with one log line "... refuses <peer> with ... File <file>: <reason>".
    void SetWithheldFiles(const QStringList& files);

    // Stops listening and ends every connection or transfer; returns when the server threads
    // have ended.
    void Stop();
    bool IsActive() const { return run_ != nullptr; }
    // The port listened on while active.
    quint16 Port() const { return port_; }

    ServerRuntime(const ServerRuntime&) = delete;
    ServerRuntime& operator=(const ServerRuntime&) = delete;

  protected:
    ServerRuntime(const QString& documentRoot, MyLog* log);
    virtual ~ServerRuntime();  // a server stops itself in its own destructor

    // Connections or transfers under way.
    int activeCount() const;
    // Active from here: the run, the port listened on, and the event loops, started now.
    void beginRun(std::unique_ptr<ServerRun> run, quint16 port,
                  std::vector<EventLoopThread*> loops);
    // After Stop has stopped the event loops: the server lets go of its sockets and loops.
    virtual void stopped() = 0;

    ServerSettings settings_;

  private:
    std::unique_ptr<ServerRun> run_;  // while active
    std::vector<EventLoopThread*> loops_;
    quint16 port_ = 0;
};

// An event loop on a thread of its own, kept running while it has nothing to do. A handler
// that throws is logged, one line "<subject>: a handler failed: <what>" each time, and the loop
// goes on serving the others. The thread blocks SIGPIPE, so that a send to a connection the peer
// has reset fails with EPIPE instead of ending the program.
class EventLoopThread {
  public:
    // atEnd runs on the thread once the loop has stopped.
    EventLoopThread(const ServerRun& run, const char* subject, std::function<void()> atEnd = {})
        : run_(run), subject_(subject), atEnd_(std::move(atEnd)) {}
    ~EventLoopThread() { Stop(); }
    EventLoopThread(const EventLoopThread&) = delete;
    EventLoopThread& operator=(const EventLoopThread&) = delete;

    boost::asio::io_context& Context() { return ioc_; }
    // Runs the loop until Stop.
    void Start();
    // Stops the loop and waits for the thread; the pending handlers stay until the destructor.
    void Stop();

  private:
    const ServerRun& run_;
    const char* subject_;
    std::function<void()> atEnd_;
    boost::asio::io_context ioc_{1};
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> idle_{
        ioc_.get_executor()};
    std::thread thread_;
};

// The address a server listens on: empty, every local IPv4 address. Throws
// std::invalid_argument for a text that is no IP address.
boost::asio::ip::address ServerBindAddress(const QString& text);
// A listening socket that could not be set up: Kind::AccessDenied for EACCES, else
// Kind::BindFailed; "cannot listen on <what> <port>: <reason>".
SocketError ListenError(int code, const char* what, quint16 port);
// The system's text of an errno value.
std::string ErrnoText(int error);
// An IPv4 or IPv6 address, without the port, as text.
QByteArray AddressText(const sockaddr_storage& address);
