#include "servers/ServerRuntime.h"

#include "app/MyLog.h"

#include <QFile>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pthread.h>
#include <algorithm>
#include <csignal>
#include <cstring>
#include <exception>
#include <stdexcept>

int DefaultServerThreadCount() {
    const unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(cores, 1u, 4u));
}

ServerRuntime::ServerRuntime(const QString& documentRoot, MyLog* log) {
    settings_.documentRoot = documentRoot;
    settings_.log = log;
}

ServerRuntime::~ServerRuntime() = default;

int ServerRuntime::activeCount() const {
    return run_ ? run_->active.load() : 0;
}

void ServerRuntime::beginRun(std::unique_ptr<ServerRun> run, quint16 port,
                             std::vector<EventLoopThread*> loops) {
    run_ = std::move(run);
    port_ = port;
    loops_ = std::move(loops);
    for (EventLoopThread* loop : loops_)
        loop->Start();
}

void ServerRuntime::Stop() {
    if (!IsActive())
        return;
    for (EventLoopThread* loop : loops_)
        loop->Stop();
    loops_.clear();
    stopped();
    run_.reset();
    port_ = 0;
}

void ServerRuntime::SetDocumentRoot(const QString& documentRoot) {
    settings_.documentRoot = documentRoot;
}

void ServerRuntime::SetLog(MyLog* log) {
    settings_.log = log;
}

void ServerRuntime::SetLineObserver(LineObserver observer) {
    settings_.lineObserver = std::move(observer);
}

void ServerRuntime::SetFetchObserver(FetchObserver observer) {
    settings_.fetchObserver = std::move(observer);
}

void ServerRuntime::SetThreadCount(int count) {
    settings_.threadCount = std::max(1, count);
}

void ServerRuntime::SetAccess(std::shared_ptr<ServerAccess> access) {
    settings_.access = std::move(access);
}

void ServerRuntime::SetWithheldFiles(const QStringList& files) {
    settings_.withheld = files;
}

ServerRun::ServerRun(const ServerSettings& settings, const QStringList& alsoWithheld)
    : documentRoot(QFile::encodeName(settings.documentRoot).toStdString()),
      rootBytes(QFile::encodeName(settings.documentRoot)),
      log(settings.log),
      lineObserver(settings.lineObserver),
      fetchObserver(settings.fetchObserver),
      access(settings.access) {
    std::vector<std::string> withheld;
    for (const QString& file : settings.withheld + alsoWithheld)
        withheld.push_back(QFile::encodeName(file).toStdString());
    documentRoot.Withhold(withheld);
}

void ServerRun::Log(const QByteArray& message, QByteArray* held) const {
    if (log && held)
        *held += log->FormatLine(message);
    else if (log)
        log->Write(message);
    if (lineObserver)
        lineObserver(message);
}

void EventLoopThread::Start() {
    thread_ = std::thread([this] {
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
        for (;;) {
            try {
                ioc_.run();
                break;
            } catch (...) {
                // One handler's failure must not end the thread serving the others.
                QByteArray what = "unknown exception";
                try {
                    throw;
                } catch (const std::exception& e) {
                    what = LogSafeText(QByteArray(e.what()));
                } catch (...) {
                }
                run_.Log(QByteArray(subject_) + ": a handler failed: " + what);
            }
        }
        if (atEnd_)
            atEnd_();
    });
}

void EventLoopThread::Stop() {
    ioc_.stop();
    if (thread_.joinable())
        thread_.join();
}

boost::asio::ip::address ServerBindAddress(const QString& text) {
    if (text.isEmpty())
        return boost::asio::ip::address_v4::any();
    boost::system::error_code ec;
    const auto address = boost::asio::ip::make_address(text.toStdString(), ec);
    if (ec)
        throw std::invalid_argument("not an IP address: " + text.toStdString());
    return address;
}

SocketError ListenError(int code, const char* what, quint16 port) {
    const auto kind =
        code == EACCES ? SocketError::Kind::AccessDenied : SocketError::Kind::BindFailed;
    return SocketError(kind, code,
                       std::string("cannot listen on ") + what + " " + std::to_string(port) + ": " +
                           ErrnoText(code));
}

std::string ErrnoText(int error) {
    char buf[256];
    return strerror_r(error, buf, sizeof buf);
}

QByteArray AddressText(const sockaddr_storage& address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(address).sin6_addr, text,
                  sizeof text);
    else
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(address).sin_addr, text,
                  sizeof text);
    return QByteArray(text);
}
