// orvo-cli status: the per-phone table of a provisioning record. The --record option of the
// other commands comes through CliRecord.
#include "cli/CliRecord.h"

#include "record/RecordReader.h"

#include <algorithm>

CliOption CliKeepDaysOption() {
    return {"keep-days", "N",
            "with --record: remove the events older than N days at start, but each phone's "
            "latest of each kind (90; 0 keeps all)"};
}

namespace {

// The days of --keep-days; -1 when the text is no whole number of days.
int keepDays(const QString& text) {
    bool ok = false;
    const int days = text.toInt(&ok);
    return ok && days >= 0 && days <= 36500 && text == QString::number(days) ? days : -1;
}

}  // namespace

int CheckCliKeepDays(const CliArgs& args, const QString& command) {
    if (!args.has("keep-days"))
        return 0;
    if (!args.has("record"))
        return CliUsageError(command, "--keep-days needs --record");
    if (keepDays(args.value("keep-days")) < 0)
        return CliUsageError(command, "--keep-days must be a whole number of days from 0 to 36500");
    return 0;
}

CliRecord::CliRecord(const CliArgs& args, Pruning pruning) {
    if (!args.has("record"))
        return;
    record_.SetFailureHandler([](const QString& path, const QString& reason) {
        CliFail("record", "LRecordError1: " + path + ": " + reason +
                              "; recording is off, the command goes on");
    });
    int days = 0;
    if (pruning == Pruning::KeepDays)
        days = args.has("keep-days") ? keepDays(args.value("keep-days")) : kCliKeepDaysDefault;
    record_.Open(args.value("record"), std::max(days, 0));
}

namespace {

int status(const CliArgs& args) {
    const QString path = args.value("record");
    if (args.has("pending") + args.has("failed") + args.has("unknown") + args.has("seen") > 1)
        return CliUsageError("status",
                             "--pending, --failed, --unknown and --seen exclude each other");
    PhoneFilter filter = PhoneFilter::All;
    if (args.has("pending"))
        filter = PhoneFilter::Pending;
    else if (args.has("failed"))
        filter = PhoneFilter::Failed;
    else if (args.has("unknown"))
        filter = PhoneFilter::Unknown;
    else if (args.has("seen"))
        filter = PhoneFilter::Seen;

    RecordReader reader;
    QString reason;
    if (!reader.Open(path, &reason))
        return CliFail(path, reason);
    std::vector<QStringList> rows;
    for (const PhoneStatus& phone : reader.Phones(filter))
        rows.push_back(PhoneCells(phone));
    if (args.has("csv")) {
        QStringList header;
        for (const char* column : kPhoneColumns)
            header << column;
        QByteArray csv = SpreadsheetCsv(header, rows).toUtf8();
        std::fwrite(csv.constData(), 1, size_t(csv.size()), stdout);
        return 0;
    }
    for (const QStringList& row : rows)
        CliPrint(row.join('\t'));
    return 0;
}

const CliRegistration statusCommand(
    "status", {"Print the per-phone table of a provisioning record, times in local time: one "
               "tab-separated line per phone, or CSV with a header line. The record is only read "
               "(it may be another user's or on a read-only medium).",
               {{"record", "FILE", "the provisioning record", true},
                {"pending", {}, "only the phones not fetched yet (file ready, told)"},
                {"failed", {}, "only the phones whose downloads failed"},
                {"unknown", {}, "only the unknown phones"},
                {"seen", {}, "only the phones seen (discovery, a lease) that no batch wrote"},
                {"csv",
                 {},
                 "CSV with a header line; cells a spreadsheet would take for a "
                 "formula begin with '"}},
               {},
               status});

}  // namespace
