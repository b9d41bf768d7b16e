#include "record/PhoneBook.h"

#include "record/PhoneKey.h"
#include "record/RecordSchema.h"
#include "record/Sqlite.h"

#include <sqlite3.h>

namespace {

using Kind = RecordEvent::Kind;

// The phones table's column of each slot, in PhoneBook::Slot order.
const char* const kSlotColumns[] = {"batch_id", "told_id",    "fetch_id", "fetched_id",
                                    "model_id", "version_id", "seen_id",  "lease_id"};
const char* const kSlotAlias[] = {"b", "t", "f", "g", "m", "v", "s", "l"};

// Phones held in memory beyond this are let go after a save (a flood of names of no phone).
constexpr int kMaxHeld = 200000;
// A batch event looks back at most this many of its phone's events for a download of its file.
constexpr int kLookBackSteps = 1000;

QByteArray loadSql() {
    QByteArray columns =
        "b.file_size, b.file_inode, b.file_mtime_ns, p.fetched_batch_id, p.last_id";
    QByteArray joins;
    for (int s = 0; s < PhoneBook::kSlots; ++s) {
        columns += QByteArray(", p.") + kSlotColumns[s] + ", " + kSlotAlias[s] + ".time";
        joins += QByteArray(" LEFT JOIN events ") + kSlotAlias[s] + " ON " + kSlotAlias[s] +
                 ".id = p." + kSlotColumns[s];
    }
    return "SELECT " + columns + " FROM phones p" + joins + " WHERE p.phone = ?1";
}

QByteArray saveSql() {
    QByteArray columns = "phone, fetched_batch_id, last_id", values = "?1, ?2, ?3";
    for (int s = 0; s < PhoneBook::kSlots; ++s) {
        columns += QByteArray(", ") + kSlotColumns[s];
        values += ", ?" + QByteArray::number(s + 4);
    }
    return "INSERT OR REPLACE INTO phones (" + columns + ") VALUES (" + values + ")";
}

bool isHead(const RecordEvent& e) {
    return e.method == "HEAD";
}

}  // namespace

struct PhoneBook::Statements {
    explicit Statements(SqliteDb& db)
        : load(db, loadSql().constData()),
          save(db, saveSql().constData()),
          // The last whole download of a file version, of those that can have ended after the
          // file was written.
          // One event of a phone's chain: whether it is a whole download of a file version.
          link(db,
               "SELECT time, previous_id, kind = 'fetch' AND status BETWEEN 200 AND 299 AND "
               "complete = 1 AND coalesce(method, '') <> 'HEAD' AND file_inode = ?2 AND "
               "file_mtime_ns = ?3 FROM events WHERE id = ?1") {}
    SqliteStatement load, save, link;
};

PhoneBook::PhoneBook(SqliteDb& db) : db_(db), q_(std::make_unique<Statements>(db)) {}

PhoneBook::~PhoneBook() = default;

bool PhoneBook::ok() const {
    return q_->load.ok() && q_->save.ok() && q_->link.ok();
}

void PhoneBook::Forget() {
    prepared_ = nullptr;
    phones_.clear();
    readFailed_ = false;
}

PhoneBook::Phone* PhoneBook::find(const QByteArray& phone) {
    auto it = phones_.find(phone);
    if (it != phones_.end())
        return &it.value();
    Phone p;
    SqliteStatement& q = q_->load;
    q.Reset();
    q.Bind(1, phone);
    const int rc = q.Step();
    if (rc == SQLITE_ROW) {
        p.batchSize = q.IsNull(0) ? -1 : q.Int(0);
        p.batchInode = q.IsNull(1) ? 0 : quint64(q.Int(1));
        p.batchMtimeNs = q.Int(2);
        p.fetchedBatch = q.Int(3);
        p.last = q.Int(4);
        for (int s = 0; s < kSlots; ++s) {
            p.latest[size_t(s)].id = q.Int(5 + 2 * s);
            p.latest[size_t(s)].timeMs = q.IsNull(6 + 2 * s) ? 0 : RecordTimeMs(q.Text(6 + 2 * s));
        }
    } else if (rc != SQLITE_DONE) {
        readFailed_ = true;
        return nullptr;
    }
    q.Reset();
    return &phones_.insert(phone, p).value();
}

void PhoneBook::Prepare(RecordEvent& e) {
    if (e.kind == Kind::Fetch) {
        const PhoneFile file = PhoneFileOf(e.path);
        e.phone = file.phone;
        if (file.pin && !e.phone.isEmpty()) {
            const Phone* p = find(e.phone);
            if (!p || p->latest[Batch].id == 0)
                e.phone.clear();
        }
    }
    prepared_ = nullptr;
    if (e.phone.isEmpty())
        return;
    prepared_ = find(e.phone);
    preparedPhone_ = e.phone;
    if (prepared_)
        e.previousId = prepared_->last;
}

bool PhoneBook::agentTells(const QByteArray& userAgent) {
    if (userAgent != agent_) {
        agent_ = userAgent;
        QByteArray model, version;
        agentTells_ = SplitUserAgent(agent_, &model, &version);
    }
    return agentTells_;
}

bool PhoneBook::later(const Latest& a, qint64 id, qint64 timeMs) {
    return a.id == 0 || timeMs > a.timeMs || (timeMs == a.timeMs && id > a.id);
}

bool PhoneBook::move(Phone& p, Slot slot, qint64 id, qint64 timeMs) {
    Latest& latest = p.latest[slot];
    if (!later(latest, id, timeMs))
        return false;
    latest = {id, timeMs};
    p.changed = true;
    return true;
}

bool PhoneBook::delivers(const Phone& p, qint64 id, const RecordEvent& f) const {
    if (f.status < 200 || f.status > 299 || isHead(f) || f.complete == 0)
        return false;
    const Latest& batch = p.latest[Batch];
    if (batch.id == 0)
        return false;
    if (f.fileInode != 0 && p.batchInode != 0)
        return f.fileInode == p.batchInode && f.fileMtimeNs == p.batchMtimeNs;
    // Only the size is known: the download must have ended after the file was written.
    const bool after = f.timeMs > batch.timeMs || (f.timeMs == batch.timeMs && id > batch.id);
    if (p.batchSize >= 0)
        return after && (f.fileSize >= 0 ? f.fileSize : f.bytes) == p.batchSize;
    return after;  // a batch of a record of version 1, which knew no file sizes
}

bool PhoneBook::lookBack(Phone& p, qint64 from) {
    // A download of the new file may have ended before its batch event came: one that
    // delivered this very inode and modification time counts. It is among the phone's events
    // recorded since the file was written, found along their links, the latest first.
    const QByteArray since = RecordTime(p.batchMtimeNs / 1000000 - 1000);
    SqliteStatement& q = q_->link;
    for (int step = 0; from > 0 && step < kLookBackSteps; ++step) {
        q.Reset();
        q.Bind(1, from);
        q.Bind(2, qint64(p.batchInode));
        q.Bind(3, p.batchMtimeNs);
        const int rc = q.Step();
        if (rc == SQLITE_DONE)
            break;
        if (rc != SQLITE_ROW)
            return false;
        const QByteArray time = q.Text(0);
        if (time < since)
            break;
        if (q.Int(2) == 1) {
            p.latest[Fetched] = {from, RecordTimeMs(time)};
            p.fetchedBatch = p.latest[Batch].id;
            break;
        }
        from = q.Int(1);
    }
    q.Reset();
    return true;
}

bool PhoneBook::Take(qint64 id, const RecordEvent& e) {
    if (e.phone.isEmpty())
        return true;
    // The phone Prepare found for this event (nothing was added to the book since).
    Phone* p = prepared_ && preparedPhone_ == e.phone ? prepared_ : find(e.phone);
    prepared_ = nullptr;
    if (!p)
        return false;
    const qint64 t = e.timeMs;
    p->last = id;
    p->changed = true;
    switch (e.kind) {
        case Kind::Batch:
            if (move(*p, Batch, id, t)) {
                p->batchSize = e.fileSize;
                p->batchInode = e.fileInode;
                p->batchMtimeNs = e.fileMtimeNs;
                // A new file: no download has delivered it yet.
                p->latest[Fetched] = {};
                p->fetchedBatch = 0;
                if (p->batchInode != 0 && !lookBack(*p, e.previousId))
                    return false;
            }
            break;
        case Kind::Pnp:
        case Kind::Provision:
        case Kind::Upgrade:
            move(*p, Told, id, t);
            break;
        case Kind::Fetch:
            if (isHead(e))
                break;
            move(*p, Fetch, id, t);
            if (delivers(*p, id, e) && move(*p, Fetched, id, t))
                p->fetchedBatch = p->latest[Batch].id;
            break;
        case Kind::Discovery:
            move(*p, Seen, id, t);
            break;
        case Kind::Refreshed:
            if (e.online == 1)
                move(*p, Seen, id, t);
            break;
        case Kind::Lease:
            move(*p, Seen, id, t);
            move(*p, Lease, id, t);
            break;
        case Kind::Refresh:
            break;
    }
    // A download's model and version are read from its User-Agent when shown.
    const bool fetchTells = e.kind == Kind::Fetch && agentTells(e.userAgent);
    if (!e.model.isEmpty() || fetchTells)
        move(*p, Model, id, t);
    if (!e.version.isEmpty() || fetchTells)
        move(*p, Version, id, t);
    return true;
}

bool PhoneBook::Save() {
    if (readFailed_)
        return false;
    SqliteStatement& q = q_->save;
    for (auto it = phones_.begin(); it != phones_.end(); ++it) {
        Phone& p = it.value();
        if (!p.changed)
            continue;
        q.Reset();
        q.Bind(1, it.key());
        if (p.fetchedBatch)
            q.Bind(2, p.fetchedBatch);
        if (p.last)
            q.Bind(3, p.last);
        for (int s = 0; s < kSlots; ++s)
            if (p.latest[size_t(s)].id)
                q.Bind(s + 4, p.latest[size_t(s)].id);
        if (!q.Run())
            return false;
        p.changed = false;
    }
    if (phones_.size() > kMaxHeld)
        Forget();
    return true;
}
