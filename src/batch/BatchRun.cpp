#include "batch/BatchRun.h"

#include "app/AtomicFile.h"
#include "app/Dialogs.h"
#include "app/MyLog.h"
#include "app/Numbers.h"
#include "app/SettingsStore.h"
#include "batch/BatchFileForm.h"
#include "config/CfgTemplate.h"
#include "record/PhoneKey.h"
#include "record/ProvisioningRecord.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <algorithm>
#include <vector>

namespace {

struct Column {
    int column;
    PNumber p;
};

// Columns 2 and up whose header is the value of a parameter, except the autofilled ones. An
// empty header names no parameter.
std::vector<Column> mapColumns(const BatchTable& table, const ParameterSet& params,
                               const std::vector<PNumber>& autofilled) {
    std::vector<Column> map;
    for (int c = 2; c < table.ColumnCount(); ++c) {
        const QByteArray header = table.Cell(0, c).toUtf8();
        if (header.isEmpty())
            continue;
        const PNumber p = params.FindParameterByValue(header);
        if (p == -1 && params.Value(-1) != header)
            continue;
        if (std::find(autofilled.begin(), autofilled.end(), p) != autofilled.end())
            continue;
        map.push_back({c, p});
    }
    return map;
}

// Writes a row's file with the writers' reporting: "LCfgError3" when it cannot be written, and
// the editor's Save button disabled after it (after a failed encrypted XML write as well).
bool writeRow(CfgTemplate& tpl, Dialogs& dialogs, const BatchJob& job, const QString& path,
              const QByteArray& bytes) {
    const bool ok = WriteFileAtomically(path, bytes);
    if (!ok)
        dialogs.messageKey("LCfgError3");
    const bool encrypted = job.format == BatchFormat::Xml && job.xmlEncrypted;
    if ((ok || encrypted) && tpl.setSaveEnabled)
        tpl.setSaveEnabled(false);
    return ok;
}

// The record's event for a row's file: its name below the output folder (below the document
// root for the built-in server), the row's MAC or PIN, the form of the file.
RecordEvent batchEvent(const BatchJob& job, const QString& id, const QString& name) {
    RecordEvent e;
    e.kind = RecordEvent::Kind::Batch;
    const QByteArray identifier = id.toUtf8();
    const QByteArray mac = job.mode == BatchMode::Mac ? PhoneOfMac(identifier) : QByteArray();
    e.phone = mac.isEmpty() ? identifier : mac;
    e.path = (job.destination == BatchDestination::BuiltInServer ? "cfg/" : "") + name.toUtf8();
    const bool xml = job.format == BatchFormat::Xml;
    e.format = xml ? "xml" : "bin";
    e.protection =
        xml ? (job.xmlEncrypted ? "encrypted" : "plain") : (job.scrambled ? "scrambled" : "plain");
    return e;
}

}  // namespace

QString BatchFileName(BatchMode mode, BatchFormat format, const QString& identifier) {
    if (mode == BatchMode::Mac)
        return "cfg" + identifier + (format == BatchFormat::Xml ? ".xml" : "");
    return identifier + (format == BatchFormat::Xml ? ".xml" : ".cfg");
}

AutofillNumbers ReadAutofillNumbers(const SettingsStore& settings) {
    AutofillNumbers n;
    const auto read = [&](const SettingKey& key, bool* has, PNumber* p) {
        const std::optional<QString> value = settings.Find(key.section, key.key);
        *has = value.has_value();
        *p = value ? ReadLeadingInt(*value) : 0;
    };
    read(Setting::PnoUpgradeMode, &n.hasUpgradeMode, &n.upgradeMode);
    read(Setting::PnoCfgServerPath, &n.hasCfgPath, &n.cfgPath);
    read(Setting::PnoFwServerPath, &n.hasFwPath, &n.fwPath);
    return n;
}

QByteArray AutofillUrl(const QString& address, const QString& portText, const char* path) {
    return "http://" + address.toUtf8() + ":" +
           QByteArray::number(ReadLeadingInt(portText.trimmed())) + path;
}

QString BatchLogLine(const BatchJob& job) {
    QString line = "CFG BATCH: ";
    const bool toServer = job.destination == BatchDestination::BuiltInServer;
    if (job.format == BatchFormat::Bin) {
        line += "BIN format, ";
        if (job.scrambled)
            line += "Default Encrypt, ";
    } else {
        line += "XML format, ";
        if (toServer && job.xmlEncrypted)
            line += "Encrypted, ";
    }
    if (job.autofill)
        line += "Autofill Server Path, ";
    line += toServer ? "Batch to built-in server: " : "Batch to: ";
    return line + job.folder;
}

BatchOutcome RunBatch(const BatchTable& table, CfgTemplate& tpl, const BatchJob& job,
                      Dialogs& dialogs, MyLog* log, const BatchProgress& progress,
                      int progressIntervalMs) {
    BatchOutcome outcome;
    if (tpl.commitEditor)
        tpl.commitEditor();
    if (!QFileInfo(job.folder).isDir()) {
        dialogs.messageKey("LCfgError3");
        outcome.status = BatchOutcome::Status::NoFolder;
        return outcome;
    }
    if (job.autofill && job.serverAddress.trimmed().isEmpty()) {
        dialogs.messageText("No server address to autofill!");
        outcome.status = BatchOutcome::Status::NoServerAddress;
        return outcome;
    }

    ParameterSet& params = tpl.Parameters();
    const ParameterSet before = params;

    std::vector<PNumber> autofilled;
    if (job.autofill) {
        const AutofillNumbers n = job.pno ? ReadAutofillNumbers(*job.pno) : AutofillNumbers{};
        const auto fill = [&](bool has, PNumber p, const QByteArray& value) {
            if (!has)
                return;
            params.Set(p, value);
            autofilled.push_back(p);
        };
        fill(n.hasUpgradeMode, n.upgradeMode, "1");
        fill(n.hasCfgPath, n.cfgPath, AutofillUrl(job.serverAddress, job.portText, "/cfg"));
        fill(n.hasFwPath, n.fwPath, AutofillUrl(job.serverAddress, job.portText, "/fw"));
    }
    const std::vector<Column> columns = mapColumns(table, params, autofilled);
    std::vector<PNumber> varying;
    for (const Column& col : columns)
        varying.push_back(col.p);
    const BatchFileForm form(job, params, varying);

    const int rowCount = table.RowCount() - 1;
    QElapsedTimer sinceProgress;
    sinceProgress.start();
    for (int r = 1; r <= rowCount; ++r) {
        for (const Column& col : columns)
            params.Set(col.p, table.Cell(r, col.column).toUtf8());
        const QString id = table.Cell(r, 1).trimmed().toLower();
        if (!id.isEmpty()) {
            const QString name = BatchFileName(job.mode, job.format, id);
            const QString path = job.folder + "/" + name;
            // An identifier is a file name: a "/" would lead out of the folder.
            const bool named = !id.contains('/') && !id.contains(QChar(0));
            if (!named)
                dialogs.messageKey("LCfgError3");
            XmlLosses losses;
            if (named && writeRow(tpl, dialogs, job, path, form.Bytes(params, &losses))) {
                outcome.written << path;
                if (job.record)
                    job.record->Add(batchEvent(job, id, name));
                if (!losses.empty()) {
                    if (log)
                        log->Write(XmlLossLogLine(path, losses));
                    outcome.losses.push_back({path, std::move(losses)});
                }
            } else {
                outcome.failed << path;
            }
        }
        if (progress && sinceProgress.elapsed() >= progressIntervalMs) {
            progress(r, rowCount);
            sinceProgress.restart();
        }
    }
    if (progress)
        progress(rowCount, rowCount);

    params = before;
    if (log)
        log->Write(BatchLogLine(job));
    return outcome;
}
