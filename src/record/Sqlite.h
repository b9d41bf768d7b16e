#pragma once

#include <QByteArray>
#include <QString>

struct sqlite3;
struct sqlite3_stmt;

// One connection to an SQLite database file, closed with the object.
class SqliteDb {
  public:
    SqliteDb() = default;
    ~SqliteDb();
    SqliteDb(const SqliteDb&) = delete;
    SqliteDb& operator=(const SqliteDb&) = delete;

    // Opens path for reading and writing (creating the file when create is set), or for
    // reading only. False with Error() set when it cannot.
    bool Open(const QString& path, bool create, bool readOnly = false);
    void Close();
    bool IsOpen() const { return db_ != nullptr; }
    // Runs statements without results; false with Error() set on failure.
    bool Exec(const char* sql);
    // The first column of the first row of a query, or fallback.
    qint64 QueryInt(const char* sql, qint64 fallback = 0);
    // The last failure in words, and its result code.
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
    void BindNull(int index);
    // SQLITE_ROW, SQLITE_DONE or an error code (the connection then holds the error).
    int Step();
    // Steps once more when Step gave a row; true for SQLITE_DONE.
    bool Run();
    void Reset();

    // Columns count from 0.
    QByteArray Text(int column) const;
    qint64 Int(int column) const;
    bool IsNull(int column) const;

  private:
    SqliteDb& db_;
    sqlite3_stmt* stmt_ = nullptr;
};
