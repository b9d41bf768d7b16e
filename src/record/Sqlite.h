#pragma once

#include <QByteArray>
#include <QString>

struct sqlite3;
struct sqlite3_stmt;

// How a connection opens its file.
enum class SqliteMode {
    ReadWrite,  // an existing file, read and written
    Create,     // the same, made when missing
    ReadOnly,   // read only (a file in WAL mode still needs its -shm file, or a folder to make it)
    Immutable,  // read only, taken as unchanging: no -shm file, no locks (a read-only medium)
    Memory,     // a new empty database in memory; the path is not used
};

// One connection to an SQLite database file, closed with the object.
class SqliteDb {
  public:
    SqliteDb() = default;
    ~SqliteDb();
    SqliteDb(const SqliteDb&) = delete;
    SqliteDb& operator=(const SqliteDb&) = delete;

    // Opens path as mode says. False with Error() set when it cannot.
    bool Open(const QString& path, SqliteMode mode);
    // Copies the whole database of another connection into this one (a memory copy of a file).
    bool CopyFrom(SqliteDb& source);
    void Close();
    bool IsOpen() const { return db_ != nullptr; }
    // Runs statements without results; false with Error() set on failure.
    bool Exec(const char* sql);
    // The first column of the first row of a query, or fallback.
    qint64 QueryInt(const char* sql, qint64 fallback = 0);
    // The last failure in words, and its (extended) result code.
    QString Error() const { return error_; }
    int ErrorCode() const { return errorCode_; }
    // Records the connection's last failure (after a statement failed).
    void TakeError();
    sqlite3* Handle() const { return db_; }

  private:
    sqlite3* db_ = nullptr;
    QString error_;
    int errorCode_ = 0;
};

// A prepared statement of a connection, finalized with the object.
class SqliteStatement {
  public:
    SqliteStatement(SqliteDb& db, const char* sql);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    bool ok() const { return stmt_ != nullptr; }
    // Parameters count from 1. The text is not copied: it must stay until the statement has
    // run (Step, Run) or is reset.
    void Bind(int index, const QByteArray& text);
    void Bind(int index, qint64 value);
    // The text copied: it may go at once.
    void BindCopy(int index, const QByteArray& text);
    void BindNull(int index);
    // SQLITE_ROW, SQLITE_DONE or an error code (the connection then holds the error).
    int Step();
    // Steps once more when Step gave a row; true for SQLITE_DONE.
    bool Run();
    // Ready to run again, every parameter unbound (NULL).
    void Reset();
    // Ready to run again, the parameters as they were bound (every one is bound anew).
    void Restart();

    // Columns count from 0.
    QByteArray Text(int column) const;
    qint64 Int(int column) const;
    bool IsNull(int column) const;

  private:
    SqliteDb& db_;
    sqlite3_stmt* stmt_ = nullptr;
};
