#include "discovery/NoticeGate.h"

#include "app/Notices.h"

bool NoticeGate::Send(int code, const void* record) {
    ++inFlight_;
    const bool open = !closed_.load();
    if (open)
        transport_->Send(code, record);
    --inFlight_;
    return open;
}

void NoticeGate::Close() {
    closed_.store(true);
    WaitHandlingNotices([this] { return inFlight_.load() == 0; }, 1);
}
