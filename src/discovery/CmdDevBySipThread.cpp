#include "discovery/CmdDevBySipThread.h"

#include "app/Notices.h"
#include "app/UdpExchange.h"
#include "app/Workers.h"

#include <cstdio>

CmdDevBySipThread::CmdDevBySipThread(DeviceCommandKind kind, int32_t row, int32_t port,
                                     const QByteArray& address, NoticeTransport* notices)
    : row_(row), notices_(notices) {
    fields_.kind = kind;
    fields_.port = port;
    fields_.address = address;
}

void CmdDevBySipThread::SetIdentity(const QByteArray& identity) {
    identity_ = identity;
    std::fprintf(stderr, "%s\n", identity.constData());
}

void CmdDevBySipThread::Start() {
    Workers::StartDetached("CmdDevBySipThread", [this] {
        run();
        delete this;
    });
}

void CmdDevBySipThread::run() {
    const bool check = fields_.kind == DeviceCommandKind::OnlineCheck;
    QByteArray reply;
    if (!UdpExchange(fields_.address, fields_.port, Message(), check ? kAnswerWaitMs : 0, &reply))
        return;
    if (!check || Workers::StopRequested())
        return;
    RefreshResult result;
    result.identity = identity_;
    result.row = row_;
    if (ParseOnlineCheckAnswer(reply, &result.model, &result.version)) {
        result.online = 1;
        result.vendor = "unknow";
    }
    if (notices_)
        notices_->Send(RefreshResultNotice, &result);
}
