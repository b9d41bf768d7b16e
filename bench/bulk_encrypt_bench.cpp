// Bulk encryption of 1,000 configuration files of 20 KB (half bin, half XML) against copying
// the same files with cp into an empty folder, in the same run: orvo-cli encrypt as a process,
// and the worker thread with its synchronous row reports in this process.
//   bulk_encrypt_bench [rounds]
#include "app/Notices.h"
#include "config/BinFile.h"
#include "config/CfgFileEncryptThread.h"
#include "config/XmlFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kFiles = 1000;
constexpr int kFileSize = 20 * 1024;

// A configuration of many parameters whose file is exactly kFileSize bytes.
QByteArray fileOfSize(bool xml) {
    ParameterSet params;
    for (int p = 1; p <= 300; ++p)
        params.Set(p, QByteArray("value-") + QByteArray::number(p * 7919));
    const auto print = [&] { return xml ? PrintXmlConfig(params) : BuildBinText(params); };
    params.Set(9999, QByteArray());
    params.Set(9999, QByteArray(kFileSize - print().size(), 'x'));
    return print();
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

double runProcess(const QString& program, const QStringList& args) {
    QElapsedTimer timer;
    timer.start();
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, args);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        std::fprintf(stderr, "%s failed\n", qPrintable(program));
        std::exit(1);
    }
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

double runWorker(NoticeTransport& notices, const QStringList& files, const QString& outDir) {
    int ok = 0;
    bool finished = false;
    notices.SetHandler(ToolStatusOk, [&](int, const void*) { ++ok; });
    notices.SetHandler(ToolStatusFinished, [&](int, const void*) { finished = true; });
    QElapsedTimer timer;
    timer.start();
    CfgFileEncryptThread worker(&notices);
    worker.SetOutputDir(outDir);
    worker.SetKey("02E5D220170412");
    worker.SetFileList(QStringList{"File"} + files);
    worker.SetStartFromRowOne(true);
    worker.start();
    WaitHandlingNotices([&] { return finished; }, 1);
    const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    worker.wait();
    if (ok != files.size()) {
        std::fprintf(stderr, "worker: %d of %d files encrypted\n", ok, int(files.size()));
        std::exit(1);
    }
    return ms;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 6;
    const QString cli = QCoreApplication::applicationDirPath() + "/orvo-cli";
    if (!QFileInfo(cli).isExecutable()) {
        std::fprintf(stderr, "%s not found\n", qPrintable(cli));
        return 1;
    }

    QTemporaryDir root(QDir::tempPath() + "/orvo-bench-XXXXXX");
    const QString inDir = root.path() + "/in";
    QDir().mkpath(inDir);
    const QByteArray bin = fileOfSize(false), xml = fileOfSize(true);
    if (bin.size() != kFileSize || xml.size() != kFileSize) {
        std::fprintf(stderr, "inputs of %d and %d bytes\n", int(bin.size()), int(xml.size()));
        return 1;
    }
    QStringList files;
    for (int i = 0; i < kFiles; ++i) {
        const bool isXml = i % 2 != 0;
        const QString path =
            QString("%1/cfg%2.%3").arg(inDir).arg(i, 4, 10, QChar('0')).arg(isXml ? "xml" : "bin");
        if (!writeFile(path, isXml ? xml : bin))
            return 1;
        files << path;
    }

    NoticeTransport notices;
    std::vector<double> cp, cliMs, worker;
    for (int r = 0; r < rounds; ++r) {
        const QString base = QString("%1/r%2-").arg(root.path()).arg(r);
        for (const char* name : {"cp", "cli", "worker"})
            QDir().mkpath(base + name);
        // The order turns every round, so that no contender always follows the same one.
        for (int k = 0; k < 3; ++k) {
            switch ((r + k) % 3) {
                case 0:
                    cp.push_back(runProcess("cp", files + QStringList{base + "cp"}));
                    break;
                case 1:
                    cliMs.push_back(
                        runProcess(cli, QStringList{"encrypt", "--out", base + "cli"} + files));
                    break;
                default:
                    worker.push_back(runWorker(notices, files, base + "worker"));
                    break;
            }
        }
        for (const char* name : {"cp", "cli", "worker"})
            QDir(base + name).removeRecursively();
    }

    const double c = median(cp), e = median(cliMs), w = median(worker);
    std::printf("Bulk encryption: %d files of %d bytes (%d bin, %d XML), median of %d rounds\n",
                kFiles, kFileSize, kFiles / 2, kFiles / 2, rounds);
    std::printf("  cp into an empty folder        %8.1f ms\n", c);
    std::printf("  orvo-cli encrypt               %8.1f ms   %.2fx cp\n", e, e / c);
    std::printf("  CfgFileEncryptThread run       %8.1f ms   %.2fx cp\n", w, w / c);
    std::printf("  target: under 2x cp            %s\n",
                std::max(e, w) < 2 * c ? "met" : "NOT met");
    return 0;
}
