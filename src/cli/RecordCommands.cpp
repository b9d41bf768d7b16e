// orvo-cli status: the per-phone table of a provisioning record. The --record option of the
// other commands comes through CliRecord.
#include "cli/CliRecord.h"

#include "record/RecordReader.h"

CliRecord::CliRecord(const CliArgs& args) {
    if (!args.has("record"))
        return;
    record_.SetFailureHandler([](const QString& path, const QString& reason) {
        CliFail("record", "LRecordError1: " + path + ": " + reason +
                              "; recording is off, the command goes on");
    });
    record_.Open(args.value("record"));
}

namespace {

int status(const CliArgs& args) {
    const QString path = args.value("record");
    if (args.has("pending") + args.has("failed") + args.has("unknown") > 1)
        return CliUsageError("status", "--pending, --failed and --unknown exclude each other");
    PhoneFilter filter = PhoneFilter::All;
    if (args.has("pending"))
        filter = PhoneFilter::Pending;
    else if (args.has("failed"))
        filter = PhoneFilter::Failed;
    else if (args.has("unknown"))
        filter = PhoneFilter::Unknown;

    RecordReader reader;
    QString reason;
    if (!reader.Open(path, &reason))
        return CliFail(path, reason);
    std::vector<QStringList> rows;
    for (const PhoneStatus& phone : reader.Phones(filter))
        rows.push_back(PhoneCells(phone));
    if (args.has("csv")) {
        QStringList header;
        for (const PhoneColumn& column : kPhoneColumns)
            header << column.name;
        QByteArray csv = SpreadsheetCsv(header, rows).toUtf8();
        std::fwrite(csv.constData(), 1, size_t(csv.size()), stdout);
        return 0;
    }
    for (const QStringList& row : rows)
        CliPrint(row.join('\t'));
    return 0;
}

const CliRegistration statusCommand(
    "status", {"Print the per-phone table of a provisioning record: one tab-separated line per "
               "phone, or CSV with a header line.",
               {{"record", "FILE", "the provisioning record", true},
                {"pending", {}, "only the phones not fetched yet (file ready, told)"},
                {"failed", {}, "only the phones whose downloads failed"},
                {"unknown", {}, "only the unknown phones"},
                {"csv", {}, "CSV with a header line"}},
               {},
               status});

}  // namespace
