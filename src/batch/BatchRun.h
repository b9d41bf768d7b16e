#pragma once

#include "app/ServerUrl.h"
#include "batch/BatchTable.h"
#include "batch/Placeholders.h"
#include "config/ParameterSet.h"
#include "config/XmlFile.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <utility>
#include <vector>

class CfgTemplate;
class Dialogs;
class MyLog;
class ProvisioningRecord;
class SettingsStore;

enum class BatchFormat { Bin, Xml };
// Where the files go: the user's folder ("Batch to: ") or the built-in server's cfg folder
// ("Batch to built-in server: "); only the log line differs.
enum class BatchDestination { Folder, BuiltInServer };

// What one run does.
struct BatchJob {
    BatchMode mode = BatchMode::Mac;
    BatchFormat format = BatchFormat::Bin;
    bool scrambled = false;     // bin files scrambled
    bool xmlEncrypted = false;  // XML files encrypted under xmlKey (the default key when empty)
    QByteArray xmlKey;
    // Autofill: the three [PNO] parameters set to "1" and the server's cfg and fw URLs.
    bool autofill = false;
    QString serverAddress;  // first entry of the server interface list
    QString portText;       // the port text of the chosen protocol's built-in server
    ServerProtocol protocol = ServerProtocol::Http;  // the built-in server phones are told
    UrlAccess urlAccess;                 // HTTPS and credentials of the built-in HTTP server
    const SettingsStore* pno = nullptr;  // holds the [PNO] keys
    QString folder;
    BatchDestination destination = BatchDestination::Folder;
    // Where each file written is recorded (none: not recorded).
    ProvisioningRecord* record = nullptr;
};

struct BatchOutcome {
    enum class Status {
        Ran,              // every row was handled (some files may have failed)
        NoFolder,         // the output folder does not exist: nothing written
        NoServerAddress,  // autofill without a server address: nothing written
    };
    Status status = Status::Ran;
    QStringList written;  // the files written, in row order
    QStringList failed;   // the files that could not be written
    QStringList refused;  // those of them whose identifier is no file name in the folder
    QStringList notMacs;  // MAC mode: the identifiers that are no MAC (no file written)
    // MAC mode: the MACs spelt otherwise than the phones ask, and the names written for them.
    std::vector<std::pair<QString, QString>> renamed;
    // The XML files written without characters of some values, with what they lost.
    std::vector<std::pair<QString, XmlLosses>> losses;
    // The placeholders no column filled: every file written carries them as they are.
    UnfilledPlaceholders unfilled;
};

// Rows handled so far and the number of phone rows; called at most every progressIntervalMs
// and once at the end.
using BatchProgress = std::function<void(int rowsDone, int rowCount)>;

// The output file of a row's identifier (column 1, trimmed and in lower case) in a folder:
// MAC mode "cfg" + id (bin) or "cfg" + id + ".xml"; PIN mode id + ".cfg" or id + ".xml".
QString BatchFileName(BatchMode mode, BatchFormat format, const QString& identifier);

// The identifier a row's file is named by: in MAC mode the twelve digits a phone asks for,
// whatever the spelling of the MAC ("0a:1b:2c:00:00:12", "0A-1B-...", "MAC0a1b...": every one
// "0a1b2c000012"), empty when it is no MAC; in PIN mode the identifier as it stands.
QString BatchFileIdentifier(BatchMode mode, const QString& identifier);

// The three P-numbers autofill sets, from [PNO]; a missing key, and one whose number is 0 or
// not a number above 0, gives none ("do not fill").
struct AutofillNumbers {
    bool hasUpgradeMode = false, hasCfgPath = false, hasFwPath = false;
    PNumber upgradeMode = 0, cfgPath = 0, fwPath = 0;
};
AutofillNumbers ReadAutofillNumbers(const SettingsStore& settings);

// "http://" (or "https://", with the user info of access; "tftp://" for TFTP) + address + ":" +
// the port read as a decimal number + path.
QByteArray AutofillUrl(const QString& address, const QString& portText, const char* path,
                       const UrlAccess& access = {},
                       ServerProtocol protocol = ServerProtocol::Http);

// The log line of a run: "CFG BATCH: ", the format and protection, "Autofill Server Path, "
// and the destination with the folder.
QString BatchLogLine(const BatchJob& job);

// Commits the editor, then writes one file per table row that has an identifier: the whole
// parameter set with the row's values in place of the placeholders the header row names.
// Writers report "LCfgError3" through the template; a missing folder shows it too. An identifier
// holding "/" (it would lead out of the folder) is refused with "LCsvError9" and the identifier.
// In MAC mode a MAC in another spelling writes the name the phone asks for (with a log line
// saying so), and identifiers that are no MAC write nothing: one message "LBatchNotMac" names
// them after the run. Afterwards the parameter set is exactly what it was after the commit. The
// log line is written when the run went ahead, after one XmlLossLogLine per XML file written
// without characters XML cannot hold and the UnfilledPlaceholderLogLine when a placeholder was
// left unfilled. Each file written is recorded with its size, SHA-256 digest, inode and
// modification time.
BatchOutcome RunBatch(const BatchTable& table, CfgTemplate& tpl, const BatchJob& job,
                      Dialogs& dialogs, MyLog* log, const BatchProgress& progress = {},
                      int progressIntervalMs = 100);
