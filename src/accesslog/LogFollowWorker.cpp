#include "accesslog/LogFollowWorker.h"

#include "accesslog/RecordLogCursors.h"

#include <QObject>

#include <chrono>

bool LogFollowReport::operator==(const LogFollowReport& o) const {
    return counts.lines == o.counts.lines && counts.recorded == o.counts.recorded &&
           counts.notFiles == o.counts.notFiles && counts.malformed == o.counts.malformed &&
           trouble == o.trouble && reason == o.reason && change == o.change;
}

LogFollowWorker::LogFollowWorker(Handler handler)
    : handler_(std::move(handler)), receiver_(std::make_unique<QObject>()) {}

LogFollowWorker::~LogFollowWorker() {
    Stop();
}

void LogFollowWorker::Start(const QString& recordPath, const QString& logPath,
                            const LogImportOptions& options) {
    Stop();
    stop_ = false;
    const quint64 run = ++run_;
    thread_ = std::thread([this, recordPath, logPath, options, run] {
        this->run(recordPath, logPath, options, run);
    });
}

void LogFollowWorker::Stop() {
    if (!thread_.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
    ++run_;  // reports of the run that ended, still queued, are dropped
}

void LogFollowWorker::deliver(const LogFollowReport& report, quint64 run) {
    QMetaObject::invokeMethod(
        receiver_.get(),
        [this, report, run] {
            if (run == run_)
                handler_(report);
        },
        Qt::QueuedConnection);
}

void LogFollowWorker::run(const QString& recordPath, const QString& logPath,
                          const LogImportOptions& options, quint64 run) {
    RecordLogCursors store;
    bool storeOpen = false;
    std::unique_ptr<LogFollower> follower;
    LogFollowReport told;
    bool toldOnce = false;
    for (;;) {
        LogFollowReport now;
        QString error;
        if (!storeOpen && !(storeOpen = store.Open(recordPath, &error))) {
            now.trouble = LogFollowReport::Trouble::Record;
        } else if (!follower) {
            follower = std::make_unique<LogFollower>(logPath, options, store);
            follower->SetInterrupt([this] { return stop_.load(); });
            if (!follower->Start(&error) || !follower->Poll(&error)) {
                now.trouble = store.Failing() ? LogFollowReport::Trouble::Record
                                              : LogFollowReport::Trouble::Log;
                if (!follower->Counts().lines)
                    follower.reset();  // opened anew at the next look
            }
        } else if (!follower->Poll(&error)) {
            now.trouble =
                store.Failing() ? LogFollowReport::Trouble::Record : LogFollowReport::Trouble::Log;
        }
        if (now.trouble != LogFollowReport::Trouble::None)
            now.reason = error;
        if (follower) {
            now.counts = follower->Counts();
            now.change = follower->LastChange();
        }
        if (!toldOnce || now != told) {
            deliver(now, run);
            told = now;
            toldOnce = true;
        }
        std::unique_lock<std::mutex> lock(mutex_);
        if (wake_.wait_for(lock, std::chrono::milliseconds(kPollMs),
                           [this] { return stop_.load(); }))
            return;
    }
}
