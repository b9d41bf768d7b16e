#pragma once

#include "record/RecordEvents.h"

#include <QByteArray>
#include <QHash>
#include <array>
#include <memory>

class SqliteDb;
class SqliteStatement;

// Which events a phone's state is made of, as the phones table keeps them: the latest of each
// sort, by time (then by id). One writer keeps the table with every transaction; the rules of
// the road live here and nowhere else:
// - a download is a fetch attempt unless it is a HEAD;
// - it brought the phone its file only when it delivered the version of the file the phone's
//   latest batch wrote: a 2xx whose whole body reached the client (or, for downloads nobody
//   knows that of, whose bytes are the file's size), of the same inode and modification time
//   when both are known, else of the same size and after the batch;
// - a path names a phone only in the forms a batch writes (PhoneFileOf); a PIN form only when
//   a batch wrote that PIN.
class PhoneBook {
  public:
    explicit PhoneBook(SqliteDb& db);
    ~PhoneBook();
    PhoneBook(const PhoneBook&) = delete;
    PhoneBook& operator=(const PhoneBook&) = delete;
    bool ok() const;

    // Drops what was read from the file (it changed under another connection, or a transaction
    // failed, or everything was deleted).
    void Forget();
    // Before the event is inserted: a download's phone from its path, and the link to its
    // phone's event recorded before (previousId).
    void Prepare(RecordEvent& event);
    // After it is inserted with this id: the phone's latest events moved on. False when the file
    // could not be read.
    bool Take(qint64 id, const RecordEvent& event);
    // Writes the rows of the phones changed since the last Save.
    bool Save();

    // The latest events the phones table holds per phone.
    enum Slot { Batch, Told, Fetch, Fetched, Model, Version, Seen, Lease, kSlots };

  private:
    struct Latest {
        qint64 id = 0;
        qint64 timeMs = 0;
    };
    struct Phone {
        std::array<Latest, kSlots> latest;
        qint64 fetchedBatch = 0;  // the batch whose file the Fetched download delivered
        // The latest batch's file.
        qint64 batchSize = -1;
        quint64 batchInode = 0;
        qint64 batchMtimeNs = 0;
        qint64 last = 0;  // the latest event recorded (by id)
        bool changed = false;
    };

    Phone* find(const QByteArray& phone);
    static bool later(const Latest& a, qint64 id, qint64 timeMs);
    bool move(Phone& p, Slot slot, qint64 id, qint64 timeMs);
    bool delivers(const Phone& p, qint64 id, const RecordEvent& fetch) const;
    // From the event with id from (the phone's event before the batch) backwards.
    bool lookBack(Phone& p, qint64 from);
    // Whether a download's User-Agent names a model and a version.
    bool agentTells(const QByteArray& userAgent);

    SqliteDb& db_;
    struct Statements;
    std::unique_ptr<Statements> q_;
    QHash<QByteArray, Phone> phones_;
    Phone* prepared_ = nullptr;  // the phone of the event last prepared
    QByteArray preparedPhone_;
    bool readFailed_ = false;
    // The last User-Agent looked at, and whether it named a model.
    QByteArray agent_;
    bool agentTells_ = false;
};
