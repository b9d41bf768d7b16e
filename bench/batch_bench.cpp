// Batch run speed: a 10,000-row CSV against a 300-parameter template, written as bin,
// scrambled bin, XML and encrypted XML, against the floor of writing the same number of files
// of the same sizes from memory, measured in the same run: plainly (open, write, close) and as
// the run replaces them (WriteFileAtomically: temporary file renamed over the target).
// Usage: batch_bench [FOLDER] [--profile FORM]   (default: the temporary folder)
// --profile runs only the batch of one form ("bin", "scrambled bin", "XML", "encrypted XML"),
// 20 times, without the floors: the program to record with perf.
#include "app/AtomicFile.h"
#include "app/Dialogs.h"
#include "batch/BatchRun.h"
#include "batch/BatchTable.h"
#include "config/CfgTemplate.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRows = 10000;
constexpr int kParameters = 300;
constexpr int kRepeats = 5;

class CountingDialogs : public Dialogs {
  public:
    void message(const UiText&, const UiText&) override { ++messages; }
    bool question(const UiText&, const UiText&, Buttons) override { return false; }
    QString openFile(const QString&) override { return {}; }
    QStringList openFiles(const QString&) override { return {}; }
    QString saveFile(const QString&, const QString&) override { return {}; }
    QString chooseFolder(const UiText&) override { return {}; }
    int messages = 0;
};

void fillTemplate(ParameterSet& params) {
    const char* placeholders[] = {"{$username.line.1}", "{$admin_pass}", "{$display_name.line.1}"};
    for (int i = 0; i < kParameters; ++i) {
        const PNumber p = 2 + i * 37;
        if (i < 3)
            params.Set(p, placeholders[i]);
        else
            params.Set(p, QByteArray("value-") + QByteArray::number(i) + QByteArray(i % 23, 'x'));
    }
}

QByteArray csvText() {
    QByteArray text = "MAC,{$username.line.1},{$admin_pass},{$display_name.line.1}\r\n";
    for (int r = 0; r < kRows; ++r) {
        const QByteArray mac = QByteArray::number(0x02E5D2000000LL + r, 16).rightJustified(12, '0');
        text += mac + ",user" + QByteArray::number(r) + ",pw" + QByteArray::number(r * 7919) +
                ",Desk phone " + QByteArray::number(r) + "\r\n";
    }
    return text;
}

double msSince(const QElapsedTimer& t) {
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

// Writes each buffer to its path with open, write and close.
double writeFloor(const std::vector<QByteArray>& names, const std::vector<QByteArray>& data) {
    QElapsedTimer t;
    t.start();
    for (size_t i = 0; i < names.size(); ++i) {
        const int fd = ::open(names[i].constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || ::write(fd, data[i].constData(), static_cast<size_t>(data[i].size())) !=
                          data[i].size()) {
            std::fprintf(stderr, "floor write failed: %s\n", names[i].constData());
            std::exit(1);
        }
        ::close(fd);
    }
    return msSince(t);
}

// The same with the writer the run uses.
double writeAtomicFloor(const std::vector<QString>& paths, const std::vector<QByteArray>& data) {
    QElapsedTimer t;
    t.start();
    for (size_t i = 0; i < paths.size(); ++i) {
        if (!WriteFileAtomically(paths[i], data[i])) {
            std::fprintf(stderr, "atomic floor write failed: %s\n", qPrintable(paths[i]));
            std::exit(1);
        }
    }
    return msSince(t);
}

void emptyFolder(const QString& dir) {
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // The folder to write into may be given (its file system decides much of the floor).
    const QString base = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::tempPath();
    const QString profiled = argc > 3 && QByteArray(argv[2]) == "--profile" ? argv[3] : QString();
    QTemporaryDir root(base + "/orvo-bench-XXXXXX");
    if (!root.isValid()) {
        std::fprintf(stderr, "cannot make a folder in %s\n", qPrintable(base));
        return 1;
    }
    const QString runDir = root.path() + "/run";
    const QString floorDir = root.path() + "/floor";

    CountingDialogs dialogs;
    CfgTemplate tpl(&dialogs, nullptr);
    fillTemplate(tpl.Parameters());

    const QByteArray csv = csvText();
    BatchTable table;
    QElapsedTimer loadClock;
    loadClock.start();
    const QString refusal = table.LoadCsv(csv, BatchMode::Mac);
    const double loadMs = msSince(loadClock);
    if (!refusal.isEmpty()) {
        std::fprintf(stderr, "CSV refused: %s\n", qPrintable(refusal));
        return 1;
    }

    struct Form {
        const char* name;
        BatchFormat format;
        bool scrambled, encrypted;
    } forms[] = {
        {"bin", BatchFormat::Bin, false, false},
        {"scrambled bin", BatchFormat::Bin, true, false},
        {"XML", BatchFormat::Xml, false, false},
        {"encrypted XML", BatchFormat::Xml, false, true},
    };

    std::printf("batch_bench: %d rows x %d parameters, best of %d, in %s\n", kRows, kParameters,
                kRepeats, qPrintable(base));
    std::printf("CSV load (%lld bytes): %.1f ms\n", static_cast<long long>(csv.size()), loadMs);
    std::printf("%-14s %9s %8s %9s %7s %10s %7s %8s\n", "form", "avg bytes", "run ms", "floor ms",
                "ratio", "atomic ms", "ratio", "us/file");
    bool withinTarget = true;
    for (const Form& f : forms) {
        BatchJob job;
        job.format = f.format;
        job.scrambled = f.scrambled;
        job.xmlEncrypted = f.encrypted;
        job.xmlKey = "0123456789abcdef";
        job.folder = runDir;
        if (!profiled.isEmpty()) {
            if (profiled != f.name)
                continue;
            double total = 0;
            for (int rep = 0; rep < 20; ++rep) {
                emptyFolder(runDir);
                QElapsedTimer t;
                t.start();
                RunBatch(table, tpl, job, dialogs, nullptr);
                total += msSince(t);
            }
            std::printf("%s: %.1f ms per run\n", f.name, total / 20);
            return 0;
        }

        double best = 1e300, bestFloor = 1e300, bestAtomic = 1e300;
        qint64 totalBytes = 0;
        std::vector<QByteArray> names, data;
        std::vector<QString> atomicPaths;
        for (int rep = 0; rep < kRepeats; ++rep) {
            // The floor needs the run's file sizes: the first round runs first, later rounds
            // alternate the order so that neither side always meets a freshly emptied disk.
            const auto floorRound = [&] {
                emptyFolder(floorDir);
                bestFloor = std::min(bestFloor, writeFloor(names, data));
                emptyFolder(floorDir);
                bestAtomic = std::min(bestAtomic, writeAtomicFloor(atomicPaths, data));
            };
            if (rep % 2 == 1)
                floorRound();
            emptyFolder(runDir);
            QElapsedTimer t;
            t.start();
            const BatchOutcome outcome = RunBatch(table, tpl, job, dialogs, nullptr);
            best = std::min(best, msSince(t));
            if (outcome.written.size() != kRows || dialogs.messages) {
                std::fprintf(stderr, "%s: %lld files, %d messages\n", f.name,
                             static_cast<long long>(outcome.written.size()), dialogs.messages);
                return 1;
            }
            if (rep == 0) {
                for (const QString& path : outcome.written) {
                    const qint64 size = QFileInfo(path).size();
                    totalBytes += size;
                    atomicPaths.push_back(floorDir + "/" + QFileInfo(path).fileName());
                    names.push_back(QFile::encodeName(atomicPaths.back()));
                    data.emplace_back(size, 'x');
                }
            }
            if (rep % 2 == 0)
                floorRound();
        }
        const double ratio = best / bestFloor;
        withinTarget = withinTarget && ratio < 2.0;
        std::printf("%-14s %9lld %8.1f %9.1f %6.2fx %10.1f %6.2fx %8.1f\n", f.name,
                    static_cast<long long>(totalBytes / kRows), best, bestFloor, ratio, bestAtomic,
                    best / bestAtomic, best * 1000.0 / kRows);
    }
    std::printf("target (under 2x the plain floor): %s\n", withinTarget ? "met" : "NOT met");
    return 0;
}
