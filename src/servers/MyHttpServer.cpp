#include "servers/MyHttpServer.h"

#include "protection/TlsServerContext.h"
#include "servers/HttpWorker.h"
#include "servers/MimeTypes.h"

#include <boost/asio/ssl/context.hpp>

#include <vector>

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using std::chrono::milliseconds;

struct MyHttpServer::Impl {
    milliseconds readTimeout{5000};
    milliseconds writeTimeout{5000};
    QString certFile;
    QString keyFile;

    // While active:
    std::shared_ptr<asio::ssl::context> tls;
    std::vector<std::unique_ptr<HttpWorker>> workers;
};

MyHttpServer::MyHttpServer(const QString& documentRoot, MyLog* log)
    : ServerRuntime(documentRoot, log), impl_(new Impl) {}

MyHttpServer::~MyHttpServer() {
    Stop();
}

void MyHttpServer::SetTimeouts(milliseconds read, milliseconds write) {
    impl_->readTimeout = read;
    impl_->writeTimeout = write;
}

void MyHttpServer::SetTls(const QString& certFile, const QString& keyFile) {
    impl_->certFile = certFile;
    impl_->keyFile = keyFile;
}

bool MyHttpServer::IsHttps() const {
    return !impl_->certFile.isEmpty();
}

void MyHttpServer::Start(quint16 port, const QString& bindAddress) {
    if (IsActive())
        return;
    const asio::ip::address address = ServerBindAddress(bindAddress);
    PrepareMimeTypes();
    // Throws TlsSetupError before anything listens.
    std::shared_ptr<asio::ssl::context> tls =
        IsHttps() ? MakeTlsServerContext(impl_->certFile, impl_->keyFile) : nullptr;
    // The key is never served.
    auto run = std::make_unique<HttpRun>(
        settings_, IsHttps() ? QStringList{impl_->keyFile} : QStringList{}, impl_->readTimeout,
        impl_->writeTimeout, tls ? tls->native_handle() : nullptr);
    std::vector<std::unique_ptr<HttpWorker>> workers;
    for (int i = 0; i < settings_.threadCount; ++i)
        workers.push_back(std::make_unique<HttpWorker>(*run));

    // A port that something else listens on fails here, before the sockets below share it.
    if (port != 0) {
        tcp::acceptor probe(workers[0]->context());
        ListenOn(probe, tcp::endpoint(address, port), false);
    }
    // Each worker listens on a socket of its own on the same port (the first one picks it when
    // port is 0); the kernel spreads the connections over them, waking only the worker it gives
    // one to.
    tcp::endpoint endpoint(address, port);
    std::vector<EventLoopThread*> loops;
    for (auto& worker : workers) {
        worker->Listen(endpoint);
        boost::system::error_code ec;
        endpoint.port(worker->acceptor().local_endpoint(ec).port());
        loops.push_back(&worker->Loop());
    }
    impl_->tls = std::move(tls);
    impl_->workers = std::move(workers);
    beginRun(std::move(run), endpoint.port(), std::move(loops));
}

void MyHttpServer::stopped() {
    // Destroying the event loops closes the listening sockets and every connection.
    impl_->workers.clear();
    impl_->tls.reset();
}
