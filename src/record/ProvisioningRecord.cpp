#include "record/ProvisioningRecord.h"

#include "record/PhoneKey.h"
#include "record/RecordSchema.h"
#include "record/Sqlite.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <sqlite3.h>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

// The writer is woken early when this many events wait.
constexpr size_t kWakeCount = 5000;

bool addsPhone(RecordEvent::Kind kind) {
    switch (kind) {
        case RecordEvent::Kind::Batch:
        case RecordEvent::Kind::Pnp:
        case RecordEvent::Kind::Provision:
        case RecordEvent::Kind::Upgrade:
        case RecordEvent::Kind::Fetch:
            return true;
        default:
            return false;
    }
}

// The writer thread's statements and the phones it has listed.
class Writer {
  public:
    explicit Writer(SqliteDb& db)
        : db_(db),
          insert_(db,
                  "INSERT INTO events (time, kind, phone, address, path, status, bytes, protocol, "
                  "user_agent, url, format, protection, model, version, online) "
                  "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15)"),
          addPhone_(db, "INSERT OR IGNORE INTO phones (phone) VALUES (?1)") {
        SqliteStatement phones(db, "SELECT phone FROM phones");
        while (phones.ok() && phones.Step() == SQLITE_ROW)
            listed_.insert(phones.Text(0));
    }
    bool ok() const { return insert_.ok() && addPhone_.ok(); }

    // One transaction: the events before clearAt, the clearing, the rest.
    bool Write(const std::vector<RecordEvent>& events, bool clear, size_t clearAt) {
        if (!db_.Exec("BEGIN IMMEDIATE"))
            return false;
        bool ok = true;
        for (size_t i = 0; ok && i < events.size(); ++i) {
            if (clear && i == clearAt)
                ok = clearAll();
            ok = ok && insert(events[i]);
        }
        if (ok && clear && clearAt >= events.size())
            ok = clearAll();
        if (ok && db_.Exec("COMMIT"))
            return true;
        error_ = db_.Error();
        db_.Exec("ROLLBACK");
        listed_.clear();  // may hold phones of the transaction undone
        return false;
    }
    // Why the last Write failed.
    QString Error() const { return error_; }

  private:
    bool insert(const RecordEvent& e) {
        using Kind = RecordEvent::Kind;
        insert_.Reset();
        insert_.Bind(1, timeText(e.time));
        insert_.Bind(2, QByteArray::fromRawData(RecordKindName(e.kind),
                                                qsizetype(std::strlen(RecordKindName(e.kind)))));
        insert_.Bind(3, e.phone);
        insert_.Bind(4, e.address);
        if (e.kind == Kind::Batch || e.kind == Kind::Fetch)
            insert_.Bind(5, e.path);
        if (e.kind == Kind::Fetch) {
            insert_.Bind(6, qint64(e.status));
            insert_.Bind(7, e.bytes);
            insert_.Bind(8, e.protocol);
            insert_.Bind(9, e.userAgent);
        }
        if (e.kind == Kind::Pnp || e.kind == Kind::Provision || e.kind == Kind::Upgrade)
            insert_.Bind(10, e.url);
        if (e.kind == Kind::Batch) {
            insert_.Bind(11, e.format);
            insert_.Bind(12, e.protection);
        }
        if (e.kind == Kind::Discovery || e.kind == Kind::Refreshed) {
            insert_.Bind(13, e.model);
            insert_.Bind(14, e.version);
            insert_.Bind(15, qint64(e.online));
        }
        if (!insert_.Run())
            return false;
        if (e.phone.isEmpty() || !addsPhone(e.kind) || listed_.contains(e.phone))
            return true;
        addPhone_.Reset();
        addPhone_.Bind(1, e.phone);
        if (!addPhone_.Run())
            return false;
        listed_.insert(e.phone);
        return true;
    }

    bool clearAll() {
        listed_.clear();
        return db_.Exec("DELETE FROM events; DELETE FROM phones;");
    }

    // The same second formats once.
    const QByteArray& timeText(std::time_t time) {
        if (time != lastTime_) {
            lastTime_ = time;
            lastText_ = RecordTime(time);
        }
        return lastText_;
    }

    SqliteDb& db_;
    SqliteStatement insert_;
    SqliteStatement addPhone_;
    QSet<QByteArray> listed_;
    QString error_;
    std::time_t lastTime_ = -1;
    QByteArray lastText_;
};

// Removes the events older than keepDays days and the phones left without events.
bool prune(SqliteDb& db, int keepDays) {
    if (keepDays <= 0)
        return true;
    const QByteArray cutoff = RecordTime(std::time(nullptr) - std::time_t(keepDays) * 86400);
    // Events are in time order by id: the first one young enough ends the old ones.
    SqliteStatement first(db, "SELECT id FROM events WHERE time >= ?1 ORDER BY id LIMIT 1");
    if (!first.ok())
        return false;
    first.Bind(1, cutoff);
    const int rc = first.Step();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        return false;
    const qint64 keepFrom = rc == SQLITE_ROW ? first.Int(0) : -1;
    SqliteStatement remove(
        db, keepFrom < 0 ? "DELETE FROM events" : "DELETE FROM events WHERE id < ?1");
    if (!remove.ok())
        return false;
    if (keepFrom >= 0)
        remove.Bind(1, keepFrom);
    if (!remove.Run())
        return false;
    if (sqlite3_changes(db.Handle()) == 0)
        return true;
    return db.Exec(
        "DELETE FROM phones WHERE NOT EXISTS (SELECT 1 FROM events e WHERE e.phone = "
        "phones.phone AND e.kind IN ('batch', 'pnp', 'provision', 'upgrade', 'fetch'))");
}

}  // namespace

const char* RecordKindName(RecordEvent::Kind kind) {
    switch (kind) {
        case RecordEvent::Kind::Batch:
            return "batch";
        case RecordEvent::Kind::Pnp:
            return "pnp";
        case RecordEvent::Kind::Provision:
            return "provision";
        case RecordEvent::Kind::Upgrade:
            return "upgrade";
        case RecordEvent::Kind::Refresh:
            return "refresh";
        case RecordEvent::Kind::Fetch:
            return "fetch";
        case RecordEvent::Kind::Discovery:
            return "discovery";
        case RecordEvent::Kind::Refreshed:
            return "refreshed";
    }
    return "";
}

QByteArray RecordTime(std::time_t time) {
    std::tm t{};
    localtime_r(&time, &t);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return QByteArray(text);
}

ProvisioningRecord::ProvisioningRecord() = default;

ProvisioningRecord::~ProvisioningRecord() {
    Close();
}

void ProvisioningRecord::SetFailureHandler(FailureHandler handler) {
    onFailure_ = std::move(handler);
}

bool ProvisioningRecord::Open(const QString& path, int keepDays) {
    Close();
    path_ = path;
    failureReported_ = false;
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        turnOff("the folder " + folder + " cannot be made");
        return false;
    }
    db_ = std::make_unique<SqliteDb>();
    QString reason;
    if (!db_->Open(path, true) || !PrepareRecordSchema(*db_, &reason)) {
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
    if (event.time == 0)
        event.time = std::time(nullptr);
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

void ProvisioningRecord::Add(const FetchEvent& fetch) {
    RecordEvent e;
    e.kind = RecordEvent::Kind::Fetch;
    e.time = fetch.time;
    e.phone = PhoneOfFile(fetch.path);
    e.address = fetch.peer;
    e.path = fetch.path;
    e.status = fetch.status;
    e.bytes = fetch.bytes;
    e.protocol = fetch.protocol;
    e.userAgent = fetch.userAgent;
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
