// Start-up of the main window: the time from starting the program until its window is shown,
// and its resident memory then. Each run starts this program again as a child that opens the
// window (as orvo-provision-tool does) in a fresh copy of data/, reports, and closes.
#include "app/ui/MainProgram.h"
#include "app/ui/Unit1.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

long residentKb() {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

int child(int argc, char** argv) {
    return RunOrvoProvisionTool(argc, argv, [](TForm1& form) {
        QCoreApplication::processEvents();
        std::printf("shown %ld\n", residentKb());
        std::fflush(stdout);
        form.close();
    });
}

bool copyTree(const QString& from, const QString& to) {
    QDir().mkpath(to);
    for (const QFileInfo& e :
         QDir(from).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
        const QString target = to + "/" + e.fileName();
        if (e.isDir() ? !copyTree(e.filePath(), target) : !QFile::copy(e.filePath(), target))
            return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--child") == 0)
        return child(argc, argv);

    QCoreApplication app(argc, argv);
    const int runs = 7;
    QTemporaryDir work;
    if (!copyTree(QString(ORVO_SOURCE_DIR_DEFAULT) + "/data", work.path())) {
        std::fprintf(stderr, "startup_bench: cannot copy data/\n");
        return 1;
    }
    std::vector<double> ms;
    std::vector<long> kb;
    for (int i = 0; i < runs; ++i) {
        QProcess p;
        p.setWorkingDirectory(work.path());
        p.setProcessChannelMode(QProcess::SeparateChannels);
        QElapsedTimer timer;
        timer.start();
        p.start(QCoreApplication::applicationFilePath(), {"--child"});
        QByteArray line;
        while (!line.contains('\n') && p.waitForReadyRead(10000))
            line += p.readAllStandardOutput();
        const double elapsed = timer.nsecsElapsed() / 1e6;
        p.waitForFinished(10000);
        if (!line.startsWith("shown ")) {
            std::fprintf(stderr, "startup_bench: the window did not show (%s)\n",
                         p.readAllStandardError().constData());
            return 1;
        }
        ms.push_back(elapsed);
        kb.push_back(line.mid(6).trimmed().toLong());
    }
    std::sort(ms.begin(), ms.end());
    std::sort(kb.begin(), kb.end());
    std::printf("window shown after start: median %.0f ms (min %.0f, max %.0f, %d runs, %s)\n",
                ms[runs / 2], ms.front(), ms.back(), runs,
                qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ? "default platform"
                                                               : qgetenv("QT_QPA_PLATFORM").data());
    std::printf("resident memory when shown: median %.1f MB (max %.1f MB)\n", kb[runs / 2] / 1024.0,
                kb.back() / 1024.0);
    return 0;
}
