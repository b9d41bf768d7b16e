#pragma once

#include "record/RecordEvents.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

class SqliteDb;

// Where a phone stands on its road, by its latest steps (later steps win; a batch file newer
// than the steps after an earlier one starts the road again).
enum class PhoneState {
    FileReady,  // "file ready": a batch wrote its file
    Told,       // "told": a plug-and-play answer or Provision/Upgrade gave it the URL
    Fetched,    // "fetched": a download delivered it the file its latest batch wrote
    Failed,     // "failed": its file was asked for since, and no download delivered it
    Unknown,    // "unknown phone": its file was asked for, but no batch wrote one
    Seen,       // "seen": discovery or a lease saw it, no batch wrote its file
};
// The state's words as the record stores them ("file ready", ...), and back.
const char* PhoneStateText(PhoneState state);
PhoneState PhoneStateOf(const QByteArray& text);

// The rows a filter keeps: every phone, those not fetched yet (file ready, told), those that
// failed, the unknown ones, those only seen.
enum class PhoneFilter { All, Pending, Failed, Unknown, Seen };
bool FilterKeeps(PhoneFilter filter, PhoneState state);

// One row of the per-phone table (the phone_status view). Times as stored (UTC).
struct PhoneStatus {
    QByteArray phone;
    PhoneState state = PhoneState::FileReady;
    QByteArray fileTime, filePath;
    qint64 fileSize = -1;
    QByteArray toldTime, toldBy, toldAddress;
    QByteArray fetchTime;
    int fetchStatus = 0;  // 0: no download
    qint64 fetchBytes = 0;
    int fetchComplete = -1;  // 1, 0, -1: unknown
    QByteArray fetchProtocol, fetchMethod, fetchSource, fetchUserAgent, fetchPeer;
    QByteArray model, version;
    QByteArray seenTime, seenBy, seenAddress;
    QByteArray hostName, leaseEnd;
};

// The columns orvo-cli status prints, by the names of its CSV header.
extern const std::vector<const char*> kPhoneColumns;
// A row's cells in those columns (the state in its English words, times in local time with
// their offset).
QStringList PhoneCells(const PhoneStatus& row);

// The phones of a table by state, for a summary line: the phones on their road (the next
// four together), then the unknown and the seen ones.
struct PhoneCounts {
    int phones = 0;
    int fetched = 0, failed = 0, told = 0, fileReady = 0;
    int unknown = 0, seen = 0;
};
PhoneCounts CountPhones(const std::vector<PhoneStatus>& rows);

// A search text finds a phone by its MAC (in any spelling, or a part of it), its PIN, its file,
// host name, model or an address; case does not matter. An empty text finds every phone.
bool PhoneMatches(const PhoneStatus& row, const QString& search);

// One recorded event with its time as stored.
struct RecordedEvent {
    QByteArray time;
    RecordEvent event;
};

// Reads a record file, on the thread that opened it, never writing to it: the file may belong
// to another user or lie on a read-only medium, and it may be written meanwhile by a
// ProvisioningRecord (of this process or another): every query sees the last commit. A record
// of an older version is read from a migrated copy in memory.
class RecordReader {
  public:
    RecordReader();
    ~RecordReader();

    // False with the reason when the file is missing, a folder, not readable, or no
    // provisioning record.
    bool Open(const QString& path, QString* reason = nullptr);
    void Close();
    bool IsOpen() const;

    // The phones of the record, by phone, that the filter keeps.
    std::vector<PhoneStatus> Phones(PhoneFilter filter = PhoneFilter::All);
    // Changes whenever a connection, of this process or another, has committed to the file since
    // the last call (PRAGMA data_version): a reader compares it to know when to look again. -1
    // when nothing is open.
    qint64 DataVersion();
    // The latest events of one phone as recorded, at most limit of them, newest first by the
    // time they ended.
    std::vector<RecordedEvent> Events(const QByteArray& phone, int limit = 1000);

  private:
    std::unique_ptr<SqliteDb> db_;
};

// A stored time in local time with its offset: "2026-12-10T15:03:07.123+01:00" (empty for
// an empty text; other text as it stands).
QString LocalTimeText(const QByteArray& stored);
// A stored time short, in local time: "14:03:07" on the day of now, else "2026-12-10 14:03".
QString ShortTimeText(const QByteArray& stored, const QDateTime& now);
// The same to the second, for a file: "2026-12-10 14:03:07".
QString FullTimeText(const QByteArray& stored);

// Text fit for one cell of a line: control characters (tab and line breaks too) and a
// backslash written as \xNN escapes.
QString CellText(const QByteArray& bytes);
// A CSV field as spreadsheets read it: in double quotes (inner ones doubled) when it holds a
// comma, a quote or a line break, or begins or ends with a blank; and a cell that a spreadsheet
// would take for a formula (beginning with =, +, -, @, a tab or CR) behind a leading "'".
QString SpreadsheetField(const QString& cell);
// The table as CSV: the header, then one line per row, lines ended by CR LF.
QString SpreadsheetCsv(const QStringList& header, const std::vector<QStringList>& rows);
