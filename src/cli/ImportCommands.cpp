// orvo-cli record import: the downloads that web servers' access logs name, into a provisioning
// record; once, or following the logs until SIGINT or SIGTERM.
#include "cli/Cli.h"

#include "accesslog/AccessLogImport.h"
#include "accesslog/RecordLogCursors.h"

#include <QFile>
#include <QThread>

#include <chrono>

namespace {

// How often a follower looks at its logs.
constexpr int kPollMs = 200;
// A follower tells of lines not in the format at most this often.
constexpr std::chrono::seconds kSkippedEvery{60};

// "skipped 2 lines that are not in combined format" on stderr, naming the log.
void warnSkipped(const QString& log, qint64 count, AccessLogFormat format) {
    if (count <= 0)
        return;
    CliWarn(log, QString("skipped %1 %2 not in %3 format")
                     .arg(count)
                     .arg(count == 1 ? "line that is" : "lines that are")
                     .arg(AccessLogFormatName(format)));
}

// "access.log: 12 new lines, 9 recorded, 3 naming no file below /cfg".
QString summary(const QString& log, const LogImportCounts& c, const QByteArray& prefix) {
    return QString("%1: %2 new %3, %4 recorded, %5 naming no file below %6")
        .arg(log)
        .arg(c.lines)
        .arg(c.lines == 1 ? "line" : "lines")
        .arg(c.recorded)
        .arg(c.notFiles)
        .arg(prefix.isEmpty() ? QStringLiteral("/") : QString::fromUtf8(prefix));
}

int importOnce(const QStringList& logs, const LogImportOptions& options, LogCursorStore& store,
               int status) {
    for (const QString& log : logs) {
        LogImportCounts counts;
        QString error;
        const bool ok = ImportLog(log, options, store, &counts, &error);
        CliPrint(summary(log, counts, options.prefix));
        warnSkipped(log, counts.malformed, options.format);
        if (!ok)
            status = CliFail(log, error);
    }
    return status;
}

int follow(const QStringList& logs, const LogImportOptions& options, LogCursorStore& store,
           CliStopSignals& stop) {
    struct Followed {
        QString log;
        std::unique_ptr<LogFollower> follower;
        qint64 warned = 0;  // lines not in the format told of
        std::chrono::steady_clock::time_point warnedAt;
    };
    std::vector<Followed> followed;
    for (const QString& log : logs) {
        auto follower = std::make_unique<LogFollower>(log, options, store);
        // A long backlog read at the signal: what was read is committed, the rest left.
        follower->SetInterrupt([&stop] { return stop.Arrived(); });
        QString error;
        if (!follower->Start(&error))
            return CliFail(log, error);
        CliPrintLogLine("Following " + QFile::encodeName(log));
        followed.push_back({log, std::move(follower), 0, {}});
    }
    int status = 0;
    for (bool stopping = false; !stopping && status == 0;) {
        stopping = stop.Arrived();  // a last look after the signal
        for (Followed& f : followed) {
            QString error;
            if (!f.follower->Poll(&error)) {
                status = CliFail(f.log, error);
                break;
            }
            const QByteArray change = f.follower->LastChange();
            if (change == "rotated")
                CliPrintLogLine(QFile::encodeName(f.log) + " was rotated: reading the new file");
            else if (change == "truncated")
                CliPrintLogLine(QFile::encodeName(f.log) + " was truncated: reading it anew");
            const qint64 malformed = f.follower->Counts().malformed;
            const auto now = std::chrono::steady_clock::now();
            if (malformed > f.warned && (stopping || now - f.warnedAt >= kSkippedEvery)) {
                warnSkipped(f.log, malformed - f.warned, options.format);
                f.warned = malformed;
                f.warnedAt = now;
            }
        }
        for (int waited = 0; !stopping && waited < kPollMs && !stop.Arrived(); waited += 50)
            QThread::msleep(50);
    }
    for (const Followed& f : followed)
        CliPrint(summary(f.log, f.follower->Counts(), options.prefix));
    return status;
}

int importLogs(const CliArgs& args) {
    const auto usage = [](const QString& problem) { return CliUsageError("record", problem); };
    LogImportOptions options;
    if (!AccessLogFormatByName(args.value("format", "combined"), &options.format))
        return usage("--format is combined or common, not '" + args.value("format") + "'");
    if (args.has("strip")) {
        const QByteArray prefix = args.value("strip").toUtf8();
        if (prefix.isEmpty())
            return usage("option '--strip' is empty");
        if (!NormalizedUrlPrefix(prefix, &options.prefix))
            return usage("--strip '" + args.value("strip") +
                         "' is no URL path (a '.' or '..' segment, '?', '#' or a control "
                         "character)");
    }
    const QString recordPath = args.value("record");
    if (recordPath.isEmpty())
        return usage("option '--record' is empty");
    // Blocks the stop signals before the record's writer thread starts.
    std::unique_ptr<CliStopSignals> stop;
    if (args.has("follow"))
        stop = std::make_unique<CliStopSignals>();

    // Each log is looked at before the record is opened: a log that cannot be read is named,
    // and when none can, no record file is made.
    QStringList readable;
    int status = 0;
    for (const QString& log : args.positional()) {
        LogFile file;
        QString error;
        if (file.Open(log, &error))
            readable << log;
        else
            status = CliFail(log, "cannot be read: " + error);
    }
    if (readable.isEmpty() || (stop && status != 0))
        return status;

    // The record keeps the logs' cursors: what was read and its downloads are committed together.
    RecordLogCursors store;
    QString error;
    if (!store.Open(recordPath, &error))
        return CliFail(recordPath, error);
    return stop ? follow(readable, options, store, *stop)
                : importOnce(readable, options, store, status);
}

const CliRegistration recordCommand(
    "record",
    {"Record the downloads that web servers' access logs name, as protocol external, in a "
     "provisioning record: each line once, however often a log or its rotated copies (also "
     "gzip-compressed) are imported, also by several importers at once. What was read of each "
     "log is kept in the record, committed with the downloads it read.",
     {{"record", "FILE", "the provisioning record", true},
      {"strip", "PREFIX",
       "the URL path under which the web server publishes the batch output; lines of other "
       "paths are not recorded"},
      {"format", "combined|common", "the logs' format (default combined)"},
      {"follow",
       {},
       "keep reading the logs as lines arrive, across rotations, until SIGINT or SIGTERM"}},
     "LOG...",
     importLogs,
     "import"});

}  // namespace
