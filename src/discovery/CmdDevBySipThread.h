#pragma once

#include "discovery/DeviceCommand.h"
#include "discovery/DiscoveryRecords.h"

#include <QByteArray>
#include <cstdint>
#include <memory>

class NoticeGate;

// Record of RefreshResultNotice: online 1 when the answer held a User-Agent, else 0 (then only
// identity, an empty version and row of the device information are filled).
struct RefreshResult {
    int online = 0;
    DeviceInfoRecord info;
};

// One SIP NOTIFY to one phone, sent once from a worker thread. Create it with new, fill it,
// Start it and forget it: it frees itself when done. The online check (kind 0) waits up to
// 10 seconds for the answer and reports it as RefreshResultNotice through the gate.
class CmdDevBySipThread {
  public:
    static constexpr int kAnswerWaitMs = 10000;

    CmdDevBySipThread(DeviceCommandKind kind, int32_t row, int32_t port, const QByteArray& address,
                      std::shared_ptr<NoticeGate> notices = nullptr);

    void SetUser(const QByteArray& user) { fields_.user = user; }
    // The URL; the PIN kinds send it with "$input.cfg" appended.
    void SetBody(const QByteArray& url) { fields_.body = url; }
    void SetCallId(const QByteArray& callId) { fields_.callId = callId; }
    void SetIdentity(const QByteArray& identity);

    QByteArray Message() const { return ComposeDeviceCommand(fields_); }
    void Start();

    // Commands started whose thread has not ended yet (a program about to end waits for 0, so
    // that every datagram has gone out).
    static int Running();

  private:
    void run();

    DeviceCommandFields fields_;
    int32_t row_;
    QByteArray identity_;
    std::shared_ptr<NoticeGate> notices_;
};
