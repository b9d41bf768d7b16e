#include "record/RecordReader.h"

#include "record/PhoneKey.h"
#include "record/RecordSchema.h"
#include "record/Sqlite.h"

#include <QFileInfo>

#include <sqlite3.h>
#include <algorithm>
#include <iterator>

namespace {

const char* const kStateTexts[] = {"file ready", "told",          "fetched",
                                   "failed",     "unknown phone", "seen"};

QString number(qint64 value, bool present) {
    return present ? QString::number(value) : QString();
}

// A stored time in local time as form writes it; empty for none, the text as it stands for one
// that no program of ours wrote.
template <typename Form>
QString localText(const QByteArray& stored, Form form) {
    if (stored.isEmpty())
        return {};
    const qint64 ms = RecordTimeMs(stored);
    if (ms < 0)
        return CellText(stored);
    return form(QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toLocalTime());
}

}  // namespace

const char* PhoneStateText(PhoneState state) {
    return kStateTexts[static_cast<int>(state)];
}

PhoneState PhoneStateOf(const QByteArray& text) {
    for (int i = 0; i < int(std::size(kStateTexts)); ++i)
        if (text == kStateTexts[i])
            return static_cast<PhoneState>(i);
    return PhoneState::FileReady;
}

bool FilterKeeps(PhoneFilter filter, PhoneState state) {
    switch (filter) {
        case PhoneFilter::All:
            return true;
        case PhoneFilter::Pending:
            return state == PhoneState::FileReady || state == PhoneState::Told;
        case PhoneFilter::Failed:
            return state == PhoneState::Failed;
        case PhoneFilter::Unknown:
            return state == PhoneState::Unknown;
        case PhoneFilter::Seen:
            return state == PhoneState::Seen;
    }
    return true;
}

const std::vector<const char*> kPhoneColumns = {
    "phone",    "state",        "file_time",  "file",   "told_time",
    "told_by",  "told_address", "fetch_time", "status", "bytes",
    "protocol", "user_agent",   "peer",       "model",  "version"};

QStringList PhoneCells(const PhoneStatus& r) {
    const bool fetched = r.fetchStatus != 0;
    return {CellText(r.phone),
            PhoneStateText(r.state),
            LocalTimeText(r.fileTime),
            CellText(r.filePath),
            LocalTimeText(r.toldTime),
            CellText(r.toldBy),
            CellText(r.toldAddress),
            LocalTimeText(r.fetchTime),
            number(r.fetchStatus, fetched),
            number(r.fetchBytes, fetched),
            CellText(r.fetchProtocol),
            CellText(r.fetchUserAgent),
            CellText(r.fetchPeer),
            CellText(r.model),
            CellText(r.version)};
}

PhoneCounts CountPhones(const std::vector<PhoneStatus>& rows) {
    int byState[std::size(kStateTexts)] = {};
    for (const PhoneStatus& r : rows)
        ++byState[static_cast<int>(r.state)];
    PhoneCounts n;
    n.fileReady = byState[int(PhoneState::FileReady)];
    n.told = byState[int(PhoneState::Told)];
    n.fetched = byState[int(PhoneState::Fetched)];
    n.failed = byState[int(PhoneState::Failed)];
    n.unknown = byState[int(PhoneState::Unknown)];
    n.seen = byState[int(PhoneState::Seen)];
    n.phones = n.fetched + n.failed + n.told + n.fileReady;
    return n;
}

bool PhoneMatches(const PhoneStatus& r, const QString& search) {
    const QString text = search.trimmed();
    if (text.isEmpty())
        return true;
    // A MAC or a part of one, in any spelling: its hexadecimal digits.
    QString digits = text.toLower();
    digits.remove(':').remove('-').remove('.').remove(' ');
    if (digits.startsWith("mac"))
        digits = digits.mid(3);
    if (!digits.isEmpty() && QString::fromUtf8(r.phone).contains(digits))
        return true;
    for (const QByteArray* field : {&r.phone, &r.filePath, &r.hostName, &r.model, &r.seenAddress,
                                    &r.toldAddress, &r.fetchPeer})
        if (QString::fromUtf8(*field).contains(text, Qt::CaseInsensitive))
            return true;
    return false;
}

RecordReader::RecordReader() = default;
RecordReader::~RecordReader() = default;

bool RecordReader::Open(const QString& path, QString* reason) {
    Close();
    const auto fail = [&](const QString& why) {
        if (reason)
            *reason = why;
        db_.reset();
        return false;
    };
    const QFileInfo info(path);
    if (info.isDir())
        return fail("it is a folder, not a record file");
    if (!info.exists())
        return fail("no such file");
    if (!info.isReadable())
        return fail("no permission to read it");
    auto db = std::make_unique<SqliteDb>();
    if (!db->Open(path, SqliteMode::ReadOnly))
        return fail(db->Error());
    RecordFileCheck check = CheckRecordFile(*db);
    const int failure = db->ErrorCode() & 0xff;
    if (check.verdict == RecordFileCheck::Verdict::Refused &&
        (failure == SQLITE_CANTOPEN || failure == SQLITE_READONLY)) {
        // A file in WAL mode whose -shm file is gone, in a folder where it cannot be made (a
        // read-only medium, another user's folder): nobody writes it now.
        if (!db->Open(path, SqliteMode::Immutable))
            return fail(db->Error());
        check = CheckRecordFile(*db);
    }
    switch (check.verdict) {
        case RecordFileCheck::Verdict::Refused:
            return fail(check.reason);
        case RecordFileCheck::Verdict::Empty:
            return fail("the file is an empty database, no provisioning record");
        case RecordFileCheck::Verdict::Current:
            db_ = std::move(db);
            return true;
        case RecordFileCheck::Verdict::Older: {
            // Read from a copy in memory, migrated there: the file stays as it is.
            auto copy = std::make_unique<SqliteDb>();
            QString why;
            if (!copy->Open({}, SqliteMode::Memory) || !copy->CopyFrom(*db) ||
                !PrepareRecordSchema(*copy, &why, true))
                return fail(why.isEmpty() ? copy->Error() : why);
            db_ = std::move(copy);
            return true;
        }
    }
    return fail("no provisioning record");
}

void RecordReader::Close() {
    db_.reset();
}

bool RecordReader::IsOpen() const {
    return db_ != nullptr;
}

namespace {

// The text columns of phone_status and where a row keeps them.
const struct {
    const char* column;
    QByteArray PhoneStatus::*field;
} kStatusTexts[] = {
    {"phone", &PhoneStatus::phone},
    {"file_time", &PhoneStatus::fileTime},
    {"file_path", &PhoneStatus::filePath},
    {"told_time", &PhoneStatus::toldTime},
    {"told_by", &PhoneStatus::toldBy},
    {"told_address", &PhoneStatus::toldAddress},
    {"fetch_time", &PhoneStatus::fetchTime},
    {"fetch_protocol", &PhoneStatus::fetchProtocol},
    {"fetch_method", &PhoneStatus::fetchMethod},
    {"fetch_source", &PhoneStatus::fetchSource},
    {"fetch_user_agent", &PhoneStatus::fetchUserAgent},
    {"fetch_peer", &PhoneStatus::fetchPeer},
    {"model", &PhoneStatus::model},
    {"version", &PhoneStatus::version},
    {"seen_time", &PhoneStatus::seenTime},
    {"seen_by", &PhoneStatus::seenBy},
    {"seen_address", &PhoneStatus::seenAddress},
    {"host_name", &PhoneStatus::hostName},
    {"lease_end", &PhoneStatus::leaseEnd},
};

}  // namespace

std::vector<PhoneStatus> RecordReader::Phones(PhoneFilter filter) {
    std::vector<PhoneStatus> rows;
    if (!db_)
        return rows;
    QByteArray sql = "SELECT state, file_size, fetch_status, fetch_bytes, fetch_complete";
    for (const auto& text : kStatusTexts)
        sql += QByteArray(", ") + text.column;
    SqliteStatement q(*db_, (sql + " FROM phone_status ORDER BY phone").constData());
    while (q.ok() && q.Step() == SQLITE_ROW) {
        PhoneStatus r;
        r.state = PhoneStateOf(q.Text(0));
        if (!FilterKeeps(filter, r.state))
            continue;
        r.fileSize = q.IsNull(1) ? -1 : q.Int(1);
        r.fetchStatus = int(q.Int(2));
        r.fetchBytes = q.Int(3);
        r.fetchComplete = q.IsNull(4) ? -1 : int(q.Int(4));
        int column = 5;
        for (const auto& text : kStatusTexts)
            r.*text.field = q.Text(column++);
        rows.push_back(std::move(r));
    }
    return rows;
}

qint64 RecordReader::DataVersion() {
    return db_ ? db_->QueryInt("PRAGMA data_version", -1) : -1;
}

std::vector<RecordedEvent> RecordReader::Events(const QByteArray& phone, int limit) {
    std::vector<RecordedEvent> events;
    if (!db_ || phone.isEmpty())
        return events;
    // The phone's events as recorded, the latest first, along their links.
    SqliteStatement last(*db_, "SELECT last_id FROM phones WHERE phone = ?1");
    SqliteStatement one(*db_, (EventSelectSql() + " WHERE id = ?1").constData());
    last.Bind(1, phone);
    qint64 next = last.ok() && last.Step() == SQLITE_ROW ? last.Int(0) : 0;
    while (next > 0 && int(events.size()) < limit && one.ok()) {
        one.Reset();
        one.Bind(1, next);
        if (one.Step() != SQLITE_ROW)
            break;
        RecordedEvent r;
        qint64 id = 0;
        r.event = ReadEventRow(one, &id, &r.time);
        if (r.event.phone != phone || r.event.previousId >= id)
            break;  // not a link of this phone's
        next = r.event.previousId;
        events.push_back(std::move(r));
    }
    // Newest first by when they ended.
    std::stable_sort(
        events.begin(), events.end(),
        [](const RecordedEvent& a, const RecordedEvent& b) { return a.time > b.time; });
    return events;
}

QString LocalTimeText(const QByteArray& stored) {
    return localText(stored, [](const QDateTime& t) {
        const int offset = t.offsetFromUtc() / 60;
        const QString zone = QString("%1%2:%3")
                                 .arg(offset < 0 ? '-' : '+')
                                 .arg(std::abs(offset) / 60, 2, 10, QChar('0'))
                                 .arg(std::abs(offset) % 60, 2, 10, QChar('0'));
        return t.toString("yyyy-MM-ddTHH:mm:ss.zzz") + zone;
    });
}

QString ShortTimeText(const QByteArray& stored, const QDateTime& now) {
    const QDate today = now.toLocalTime().date();
    return localText(stored, [&](const QDateTime& t) {
        return t.toString(t.date() == today ? "HH:mm:ss" : "yyyy-MM-dd HH:mm");
    });
}

QString FullTimeText(const QByteArray& stored) {
    return localText(stored, [](const QDateTime& t) { return t.toString("yyyy-MM-dd HH:mm:ss"); });
}

QString CellText(const QByteArray& bytes) {
    QByteArray out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f || c == '\\')
            out += "\\x" + QByteArray::number(u, 16).rightJustified(2, '0');
        else
            out += c;
    }
    return QString::fromUtf8(out);
}

QString SpreadsheetField(const QString& cell) {
    QString field = cell;
    // A formula in a spreadsheet: shown as the text it is.
    if (!field.isEmpty() && QStringLiteral("=+-@\t\r").contains(field[0]))
        field.prepend('\'');
    const bool quote = field.contains(',') || field.contains('"') || field.contains('\n') ||
                       field.contains('\r') || field.startsWith(' ') || field.endsWith(' ');
    if (!quote)
        return field;
    return '"' + field.replace('"', "\"\"") + '"';
}

QString SpreadsheetCsv(const QStringList& header, const std::vector<QStringList>& rows) {
    QString out;
    const auto line = [&out](const QStringList& cells) {
        QStringList fields;
        for (const QString& cell : cells)
            fields << SpreadsheetField(cell);
        out += fields.join(',') + "\r\n";
    };
    line(header);
    for (const QStringList& row : rows)
        line(row);
    return out;
}
