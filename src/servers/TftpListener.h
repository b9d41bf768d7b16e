#pragma once

#include "servers/TftpTransfer.h"

#include <boost/asio/ip/udp.hpp>

#include <memory>
#include <string>
#include <vector>

// The well-known port of the TFTP server: reads requests, refuses what it must, and hands each
// read request to a transfer of its own on one of the event loops. It never reads a file, so no
// request holds up the others.
class TftpListener {
  public:
    TftpListener(TftpRun& run, std::vector<std::unique_ptr<EventLoopThread>>& loops)
        : run_(run), loops_(loops), socket_(loops[0]->Context()) {}

    // Throws SocketError.
    void Open(const boost::asio::ip::udp::endpoint& endpoint);
    quint16 Port() const {
        boost::system::error_code ec;
        return socket_.local_endpoint(ec).port();
    }
    void Receive();

  private:
    void onRequest(const uint8_t* data, size_t size, const SocketAddress& peer,
                   const SocketAddress& local);
    // Logs and reports the refusal, then sends the ERROR packet with text. With refusal, the
    // log line is "BUILT-IN TFTP SERVER refuses ..." with that reason instead of text.
    void refuse(const SocketAddress& peer, const std::string& path, uint16_t code,
                const std::string& text, const char* refusal = nullptr);
    // A transfer socket on the local address the request came to; -1 (errno set) on failure.
    int transferSocket(const SocketAddress& local) const;

    TftpRun& run_;
    std::vector<std::unique_ptr<EventLoopThread>>& loops_;
    boost::asio::ip::udp::socket socket_;
    SocketAddress bound_;
    bool boundToAny_ = true;
    size_t nextLoop_ = 0;
    const char* method_ = "RRQ";  // of the request being read
};
