// Importing a web server's access log into the provisioning record: `orvo-cli record import` of
// 100,000 and 1,000,000 combined-format lines (1,000 phones, some 404s and HEADs, other paths),
// its lines per second and its peak memory (which must not grow with the log), and the line
// reader alone. Each import goes into a new record; the median of the rounds is given. Then
// `orvo-cli record import --follow`: the time from a line written to the log to its row in the
// record, for 20 lines one after the other.
//   accesslog_bench [--rounds N] [--dir DIR]   (DIR: where the logs and records are written;
//                                               default /dev/shm when it is there)
#include "accesslog/AccessLogImport.h"
#include "accesslog/AccessLogLine.h"
#include "record/Sqlite.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <vector>

namespace {

// A log of count lines as nginx writes them.
bool writeLog(const QString& path, int count) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray chunk;
    for (int n = 0; n < count; ++n) {
        const int phone = n % 1000;
        const int second = n / 50;
        char line[400];
        const char* method = n % 97 == 0 ? "HEAD" : "GET";
        const char* folder = n % 53 == 0 ? "fw" : "cfg";
        const int status = n % 31 == 0 ? 404 : 200;
        std::snprintf(line, sizeof line,
                      "10.1.%d.%d - - [10/Dec/2026:%02d:%02d:%02d +0100] \"%s "
                      "/%s/cfg0a1b2c%06x.xml HTTP/1.1\" %d %d \"-\" \"X100 2.1.%d "
                      "0a1b2c%06x\"\n",
                      phone / 250, phone % 250 + 1, second / 3600 % 24, second / 60 % 60,
                      second % 60, method, folder, phone, status, status == 200 ? 13012 : 153,
                      phone % 7, phone);
        chunk += line;
        if (chunk.size() > (1 << 20)) {
            f.write(chunk);
            chunk.clear();
        }
    }
    return f.write(chunk) == chunk.size();
}

struct Run {
    double seconds = 0;
    double cpuSeconds = 0;  // user and system, all threads
    long peakKb = 0;
    int status = -1;
};

// orvo-cli record import as a child: its wall time and peak resident memory.
Run importRun(const QString& log, const QString& record) {
    Run run;
    const QByteArray cli = QFile::encodeName(QCoreApplication::applicationDirPath() + "/orvo-cli");
    const QByteArray rec = QFile::encodeName(record), file = QFile::encodeName(log);
    std::fflush(stdout);  // the child's stdio must not print this program's lines again
    QElapsedTimer clock;
    clock.start();
    const pid_t pid = fork();
    if (pid == 0) {
        if (!freopen("/dev/null", "w", stdout))
            _exit(127);
        execl(cli.constData(), "orvo-cli", "record", "import", "--record", rec.constData(),
              "--strip", "/cfg", file.constData(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.seconds = clock.nsecsElapsed() / 1e9;
    run.peakKb = usage.ru_maxrss;
    run.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                     usage.ru_stime.tv_usec / 1e6;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// The rows of the record's downloads; -1 while it cannot be read.
qint64 fetchRows(const QString& record) {
    SqliteDb db;
    return db.Open(record, SqliteMode::ReadOnly) ? db.QueryInt("SELECT count(*) FROM fetches", -1) : -1;
}

// Milliseconds from each of count lines appended to the log to its row in the record.
std::vector<double> followLatencies(const QString& dir, int count) {
    const QString log = dir + "/follow.log", record = dir + "/follow.sqlite";
    const QByteArray line =
        "10.1.0.1 - - [10/Dec/2026:14:03:07 +0100] \"GET /cfg/cfg0a1b2c000001.xml HTTP/1.1\" 200 "
        "13012 \"-\" \"X100\"\n";
    std::vector<double> latencies;
    QFile f(log);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(line) != line.size() ||
        !f.flush())
        return latencies;
    QProcess follower;
    follower.start(QCoreApplication::applicationDirPath() + "/orvo-cli",
                   {"record", "import", "--record", record, "--strip", "/cfg", "--follow", log});
    if (!follower.waitForStarted(5000))
        return latencies;
    const auto waitFor = [&](qint64 rows) {
        for (int i = 0; i < 1000 && fetchRows(record) < rows; ++i)
            QThread::msleep(5);
    };
    waitFor(1);
    for (int n = 0; n < count; ++n) {
        QThread::msleep(100 + n * 37 % 200);  // at moments spread over the follower's look
        QElapsedTimer clock;
        clock.start();
        f.write(line);
        f.flush();
        waitFor(n + 2);
        latencies.push_back(clock.nsecsElapsed() / 1e6);
    }
    ::kill(pid_t(follower.processId()), SIGTERM);
    follower.waitForFinished(10000);
    return latencies;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int rounds = 3;
    QString base = QFileInfo("/dev/shm").isWritable() ? "/dev/shm" : QDir::tempPath();
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--rounds")
            rounds = std::max(1, args[i + 1].toInt());
        else if (args[i] == "--dir")
            base = args[i + 1];
    }
    QTemporaryDir dir(base + "/orvo-accesslog-bench-XXXXXX");
    if (!dir.isValid()) {
        std::fprintf(stderr, "accesslog_bench: cannot make a folder in %s\n", qPrintable(base));
        return 1;
    }
    std::printf("access log import, %d rounds, in %s\n", rounds, qPrintable(base));

    for (const int lines : {100000, 1000000}) {
        const QString log = dir.path() + "/access-" + QString::number(lines) + ".log";
        if (!writeLog(log, lines)) {
            std::fprintf(stderr, "accesslog_bench: cannot write %s\n", qPrintable(log));
            return 1;
        }
        // The reader alone, in this process: read and turned into events.
        {
            QFile f(log);
            f.open(QIODevice::ReadOnly);
            const QByteArray text = f.readAll();
            std::vector<double> rates;
            for (int r = 0; r < rounds; ++r) {
                AccessLogReader reader(AccessLogFormat::Combined);
                AccessLogLine line;
                FetchEvent event;
                qint64 events = 0;
                QElapsedTimer clock;
                clock.start();
                for (qsizetype at = 0; at < text.size();) {
                    qsizetype end = text.indexOf('\n', at);
                    if (end < 0)
                        end = text.size();
                    if (reader.Read(QByteArrayView(text.constData() + at, end - at), &line) &&
                        FetchEventOfLine(line, "/cfg", &event))
                        ++events;
                    at = end + 1;
                }
                rates.push_back(lines / (clock.nsecsElapsed() / 1e9));
                if (events == 0)
                    return 1;
            }
            std::printf("%9d lines  reader alone   %10.0f lines/s\n", lines, median(rates));
        }
        std::vector<double> rates, peaks, cpu;
        for (int r = 0; r < rounds; ++r) {
            const QString record = dir.path() + "/rec-" + QString::number(r) + ".sqlite";
            const Run run = importRun(log, record);
            if (run.status != 0) {
                std::fprintf(stderr, "accesslog_bench: orvo-cli record import exited %d\n",
                             run.status);
                return 1;
            }
            rates.push_back(lines / run.seconds);
            peaks.push_back(double(run.peakKb) / 1024);
            cpu.push_back(run.cpuSeconds / lines * 1e6);
            QFile::remove(record);
        }
        std::printf(
            "%9d lines  orvo-cli import %10.0f lines/s, %.2f us CPU per line, peak memory %.1f MB "
            "(rounds: %.0f to %.0f lines/s)\n",
            lines, median(rates), median(cpu), median(peaks),
            *std::min_element(rates.begin(), rates.end()),
            *std::max_element(rates.begin(), rates.end()));
        QFile::remove(log);
    }
    std::vector<double> latencies = followLatencies(dir.path(), 20);
    if (latencies.empty())
        return 1;
    std::sort(latencies.begin(), latencies.end());
    std::printf("follow: a line in the record after %.0f ms (median of %zu; %.0f to %.0f ms)\n",
                median(latencies), latencies.size(), latencies.front(), latencies.back());
    return 0;
}
