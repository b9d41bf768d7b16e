#include "record/RecordReader.h"

#include "record/RecordSchema.h"
#include "record/Sqlite.h"

#include <QFileInfo>

#include <sqlite3.h>

namespace {

const char* const kStateTexts[] = {"file ready", "told", "fetched", "failed", "unknown phone"};

const char kEventColumns[] =
    "time, kind, phone, address, path, status, bytes, protocol, user_agent, url, format, "
    "protection, model, version, online";

RecordEvent::Kind kindOf(const QByteArray& name) {
    using Kind = RecordEvent::Kind;
    for (Kind k : {Kind::Batch, Kind::Pnp, Kind::Provision, Kind::Upgrade, Kind::Refresh,
                   Kind::Fetch, Kind::Discovery, Kind::Refreshed})
        if (name == RecordKindName(k))
            return k;
    return Kind::Fetch;
}

RecordedEvent eventOf(const SqliteStatement& q) {
    RecordedEvent r;
    r.time = q.Text(0);
    RecordEvent& e = r.event;
    e.kind = kindOf(q.Text(1));
    e.phone = q.Text(2);
    e.address = q.Text(3);
    e.path = q.Text(4);
    e.status = int(q.Int(5));
    e.bytes = q.Int(6);
    e.protocol = q.Text(7);
    e.userAgent = q.Text(8);
    e.url = q.Text(9);
    e.format = q.Text(10);
    e.protection = q.Text(11);
    e.model = q.Text(12);
    e.version = q.Text(13);
    e.online = q.IsNull(14) ? -1 : int(q.Int(14));
    return r;
}

QString number(qint64 value, bool present) {
    return present ? QString::number(value) : QString();
}

}  // namespace

const char* PhoneStateText(PhoneState state) {
    return kStateTexts[static_cast<int>(state)];
}

PhoneState PhoneStateOf(const QByteArray& text) {
    for (int i = 0; i < 5; ++i)
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
    }
    return true;
}

const std::vector<PhoneColumn> kPhoneColumns = {
    {"phone", "LRecColPhone"},
    {"state", "LRecColState"},
    {"file_time", "LRecColFileTime"},
    {"file", "LRecColFile"},
    {"told_time", "LRecColToldTime"},
    {"told_by", "LRecColToldBy"},
    {"told_address", "LRecColToldAddress"},
    {"fetch_time", "LRecColFetchTime"},
    {"status", "LRecColStatus"},
    {"bytes", "LRecColBytes"},
    {"protocol", "LRecColProtocol"},
    {"user_agent", "LRecColUserAgent"},
    {"peer", "LRecColPeer"},
    {"model", "LRecColModel"},
    {"version", "LRecColVersion"},
};

QStringList PhoneCells(const PhoneStatus& r) {
    const bool fetched = r.fetchStatus != 0;
    return {CellText(r.phone),
            PhoneStateText(r.state),
            CellText(r.fileTime),
            CellText(r.filePath),
            CellText(r.toldTime),
            CellText(r.toldBy),
            CellText(r.toldAddress),
            CellText(r.fetchTime),
            number(r.fetchStatus, fetched),
            number(r.fetchBytes, fetched),
            CellText(r.fetchProtocol),
            CellText(r.fetchUserAgent),
            CellText(r.fetchPeer),
            CellText(r.model),
            CellText(r.version)};
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
    if (!QFileInfo(path).isFile())
        return fail("no such file");
    db_ = std::make_unique<SqliteDb>();
    // Reading a file in WAL mode needs its shared-memory file: read-only only when the folder
    // cannot take one.
    if (!db_->Open(path, false) && !db_->Open(path, false, true))
        return fail(db_->Error());
    const qint64 application = db_->QueryInt("PRAGMA application_id", -1);
    if (application < 0)
        return fail(db_->Error());
    if (application != kRecordApplicationId)
        return fail("the file is no provisioning record");
    if (db_->QueryInt("PRAGMA user_version", -1) != kRecordSchemaVersion)
        return fail("the record is of another version");
    return true;
}

void RecordReader::Close() {
    db_.reset();
}

bool RecordReader::IsOpen() const {
    return db_ != nullptr;
}

std::vector<PhoneStatus> RecordReader::Phones(PhoneFilter filter) {
    std::vector<PhoneStatus> rows;
    if (!db_)
        return rows;
    SqliteStatement q(*db_,
                      "SELECT phone, state, file_time, file_path, told_time, told_by, "
                      "told_address, fetch_time, fetch_status, fetch_bytes, fetch_protocol, "
                      "fetch_user_agent, fetch_peer, model, version FROM phone_status "
                      "ORDER BY phone");
    while (q.ok() && q.Step() == SQLITE_ROW) {
        PhoneStatus r;
        r.state = PhoneStateOf(q.Text(1));
        if (!FilterKeeps(filter, r.state))
            continue;
        r.phone = q.Text(0);
        r.fileTime = q.Text(2);
        r.filePath = q.Text(3);
        r.toldTime = q.Text(4);
        r.toldBy = q.Text(5);
        r.toldAddress = q.Text(6);
        r.fetchTime = q.Text(7);
        r.fetchStatus = int(q.Int(8));
        r.fetchBytes = q.Int(9);
        r.fetchProtocol = q.Text(10);
        r.fetchUserAgent = q.Text(11);
        r.fetchPeer = q.Text(12);
        r.model = q.Text(13);
        r.version = q.Text(14);
        rows.push_back(std::move(r));
    }
    return rows;
}

std::vector<RecordedEvent> RecordReader::Events(const QByteArray& phone, int limit) {
    std::vector<RecordedEvent> events;
    if (!db_)
        return events;
    SqliteStatement q(*db_, QByteArray(QByteArray("SELECT ") + kEventColumns +
                                       " FROM events WHERE phone = ?1 ORDER BY id DESC LIMIT ?2")
                                .constData());
    q.Bind(1, phone);
    q.Bind(2, qint64(limit));
    while (q.ok() && q.Step() == SQLITE_ROW)
        events.push_back(eventOf(q));
    return events;
}

std::vector<RecordedEvent> RecordReader::AllEvents() {
    std::vector<RecordedEvent> events;
    if (!db_)
        return events;
    SqliteStatement q(
        *db_,
        QByteArray(QByteArray("SELECT ") + kEventColumns + " FROM events ORDER BY id").constData());
    while (q.ok() && q.Step() == SQLITE_ROW)
        events.push_back(eventOf(q));
    return events;
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
    const bool quote = cell.contains(',') || cell.contains('"') || cell.contains('\n') ||
                       cell.contains('\r') || cell.startsWith(' ') || cell.endsWith(' ');
    if (!quote)
        return cell;
    return '"' + QString(cell).replace('"', "\"\"") + '"';
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
