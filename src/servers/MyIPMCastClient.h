#pragma once

#include <QByteArray>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

class MyLog;
class NoticeTransport;

// One datagram received on the plug-and-play group (record of PnpPacketNotice).
struct PnpPacket {
    QByteArray text;
    QByteArray senderAddress;
    uint16_t senderPort = 0;
};

// The plug-and-play listener: joins a multicast group on one interface and hands every
// datagram to the main thread as PnpPacketNotice, waiting until it has been handled. Its
// receive buffer holds a burst of kBurstPhones SUBSCRIBEs meanwhile; datagrams the kernel still
// drops are counted and logged.
class MyIPMCastClient {
  public:
    // group and interface are dotted IPv4 texts.
    MyIPMCastClient(int32_t port, const QByteArray& group, const QByteArray& interfaceAddress,
                    NoticeTransport* notices);
    // Stops the listener and waits for its thread, handling notices meanwhile.
    ~MyIPMCastClient();
    MyIPMCastClient(const MyIPMCastClient&) = delete;
    MyIPMCastClient& operator=(const MyIPMCastClient&) = delete;

    // The phones whose SUBSCRIBEs the receive buffer holds at once (a site starting up).
    static constexpr int kBurstPhones = 1000;
    // The buffer asked for: kBurstPhones datagrams of up to 4 KB as the kernel counts them.
    static constexpr int kReceiveBufferBytes = kBurstPhones * 4096;

    // Receives, from the listener's thread, "PNP Server: N datagrams dropped by the kernel, the
    // receive buffer being full (T since the start)" when the kernel had to drop some (told with
    // the next datagram that arrives; at most once a second, and at the end). Set before Start.
    void SetLog(MyLog* log) { log_ = log; }
    void Start();
    // The receive buffer's size as the kernel reports it, once the socket is set up.
    int ReceiveBufferBytes() const { return receiveBuffer_; }
    // Once running: "PNP Server: receive buffer of N KB, less than the M KB for a burst of 1000
    // phones (raise net.core.rmem_max)" when the system gave less than asked; else empty.
    QByteArray ReceiveBufferNote() const;
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
    // Sizes the receive buffer (beyond the system's limit when privileged) and asks the kernel
    // to tell the drops.
    void sizeReceiveBuffer(int fd);
    // Logs drops not logged yet: now, or when due (a second has passed since the last line).
    enum class Tell { WhenDue, Now };
    void tellDrops(uint32_t dropped, Tell when);

    int32_t port_;
    QByteArray group_;
    QByteArray interface_;
    NoticeTransport* notices_;
    std::atomic<bool> running_{false};
    std::atomic<bool> terminated_{false};
    std::atomic<bool> ended_{false};
    std::atomic<int> lastError_{0};
    MyLog* log_ = nullptr;
    std::atomic<int> receiveBuffer_{0};
    uint32_t dropsTold_ = 0;  // the kernel's drop count when it was last logged
    int64_t dropsToldAtMs_ = 0;
    std::mutex socketMutex_;  // Stop's shutdown never meets the thread's close
    int socket_ = -1;
    std::thread thread_;
};
