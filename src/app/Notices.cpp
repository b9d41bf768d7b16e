#include "app/Notices.h"

#include <QEventLoop>
#include <QMetaObject>
#include <QThread>
#include <QTimer>

void NoticeTransport::SetHandler(int code, Handler handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    handlers_[code] = std::move(handler);
}

void NoticeTransport::RemoveHandler(int code) {
    std::lock_guard<std::mutex> lock(mutex_);
    handlers_.erase(code);
}

void NoticeTransport::deliver(int code, const void* record) {
    Handler handler;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = handlers_.find(code);
        if (it == handlers_.end())
            return;
        handler = it->second;
    }
    handler(code, record);
}

void NoticeTransport::Send(int code, const void* record) {
    if (QThread::currentThread() == thread()) {
        deliver(code, record);
        return;
    }
    QMetaObject::invokeMethod(
        this, [this, code, record] { deliver(code, record); }, Qt::BlockingQueuedConnection);
}

void WaitHandlingNotices(const std::function<bool()>& done, int pollMs) {
    if (done())
        return;
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(pollMs);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    poll.start();
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

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
