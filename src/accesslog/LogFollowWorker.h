#pragma once

#include "accesslog/AccessLogImport.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QObject;

// What a follower of one access log has met, for the window.
struct LogFollowReport {
    enum class Trouble {
        None,
        Record,  // the record cannot be opened or written (locked, full, not a record)
        Log,     // the log cannot be read (missing, a folder, no permission, damaged)
    };
    LogImportCounts counts;  // since it started
    Trouble trouble = Trouble::None;
    QString reason;     // the trouble in words
    QByteArray change;  // "rotated" or "truncated" in the last look

    bool operator==(const LogFollowReport& o) const;
    bool operator!=(const LogFollowReport& o) const { return !(*this == o); }
};

// Follows one access log into a provisioning record on a thread of its own, as `orvo-cli record
// import --follow` does: the record opened on a connection of the thread's (RecordLogCursors),
// a look every kPollMs, and what it met handed to the thread that made the worker (through that
// thread's event loop) whenever it changed. A look that fails is told and tried again at the
// next look: nothing is lost, as a cursor moves only with the downloads it read. Stop ends a
// look after the chunk being read.
class LogFollowWorker {
  public:
    static constexpr int kPollMs = 200;
    using Handler = std::function<void(const LogFollowReport&)>;

    // handler is called on the thread that makes the worker, which must run an event loop.
    explicit LogFollowWorker(Handler handler);
    // Stops the thread.
    ~LogFollowWorker();
    LogFollowWorker(const LogFollowWorker&) = delete;
    LogFollowWorker& operator=(const LogFollowWorker&) = delete;

    // Follows logPath into the record at recordPath (stopping what it followed before). The
    // first report comes after the first look.
    void Start(const QString& recordPath, const QString& logPath, const LogImportOptions& options);
    // Waits for the thread to end; no report of it comes afterwards.
    void Stop();
    bool IsRunning() const { return thread_.joinable(); }

  private:
    void run(const QString& recordPath, const QString& logPath, const LogImportOptions& options,
             quint64 run);
    // Hands a report to the making thread.
    void deliver(const LogFollowReport& report, quint64 run);

    Handler handler_;
    std::unique_ptr<QObject> receiver_;  // of the making thread: reports are called there
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::atomic<bool> stop_{false};
    quint64 run_ = 0;  // the making thread's: which Start a report belongs to
};
