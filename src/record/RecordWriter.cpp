#include "record/RecordWriter.h"

#include "record/RecordSchema.h"
#include "record/Sqlite.h"

#include <QDir>
#include <QFileInfo>

#include <sqlite3.h>

bool OpenRecordForWriting(SqliteDb& db, const QString& path, QString* reason) {
    const QFileInfo info(path);
    if (info.isDir()) {
        *reason = "it is a folder";
        return false;
    }
    const QString folder = info.absolutePath();
    if (!QDir().mkpath(folder)) {
        *reason = "the folder " + folder + " cannot be made";
        return false;
    }
    if (info.exists()) {
        // Read before anything is written: a file that is not ours stays as it was.
        SqliteDb check;
        if (!check.Open(path, SqliteMode::ReadOnly)) {
            *reason = check.Error();
            return false;
        }
        const RecordFileCheck verdict = CheckRecordFile(check);
        if (verdict.verdict == RecordFileCheck::Verdict::Refused) {
            *reason = verdict.reason;
            return false;
        }
    }
    QString why;
    if (!db.Open(path, SqliteMode::Create) || !PrepareRecordSchema(db, &why)) {
        *reason = why.isEmpty() ? db.Error() : why;
        db.Close();
        return false;
    }
    return true;
}

RecordWriter::RecordWriter(SqliteDb& db) : db_(db), book_(db) {
    for (const RecordKindInfo& k : kRecordKinds) {
        if (inserts_.size() <= size_t(k.kind))
            inserts_.resize(size_t(k.kind) + 1);
        inserts_[size_t(k.kind)] = std::make_unique<EventInsert>(db, k.kind);
    }
}

RecordWriter::~RecordWriter() = default;

bool RecordWriter::ok() const {
    for (const auto& insert : inserts_)
        if (!insert || !insert->ok())
            return false;
    return book_.ok();
}

bool RecordWriter::fail() {
    error_ = db_.Error();
    return false;
}

bool RecordWriter::Begin() {
    if (!db_.Exec("BEGIN IMMEDIATE"))
        return fail();
    // What another connection committed since our last transaction makes what we read stale.
    const qint64 dataVersion = db_.QueryInt("PRAGMA data_version", -1);
    if (dataVersion != dataVersion_)
        book_.Forget();
    dataVersion_ = dataVersion;
    return true;
}

bool RecordWriter::Insert(RecordEvent& e) {
    book_.Prepare(e);
    if (!inserts_[size_t(e.kind)]->Run(e, timeText(e.timeMs)) ||
        !book_.Take(sqlite3_last_insert_rowid(db_.Handle()), e))
        return fail();
    return true;
}

bool RecordWriter::ClearAll() {
    book_.Forget();
    return db_.Exec("DELETE FROM events; DELETE FROM phones;") || fail();
}

bool RecordWriter::Commit() {
    if (book_.Save() && db_.Exec("COMMIT"))
        return true;
    fail();
    Rollback();
    return false;
}

void RecordWriter::Rollback() {
    db_.Exec("ROLLBACK");
    book_.Forget();
}

bool RecordWriter::Write(std::vector<RecordEvent>& events, bool clear, size_t clearAt) {
    if (!Begin())
        return false;
    bool ok = true;
    for (size_t i = 0; ok && i < events.size(); ++i) {
        if (clear && i == clearAt)
            ok = ClearAll();
        ok = ok && Insert(events[i]);
    }
    if (ok && clear && clearAt >= events.size())
        ok = ClearAll();
    if (ok)
        return Commit();
    Rollback();
    return false;
}

const QByteArray& RecordWriter::timeText(qint64 ms) {
    const qint64 second = ms - ((ms % 1000) + 1000) % 1000;
    if (second != lastSecond_) {
        lastSecond_ = second;
        lastText_ = RecordTime(second);
    }
    const int millis = int(ms - second);
    char* digits = lastText_.data() + lastText_.size() - 4;
    digits[0] = char('0' + millis / 100);
    digits[1] = char('0' + millis / 10 % 10);
    digits[2] = char('0' + millis % 10);
    return lastText_;
}
