#pragma once

#include "discovery/DeviceCommand.h"

#include <QByteArray>
#include <cstdint>

class NoticeTransport;

// Record of RefreshResultNotice: online 1 when the answer held a User-Agent, else 0 (then
// only identity, an empty version and row are filled).
struct RefreshResult {
    int online = 0;
    QByteArray vendor;
    QByteArray model;
    QByteArray identity;
    QByteArray version;
    int32_t row = 0;
};

// One SIP NOTIFY to one phone, sent once from a worker thread. Create it with new, fill it,
// Start it and forget it: it frees itself when done. The online check (kind 0) waits up to
// 10 seconds for the answer and reports it as RefreshResultNotice.
class CmdDevBySipThread {
public:
    CmdDevBySipThread(DeviceCommandKind kind, int32_t row, int32_t port, const QByteArray& address,
                      NoticeTransport* notices);

    void SetUser(const QByteArray& user) { fields_.user = user; }
    // The URL; the PIN kinds send it with "$input.cfg" appended.
    void SetBody(const QByteArray& url) { fields_.body = url; }
    void SetCallId(const QByteArray& callId) { fields_.callId = callId; }
    void SetIdentity(const QByteArray& identity);

    QByteArray Message() const { return ComposeDeviceCommand(fields_); }
    void Start();

    static constexpr int kAnswerWaitMs = 10000;

private:
    ~CmdDevBySipThread() = default;
    void run();

    DeviceCommandFields fields_;
    int32_t row_;
    QByteArray identity_;
    NoticeTransport* notices_;
};
