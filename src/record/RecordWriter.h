#pragma once

#include "record/PhoneBook.h"
#include "record/RecordEvents.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <vector>

class EventInsert;
class SqliteDb;

// Opens path for writing as a provisioning record: its folder made when missing, a file that is
// there read on a read-only connection first (nothing is written to a file that is not ours),
// then the file made or migrated (PrepareRecordSchema). False with the reason in words.
bool OpenRecordForWriting(SqliteDb& db, const QString& path, QString* reason);

// Writes events into a record on one connection, in transactions of the caller's: the inserts
// of each kind and the phones table kept with them. The record's writer thread writes what the
// program adds; an importer that must commit its own rows in the same transaction as its events
// (the access log's cursors) holds a connection and a writer of its own.
class RecordWriter {
  public:
    explicit RecordWriter(SqliteDb& db);
    ~RecordWriter();
    RecordWriter(const RecordWriter&) = delete;
    RecordWriter& operator=(const RecordWriter&) = delete;
    bool ok() const;

    // BEGIN IMMEDIATE: the record's write lock, held until Commit or Rollback.
    bool Begin();
    // Inserts the event (its phone and link set on the way).
    bool Insert(RecordEvent& event);
    // Deletes every event and phone.
    bool ClearAll();
    // Writes the phones changed and commits; rolls back when either fails.
    bool Commit();
    void Rollback();
    // Why the last step failed.
    QString Error() const { return error_; }

    // One transaction: the events before clearAt, the clearing (when clear), the rest.
    bool Write(std::vector<RecordEvent>& events, bool clear = false, size_t clearAt = 0);

  private:
    bool fail();
    // The date and time of a second is formed once; the milliseconds are put after it.
    const QByteArray& timeText(qint64 ms);

    SqliteDb& db_;
    // One insert per kind, of the columns it fills.
    std::vector<std::unique_ptr<EventInsert>> inserts_;
    PhoneBook book_;
    QString error_;
    qint64 dataVersion_ = -1;
    qint64 lastSecond_ = -1;
    QByteArray lastText_;
};
