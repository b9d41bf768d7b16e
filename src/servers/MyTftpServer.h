#pragma once

#include "servers/ServerRuntime.h"

#include <chrono>
#include <memory>

// The built-in TFTP server: read requests only, over the same document root as the HTTP server
// (nothing outside it is opened). Modes octet and netascii; options blksize, timeout, tsize and
// windowsize (tsize in netascii only for files up to 64 KB: the converted size is counted by the
// transfer, never by the listener). Names with a part beginning with "." and the files set with
// SetWithheldFiles are refused with ERROR 2. Each transfer sends from a port of its own; a packet
// from any other address or port gets ERROR 5 and leaves the transfer alone. A duplicate ACK sends
// nothing; a time-out resends what is unacknowledged, a bounded number of times. A few threads run
// an event loop each; a transfer costs a socket, an open file and one block's buffer, not a thread.
// Start, Stop and the setters are for one controlling thread (the main thread).
//
// The fetch observer receives every request once it has ended (protocol "tftp", method "RRQ" or
// "WRQ", the bytes the client acknowledged, complete when it acknowledged the last block, the
// time it ended, the file's size, inode and modification time as opened). The status is the
// HTTP one that means the same: 200 the whole file delivered, 404 ERROR 1 (file not found), 403
// ERROR 2 (access violation), 400 ERROR 4 (an illegal request or packet), 500 ERROR 0 (a file
// or socket that failed), 499 the client ended the transfer with an ERROR, 408 the client
// stopped answering, 503 the server stopped first. A client not on the allow-list gets ERROR 2
// and the log line "BUILT-IN TFTP SERVER refuses <peer> with error 2. File <file>: address not
// allowed"; hidden and withheld names get ERROR 2 with the reason.
class MyTftpServer : public ServerRuntime {
  public:
    explicit MyTftpServer(const QString& documentRoot = {}, MyLog* log = nullptr);
    ~MyTftpServer() override;  // stops the server

    // The wait for an answer before sending again when the client asked for no timeout (1 s
    // unless set), and how often a packet is sent again before the transfer is given up (5).
    void SetRetransmission(std::chrono::milliseconds timeout, int retries);

    // Listens on UDP port (0 picks a free port) at bindAddress (empty: every local IPv4
    // address). Throws SocketError (Kind::BindFailed, or Kind::AccessDenied for EACCES) when
    // the socket cannot be set up, and std::invalid_argument for an address that is not one.
    // Does nothing while active.
    void Start(quint16 port, const QString& bindAddress = {});
    // Transfers under way.
    int TransferCount() const { return activeCount(); }

  private:
    void stopped() override;

    struct Impl;
    std::unique_ptr<Impl> impl_;
};
