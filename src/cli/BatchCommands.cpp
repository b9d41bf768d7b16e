// orvo-cli batch: the batch run of the Cfg Batch page without the window.
#include "cli/Cli.h"
#include "cli/CliRecord.h"

#include "app/Dialogs.h"
#include "app/FileProblem.h"
#include "app/InterfaceTable.h"
#include "app/ServerUrl.h"
#include "app/SettingsStore.h"
#include "batch/BatchRun.h"
#include "batch/BatchTable.h"
#include "config/CfgTemplate.h"
#include "protection/ServerProtection.h"
#include "servers/PortCheck.h"

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

// ADDR:PORT for the autofilled URLs: an IPv4 address or host name, and a port of 1 to 65535;
// false when it is not of that form. Which ports the chosen server takes is known only once the
// settings are read (PortFitsServer).
bool readServer(const QString& text, QString* address, QString* port) {
    const qsizetype colon = text.lastIndexOf(':');
    if (colon < 0)
        return false;
    *address = text.left(colon).trimmed();
    *port = text.mid(colon + 1);
    uint32_t ipv4 = 0;
    return (ParseIpv4(*address, &ipv4) || IsHostName(*address)) && CheckTftpServerPort(*port).ok();
}

// The port by the rule of the window's port of the chosen server: HTTP 1025 to 65525, TFTP 1 to
// 65535.
bool portFitsServer(const QString& port, ServerProtocol protocol) {
    return protocol == ServerProtocol::Tftp ? CheckTftpServerPort(port).ok()
                                            : CheckHttpServerPort(port).ok();
}

int batch(const CliArgs& args) {
    const auto usage = [](const QString& problem) { return CliUsageError("batch", problem); };
    BatchJob job;
    const QString mode = args.value("mode");
    if (mode != "mac" && mode != "pin")
        return usage("--mode must be mac or pin");
    job.mode = mode == "mac" ? BatchMode::Mac : BatchMode::Pin;
    const QString format = args.value("format");
    if (format != "bin" && format != "xml")
        return usage("--format must be bin or xml");
    job.format = format == "bin" ? BatchFormat::Bin : BatchFormat::Xml;
    job.scrambled = args.has("scramble");
    if (job.scrambled && job.format != BatchFormat::Bin)
        return usage("--scramble applies to --format bin only");
    job.xmlEncrypted = args.has("xml-key");
    if (job.xmlEncrypted) {
        if (job.format != BatchFormat::Xml)
            return usage("--xml-key applies to --format xml only");
        job.xmlKey = args.value("xml-key").trimmed().toUtf8();
        const QString problem = CliXmlKeyProblem(job.xmlKey);
        if (!problem.isEmpty())
            return usage("--xml-key: " + problem);
    }

    SettingsStore settings;
    job.autofill = args.has("autofill");
    if (args.has("settings") != job.autofill)
        return usage("--autofill and --settings go together");
    const QString autofillProblem =
        "--autofill expects ADDR:PORT: an IPv4 address or host name, and a port from 1025 to 65525 "
        "(with the settings' TFTP protocol: 1 to 65535)";
    if (job.autofill && !readServer(args.value("autofill"), &job.serverAddress, &job.portText))
        return usage(autofillProblem);
    if (job.autofill) {
        const QString ini = args.value("settings");
        if (!settings.LoadFile(ini)) {
            const QString problem = FileReadProblem(ini);
            return CliFail(ini, problem.isEmpty() ? "cannot be read" : problem);
        }
        job.pno = &settings;
        // The window's server settings: the protocol, HTTPS and credentials go into the URLs.
        job.urlAccess = ReadServerProtection(settings).Url();
        job.protocol = settings.ReadInt(Setting::TftpProtocol) != 0 ? ServerProtocol::Tftp
                                                                    : ServerProtocol::Http;
        if (!portFitsServer(job.portText, job.protocol))
            return usage(autofillProblem);
    }
    job.folder = args.value("out");
    if (!QFileInfo(job.folder).isDir())
        return CliFail(job.folder, "is not a folder");
    if (const int bad = CheckCliKeepDays(args, "batch"))
        return bad;

    CliDialogs dialogs;
    CfgTemplate tpl(&dialogs, nullptr);
    const QString templatePath = args.value("template");
    const QString templateProblem = FileReadProblem(templatePath);
    if (!templateProblem.isEmpty())
        return CliFail(templatePath, templateProblem);
    if (!tpl.LoadTemplate(templatePath))
        return CliFail(templatePath, worded(dialogs.last));

    const QString csvPath = args.value("csv");
    QFile csv(csvPath);
    const QString csvProblem = FileReadProblem(csvPath);
    if (!csvProblem.isEmpty() || !csv.open(QIODevice::ReadOnly))
        return CliFail(csvPath, csvProblem.isEmpty() ? "cannot be read" : csvProblem);
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
    if (!outcome.unfilled.empty())
        CliWarn(templatePath, UnfilledPlaceholderText(outcome.unfilled));
    for (const QString& path : outcome.failed)
        CliFail(path, outcome.refused.contains(path)
                          ? "refused: the row's MAC or PIN is no file name in the folder (it "
                            "holds \"/\" and so would lead out of it)"
                          : "cannot be written");
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
      {"xml-key", "KEY", "encrypt the XML files with KEY (at most 16 hexadecimal digits)"},
      {"autofill", "ADDR:PORT",
       "fill in the server paths for the built-in server at ADDR:PORT (an IPv4 address or host "
       "name; a port from 1025 to 65525, with the TFTP protocol 1 to 65535)"},
      {"settings", "INI",
       "with --autofill: the settings whose [PNO] keys name the parameters (0: none); with "
       "[TFTP SERVER] protocol=1 the URLs begin with tftp://, with [HTTP SERVER] https=1 with "
       "https://, and auth_user and auth_password go into them"},
      {"out", "DIR", "the folder the files are written to", true},
      {"record", "FILE", "record the events in this provisioning record (SQLite)"},
      CliKeepDaysOption()},
     {},
     batch});

}  // namespace
