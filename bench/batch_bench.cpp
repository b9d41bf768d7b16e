// Batch run speed: a 10,000-row CSV against a 300-parameter template, written as bin,
// scrambled bin, XML and encrypted XML, against the floor of writing the same number of files
// of the same sizes from memory (open, write, close), measured in the same run.
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
constexpr int kRepeats = 3;

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

void emptyFolder(const QString& dir) {
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir root(QDir::tempPath() + "/orvo-bench-XXXXXX");
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

    std::printf("batch_bench: %d rows x %d parameters, best of %d\n", kRows, kParameters, kRepeats);
    std::printf("CSV load (%lld bytes): %.1f ms\n", static_cast<long long>(csv.size()), loadMs);
    std::printf("%-14s %10s %10s %10s %7s\n", "form", "avg bytes", "run ms", "floor ms", "ratio");
    bool withinTarget = true;
    for (const Form& f : forms) {
        BatchJob job;
        job.format = f.format;
        job.scrambled = f.scrambled;
        job.xmlEncrypted = f.encrypted;
        job.xmlKey = "0123456789abcdef";
        job.folder = runDir;

        double best = 1e300, bestFloor = 1e300;
        qint64 totalBytes = 0;
        for (int rep = 0; rep < kRepeats; ++rep) {
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
            // The floor: the same names and sizes, from memory.
            std::vector<QByteArray> names, data;
            totalBytes = 0;
            for (const QString& path : outcome.written) {
                const qint64 size = QFileInfo(path).size();
                totalBytes += size;
                names.push_back(QFile::encodeName(floorDir + "/" + QFileInfo(path).fileName()));
                data.emplace_back(size, 'x');
            }
            emptyFolder(floorDir);
            bestFloor = std::min(bestFloor, writeFloor(names, data));
        }
        const double ratio = best / bestFloor;
        withinTarget = withinTarget && ratio < 2.0;
        std::printf("%-14s %10lld %10.1f %10.1f %6.2fx\n", f.name,
                    static_cast<long long>(totalBytes / kRows), best, bestFloor, ratio);
    }
    std::printf("target (under 2x the floor): %s\n", withinTarget ? "met" : "NOT met");
    return 0;
}
