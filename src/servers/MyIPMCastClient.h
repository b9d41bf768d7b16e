#pragma once

#include <QByteArray>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

class NoticeTransport;

// One datagram received on the plug-and-play group (record of PnpPacketNotice).
struct PnpPacket {
    QByteArray text;
    QByteArray senderAddress;
    uint16_t senderPort = 0;
};

// The plug-and-play listener: joins a multicast group on one interface and hands every
// datagram to the main thread as PnpPacketNotice, waiting until it has been handled.
class MyIPMCastClient {
  public:
    // group and interface are dotted IPv4 texts.
    MyIPMCastClient(int32_t port, const QByteArray& group, const QByteArray& interfaceAddress,
                    NoticeTransport* notices);
    // Stops the listener and waits for its thread, handling notices meanwhile.
    ~MyIPMCastClient();
    MyIPMCastClient(const MyIPMCastClient&) = delete;
    MyIPMCastClient& operator=(const MyIPMCastClient&) = delete;

    void Start();
    // True while the socket is set up and the receive loop runs.
    bool IsRunning() const { return running_; }
    // Ends the receive loop; a blocked receive returns at once.
    void Stop();
    void Terminate() { terminated_ = true; }
    // The errno of a failed bind (EACCES when access was denied), 0 otherwise.
    int LastError() const { return lastError_; }
    // True once the thread has left its run.
    bool HasEnded() const { return ended_; }

  private:
    void run();
    bool setUp();

    int32_t port_;
    QByteArray group_;
    QByteArray interface_;
    NoticeTransport* notices_;
    std::atomic<bool> running_{false};
    std::atomic<bool> terminated_{false};
    std::atomic<bool> ended_{false};
    std::atomic<int> lastError_{0};
    std::mutex socketMutex_;  // Stop's shutdown never meets the thread's close
    int socket_ = -1;
    std::thread thread_;
};
