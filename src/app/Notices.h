#pragma once

#include <QObject>
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

// Runs the calling thread's event loop (no user input) until done() is true; checked at least
// every pollMs milliseconds.
void WaitHandlingNotices(const std::function<bool()>& done, int pollMs = 5);
