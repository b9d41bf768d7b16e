#pragma once

#include "record/RecordEvents.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class SqliteDb;

// The provisioning record: every event of the road of a phone (batch file, plug-and-play answer
// or command, download, discovery answer) in an SQLite file. Any thread adds events without
// waiting: they are queued, and one writer thread inserts them in a transaction every 400 ms
// (or sooner when many are queued), so what is older than a second is on disk even if the
// program is killed. When the file cannot be opened or written the record switches itself off
// (events are dropped from then on) and tells its failure handler once.
class ProvisioningRecord {
  public:
    // The record file's path and the reason in words.
    using FailureHandler = std::function<void(const QString& path, const QString& reason)>;

    // Events waiting beyond this are dropped rather than held (the writer cannot keep up).
    static constexpr size_t kMaxQueued = 100000;
    static constexpr int kCommitIntervalMs = 400;

    ProvisioningRecord();
    // Commits what is queued and stops the writer.
    ~ProvisioningRecord();
    ProvisioningRecord(const ProvisioningRecord&) = delete;
    ProvisioningRecord& operator=(const ProvisioningRecord&) = delete;

    // Called once when recording turns off: on the thread that opened the record, or on the
    // writer thread. It must not wait for the thread that adds events.
    void SetFailureHandler(FailureHandler handler);

    // Opens the record file (making its folder and the file when missing; a file of an older
    // version is migrated) and starts the writer, which first removes the events older than
    // keepDays days (0 keeps all) but the latest of each kind of each phone. False, with the
    // failure handler told, when the file cannot be a record: nothing is written to a file that
    // is not ours, which is read on a read-only connection first.
    bool Open(const QString& path, int keepDays = 0);
    // Commits what is queued and closes the file; recording is off afterwards.
    void Close();
    bool IsOn() const { return on_.load(); }
    QString Path() const { return path_; }
    // Why recording turned off (empty while it is on or was never opened).
    QString FailureReason() const;

    // From any thread; never waits for the database. Dropped while recording is off.
    void Add(RecordEvent event);
    // A download (see RecordFetchEvent).
    void Add(const FetchEvent& fetch, const QByteArray& source = {});
    // An observer for a server that hands its answered requests to this record.
    FetchObserver Observer();

    // Deletes every event (after those queued before the call).
    void Clear();
    // Waits until everything added before the call is committed (or recording is off, or
    // timeoutMs has passed); true when it is.
    bool Flush(int timeoutMs = 5000);

    // Changes after every commit and clearing: a reader compares it to know when to look again.
    quint64 Generation() const { return generation_.load(); }
    // Events dropped because too many were waiting.
    quint64 Dropped() const { return dropped_.load(); }

  private:
    void run(int keepDays);
    void turnOff(const QString& reason);

    QString path_;
    std::unique_ptr<SqliteDb> db_;
    FailureHandler onFailure_;
    mutable std::mutex reasonMutex_;
    QString reason_;
    std::atomic<bool> failureReported_{false};
    std::atomic<bool> on_{false};
    std::atomic<quint64> generation_{0};
    std::atomic<quint64> dropped_{0};

    std::mutex mutex_;
    std::condition_variable wake_;       // the writer
    std::condition_variable committed_;  // Flush
    std::vector<RecordEvent> queue_;
    quint64 added_ = 0;    // events queued so far
    quint64 written_ = 0;  // of those, handled by the writer
    bool clearPending_ = false;
    size_t clearAt_ = 0;  // the clearing comes after this many events of the queue
    bool stop_ = false;
    bool hurry_ = false;
    std::thread writer_;
};
