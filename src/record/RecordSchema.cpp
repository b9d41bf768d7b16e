#include "record/RecordSchema.h"

#include "record/Sqlite.h"

namespace {

// Version 1. Every event is one row of events; the views show each kind with its own columns.
// events has no index but its ids: inserts stay appends however many phones download at once.
const char kSchemaV1[] = R"sql(
CREATE TABLE events (
    id INTEGER PRIMARY KEY,
    time TEXT NOT NULL,
    kind TEXT NOT NULL,
    phone TEXT NOT NULL DEFAULT '',
    address TEXT NOT NULL DEFAULT '',
    path TEXT,
    status INTEGER,
    bytes INTEGER,
    protocol TEXT,
    user_agent TEXT,
    url TEXT,
    format TEXT,
    protection TEXT,
    model TEXT,
    version TEXT,
    online INTEGER
);
-- The latest event of each kind per phone, kept by the writer with every commit.
CREATE TABLE phones (
    phone TEXT PRIMARY KEY,
    batch_id INTEGER,    -- the last batch file written
    told_id INTEGER,     -- the last pnp, provision or upgrade
    fetch_id INTEGER,    -- the last request for its file
    fetched_id INTEGER,  -- the last request answered below 400
    model_id INTEGER,    -- the last sighting with a model
    version_id INTEGER   -- the last sighting with a version
) WITHOUT ROWID;

CREATE VIEW fetches AS
    SELECT time, protocol, address AS peer, path, status, bytes, user_agent, phone
    FROM events WHERE kind = 'fetch';
CREATE VIEW batch_files AS
    SELECT time, path, phone, format, protection FROM events WHERE kind = 'batch';
CREATE VIEW commands AS
    SELECT time, kind, address, phone, url
    FROM events WHERE kind IN ('pnp', 'provision', 'upgrade', 'refresh');
CREATE VIEW sightings AS
    SELECT time, kind, address, phone, model, version, online
    FROM events WHERE kind IN ('discovery', 'refreshed');

CREATE VIEW phone_status AS
    SELECT k.phone,
        CASE
            WHEN k.batch_id IS NULL AND k.fetch_id IS NOT NULL THEN 'unknown phone'
            WHEN k.fetched_id > coalesce(k.batch_id, 0) THEN 'fetched'
            WHEN k.fetch_id > coalesce(k.batch_id, 0) THEN 'failed'
            WHEN k.told_id > coalesce(k.batch_id, 0) OR k.batch_id IS NULL THEN 'told'
            ELSE 'file ready'
        END AS state,
        b.time AS file_time, b.path AS file_path,
        t.time AS told_time, t.kind AS told_by, t.address AS told_address,
        f.time AS fetch_time, f.status AS fetch_status, f.bytes AS fetch_bytes,
        f.protocol AS fetch_protocol, f.user_agent AS fetch_user_agent, f.address AS fetch_peer,
        m.model AS model, v.version AS version
    FROM phones k
    LEFT JOIN events b ON b.id = k.batch_id
    LEFT JOIN events t ON t.id = k.told_id
    LEFT JOIN events f ON f.id = k.fetch_id
    LEFT JOIN events m ON m.id = k.model_id
    LEFT JOIN events v ON v.id = k.version_id
    WHERE k.batch_id IS NOT NULL OR k.told_id IS NOT NULL OR k.fetch_id IS NOT NULL;
)sql";

const char kRebuildPhones[] = R"sql(
DELETE FROM phones;
INSERT INTO phones (phone, batch_id, told_id, fetch_id, fetched_id, model_id, version_id)
    SELECT phone,
        max(CASE WHEN kind = 'batch' THEN id END),
        max(CASE WHEN kind IN ('pnp', 'provision', 'upgrade') THEN id END),
        max(CASE WHEN kind = 'fetch' THEN id END),
        max(CASE WHEN kind = 'fetch' AND status < 400 THEN id END),
        max(CASE WHEN kind IN ('discovery', 'refreshed') AND model <> '' THEN id END),
        max(CASE WHEN kind IN ('discovery', 'refreshed') AND version <> '' THEN id END)
    FROM events WHERE phone <> '' GROUP BY phone;
)sql";

bool fail(SqliteDb& db, QString* reason) {
    *reason = db.Error();
    return false;
}

}  // namespace

bool PrepareRecordSchema(SqliteDb& db, QString* reason) {
    // The first read of the file: a file that is no database fails here.
    if (!db.Exec("PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL;"))
        return fail(db, reason);
    const qint64 version = db.QueryInt("PRAGMA user_version", -1);
    const qint64 application = db.QueryInt("PRAGMA application_id", -1);
    const qint64 objects = db.QueryInt("SELECT count(*) FROM sqlite_schema", -1);
    if (version < 0 || application < 0 || objects < 0)
        return fail(db, reason);
    if (objects > 0 && application != kRecordApplicationId) {
        *reason = "the file is another program's database";
        return false;
    }
    if (version > kRecordSchemaVersion) {
        *reason = QString("the record was written by a newer program (version %1)").arg(version);
        return false;
    }
    if (version == kRecordSchemaVersion)
        return true;
    if (!db.Exec("BEGIN IMMEDIATE"))
        return fail(db, reason);
    // An empty file gets the whole schema. A later version adds here the steps that take an
    // older record from its version to the next, one after the other.
    const bool ok =
        db.Exec(kSchemaV1) &&
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

bool RebuildRecordPhones(SqliteDb& db) {
    return db.Exec(kRebuildPhones);
}
