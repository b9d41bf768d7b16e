#include "record/ProvisioningRecord.h"

#include "record/PhoneBook.h"
#include "record/RecordSchema.h"
#include "record/Sqlite.h"

#include <QDir>
#include <QFileInfo>

#include <sqlite3.h>
#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

// The writer is woken early when this many events wait.
constexpr size_t kWakeCount = 20000;

// The writer thread's statement and the phones' latest events.
class Writer {
  public:
    explicit Writer(SqliteDb& db) : db_(db), book_(db) {
        for (const RecordKindInfo& k : kRecordKinds) {
            if (inserts_.size() <= size_t(k.kind))
                inserts_.resize(size_t(k.kind) + 1);
            inserts_[size_t(k.kind)] = std::make_unique<EventInsert>(db, k.kind);
        }
    }
    bool ok() const {
        for (const auto& insert : inserts_)
            if (!insert || !insert->ok())
                return false;
        return book_.ok();
    }

    // One transaction: the events before clearAt, the clearing, the rest; then each phone's
    // row once.
    bool Write(std::vector<RecordEvent>& events, bool clear, size_t clearAt) {
        if (!db_.Exec("BEGIN IMMEDIATE"))
            return fail();
        // What another program committed since our last transaction makes what we read stale.
        const qint64 dataVersion = db_.QueryInt("PRAGMA data_version", -1);
        if (dataVersion != dataVersion_)
            book_.Forget();
        dataVersion_ = dataVersion;
        bool ok = true;
        for (size_t i = 0; ok && i < events.size(); ++i) {
            if (clear && i == clearAt)
                ok = clearAll();
            ok = ok && insert(events[i]);
        }
        if (ok && clear && clearAt >= events.size())
            ok = clearAll();
        ok = ok && book_.Save();
        if (ok && db_.Exec("COMMIT"))
            return true;
        fail();
        db_.Exec("ROLLBACK");
        book_.Forget();
        return false;
    }
    // Why the last Write failed.
    QString Error() const { return error_; }

  private:
    bool fail() {
        error_ = db_.Error();
        return false;
    }

    bool insert(RecordEvent& e) {
        book_.Prepare(e);
        if (!inserts_[size_t(e.kind)]->Run(e, timeText(e.timeMs)))
            return false;
        return book_.Take(sqlite3_last_insert_rowid(db_.Handle()), e);
    }

    bool clearAll() {
        book_.Forget();
        return db_.Exec("DELETE FROM events; DELETE FROM phones;");
    }

    // The date and time of a second is formed once; the milliseconds are put after it.
    const QByteArray& timeText(qint64 ms) {
        const qint64 second = ms - ((ms % 1000) + 1000) % 1000;
        if (second != lastSecond_) {
            lastSecond_ = second;
            lastText_ = RecordTime(second);
        }
        const int millis = int(ms - second);
        char* digits = lastText_.data() + lastText_.size() - 4;
        digits[0] = char('0' + millis / 100);
        digits[1] = char('0' + millis / 10 % 10);
        digits[2] = char('0' + millis % 10);
        return lastText_;
    }

    SqliteDb& db_;
    // One insert per kind, of the columns it fills.
    std::vector<std::unique_ptr<EventInsert>> inserts_;
    PhoneBook book_;
    QString error_;
    qint64 dataVersion_ = -1;
    qint64 lastSecond_ = -1;
    QByteArray lastText_;
};

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
    const QFileInfo info(path);
    if (info.isDir()) {
        turnOff("it is a folder");
        return false;
    }
    const QString folder = info.absolutePath();
    if (!QDir().mkpath(folder)) {
        turnOff("the folder " + folder + " cannot be made");
        return false;
    }
    QString reason;
    if (info.exists()) {
        // Read before anything is written: a file that is not ours stays as it was.
        SqliteDb check;
        if (!check.Open(path, SqliteMode::ReadOnly)) {
            turnOff(check.Error());
            return false;
        }
        const RecordFileCheck verdict = CheckRecordFile(check);
        if (verdict.verdict == RecordFileCheck::Verdict::Refused) {
            turnOff(verdict.reason);
            return false;
        }
    }
    db_ = std::make_unique<SqliteDb>();
    if (!db_->Open(path, SqliteMode::Create) || !PrepareRecordSchema(*db_, &reason)) {
        turnOff(reason.isEmpty() ? db_->Error() : reason);
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
    Writer writer(*db_);
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

namespace {

QByteArray literal(const char* text) {
    return text ? QByteArray::fromRawData(text, qsizetype(std::strlen(text))) : QByteArray();
}

}  // namespace

void ProvisioningRecord::Add(const FetchEvent& fetch, const QByteArray& source) {
    if (!on_.load(std::memory_order_relaxed))
        return;
    RecordEvent e;
    e.kind = RecordEvent::Kind::Fetch;
    const bool external = fetch.protocol && std::strcmp(fetch.protocol, "external") == 0;
    const qint64 second = qint64(fetch.time) * 1000;
    if (external)
        e.timeMs = second;
    else if (fetch.time <= 0)
        e.timeMs = RecordNowMs();
    else
        e.timeMs = std::clamp(RecordNowMs(), second, second + 999);
    e.address = fetch.peer;
    e.path = fetch.path;
    e.status = fetch.status;
    e.bytes = fetch.bytes;
    e.protocol = literal(fetch.protocol);
    e.method = literal(fetch.method);
    e.complete = external ? -1 : fetch.complete ? 1 : 0;
    e.userAgent = fetch.userAgent;
    e.source = source;
    e.fileSize = fetch.fileSize < 0 ? -1 : fetch.fileSize;
    e.fileInode = fetch.fileSize < 0 ? 0 : fetch.fileInode;
    e.fileMtimeNs = e.fileInode ? fetch.fileMtimeNs : 0;
    Add(std::move(e));
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
