#pragma once

#include "record/RecordEvents.h"

#include <QByteArray>
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
    Fetched,    // "fetched": a server sent it its file
    Failed,     // "failed": its file was asked for and answered 4xx/5xx only
    Unknown,    // "unknown phone": its file was asked for, but no batch wrote one
};
// The state's words as the record stores them ("file ready", ...), and back.
const char* PhoneStateText(PhoneState state);
PhoneState PhoneStateOf(const QByteArray& text);

// The rows a filter keeps: every phone, those not fetched yet (file ready, told), those that
// failed, the unknown ones.
enum class PhoneFilter { All, Pending, Failed, Unknown };
bool FilterKeeps(PhoneFilter filter, PhoneState state);

// One row of the per-phone table (the phone_status view).
struct PhoneStatus {
    QByteArray phone;
    PhoneState state = PhoneState::FileReady;
    QByteArray fileTime, filePath;
    QByteArray toldTime, toldBy, toldAddress;
    QByteArray fetchTime;
    int fetchStatus = 0;  // 0: no download
    qint64 fetchBytes = 0;
    QByteArray fetchProtocol, fetchUserAgent, fetchPeer;
    QByteArray model, version;
};

// The columns of the per-phone table: the name orvo-cli prints in its header and the language
// key of the page's caption.
struct PhoneColumn {
    const char* name;
    const char* captionKey;
};
extern const std::vector<PhoneColumn> kPhoneColumns;
// A row's cells in column order, as the record holds them (the state in its English words).
QStringList PhoneCells(const PhoneStatus& row);

// One recorded event with its time as stored.
struct RecordedEvent {
    QByteArray time;
    RecordEvent event;
};

// Reads a record file, on the thread that opened it. The file may be written meanwhile by a
// ProvisioningRecord (of this process or another): every query sees the last commit.
class RecordReader {
  public:
    RecordReader();
    ~RecordReader();

    // False with the reason when the file is missing or no provisioning record.
    bool Open(const QString& path, QString* reason = nullptr);
    void Close();
    bool IsOpen() const;

    // The phones of the record, by phone, that the filter keeps.
    std::vector<PhoneStatus> Phones(PhoneFilter filter = PhoneFilter::All);
    // The events of one phone, newest first, at most limit of them.
    std::vector<RecordedEvent> Events(const QByteArray& phone, int limit = 1000);
    // All events, oldest first.
    std::vector<RecordedEvent> AllEvents();

  private:
    std::unique_ptr<SqliteDb> db_;
};

// Text fit for one cell of a line: control characters (tab and line breaks too) and a
// backslash written as \xNN escapes.
QString CellText(const QByteArray& bytes);
// A CSV field as spreadsheets read it: in double quotes (inner ones doubled) when it holds a
// comma, a quote or a line break, or begins or ends with a blank.
QString SpreadsheetField(const QString& cell);
// The table as CSV: the header, then one line per row, lines ended by CR LF.
QString SpreadsheetCsv(const QStringList& header, const std::vector<QStringList>& rows);
