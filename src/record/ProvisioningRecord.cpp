#include "record/ProvisioningRecord.h"

#include "record/PhoneKey.h"
#include "record/RecordSchema.h"
#include "record/Sqlite.h"

#include <QDir>
#include <QFileInfo>

#include <sqlite3.h>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>

namespace {

// The writer is woken early when this many events wait.
constexpr size_t kWakeCount = 5000;

// The columns of the phones table that an event of a kind moves on.
enum PhoneColumn { BatchId, ToldId, FetchId, FetchedId, ModelId, VersionId, kPhoneColumns };

// The writer thread's statements, and the latest event ids of the phones a transaction touched.
class Writer {
  public:
    explicit Writer(SqliteDb& db)
        : db_(db),
          insert_(db,
                  "INSERT INTO events (time, kind, phone, address, path, status, bytes, protocol, "
                  "user_agent, url, format, protection, model, version, online) "
                  "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15)"),
          phone_(
              db,
              "INSERT INTO phones (phone, batch_id, told_id, fetch_id, fetched_id, model_id, "
              "version_id) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7) ON CONFLICT (phone) DO UPDATE SET "
              "batch_id = coalesce(excluded.batch_id, batch_id), "
              "told_id = coalesce(excluded.told_id, told_id), "
              "fetch_id = coalesce(excluded.fetch_id, fetch_id), "
              "fetched_id = coalesce(excluded.fetched_id, fetched_id), "
              "model_id = coalesce(excluded.model_id, model_id), "
              "version_id = coalesce(excluded.version_id, version_id)") {}
    bool ok() const { return insert_.ok() && phone_.ok(); }

    // One transaction: the events before clearAt, the clearing, the rest; then each phone's
    // row once.
    bool Write(const std::vector<RecordEvent>& events, bool clear, size_t clearAt) {
        if (!db_.Exec("BEGIN IMMEDIATE"))
            return fail();
        bool ok = true;
        for (size_t i = 0; ok && i < events.size(); ++i) {
            if (clear && i == clearAt)
                ok = clearAll();
            ok = ok && insert(events[i]);
        }
        if (ok && clear && clearAt >= events.size())
            ok = clearAll();
        for (auto it = touched_.begin(); ok && it != touched_.end(); ++it)
            ok = updatePhone(it->first, it->second);
        touched_.clear();
        if (ok && db_.Exec("COMMIT"))
            return true;
        fail();
        db_.Exec("ROLLBACK");
        return false;
    }
    // Why the last Write failed.
    QString Error() const { return error_; }

  private:
    using Ids = std::array<qint64, kPhoneColumns>;

    bool fail() {
        error_ = db_.Error();
        return false;
    }

    bool insert(const RecordEvent& e) {
        using Kind = RecordEvent::Kind;
        insert_.Reset();
        insert_.Bind(1, timeText(e.time));
        const char* kind = RecordKindName(e.kind);
        insert_.Bind(2, QByteArray::fromRawData(kind, qsizetype(std::strlen(kind))));
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
        const bool sighting = e.kind == Kind::Discovery || e.kind == Kind::Refreshed;
        if (sighting) {
            insert_.Bind(13, e.model);
            insert_.Bind(14, e.version);
            insert_.Bind(15, qint64(e.online));
        }
        if (!insert_.Run())
            return false;
        if (e.phone.isEmpty())
            return true;
        const qint64 id = sqlite3_last_insert_rowid(db_.Handle());
        const auto move = [&](PhoneColumn column) {
            auto it = touched_.find(e.phone);
            if (it == touched_.end())
                it = touched_.emplace(e.phone, Ids{}).first;
            it->second[column] = id;
        };
        if (e.kind == Kind::Batch)
            move(BatchId);
        else if (e.kind == Kind::Pnp || e.kind == Kind::Provision || e.kind == Kind::Upgrade)
            move(ToldId);
        else if (e.kind == Kind::Fetch)
            move(FetchId);
        if (e.kind == Kind::Fetch && e.status < 400)
            move(FetchedId);
        if (sighting && !e.model.isEmpty())
            move(ModelId);
        if (sighting && !e.version.isEmpty())
            move(VersionId);
        return true;
    }

    bool updatePhone(const QByteArray& phone, const Ids& ids) {
        phone_.Reset();
        phone_.Bind(1, phone);
        for (int c = 0; c < kPhoneColumns; ++c)
            if (ids[size_t(c)])
                phone_.Bind(c + 2, ids[size_t(c)]);
        return phone_.Run();
    }

    bool clearAll() {
        touched_.clear();
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
    SqliteStatement phone_;
    std::map<QByteArray, Ids> touched_;
    QString error_;
    std::time_t lastTime_ = -1;
    QByteArray lastText_;
};

// Removes the events older than keepDays days, and makes the phones table anew when it did.
bool prune(SqliteDb& db, int keepDays) {
    if (keepDays <= 0)
        return true;
    const QByteArray cutoff = RecordTime(std::time(nullptr) - std::time_t(keepDays) * 86400);
    if (!db.Exec("BEGIN IMMEDIATE"))
        return false;
    // Events are in time order by id: the first one young enough ends the old ones.
    qint64 keepFrom = -1;
    {
        SqliteStatement first(db, "SELECT id FROM events WHERE time >= ?1 ORDER BY id LIMIT 1");
        first.Bind(1, cutoff);
        const int rc = first.ok() ? first.Step() : SQLITE_ERROR;
        if (rc == SQLITE_ROW)
            keepFrom = first.Int(0);
        bool ok = rc == SQLITE_ROW || rc == SQLITE_DONE;
        if (ok) {
            SqliteStatement remove(
                db, keepFrom < 0 ? "DELETE FROM events" : "DELETE FROM events WHERE id < ?1");
            if (keepFrom >= 0)
                remove.Bind(1, keepFrom);
            ok = remove.ok() && remove.Run();
        }
        ok = ok && (sqlite3_changes(db.Handle()) == 0 || RebuildRecordPhones(db));
        if (!ok) {
            db.Exec("ROLLBACK");  // keeps the failure's words in db.Error()
            return false;
        }
    }
    return db.Exec("COMMIT");
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
    e.protocol = QByteArray::fromRawData(fetch.protocol, qsizetype(std::strlen(fetch.protocol)));
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
