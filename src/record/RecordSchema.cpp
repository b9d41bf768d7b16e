#include "record/RecordSchema.h"

#include "record/PhoneBook.h"
#include "record/PhoneKey.h"
#include "record/Sqlite.h"

#include <sqlite3.h>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

using Kind = RecordEvent::Kind;

const std::vector<RecordKindInfo> kRecordKinds = {
    {Kind::Batch, "batch", "LRecKindBatch"},
    {Kind::Pnp, "pnp", "LRecKindPnp"},
    {Kind::Provision, "provision", "LRecKindProvision"},
    {Kind::Upgrade, "upgrade", "LRecKindUpgrade"},
    {Kind::Refresh, "refresh", "LRecKindRefresh"},
    {Kind::Fetch, "fetch", "LRecKindFetch"},
    {Kind::Discovery, "discovery", "LRecKindDiscovery"},
    {Kind::Refreshed, "refreshed", "LRecKindRefreshed"},
    {Kind::Lease, "lease", "LRecKindLease"},
};

const char* RecordKindName(Kind kind) {
    for (const RecordKindInfo& k : kRecordKinds)
        if (k.kind == kind)
            return k.name;
    return "";
}

const char* RecordKindKey(Kind kind) {
    for (const RecordKindInfo& k : kRecordKinds)
        if (k.kind == kind)
            return k.textKey;
    return "";
}

bool RecordKindOf(const QByteArray& name, Kind* kind) {
    for (const RecordKindInfo& k : kRecordKinds)
        if (name == k.name) {
            *kind = k.kind;
            return true;
        }
    return false;
}

namespace {

QByteArray literal(const char* text) {
    return text ? QByteArray::fromRawData(text, qsizetype(std::strlen(text))) : QByteArray();
}

}  // namespace

RecordEvent RecordFetchEvent(const FetchEvent& fetch, const QByteArray& source) {
    RecordEvent e;
    e.kind = Kind::Fetch;
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
    return e;
}

RecordEvent RecordLeaseEvent(const QByteArray& mac, const QByteArray& address,
                             const QByteArray& hostName, const QByteArray& vendorClass,
                             qint64 leaseEndMs) {
    RecordEvent e;
    e.kind = Kind::Lease;
    e.phone = PhoneOfMac(mac);
    e.address = address;
    e.hostName = hostName;
    e.vendorClass = vendorClass;
    e.leaseEndMs = leaseEndMs;
    return e;
}

// ---- Times ----

qint64 RecordNowMs() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

QByteArray RecordTime(qint64 ms) {
    std::time_t seconds = std::time_t(ms / 1000);
    int millis = int(ms % 1000);
    if (millis < 0) {
        millis += 1000;
        --seconds;
    }
    std::tm t{};
    gmtime_r(&seconds, &t);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, millis);
    return QByteArray(text);
}

qint64 RecordTimeMs(const QByteArray& text) {
    // YYYY-MM-DDTHH:MM:SS.mmmZ, exactly as RecordTime writes it.
    static const char kForm[] = "dddd-dd-ddTdd:dd:dd.dddZ";
    if (text.size() != qsizetype(sizeof kForm - 1))
        return -1;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (kForm[i] == 'd' ? (c < '0' || c > '9') : c != kForm[i])
            return -1;
    }
    const auto num = [&](int at, int n) { return text.mid(at, n).toInt(); };
    std::tm t{};
    t.tm_year = num(0, 4) - 1900;
    t.tm_mon = num(5, 2) - 1;
    t.tm_mday = num(8, 2);
    t.tm_hour = num(11, 2);
    t.tm_min = num(14, 2);
    t.tm_sec = num(17, 2);
    if (t.tm_mon > 11 || t.tm_mday < 1 || t.tm_mday > 31 || t.tm_hour > 23 || t.tm_min > 59 ||
        t.tm_sec > 60)
        return -1;
    return qint64(timegm(&t)) * 1000 + num(20, 3);
}

// ---- Columns ----

namespace {

constexpr RecordKindSet kAll = ~0u;
constexpr RecordKindSet kTold =
    KindBit(Kind::Pnp) | KindBit(Kind::Provision) | KindBit(Kind::Upgrade);
constexpr RecordKindSet kFetch = KindBit(Kind::Fetch);
constexpr RecordKindSet kBatch = KindBit(Kind::Batch);
constexpr RecordKindSet kFile = kBatch | kFetch;
constexpr RecordKindSet kSighting = KindBit(Kind::Discovery) | KindBit(Kind::Refreshed);
constexpr RecordKindSet kLease = KindBit(Kind::Lease);
constexpr RecordKindSet kModel = kSighting | KindBit(Kind::Pnp);

using Q = SqliteStatement;
using E = RecordEvent;

// Each binder binds its parameter, NULL for a field that holds nothing. Text fields: NULL when
// empty.
template <QByteArray E::*F>
void bindText(Q& q, int i, const E& e) {
    if (!(e.*F).isEmpty())
        q.Bind(i, e.*F);
    else
        q.BindNull(i);
}
template <QByteArray E::*F>
void readText(const Q& q, int c, E& e) {
    e.*F = q.Text(c);
}
// Always-there fields ('' when empty).
template <QByteArray E::*F>
void bindAlways(Q& q, int i, const E& e) {
    q.Bind(i, e.*F);
}
// Numbers: NULL when the field holds its "none" value.
template <typename T, T E::*F, long long None>
void bindNumber(Q& q, int i, const E& e) {
    if (e.*F != T(None))
        q.Bind(i, qint64(e.*F));
    else
        q.BindNull(i);
}
template <typename T, T E::*F, long long None>
void readNumber(const Q& q, int c, E& e) {
    e.*F = q.IsNull(c) ? T(None) : T(q.Int(c));
}
// Numbers always there for the kinds that have them.
template <typename T, T E::*F>
void bindCount(Q& q, int i, const E& e) {
    q.Bind(i, qint64(e.*F));
}
template <typename T, T E::*F>
void readCount(const Q& q, int c, E& e) {
    e.*F = T(q.Int(c));
}
void bindNothing(Q&, int, const E&) {}
void readNothing(const Q&, int, E&) {}
void bindMtime(Q& q, int i, const E& e) {
    if (e.fileInode != 0)
        q.Bind(i, e.fileMtimeNs);
    else
        q.BindNull(i);
}
void bindLeaseEnd(Q& q, int i, const E& e) {
    if (e.leaseEndMs != 0)
        q.BindCopy(i, RecordTime(e.leaseEndMs));
    else
        q.BindNull(i);
}
void readLeaseEnd(const Q& q, int c, E& e) {
    e.leaseEndMs = q.IsNull(c) ? 0 : RecordTimeMs(q.Text(c));
}

#define TEXT_FIELD(f) bindText<&E::f>, readText<&E::f>

}  // namespace

// The first two, time and kind, are bound by EventInsert itself. Version 1 made the first
// sixteen; the order is the table's (a migration appends).
const std::vector<EventColumn> kEventColumns = {
    {"time", "TEXT NOT NULL", 1, kAll, bindNothing, readNothing},
    {"kind", "TEXT NOT NULL", 1, kAll, bindNothing, readNothing},
    {"phone", "TEXT NOT NULL DEFAULT ''", 1, kAll, bindAlways<&E::phone>, readText<&E::phone>},
    {"address", "TEXT NOT NULL DEFAULT ''", 1, kAll, bindAlways<&E::address>,
     readText<&E::address>},
    {"path", "TEXT", 1, kFile, TEXT_FIELD(path)},
    {"status", "INTEGER", 1, kFetch, bindCount<int, &E::status>, readCount<int, &E::status>},
    {"bytes", "INTEGER", 1, kFetch, bindCount<qint64, &E::bytes>, readCount<qint64, &E::bytes>},
    {"protocol", "TEXT", 1, kFetch, TEXT_FIELD(protocol)},
    {"user_agent", "TEXT", 1, kFetch, TEXT_FIELD(userAgent)},
    {"url", "TEXT", 1, kTold, TEXT_FIELD(url)},
    {"format", "TEXT", 1, kBatch, TEXT_FIELD(format)},
    {"protection", "TEXT", 1, kBatch, TEXT_FIELD(protection)},
    {"model", "TEXT", 1, kModel, TEXT_FIELD(model)},
    {"version", "TEXT", 1, kModel, TEXT_FIELD(version)},
    {"online", "INTEGER", 1, kSighting, bindNumber<int, &E::online, -1>,
     readNumber<int, &E::online, -1>},
    {"method", "TEXT", 2, kFetch, TEXT_FIELD(method)},
    {"complete", "INTEGER", 2, kFetch, bindNumber<int, &E::complete, -1>,
     readNumber<int, &E::complete, -1>},
    {"source", "TEXT", 2, kFetch, TEXT_FIELD(source)},
    {"digest", "TEXT", 2, kBatch, TEXT_FIELD(digest)},
    {"file_size", "INTEGER", 2, kFile, bindNumber<qint64, &E::fileSize, -1>,
     readNumber<qint64, &E::fileSize, -1>},
    {"file_inode", "INTEGER", 2, kFile, bindNumber<quint64, &E::fileInode, 0>,
     readNumber<quint64, &E::fileInode, 0>},
    {"file_mtime_ns", "INTEGER", 2, kFile, bindMtime, readNumber<qint64, &E::fileMtimeNs, 0>},
    {"host_name", "TEXT", 2, kLease, TEXT_FIELD(hostName)},
    {"vendor_class", "TEXT", 2, kLease, TEXT_FIELD(vendorClass)},
    {"lease_end", "TEXT", 2, kLease, bindLeaseEnd, readLeaseEnd},
    {"previous_id", "INTEGER", 2, kAll, bindNumber<qint64, &E::previousId, 0>,
     readNumber<qint64, &E::previousId, 0>},
};

#undef TEXT_FIELD

EventInsert::EventInsert(SqliteDb& db, Kind kind) : kind_(RecordKindName(kind)) {
    QByteArray names = "time, kind", values = "?1, ?2";
    for (size_t i = 2; i < kEventColumns.size(); ++i) {
        if (!(kEventColumns[i].kinds & KindBit(kind)))
            continue;
        columns_.push_back(&kEventColumns[i]);
        names += QByteArray(", ") + kEventColumns[i].name;
        values += ", ?" + QByteArray::number(qulonglong(columns_.size() + 2));
    }
    insert_ = std::make_unique<SqliteStatement>(
        db, QByteArray("INSERT INTO events (" + names + ") VALUES (" + values + ")").constData());
}

EventInsert::~EventInsert() = default;

bool EventInsert::ok() const {
    return insert_->ok();
}

bool EventInsert::Run(const RecordEvent& e, const QByteArray& timeText) {
    // Every parameter is bound anew: no clearing of the ones before.
    insert_->Restart();
    insert_->Bind(1, timeText);
    insert_->Bind(2, kind_);
    int index = 2;
    for (const EventColumn* column : columns_)
        column->bind(*insert_, ++index, e);
    return insert_->Run();
}

QByteArray EventSelectSql() {
    QByteArray sql = "SELECT id";
    for (const EventColumn& c : kEventColumns)
        sql += QByteArray(", ") + c.name;
    return sql + " FROM events";
}

RecordEvent ReadEventRow(const SqliteStatement& q, qint64* id, QByteArray* timeText) {
    RecordEvent e;
    *id = q.Int(0);
    *timeText = q.Text(1);
    e.timeMs = RecordTimeMs(*timeText);
    RecordKindOf(q.Text(2), &e.kind);
    for (size_t i = 2; i < kEventColumns.size(); ++i)
        kEventColumns[i].read(q, int(i + 1), e);
    if (e.kind == Kind::Fetch)
        SplitUserAgent(e.userAgent, &e.model, &e.version);
    return e;
}

// ---- The tables ----

namespace {

// The phones table and the views, as the current version has them. A migration drops the
// views and the phones table and makes them anew.
const char kPhonesAndViews[] = R"sql(
-- The latest event of each sort per phone (by time, then id), kept by the writer with every
-- commit: see PhoneBook.
CREATE TABLE phones (
    phone TEXT PRIMARY KEY,
    batch_id INTEGER,          -- the last batch file written
    told_id INTEGER,           -- the last pnp, provision or upgrade
    fetch_id INTEGER,          -- the last request for its file (HEAD aside)
    fetched_id INTEGER,        -- the last download that delivered its latest batch file
    fetched_batch_id INTEGER,  -- that batch file's event (batch_id while it is the latest)
    model_id INTEGER,          -- the last event that told a model
    version_id INTEGER,        -- the last event that told a version
    seen_id INTEGER,           -- the last discovery answer, answered online check or lease
    lease_id INTEGER,          -- the last lease
    last_id INTEGER            -- the last event recorded: its previous_id leads to the others
) WITHOUT ROWID;

CREATE VIEW fetches AS
    SELECT time, protocol, method, address AS peer, path, status, bytes, complete, user_agent,
           phone, file_size, file_inode, file_mtime_ns, source
    FROM events WHERE kind = 'fetch';
CREATE VIEW batch_files AS
    SELECT time, path, phone, format, protection, file_size, digest, file_inode, file_mtime_ns
    FROM events WHERE kind = 'batch';
CREATE VIEW commands AS
    SELECT time, kind, address, phone, url, model, version
    FROM events WHERE kind IN ('pnp', 'provision', 'upgrade', 'refresh');
CREATE VIEW sightings AS
    SELECT time, kind, address, phone, model, version, online
    FROM events WHERE kind IN ('discovery', 'refreshed');
CREATE VIEW leases AS
    SELECT time, phone, address, host_name, vendor_class, lease_end
    FROM events WHERE kind = 'lease';

CREATE VIEW phone_status AS
    SELECT k.phone,
        CASE
            WHEN k.batch_id IS NULL AND k.fetch_id IS NOT NULL THEN 'unknown phone'
            WHEN k.batch_id IS NULL AND k.told_id IS NOT NULL THEN 'told'
            WHEN k.batch_id IS NULL THEN 'seen'
            WHEN k.fetched_batch_id = k.batch_id THEN 'fetched'
            WHEN (f.time, f.id) > (b.time, b.id) THEN 'failed'
            WHEN (t.time, t.id) > (b.time, b.id) THEN 'told'
            ELSE 'file ready'
        END AS state,
        b.time AS file_time, b.path AS file_path, b.file_size AS file_size,
        t.time AS told_time, t.kind AS told_by, t.address AS told_address,
        f.time AS fetch_time, f.status AS fetch_status, f.bytes AS fetch_bytes,
        f.complete AS fetch_complete, f.protocol AS fetch_protocol, f.method AS fetch_method,
        f.source AS fetch_source, f.user_agent AS fetch_user_agent, f.address AS fetch_peer,
        CASE WHEN m.kind = 'fetch' THEN rtrim(rtrim(trim(m.user_agent, ' '),
                 replace(trim(m.user_agent, ' '), ' ', '')), ' ') ELSE m.model END AS model,
        CASE WHEN v.kind = 'fetch' THEN substr(trim(v.user_agent, ' '), length(rtrim(
                 trim(v.user_agent, ' '), replace(trim(v.user_agent, ' '), ' ', ''))) + 1)
             ELSE v.version END AS version,
        s.time AS seen_time, s.kind AS seen_by, s.address AS seen_address,
        l.host_name AS host_name, l.lease_end AS lease_end
    FROM phones k
    LEFT JOIN events b ON b.id = k.batch_id
    LEFT JOIN events t ON t.id = k.told_id
    LEFT JOIN events f ON f.id = k.fetch_id
    LEFT JOIN events m ON m.id = k.model_id
    LEFT JOIN events v ON v.id = k.version_id
    LEFT JOIN events s ON s.id = k.seen_id
    LEFT JOIN events l ON l.id = k.lease_id
    WHERE k.batch_id IS NOT NULL OR k.told_id IS NOT NULL OR k.fetch_id IS NOT NULL
       OR k.seen_id IS NOT NULL;
)sql";

// How far each access log was read into the record (see LogCursor): one row per log, known by
// the digest of its first line. An importer moves a row in the transaction that inserts the
// events of the lines it read. Made by every step that takes a file to this version (a record
// made before the table was there gets it when opened); kept by pruning and clearing, which
// remove events, not what was read.
const char kLogCursors[] = R"sql(
CREATE TABLE IF NOT EXISTS log_cursors (
    digest TEXT PRIMARY KEY,    -- SHA-256 of the log's first line, hexadecimal
    path TEXT NOT NULL,         -- the file read last
    device INTEGER NOT NULL,    -- its device and inode
    inode INTEGER NOT NULL,
    offset INTEGER NOT NULL,    -- bytes of the log's text read: the end of a whole line
    time TEXT NOT NULL          -- when it moved last, UTC
) WITHOUT ROWID;
)sql";

// Links each phone's events, each to the one recorded before it (previous_id) and the phones
// table's last_id to the latest: one phone's events are found without a pass over the others
// and without an index, whose upkeep would cost every insert (events of many phones at once
// land all over it). After events were deleted (pruning) or a migration the links are made
// anew.
const char kLinkEvents[] = R"sql(
UPDATE events SET previous_id = l.previous
    FROM (SELECT id, lag(id) OVER (PARTITION BY phone ORDER BY id) AS previous
          FROM events WHERE phone <> '') AS l
    WHERE events.id = l.id AND events.previous_id IS NOT l.previous;
UPDATE phones SET last_id = h.last
    FROM (SELECT phone, max(id) AS last FROM events WHERE phone <> '' GROUP BY phone) AS h
    WHERE phones.phone = h.phone;
)sql";

const char kDropViews[] =
    "DROP VIEW IF EXISTS fetches; DROP VIEW IF EXISTS batch_files; "
    "DROP VIEW IF EXISTS commands; DROP VIEW IF EXISTS sightings; DROP VIEW IF EXISTS leases; "
    "DROP VIEW IF EXISTS phone_status; DROP TABLE IF EXISTS phones;";

QByteArray createEvents() {
    QByteArray sql = "CREATE TABLE events (\n    id INTEGER PRIMARY KEY";
    for (const EventColumn& c : kEventColumns)
        sql += QByteArray(",\n    ") + c.name + " " + c.declaration;
    return sql + "\n);";
}

bool fail(SqliteDb& db, QString* reason) {
    *reason = db.Error();
    return false;
}

// Makes the phones table anew from every event, in the order they happened, and sets the phone
// of each download by today's rules.
bool replay(SqliteDb& db) {
    PhoneBook book(db);
    SqliteStatement all(db, (EventSelectSql() + " ORDER BY time, id").constData());
    SqliteStatement update(db,
                           "UPDATE events SET phone = ?2, model = ?3, version = ?4 WHERE id = ?1");
    if (!book.ok() || !all.ok() || !update.ok())
        return false;
    // The sorted rows are made before the first comes back: the updates do not disturb them.
    int rc;
    while ((rc = all.Step()) == SQLITE_ROW) {
        qint64 id = 0;
        QByteArray time;
        RecordEvent e = ReadEventRow(all, &id, &time);
        if (e.timeMs < 0)
            continue;  // a time no program of ours wrote
        const QByteArray phone = e.phone;
        book.Prepare(e);
        if (e.phone != phone) {
            update.Reset();
            update.Bind(1, id);
            update.Bind(2, e.phone);
            if (!update.Run())
                return false;
        }
        if (!book.Take(id, e))
            return false;
    }
    return rc == SQLITE_DONE && book.Save();
}

// Version 1 to 2: the columns of version 2, times in UTC (version 1 wrote local time without a
// zone: taken as this machine's), downloads of no phone's file without a phone.
bool migrateFrom1(SqliteDb& db) {
    for (const EventColumn& c : kEventColumns)
        if (c.since == 2 &&
            !db.Exec(QByteArray("ALTER TABLE events ADD COLUMN ") + c.name + " " + c.declaration))
            return false;
    return db.Exec(
        "UPDATE events SET time = strftime('%Y-%m-%dT%H:%M:%fZ', time, 'utc') "
        "WHERE time NOT LIKE '%Z'");
}

}  // namespace

RecordFileCheck CheckRecordFile(SqliteDb& db) {
    RecordFileCheck check;
    // The first read of the file: a file that is no database fails here.
    const qint64 application = db.QueryInt("PRAGMA application_id", -1);
    const qint64 version = application < 0 ? -1 : db.QueryInt("PRAGMA user_version", -1);
    const qint64 objects = version < 0 ? -1 : db.QueryInt("SELECT count(*) FROM sqlite_schema", -1);
    if (objects < 0) {
        check.reason = db.Error();
        return check;
    }
    check.version = int(version);
    if (objects == 0 && (application == 0 || application == kRecordApplicationId)) {
        check.verdict = RecordFileCheck::Verdict::Empty;
        return check;
    }
    if (application != kRecordApplicationId) {
        check.reason = "the file is another program's database";
        return check;
    }
    if (version > kRecordSchemaVersion) {
        check.reason =
            QString("the record was written by a newer program (version %1)").arg(version);
        return check;
    }
    if (version < 1) {
        check.reason = "the record holds no version";
        return check;
    }
    check.verdict = version == kRecordSchemaVersion ? RecordFileCheck::Verdict::Current
                                                    : RecordFileCheck::Verdict::Older;
    return check;
}

bool LinkRecordEvents(SqliteDb& db) {
    return db.Exec(kLinkEvents);
}

bool PrepareRecordSchema(SqliteDb& db, QString* reason, bool inMemory) {
    if (!inMemory && !db.Exec("PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL;"))
        return fail(db, reason);
    if (!db.Exec("BEGIN IMMEDIATE"))
        return fail(db, reason);
    // Checked again under the write lock: another program may have made or migrated it since.
    const RecordFileCheck check = CheckRecordFile(db);
    bool ok = true;
    switch (check.verdict) {
        case RecordFileCheck::Verdict::Refused:
            db.Exec("ROLLBACK");
            *reason = check.reason;
            return false;
        case RecordFileCheck::Verdict::Current:
            if (db.Exec(kLogCursors) && db.Exec("COMMIT"))
                return true;
            *reason = db.Error();
            db.Exec("ROLLBACK");
            return false;
        case RecordFileCheck::Verdict::Empty:
            ok = db.Exec(createEvents().constData()) && db.Exec(kPhonesAndViews) &&
                 db.Exec(kLogCursors);
            break;
        case RecordFileCheck::Verdict::Older:
            // One step per version, each taking the record to the next.
            ok = (check.version > 1 || migrateFrom1(db)) && db.Exec(kDropViews) &&
                 db.Exec(kPhonesAndViews) && replay(db) && LinkRecordEvents(db) &&
                 db.Exec(kLogCursors);
            break;
    }
    ok = ok &&
         db.Exec(QByteArray("PRAGMA application_id = " + QByteArray::number(kRecordApplicationId) +
                            "; PRAGMA user_version = " + QByteArray::number(kRecordSchemaVersion))
                     .constData()) &&
         db.Exec("COMMIT");
    if (!ok) {
        const QString error = db.Error();
        db.Exec("ROLLBACK");
        *reason = error;
    }
    return ok;
}
