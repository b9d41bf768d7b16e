#pragma once

#include "servers/ServerRuntime.h"
#include "servers/SocketAddress.h"
#include "servers/TftpPacket.h"

#include <boost/asio/ip/udp.hpp>
#include <boost/asio/steady_timer.hpp>

#include <array>
#include <chrono>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

// What became of a request, as the HTTP status that means the same (for the fetch observer).
namespace TftpStatus {
constexpr int kDelivered = 200;
constexpr int kEndedByClient = 499;  // the client sent an ERROR
constexpr int kTimedOut = 408;       // the client stopped answering
constexpr int kFailed = 500;         // a file or socket failed
constexpr int kStopped = 503;        // the server stopped during the transfer
// The status of a request answered with an ERROR of this code.
int OfError(uint16_t errorCode);
}  // namespace TftpStatus

// What every transfer of one run of the TFTP server reads; lives from Start to Stop.
struct TftpRun : ServerRun {
    TftpRun(const ServerSettings& settings, std::chrono::milliseconds timeout, int retries)
        : ServerRun(settings), timeout(timeout), retries(retries) {}

    // A finished request, with its status and the time it ended; complete when the client
    // acknowledged the last block.
    void Report(FetchEvent fetch, int status) const;
    // The first packet of a transfer for this client socket and file name has not been
    // acknowledged yet: a repeated request is the same request, already being answered.
    bool BeginFirstPacket(const std::string& key);
    void EndFirstPacket(const std::string& key);

    std::chrono::milliseconds timeout;
    int retries;
    std::mutex firstPacketMutex;
    std::set<std::string> firstPacket;
};

// What the listener hands a transfer.
struct TransferSetup {
    int socketFd = -1;
    SocketAddress peer;
    int fileFd = -1;
    bool netascii = false;
    Tftp::Negotiation negotiation;
    off_t fileSize = 0;
    std::string firstPacketKey;
    FetchEvent report;
};

// One read request being answered, from a socket of its own (its transfer ID), on one event
// loop only. Lock-step with a window: up to windowsize blocks go out before an ACK; a duplicate
// ACK sends nothing; a time-out resends what is unacknowledged, a bounded number of times.
class TftpTransfer : public std::enable_shared_from_this<TftpTransfer> {
  public:
    TftpTransfer(TftpRun& run, boost::asio::io_context& context, TransferSetup setup);
    ~TftpTransfer();  // one never finished reports itself stopped
    void Start();

  private:
    // Where a block begins in the file, and the second byte of a netascii pair still to be sent
    // (-1 when none).
    struct BlockStart {
        off_t offset = 0;
        int pending = -1;
    };

    // The OACK of the options taken (none: DATA 1 comes first). tsize is the size sent: in
    // netascii counted here, off the listener, for files up to kCountedNetascii only.
    void negotiate();
    // The OACK while it waits for its ACK, else the current window; the timer armed.
    void sendCurrent();
    void sendWindow();
    // Reads block start into packet_ after its header; false on a read failure (errno set).
    bool produce(const BlockStart& start, size_t* size, BlockStart* next);
    void waitForPacket();
    void onPacket(const uint8_t* data, size_t size, const SocketAddress& from);
    void onAck(uint16_t block);
    void armTimer();
    void startTimer();
    void onTimer();
    void sendTo(const std::string& packet, const SocketAddress& to);
    void firstPacketAnswered();
    void finish(int status);

    TftpRun& run_;
    boost::asio::ip::udp::socket socket_;
    boost::asio::steady_timer timer_;
    bool timerArmed_ = false;
    std::chrono::steady_clock::time_point deadline_;
    std::chrono::milliseconds timeout_;
    int retriesLeft_;
    SocketAddress peer_;
    int fileFd_;
    bool netascii_;
    unsigned blockSize_;
    unsigned windowSize_;
    Tftp::Negotiation negotiation_;
    off_t fileSize_;
    std::string oack_;
    bool awaitingOackAck_ = false;
    std::string firstPacketKey_;
    uint64_t base_ = 1;               // the first unacknowledged block
    unsigned sent_ = 0;               // blocks sent from base_ on
    uint64_t last_ = 0;               // the final (short) block, once read
    std::vector<BlockStart> starts_;  // starts_[i]: where block base_ + i begins
    std::vector<size_t> sizes_;       // sizes_[i]: data bytes of block base_ + i
    std::vector<uint8_t> packet_;
    std::array<uint8_t, 1024> input_;
    boost::asio::ip::udp::endpoint sender_;
    FetchEvent report_;
    bool finished_ = false;
};
