#include "accesslog/LogCursorFile.h"

#include "record/ProvisioningRecord.h"
#include "record/Sqlite.h"

#include <sqlite3.h>
#include <ctime>

const char kLogCursorsTable[] = R"sql(
CREATE TABLE IF NOT EXISTS log_cursors (
    digest TEXT PRIMARY KEY,    -- SHA-256 of the log's first line, hexadecimal
    path TEXT NOT NULL,         -- the file read last
    device INTEGER NOT NULL,    -- its device and inode
    inode INTEGER NOT NULL,
    offset INTEGER NOT NULL,    -- bytes of the log's text read: the end of a whole line
    time TEXT NOT NULL          -- when it moved last, UTC
) WITHOUT ROWID;
)sql";

namespace {

// PRAGMA application_id of a cursor file.
constexpr int kCursorFileApplicationId = 0x4F52564C;

QByteArray utcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    gmtime_r(&now, &t);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &t);
    return text;
}

}  // namespace

LogCursorFile::LogCursorFile(EventSink sink) : sink_(std::move(sink)) {}

LogCursorFile::~LogCursorFile() = default;

bool LogCursorFile::Open(const QString& path, QString* error) {
    db_ = std::make_unique<SqliteDb>();
    const auto failed = [&](const QString& why) {
        *error = why;
        db_.reset();
        return false;
    };
    if (!db_->Open(path, SqliteMode::Create) || !db_->Exec("PRAGMA journal_mode = WAL") ||
        !db_->Exec("BEGIN IMMEDIATE"))
        return failed(db_->Error());
    // Under the write lock: another reader of logs may be making the file at the same time.
    const qint64 application = db_->QueryInt("PRAGMA application_id", -1);
    const qint64 objects = db_->QueryInt("SELECT count(*) FROM sqlite_schema", -1);
    if (application < 0 || objects < 0) {
        const QString why = db_->Error();
        db_->Exec("ROLLBACK");
        return failed(why);
    }
    if (objects > 0 && application != kCursorFileApplicationId) {
        db_->Exec("ROLLBACK");
        return failed(QStringLiteral("the file is another program's database"));
    }
    if ((objects == 0 &&
         !db_->Exec(QByteArray(kLogCursorsTable + QByteArray("PRAGMA application_id = ") +
                               QByteArray::number(kCursorFileApplicationId) + ";")
                        .constData())) ||
        !db_->Exec("COMMIT")) {
        const QString why = db_->Error();
        db_->Exec("ROLLBACK");
        return failed(why);
    }
    return true;
}

bool LogCursorFile::Load(const QByteArray& digest, LogCursor* cursor, QString* error) {
    *cursor = LogCursor();
    cursor->digest = digest;
    SqliteStatement query(*db_,
                          "SELECT path, device, inode, offset FROM log_cursors "
                          "WHERE digest = ?1");
    if (!query.ok()) {
        *error = db_->Error();
        return false;
    }
    query.Bind(1, digest);
    const int rc = query.Step();
    if (rc == SQLITE_ROW) {
        cursor->path = query.Text(0);
        cursor->device = quint64(query.Int(1));
        cursor->inode = quint64(query.Int(2));
        cursor->offset = query.Int(3);
        return true;
    }
    if (rc == SQLITE_DONE)
        return true;
    *error = db_->Error();
    return false;
}

LogCursorStore::Result LogCursorFile::Commit(const LogCursor& cursor, qint64 from,
                                             const std::vector<FetchEvent>& events,
                                             QString* error) {
    if (!db_->Exec("BEGIN IMMEDIATE")) {
        *error = db_->Error();
        return Result::Failed;
    }
    const auto failed = [&](QString why) {
        db_->Exec("ROLLBACK");
        *error = std::move(why);
        return Result::Failed;
    };
    LogCursor kept;
    if (!Load(cursor.digest, &kept, error))
        return failed(*error);
    if (kept.offset != from) {
        db_->Exec("ROLLBACK");
        return Result::Conflict;
    }
    if (!events.empty() && !sink_(events, error))
        return failed(*error);
    SqliteStatement update(*db_,
                           "INSERT OR REPLACE INTO log_cursors (digest, path, device, inode, "
                           "offset, time) VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    const QByteArray now = utcNow();
    update.Bind(1, cursor.digest);
    update.Bind(2, cursor.path);
    update.Bind(3, qint64(cursor.device));
    update.Bind(4, qint64(cursor.inode));
    update.Bind(5, cursor.offset);
    update.Bind(6, now);
    if (!update.ok() || !update.Run() || !db_->Exec("COMMIT"))
        return failed(db_->Error());
    return Result::Done;
}

LogCursorFile::EventSink RecordSink(ProvisioningRecord& record) {
    return [&record](const std::vector<FetchEvent>& events, QString* error) {
        for (const FetchEvent& event : events)
            record.Add(event);
        // Flush gives up after its time-out while the writer is still on: wait on.
        while (!record.Flush(5000)) {
            if (!record.IsOn()) {
                *error = QStringLiteral("the record stopped recording");
                return false;
            }
        }
        return true;
    };
}
