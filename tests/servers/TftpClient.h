#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// A UDP socket on 127.0.0.1 that speaks TFTP by hand, for tests that need a client to
// misbehave or to see every packet.
class TftpSocket {
  public:
    explicit TftpSocket(const char* address = "127.0.0.1");
    ~TftpSocket();
    TftpSocket(const TftpSocket&) = delete;
    TftpSocket& operator=(const TftpSocket&) = delete;

    int fd() const { return fd_; }
    uint16_t port() const;
    void Send(uint16_t port, const std::string& packet, const char* address = "127.0.0.1") const;
    // The next datagram within timeoutMs, with the sender's port (and address); false when none
    // came.
    bool Receive(std::string* packet, uint16_t* fromPort, int timeoutMs,
                 std::string* fromAddress = nullptr) const;

  private:
    int fd_ = -1;
};

using TftpOptions = std::vector<std::pair<std::string, std::string>>;

std::string RequestPacket(const std::string& filename, const std::string& mode = "octet",
                          const TftpOptions& options = {}, uint16_t opcode = 1);
std::string AckPacket(uint16_t block);
uint16_t PacketOpcode(const std::string& packet);
// Bytes 2 and 3: a DATA or ACK block number, an ERROR code.
uint16_t PacketNumber(const std::string& packet);
// The option pairs of an OACK.
TftpOptions OackOptions(const std::string& packet);

// A whole download by hand, lock-step: the bytes, or the ERROR that ended it.
struct TftpDownload {
    bool complete = false;
    int errorCode = -1;
    std::string errorText;
    std::string data;
    TftpOptions oack;
    int dataPackets = 0;  // DATA packets received, repeats included
};
TftpDownload DownloadByHand(uint16_t serverPort, const std::string& filename,
                            const std::string& mode = "octet", const TftpOptions& options = {});
