#pragma once

#include "accesslog/LogCursor.h"

#include <QString>
#include <functional>
#include <memory>

class ProvisioningRecord;
class SqliteDb;

// The table that keeps the cursors, one row per log (its first line's digest).
extern const char kLogCursorsTable[];

// Cursors kept in an SQLite file of their own (WAL, so readers of several logs share it). A
// commit holds the file's write lock while it hands the events to the sink and moves the row
// only once the sink has them: two readers of one log never both record a stretch. Should the
// program end between the two, the stretch is recorded again on the next import.
class LogCursorFile : public LogCursorStore {
  public:
    // Records events; false with *error when they cannot be.
    using EventSink = std::function<bool(const std::vector<FetchEvent>&, QString* error)>;

    explicit LogCursorFile(EventSink sink);
    ~LogCursorFile() override;

    // Opens the file, making it when missing. False with *error when it is no database,
    // another program's database or cannot be written.
    bool Open(const QString& path, QString* error);

    bool Load(const QByteArray& digest, LogCursor* cursor, QString* error) override;
    Result Commit(const LogCursor& cursor, qint64 from, const std::vector<FetchEvent>& events,
                  QString* error) override;

  private:
    EventSink sink_;
    std::unique_ptr<SqliteDb> db_;
};

// A sink that adds the events to the record and waits until its writer has committed them.
LogCursorFile::EventSink RecordSink(ProvisioningRecord& record);
