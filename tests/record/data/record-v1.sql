-- A provisioning record of version 1, as the program of that version made it: its schema and
-- PRAGMAs, events as its writer inserted them (local time without a zone; a download's phone
-- by the rules of then) and its phones table as its pruning made it anew.
PRAGMA journal_mode = WAL;
BEGIN;
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
PRAGMA application_id = 1330796111;
PRAGMA user_version = 1;
INSERT INTO events (time, kind, phone, address, path, format, protection) VALUES
    ('2026-11-30T13:59:59', 'batch', '0a1b2c000004', '', 'cfg/cfg0a1b2c000004', 'bin', 'plain'),
    ('2026-11-30T14:00:00', 'batch', '0a1b2c000001', '', 'cfg/cfg0a1b2c000001', 'bin', 'plain'),
    ('2026-11-30T14:00:00', 'batch', '0a1b2c000002', '', 'cfg/cfg0a1b2c000002', 'bin', 'plain'),
    ('2026-11-30T14:00:00', 'batch', '0a1b2c000003', '', 'cfg/cfg0a1b2c000003', 'bin', 'plain');
INSERT INTO events (time, kind, phone, address, path, status, bytes, protocol, user_agent) VALUES
    ('2026-11-30T14:00:01', 'fetch', '0a1b2c000004', '10.0.0.24', 'cfg/cfg0a1b2c000004', 200, 729, 'http', 'Orvo X100 2.0.4.4');
INSERT INTO events (time, kind, phone, address, path, format, protection) VALUES
    ('2026-11-30T14:00:02', 'batch', '0a1b2c000004', '', 'cfg/cfg0a1b2c000004', 'bin', 'plain'),
    ('2026-11-30T14:00:03', 'batch', '0a1b2c000005', '', 'cfg/cfg0a1b2c000005', 'xml', 'encrypted');
INSERT INTO events (time, kind, phone, address, path, status, bytes, protocol, user_agent) VALUES
    ('2026-11-30T14:00:03', 'fetch', '0a1b2c000005', '10.0.0.25', 'cfg/cfg0a1b2c000005.xml', 200, 1024, 'tftp', '');
INSERT INTO events (time, kind, phone, address, url) VALUES
    ('2026-11-30T14:00:05', 'pnp', '0a1b2c000001', '10.0.0.21', 'http://10.0.0.1:6000/cfg');
INSERT INTO events (time, kind, phone, address, path, status, bytes, protocol, user_agent) VALUES
    ('2026-11-30T14:00:06', 'fetch', '0a1b2c000001', '10.0.0.21', 'cfg/cfg0a1b2c000001', 200, 729, 'http', 'Orvo X100 2.0.4.4'),
    ('2026-11-30T14:00:07', 'fetch', '0a1b2c000002', '10.0.0.22', 'cfg/cfg0a1b2c000002.xml', 404, 15, 'http', 'Orvo X100 2.0.4.4'),
    ('2026-11-30T14:00:08', 'fetch', '0a1b2c0000ff', '10.0.0.99', 'cfg/cfg0a1b2c0000ff', 404, 15, 'http', 'Orvo X200 3.1'),
    ('2026-11-30T14:00:09', 'fetch', 'firmware', '10.0.0.21', 'fw/firmware.xml', 200, 5000, 'http', 'Orvo X100 2.0.4.4');
INSERT INTO events (time, kind, phone, address, model, version, online) VALUES
    ('2026-11-30T14:01:00', 'discovery', '0a1b2c000001', '10.0.0.21', 'Orvo X100', '2.0.4.4', 1);
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
COMMIT;
