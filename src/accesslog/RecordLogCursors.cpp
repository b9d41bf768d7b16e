#include "accesslog/RecordLogCursors.h"

#include "record/RecordWriter.h"
#include "record/Sqlite.h"

#include <sqlite3.h>

RecordLogCursors::RecordLogCursors() = default;

// The statements and the writer go before their connection (declared after it).
RecordLogCursors::~RecordLogCursors() = default;

void RecordLogCursors::close() {
    load_.reset();
    save_.reset();
    writer_.reset();
    db_.reset();
}

bool RecordLogCursors::Open(const QString& recordPath, QString* error) {
    close();
    db_ = std::make_unique<SqliteDb>();
    if (!OpenRecordForWriting(*db_, recordPath, error)) {
        close();
        return false;
    }
    writer_ = std::make_unique<RecordWriter>(*db_);
    load_ = std::make_unique<SqliteStatement>(
        *db_, "SELECT path, device, inode, offset FROM log_cursors WHERE digest = ?1");
    save_ = std::make_unique<SqliteStatement>(
        *db_,
        "INSERT OR REPLACE INTO log_cursors (digest, path, device, inode, offset, time) "
        "VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    if (writer_->ok() && load_->ok() && save_->ok())
        return true;
    *error = db_->Error();
    close();
    return false;
}

bool RecordLogCursors::load(const QByteArray& digest, LogCursor* cursor, QString* error) {
    *cursor = LogCursor();
    cursor->digest = digest;
    if (!db_) {
        *error = QStringLiteral("the record is not open");
        return false;
    }
    load_->Reset();
    load_->Bind(1, digest);
    const int rc = load_->Step();
    if (rc == SQLITE_ROW) {
        cursor->path = load_->Text(0);
        cursor->device = quint64(load_->Int(1));
        cursor->inode = quint64(load_->Int(2));
        cursor->offset = load_->Int(3);
    }
    load_->Reset();
    if (rc == SQLITE_ROW || rc == SQLITE_DONE)
        return true;
    *error = db_->Error();
    return false;
}

LogCursorStore::Result RecordLogCursors::commit(const LogCursor& cursor, qint64 from,
                                                const std::vector<FetchEvent>& events,
                                                QString* error) {
    if (!db_) {
        *error = QStringLiteral("the record is not open");
        return Result::Failed;
    }
    if (!writer_->Begin()) {
        *error = writer_->Error();
        return Result::Failed;
    }
    const auto failed = [&](const QString& why) {
        *error = why;
        writer_->Rollback();
        return Result::Failed;
    };
    // Under the write lock: another reader of this log may have moved it since it was loaded.
    LogCursor kept;
    if (!load(cursor.digest, &kept, error))
        return failed(*error);
    if (kept.offset != from) {
        writer_->Rollback();
        return Result::Conflict;
    }
    for (const FetchEvent& fetch : events) {
        RecordEvent event = RecordFetchEvent(fetch, cursor.path);
        if (!writer_->Insert(event))
            return failed(writer_->Error());
    }
    save_->Reset();
    save_->Bind(1, cursor.digest);
    save_->Bind(2, cursor.path);
    save_->Bind(3, qint64(cursor.device));
    save_->Bind(4, qint64(cursor.inode));
    save_->Bind(5, cursor.offset);
    const QByteArray now = RecordTime(RecordNowMs());
    save_->Bind(6, now);
    const bool saved = save_->Run();
    save_->Reset();
    if (!saved)
        return failed(db_->Error());
    if (!writer_->Commit()) {
        *error = writer_->Error();
        return Result::Failed;
    }
    return Result::Done;
}

bool RecordLogCursors::Load(const QByteArray& digest, LogCursor* cursor, QString* error) {
    failing_ = !load(digest, cursor, error);
    return !failing_;
}

LogCursorStore::Result RecordLogCursors::Commit(const LogCursor& cursor, qint64 from,
                                                const std::vector<FetchEvent>& events,
                                                QString* error) {
    const Result result = commit(cursor, from, events, error);
    failing_ = result == Result::Failed;
    return result;
}
