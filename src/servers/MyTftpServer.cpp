#include "servers/MyTftpServer.h"

#include "servers/TftpListener.h"

#include <algorithm>
#include <vector>

using std::chrono::milliseconds;

struct MyTftpServer::Impl {
    milliseconds timeout{1000};
    int retries = 5;

    // While active:
    std::vector<std::unique_ptr<EventLoopThread>> loops;
    std::unique_ptr<TftpListener> listener;
};

MyTftpServer::MyTftpServer(const QString& documentRoot, MyLog* log)
    : ServerRuntime(documentRoot, log), impl_(new Impl) {}

MyTftpServer::~MyTftpServer() {
    Stop();
}

void MyTftpServer::SetRetransmission(milliseconds timeout, int retries) {
    impl_->timeout = std::max(timeout, milliseconds(1));
    impl_->retries = std::max(0, retries);
}

void MyTftpServer::Start(quint16 port, const QString& bindAddress) {
    if (IsActive())
        return;
    const boost::asio::ip::address address = ServerBindAddress(bindAddress);
    auto run = std::make_unique<TftpRun>(settings_, impl_->timeout, impl_->retries);
    for (int i = 0; i < settings_.threadCount; ++i)
        impl_->loops.push_back(std::make_unique<EventLoopThread>(*run, "BUILT-IN TFTP SERVER"));
    impl_->listener = std::make_unique<TftpListener>(*run, impl_->loops);
    try {
        impl_->listener->Open(boost::asio::ip::udp::endpoint(address, port));
    } catch (...) {
        stopped();
        throw;
    }
    impl_->listener->Receive();
    std::vector<EventLoopThread*> loops;
    for (const auto& loop : impl_->loops)
        loops.push_back(loop.get());
    beginRun(std::move(run), impl_->listener->Port(), std::move(loops));
}

void MyTftpServer::stopped() {
    // The listening socket first, then the event loops with every transfer.
    impl_->listener.reset();
    impl_->loops.clear();
}
