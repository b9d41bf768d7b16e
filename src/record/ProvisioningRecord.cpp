#include "record/ProvisioningRecord.h"

#include "record/RecordSchema.h"
#include "record/RecordWriter.h"
#include "record/Sqlite.h"

#include <sqlite3.h>
#include <chrono>

namespace {

// The writer is woken early when this many events wait.
constexpr size_t kWakeCount = 20000;

// Removes the events older than keepDays days, but for each phone the latest event of each
// kind and every event its row of the phones table names: a phone keeps its state.
bool prune(SqliteDb& db, int keepDays) {
    if (keepDays <= 0)
        return true;
    const QByteArray cutoff = RecordTime(RecordNowMs() - qint64(keepDays) * 86400 * 1000);
    SqliteStatement remove(db,
                           "DELETE FROM events WHERE time < ?1 AND id NOT IN ("
                           "SELECT id FROM (SELECT id, max(time) FROM events WHERE phone <> '' "
                           "GROUP BY phone, kind) "
                           "UNION SELECT kept FROM (SELECT batch_id AS kept FROM phones "
                           "UNION SELECT told_id FROM phones UNION SELECT fetch_id FROM phones "
                           "UNION SELECT fetched_id FROM phones "
                           "UNION SELECT fetched_batch_id FROM phones "
                           "UNION SELECT model_id FROM phones UNION SELECT version_id FROM phones "
                           "UNION SELECT seen_id FROM phones UNION SELECT lease_id FROM phones) "
                           "WHERE kept IS NOT NULL)");
    remove.Bind(1, cutoff);
    if (!db.Exec("BEGIN IMMEDIATE"))
        return false;
    const bool ok = remove.ok() && remove.Run() &&
                    (sqlite3_changes(db.Handle()) == 0 || LinkRecordEvents(db)) &&
                    db.Exec("COMMIT");
    if (!ok)
        db.Exec("ROLLBACK");  // keeps the failure's words in db.Error()
    return ok;
}

}  // namespace

ProvisioningRecord::ProvisioningRecord() = default;

ProvisioningRecord::~ProvisioningRecord() {
    Close();
}

void ProvisioningRecord::SetFailureHandler(FailureHandler handler) {
    onFailure_ = std::move(handler);
}

QString ProvisioningRecord::FailureReason() const {
    std::lock_guard<std::mutex> lock(reasonMutex_);
    return reason_;
}

bool ProvisioningRecord::Open(const QString& path, int keepDays) {
    Close();
    path_ = path;
    failureReported_ = false;
    {
        std::lock_guard<std::mutex> lock(reasonMutex_);
        reason_.clear();
    }
    db_ = std::make_unique<SqliteDb>();
    QString reason;
    if (!OpenRecordForWriting(*db_, path, &reason)) {
        turnOff(reason);
        db_.reset();
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = false;
        queue_.clear();
        // The pruning counts as the first thing to be written: Flush waits for it.
        added_ = 1;
        written_ = 0;
        clearPending_ = false;
    }
    on_ = true;
    writer_ = std::thread([this, keepDays] { run(keepDays); });
    return true;
}

void ProvisioningRecord::Close() {
    if (writer_.joinable()) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_one();
        writer_.join();
    }
    on_ = false;
    db_.reset();
}

void ProvisioningRecord::turnOff(const QString& reason) {
    on_ = false;
    {
        std::lock_guard<std::mutex> lock(reasonMutex_);
        if (reason_.isEmpty())
            reason_ = reason;
    }
    if (!failureReported_.exchange(true) && onFailure_)
        onFailure_(path_, reason);
}

void ProvisioningRecord::run(int keepDays) {
    if (!prune(*db_, keepDays))
        turnOff(db_->Error());
    RecordWriter writer(*db_);
    if (on_ && !writer.ok())
        turnOff(db_->Error());
    std::vector<RecordEvent> batch;
    for (;;) {
        bool clear = false, stopping = false;
        size_t clearAt = 0;
        quint64 target = 0;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait_for(lock, std::chrono::milliseconds(kCommitIntervalMs), [this] {
                return stop_ || hurry_ || clearPending_ || queue_.size() >= kWakeCount;
            });
            batch.swap(queue_);
            clear = clearPending_;
            clearAt = clearAt_;
            clearPending_ = hurry_ = false;
            target = added_;
            stopping = stop_;
        }
        if (on_ && (clear || !batch.empty())) {
            if (writer.Write(batch, clear, clearAt))
                ++generation_;
            else
                turnOff(writer.Error());
        }
        batch.clear();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            written_ = target;
        }
        committed_.notify_all();
        if (stopping)
            break;
    }
}

void ProvisioningRecord::Add(RecordEvent event) {
    if (!on_.load(std::memory_order_relaxed))
        return;
    if (event.timeMs == 0)
        event.timeMs = RecordNowMs();
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.size() >= kMaxQueued) {
        ++dropped_;
        return;
    }
    queue_.push_back(std::move(event));
    ++added_;
    if (queue_.size() == kWakeCount)
        wake_.notify_one();
}

void ProvisioningRecord::Add(const FetchEvent& fetch, const QByteArray& source) {
    if (on_.load(std::memory_order_relaxed))
        Add(RecordFetchEvent(fetch, source));
}

FetchObserver ProvisioningRecord::Observer() {
    return [this](const FetchEvent& fetch) { Add(fetch); };
}

void ProvisioningRecord::Clear() {
    if (!on_)
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        clearPending_ = true;
        clearAt_ = queue_.size();
    }
    wake_.notify_one();
}

bool ProvisioningRecord::Flush(int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    const quint64 target = added_;
    hurry_ = true;
    wake_.notify_one();
    committed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return !on_ || !writer_.joinable() || (written_ >= target && !clearPending_);
    });
    return on_ && written_ >= target && !clearPending_;
}
