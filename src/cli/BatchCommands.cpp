// orvo-cli batch: the batch run of the Cfg Batch page without the window.
#include "cli/Cli.h"
#include "cli/CliRecord.h"

#include "app/Dialogs.h"
#include "app/SettingsStore.h"
#include "batch/BatchRun.h"
#include "batch/BatchTable.h"
#include "config/CfgTemplate.h"
#include "protection/ServerProtection.h"

#include <QFile>
#include <QFileInfo>

namespace {

// Keeps the last message; the command words it for stderr.
class CliDialogs : public Dialogs {
  public:
    void message(const UiText& text, const UiText&) override { last = text; }
    bool question(const UiText&, const UiText&, Buttons) override { return false; }
    QString openFile(const QString&) override { return {}; }
    QStringList openFiles(const QString&) override { return {}; }
    QString saveFile(const QString&, const QString&) override { return {}; }
    QString chooseFolder(const UiText&) override { return {}; }
    UiText last;
};

QString worded(const UiText& text) {
    const QStringList keys = text.keys();
    const QString key = keys.isEmpty() ? QString() : keys[0];
    if (key == "LCfgError1")
        return "LCfgError1: cannot be read as a bin or XML configuration file";
    if (key == "LCfgError2")
        return "LCfgError2: does not begin with \"Flag=\"";
    if (key == "LCsvError4")
        return "LCsvError4: needs a header line and a line 1 of at least two fields";
    if (key == "LCsvError5")
        return "LCsvError5: the header line and line 1 have different numbers of fields";
    if (key == "LCsvError6")
        return "LCsvError6: the header does not begin with \"MAC\"";
    if (key == "LCsvError7")
        return "LCsvError7: the header does not begin with \"PIN\"";
    return text.raw();
}

int batch(const CliArgs& args) {
    BatchJob job;
    const QString mode = args.value("mode");
    if (mode != "mac" && mode != "pin")
        return CliFail("batch", "--mode must be mac or pin");
    job.mode = mode == "mac" ? BatchMode::Mac : BatchMode::Pin;
    const QString format = args.value("format");
    if (format != "bin" && format != "xml")
        return CliFail("batch", "--format must be bin or xml");
    job.format = format == "bin" ? BatchFormat::Bin : BatchFormat::Xml;
    job.scrambled = args.has("scramble");
    if (job.scrambled && job.format != BatchFormat::Bin)
        return CliFail("batch", "--scramble applies to --format bin only");
    job.xmlEncrypted = args.has("xml-key");
    if (job.xmlEncrypted) {
        if (job.format != BatchFormat::Xml)
            return CliFail("batch", "--xml-key applies to --format xml only");
        job.xmlKey = args.value("xml-key").trimmed().toUtf8();
        if (job.xmlKey.isEmpty())
            return CliFail("batch", "the XML key is empty");
        if (job.xmlKey.size() > 16)
            return CliFail("batch", "the XML key is longer than 16 characters");
    }

    SettingsStore settings;
    job.autofill = args.has("autofill");
    if (args.has("settings") != job.autofill)
        return CliFail("batch", "--autofill and --settings go together");
    if (job.autofill) {
        const QString server = args.value("autofill");
        const qsizetype colon = server.lastIndexOf(':');
        job.serverAddress = server.left(colon < 0 ? 0 : colon);
        job.portText = colon < 0 ? QString() : server.mid(colon + 1);
        if (job.serverAddress.trimmed().isEmpty() || job.portText.trimmed().isEmpty())
            return CliFail("batch", "--autofill expects ADDR:PORT");
        const QString ini = args.value("settings");
        if (!settings.LoadFile(ini))
            return CliFail(ini, "cannot be read");
        job.pno = &settings;
        // The window's server settings: HTTPS and credentials go into the URLs as well.
        job.urlAccess = ReadServerProtection(settings).Url();
    }
    job.folder = args.value("out");
    if (!QFileInfo(job.folder).isDir())
        return CliFail(job.folder, "is not a folder");
    if (const int bad = CheckCliKeepDays(args, "batch"))
        return bad;

    CliDialogs dialogs;
    CfgTemplate tpl(&dialogs, nullptr);
    const QString templatePath = args.value("template");
    if (!tpl.LoadTemplate(templatePath))
        return CliFail(templatePath, worded(dialogs.last));

    const QString csvPath = args.value("csv");
    QFile csv(csvPath);
    if (!csv.open(QIODevice::ReadOnly))
        return CliFail(csvPath, "cannot be read");
    BatchTable table;
    const QString refusal = table.LoadCsv(csv.readAll(), job.mode);
    if (!refusal.isEmpty())
        return CliFail(csvPath, worded(UiText::key(refusal)));

    CliRecord record(args, CliRecord::Pruning::KeepDays);
    job.record = record.get();
    const BatchOutcome outcome = RunBatch(table, tpl, job, dialogs, nullptr);
    for (const QString& path : outcome.written)
        CliPrint(path);
    for (const auto& [mac, name] : outcome.renamed)
        CliWarn(mac, "written as " + name + ", the name the phone asks for");
    for (const auto& [path, losses] : outcome.losses)
        CliWarn(path, XmlLossText(losses));
    for (const QString& path : outcome.failed)
        CliFail(path, "cannot be written");
    for (const QString& id : outcome.notMacs)
        CliFail(id, "is not a MAC address; no file written for it");
    if (outcome.status != BatchOutcome::Status::Ran)
        return CliFail("batch", worded(dialogs.last));
    return outcome.failed.isEmpty() && outcome.notMacs.isEmpty() ? 0 : 1;
}

const CliRegistration batchCommand(
    "batch",
    {"Write one configuration file per CSV row from a template, as the Cfg Batch page does.",
     {{"template", "FILE", "the template: a bin or XML configuration file", true},
      {"csv", "FILE", "the rows: MAC or PIN, then one column per placeholder", true},
      {"mode", "mac|pin", "name the files by MAC (cfg<mac>) or by PIN (<pin>.cfg)", true},
      {"format", "bin|xml", "write bin or XML files", true},
      {"scramble", {}, "scramble the bin files"},
      {"xml-key", "KEY", "encrypt the XML files with KEY (at most 16 characters)"},
      {"autofill", "ADDR:PORT", "fill in the server paths for the HTTP server at ADDR:PORT"},
      {"settings", "INI",
       "with --autofill: the settings whose [PNO] keys name the parameters; with [HTTP SERVER] "
       "https=1 the URLs begin with https://, and auth_user and auth_password go into them"},
      {"out", "DIR", "the folder the files are written to", true},
      {"record", "FILE", "record the events in this provisioning record (SQLite)"},
      CliKeepDaysOption()},
     {},
     batch});

}  // namespace
