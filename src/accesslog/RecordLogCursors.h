#pragma once

#include "accesslog/LogCursor.h"

#include <QString>
#include <memory>

class RecordWriter;
class SqliteDb;
class SqliteStatement;

// The cursors kept in the provisioning record itself (its table log_cursors), on a connection
// of their own: a commit inserts the events of a stretch and moves the log's cursor in one
// transaction of the record, after checking under its write lock that the cursor still stands
// where the stretch began. A program killed at any moment has recorded a stretch with its
// cursor or neither, and readers of one log in several programs record each line once.
// Everything happens on the thread that opened it.
class RecordLogCursors : public LogCursorStore {
  public:
    RecordLogCursors();
    ~RecordLogCursors() override;

    // Opens the record file for writing (made when missing; see OpenRecordForWriting). False
    // with *error when it cannot be a record or cannot be written.
    bool Open(const QString& recordPath, QString* error);

    bool Load(const QByteArray& digest, LogCursor* cursor, QString* error) override;
    // The events are recorded as downloads of protocol "external", their source the path of
    // the log they were read from (cursor.path).
    Result Commit(const LogCursor& cursor, qint64 from, const std::vector<FetchEvent>& events,
                  QString* error) override;
    // The last Load or Commit failed (the record, not the log, is in trouble).
    bool Failing() const { return failing_; }

  private:
    void close();
    bool load(const QByteArray& digest, LogCursor* cursor, QString* error);
    Result commit(const LogCursor& cursor, qint64 from, const std::vector<FetchEvent>& events,
                  QString* error);

    std::unique_ptr<SqliteDb> db_;
    std::unique_ptr<RecordWriter> writer_;
    std::unique_ptr<SqliteStatement> load_, save_;
    bool failing_ = false;
};
