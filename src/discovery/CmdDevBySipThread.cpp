#include "discovery/CmdDevBySipThread.h"

#include "app/DebugChannel.h"
#include "app/Notices.h"
#include "app/ThreadName.h"
#include "app/UdpExchange.h"

#include <atomic>
#include <system_error>
#include <thread>

namespace {
std::atomic<int> running{0};
}  // namespace

int CmdDevBySipThread::Running() {
    return running.load();
}

CmdDevBySipThread::CmdDevBySipThread(DeviceCommandKind kind, int32_t row, int32_t port,
                                     const QByteArray& address, std::shared_ptr<NoticeGate> notices)
    : row_(row), notices_(std::move(notices)) {
    fields_.kind = kind;
    fields_.port = port;
    fields_.address = address;
}

void CmdDevBySipThread::SetIdentity(const QByteArray& identity) {
    identity_ = identity;
    DebugLine(identity);
}

void CmdDevBySipThread::Start() {
    std::unique_ptr<CmdDevBySipThread> self(this);
    ++running;
    try {
        std::thread([self = std::move(self)]() mutable {
            self->run();
            self.reset();
            --running;
        }).detach();
    } catch (const std::system_error&) {
        // No thread: the command is dropped as a failed send would be.
        --running;
    }
}

void CmdDevBySipThread::run() {
    NameCurrentThread("CmdDevBySipThread");
    const bool check = fields_.kind == DeviceCommandKind::OnlineCheck;
    QByteArray reply;
    if (!UdpExchange(fields_.address, fields_.port, Message(), check ? kAnswerWaitMs : 0, &reply))
        return;
    if (!check || !notices_)
        return;
    RefreshResult result;
    result.info.identity = QString::fromUtf8(identity_);
    result.info.row = row_;
    QByteArray model, version;
    if (ParseOnlineCheckAnswer(reply, &model, &version)) {
        result.online = 1;
        result.info.vendor = kUnknown;
        result.info.model = QString::fromUtf8(model);
        result.info.version = QString::fromUtf8(version);
    }
    notices_->Send(RefreshResultNotice, &result);
}
