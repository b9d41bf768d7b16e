#pragma once

#include <QObject>
#include <atomic>
#include <functional>
#include <map>
#include <mutex>

// Codes of the notices that worker threads send to the main thread.
enum NoticeCode : int {
    DeviceFoundNotice = 1124,    // ARP worker: a live host (DeviceFoundRecord)
    SweepDoneNotice = 1125,      // last ARP worker of a sweep that was not stopped
    DeviceInfoNotice = 1126,     // SIP probe: device information, or none
    PnpPacketNotice = 1127,      // plug-and-play listener: one datagram
    RefreshResultNotice = 1128,  // refresh command: online flag and device information
    // Bulk encryption: the status of one row (codes 1129 to 1137).
    ToolStatusLoadErr = 1129,
    ToolStatusEncryptFailed = 1130,
    ToolStatusSaveFailed = 1131,
    ToolStatusOk = 1132,
    ToolStatusRefused = 1133,
    ToolStatusInvalidFormat = 1134,
    ToolStatusFinished = 1135,
    ToolStatusSkipped = 1136,
    ToolStatusWait = 1137,
};

// Hands notices from worker threads to handlers on the thread that owns the transport (the main
// thread). Send blocks the worker until the handler has run, so a record may live in the
// worker's own memory. Notices are handled one at a time, in the owner's event loop; a thread
// that must wait for a worker waits with WaitHandlingNotices so that notices keep flowing.
class NoticeTransport : public QObject {
    Q_OBJECT
  public:
    // The record's type is fixed per code by the sender and the handler.
    using Handler = std::function<void(int code, const void* record)>;

    explicit NoticeTransport(QObject* parent = nullptr) : QObject(parent) {}

    void SetHandler(int code, Handler handler);
    void RemoveHandler(int code);
    // From any thread. Returns once the handler has run (or at once when none is set).
    void Send(int code, const void* record = nullptr);

  private:
    void deliver(int code, const void* record);

    std::mutex mutex_;
    std::map<int, Handler> handlers_;
};

// The way by which self-freeing workers reach the main thread. Workers hold it by shared pointer,
// so a worker that outlives its owner (a probe still waiting for its answer) never touches a
// transport or handler that is gone: once Close has returned, Send delivers nothing.
class NoticeGate {
  public:
    explicit NoticeGate(NoticeTransport* transport) : transport_(transport) {}

    // From a worker: delivers synchronously, as NoticeTransport::Send does. False when closed.
    bool Send(int code, const void* record = nullptr);
    // On the owner's thread: no notice is delivered after this returns. Notices under way are
    // let through first (their handlers must already be removed or ignore them).
    void Close();

  private:
    NoticeTransport* transport_;
    std::atomic<bool> closed_{false};
    std::atomic<int> inFlight_{0};
};

// Runs the calling thread's event loop (no user input) until done() is true; checked at least
// every pollMs milliseconds.
void WaitHandlingNotices(const std::function<bool()>& done, int pollMs = 5);
