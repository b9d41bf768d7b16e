#pragma once

#include "record/RecordEvents.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <vector>

class SqliteDb;
class SqliteStatement;

// The version of the record's tables (PRAGMA user_version); a file of an older version is
// migrated when opened, one of a newer version refused.
inline constexpr int kRecordSchemaVersion = 2;
// PRAGMA application_id of a record file.
inline constexpr int kRecordApplicationId = 0x4F52564F;

// The kinds of events: the name in the table and the language key of the page's words. A new
// kind is one line of this list (and of RecordEvent::Kind).
struct RecordKindInfo {
    RecordEvent::Kind kind;
    const char* name;
    const char* textKey;
};
extern const std::vector<RecordKindInfo> kRecordKinds;

// A set of kinds, for the columns a kind fills.
using RecordKindSet = unsigned;
constexpr RecordKindSet KindBit(RecordEvent::Kind kind) {
    return 1u << static_cast<unsigned>(kind);
}

// One column of the events table besides its id: its declaration, the schema version that
// added it, the kinds that fill it (the others leave it NULL), how an event's field is bound
// into the insert and read back. The table, its migration, the insert, the select and the
// reader are made from this list: a new column is one line of it.
struct EventColumn {
    const char* name;
    const char* declaration;  // "TEXT", "INTEGER", "TEXT NOT NULL DEFAULT ''"
    int since;
    RecordKindSet kinds;
    void (*bind)(SqliteStatement& insert, int index, const RecordEvent& event);
    void (*read)(const SqliteStatement& select, int column, RecordEvent& event);
};
extern const std::vector<EventColumn> kEventColumns;

// The insert of the events of one kind: the columns it fills.
class EventInsert {
  public:
    EventInsert(SqliteDb& db, RecordEvent::Kind kind);
    ~EventInsert();
    bool ok() const;
    // Inserts the event with its time as given (the writer forms it once per millisecond).
    bool Run(const RecordEvent& event, const QByteArray& timeText);

  private:
    std::vector<const EventColumn*> columns_;  // after time and kind
    QByteArray kind_;
    std::unique_ptr<SqliteStatement> insert_;
};
// "SELECT id, <columns> FROM events": read a row with ReadEventRow.
QByteArray EventSelectSql();
// The event of a row of EventSelectSql, its id and its time as stored.
RecordEvent ReadEventRow(const SqliteStatement& select, qint64* id, QByteArray* timeText);

// What a file holds before anything is written to it, read on a read-only connection.
struct RecordFileCheck {
    enum class Verdict { Empty, Current, Older, Refused };
    Verdict verdict = Verdict::Refused;
    int version = 0;
    QString reason;  // Refused: why, in words
};
RecordFileCheck CheckRecordFile(SqliteDb& db);

// Makes the connection's file, found fit by CheckRecordFile on a read-only connection first, a
// provisioning record of the current version: WAL mode (not for inMemory, a copy in memory that
// a reader migrates), the tables and views created (an empty file) or migrated (an older
// record), the access logs' cursors (log_cursors) made where they are missing, all checked again
// under the write lock. False with the reason when the file cannot
// be a record or cannot be written.
bool PrepareRecordSchema(SqliteDb& db, QString* reason, bool inMemory = false);

// Links each phone's events anew (previous_id, the phones table's last_id) after events were
// deleted.
bool LinkRecordEvents(SqliteDb& db);
