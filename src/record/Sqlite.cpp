#include "record/Sqlite.h"

#include <QFile>

#include <sqlite3.h>

SqliteDb::~SqliteDb() {
    Close();
}

bool SqliteDb::Open(const QString& path, SqliteMode mode) {
    Close();
    int flags = SQLITE_OPEN_NOMUTEX;  // one thread per connection
    QByteArray name = QFile::encodeName(path);
    switch (mode) {
        case SqliteMode::ReadWrite:
            flags |= SQLITE_OPEN_READWRITE;
            break;
        case SqliteMode::Create:
            flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
            break;
        case SqliteMode::ReadOnly:
            flags |= SQLITE_OPEN_READONLY;
            break;
        case SqliteMode::Immutable:
            flags |= SQLITE_OPEN_READONLY | SQLITE_OPEN_URI;
            name = "file:" + name.toPercentEncoding("/") + "?immutable=1";
            break;
        case SqliteMode::Memory:
            flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_MEMORY;
            name = ":memory:";
            break;
    }
    const int rc = sqlite3_open_v2(name.constData(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        TakeError();
        if (error_.isEmpty())
            error_ = QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_close(db_);
        db_ = nullptr;
        return false;
    }
    sqlite3_extended_result_codes(db_, 1);
    // Another program holding a lock briefly (sqlite3 reading, a second orvo-cli) is waited for.
    sqlite3_busy_timeout(db_, 5000);
    return true;
}

bool SqliteDb::CopyFrom(SqliteDb& source) {
    if (!db_ || !source.db_)
        return false;
    sqlite3_backup* backup = sqlite3_backup_init(db_, "main", source.db_, "main");
    if (!backup) {
        TakeError();
        return false;
    }
    const int step = sqlite3_backup_step(backup, -1);
    const int rc = sqlite3_backup_finish(backup);
    if (step != SQLITE_DONE || rc != SQLITE_OK) {
        source.TakeError();
        error_ = source.error_.isEmpty() ? QString::fromUtf8(sqlite3_errstr(rc)) : source.error_;
        errorCode_ = source.errorCode_;
        return false;
    }
    return true;
}

void SqliteDb::Close() {
    if (db_)
        sqlite3_close_v2(db_);
    db_ = nullptr;
}

bool SqliteDb::Exec(const char* sql) {
    if (!db_)
        return false;
    char* message = nullptr;
    const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        errorCode_ = rc;
        error_ = QString::fromUtf8(message ? message : sqlite3_errstr(rc));
        sqlite3_free(message);
        return false;
    }
    return true;
}

qint64 SqliteDb::QueryInt(const char* sql, qint64 fallback) {
    SqliteStatement query(*this, sql);
    return query.ok() && query.Step() == SQLITE_ROW ? query.Int(0) : fallback;
}

void SqliteDb::TakeError() {
    if (!db_)
        return;
    errorCode_ = sqlite3_extended_errcode(db_);
    error_ = QString::fromUtf8(sqlite3_errmsg(db_));
}

SqliteStatement::SqliteStatement(SqliteDb& db, const char* sql) : db_(db) {
    if (db.Handle() && sqlite3_prepare_v2(db.Handle(), sql, -1, &stmt_, nullptr) != SQLITE_OK) {
        db_.TakeError();
        stmt_ = nullptr;
    }
}

SqliteStatement::~SqliteStatement() {
    sqlite3_finalize(stmt_);
}

void SqliteStatement::Bind(int index, const QByteArray& text) {
    sqlite3_bind_text(stmt_, index, text.constData(), static_cast<int>(text.size()), SQLITE_STATIC);
}

void SqliteStatement::BindCopy(int index, const QByteArray& text) {
    sqlite3_bind_text(stmt_, index, text.constData(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
}

void SqliteStatement::BindNull(int index) {
    sqlite3_bind_null(stmt_, index);
}

void SqliteStatement::Bind(int index, qint64 value) {
    sqlite3_bind_int64(stmt_, index, value);
}

int SqliteStatement::Step() {
    const int rc = sqlite3_step(stmt_);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        db_.TakeError();
    return rc;
}

bool SqliteStatement::Run() {
    int rc = Step();
    while (rc == SQLITE_ROW)
        rc = Step();
    return rc == SQLITE_DONE;
}

void SqliteStatement::Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

void SqliteStatement::Restart() {
    sqlite3_reset(stmt_);
}

QByteArray SqliteStatement::Text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    return text ? QByteArray(text, sqlite3_column_bytes(stmt_, column)) : QByteArray();
}

qint64 SqliteStatement::Int(int column) const {
    return sqlite3_column_int64(stmt_, column);
}

bool SqliteStatement::IsNull(int column) const {
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}
