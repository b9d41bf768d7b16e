// The built-in TFTP server (orvo-cli serve --tftp-port) against tftpd-hpa on loopback, in the
// same run: the same folder of 1,000 configuration files of 20 KB, the same client load (curl
// processes fetching every file once between them), with 512- and 1468-byte blocks, the order
// of the servers alternating per round. Every file fetched is compared with its original.
//   tftp_server_bench [--rounds N] [--clients C] [--files N]
// Needs curl and tftpd-hpa (scripts/install-deps bench) and root: tftpd-hpa runs as a child of
// this program on 127.0.0.1 with its own arguments (in the foreground, confined to the folder,
// as user nobody), never as a service, and is stopped after each measurement. Each measurement
// starts its server afresh under `perf stat` (linux-perf), which counts the CPU time of the
// server and of every process it forks (tftpd-hpa answers each request in a child that /proc
// does not add to its own times); without perf only files per second are given.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include "FreePort.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

struct Options {
    int rounds = 3;
    int clients = 32;
    int files = 1000;
};

// True when a read request for path is answered with its first block within a few seconds;
// the transfer is then ended with an ERROR.
bool answers(quint16 port, const QByteArray& path) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const QByteArray request = QByteArray("\0\1", 2) + path + QByteArray("\0octet\0", 7);
    bool ok = false;
    for (int attempt = 0; attempt < 50 && !ok; ++attempt) {
        ::sendto(fd, request.constData(), size_t(request.size()), 0,
                 reinterpret_cast<sockaddr*>(&to), sizeof to);
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) != 1)
            continue;
        char buf[600];
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t n =
            ::recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &length);
        ok = n >= 4 && buf[1] == 3;
        const char stop[] = {0, 5, 0, 0, 'b', 'e', 'n', 'c', 'h', 0};
        ::sendto(fd, stop, sizeof stop, 0, reinterpret_cast<sockaddr*>(&from), length);
    }
    ::close(fd);
    return ok;
}

bool havePerf() {
    static const bool have = QProcess::execute("perf", {"stat", "-e", "task-clock", "-o",
                                                        "/dev/null", "--", "true"}) == 0;
    return have;
}

// A server as a child process (under perf stat when there is perf), stopped when this object
// goes and when this program dies.
class Child {
  public:
    ~Child() { stop(); }
    bool start(const QString& program, const QStringList& args, const QString& output,
               const QString& cpuFile) {
        cpuFile_ = havePerf() ? cpuFile : QString();
        QFile::remove(cpuFile);
        if (cpuFile_.isEmpty()) {
            process_.setProgram(program);
            process_.setArguments(args);
        } else {
            process_.setProgram("perf");
            process_.setArguments(
                QStringList{"stat", "-x,", "-e", "task-clock", "-o", cpuFile_, "--", program} +
                args);
        }
        process_.setStandardOutputFile(output, QIODevice::Append);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        process_.start();
        return process_.waitForStarted(5000);
    }
    // Stops the server; under perf, perf then writes what it counted and ends too.
    void stop() {
        if (process_.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(serverPid()), SIGTERM);
        if (!process_.waitForFinished(10000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    // CPU milliseconds of the server and its descendants once stopped; -1 when not counted.
    double cpuMs() const {
        QFile f(cpuFile_);
        if (cpuFile_.isEmpty() || !f.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray& line : f.readAll().split('\n'))
            if (line.contains("task-clock"))
                return line.split(',').value(0).toDouble();
        return -1;
    }

  private:
    // The server itself: perf's child when it runs under perf.
    qint64 serverPid() const {
        const qint64 pid = process_.processId();
        if (cpuFile_.isEmpty())
            return pid;
        QFile children(QString("/proc/%1/task/%1/children").arg(pid));
        if (!children.open(QIODevice::ReadOnly))
            return pid;
        const qint64 child = children.readAll().trimmed().split(' ').value(0).toLongLong();
        return child > 0 ? child : pid;
    }

    QProcess process_;
    QString cpuFile_;
};

struct Result {
    double seconds = 0;
    int intact = 0;
    int failed = 0;            // curl reported a failure or the bytes differ
    double cpuMsPerFile = -1;  // -1: not counted

    double filesPerSecond() const { return seconds > 0 ? intact / seconds : 0; }
};

// Every file once, spread over the clients; each client is one curl process fetching its
// files one after another.
Result fetchAll(quint16 port, int blockSize, const QString& root, const QStringList& names,
                const QString& out, int clients) {
    QDir(out).removeRecursively();
    QDir().mkpath(out);
    std::vector<QStringList> lists(static_cast<size_t>(clients));
    for (int i = 0; i < names.size(); ++i) {
        QStringList& args = lists[size_t(i % clients)];
        args << QString("tftp://127.0.0.1:%1/cfg/%2").arg(port).arg(names[i]) << "-o"
             << out + "/" + names[i];
    }
    QElapsedTimer clock;
    clock.start();
    std::vector<std::unique_ptr<QProcess>> curls;
    for (const QStringList& files : lists) {
        auto curl = std::make_unique<QProcess>();
        curl->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        curl->setStandardOutputFile(QProcess::nullDevice());
        curl->start("curl",
                    QStringList{"-s", "-S", "--tftp-blksize", QString::number(blockSize)} + files);
        curls.push_back(std::move(curl));
    }
    for (auto& curl : curls)
        curl->waitForFinished(120000);
    Result r;
    r.seconds = clock.nsecsElapsed() / 1e9;
    for (const QString& name : names) {
        QFile original(root + "/cfg/" + name), copy(out + "/" + name);
        if (original.open(QIODevice::ReadOnly) && copy.open(QIODevice::ReadOnly) &&
            original.readAll() == copy.readAll())
            ++r.intact;
        else
            ++r.failed;
    }
    return r;
}

double loadAverage() {
    double load[1] = {0};
    getloadavg(load, 1);
    return load[0];
}

void print(const char* who, const Result& r) {
    std::printf("  %-9s %8.0f files/s  %6.2f s  %5d intact  %4d failed", who, r.filesPerSecond(),
                r.seconds, r.intact, r.failed);
    if (r.cpuMsPerFile >= 0)
        std::printf("  server CPU %5.2f ms/file", r.cpuMsPerFile);
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Options options;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        const int value = args[i + 1].toInt();
        if (args[i] == "--rounds")
            options.rounds = std::max(1, value);
        else if (args[i] == "--clients")
            options.clients = std::max(1, value);
        else if (args[i] == "--files")
            options.files = std::max(1, value);
    }
    if (geteuid() != 0) {
        std::fprintf(stderr, "tftpd-hpa confines itself to the folder (chroot): run as root\n");
        return 1;
    }
    QTemporaryDir dir(QDir::tempPath() + "/orvo-tftp-bench-XXXXXX");
    // tftpd-hpa serves as user nobody: the folder must be readable by everyone.
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    const QString root = dir.path() + "/root";
    QDir().mkpath(root + "/cfg");
    QStringList names;
    for (int i = 0; i < options.files; ++i) {
        const QString name = QString("cfg0a1b2c%1").arg(i, 6, 10, QChar('0'));
        QByteArray body = "Flag=5678&CheckSum=0";
        for (int p = 1; body.size() < 20480 - 40; ++p)
            body += "&P" + QByteArray::number(p) + "=value" + QByteArray::number(i * 7919 + p);
        body = body.left(20480 - 4) + "&end";
        QFile f(root + "/cfg/" + name);
        f.open(QIODevice::WriteOnly);
        f.write(body);
        names << name;
    }
    const QByteArray probe = "cfg/" + names[0].toUtf8();

    const QString program = QCoreApplication::applicationDirPath() + "/orvo-cli";
    const QString log = dir.path() + "/orvo-cli.log";
    // One measurement: the server started afresh, every file fetched, the server stopped.
    const auto measure = [&](bool builtIn, int blockSize) {
        Child server;
        const quint16 port = FreeLoopbackPort(SOCK_DGRAM);
        const bool started =
            builtIn ? server.start(program,
                                   {"serve", "--root", root, "--tftp-port", QString::number(port),
                                    "--bind", "127.0.0.1"},
                                   log, dir.path() + "/cpu")
                    : server.start("/usr/sbin/in.tftpd",
                                   {"--foreground", "--address", QString("127.0.0.1:%1").arg(port),
                                    "--secure", "--user", "nobody", root},
                                   QProcess::nullDevice(), dir.path() + "/cpu");
        Result r;
        if (!started || !answers(port, probe)) {
            std::fprintf(stderr, "%s does not answer\n", builtIn ? "orvo-cli serve" : "tftpd-hpa");
            r.failed = int(names.size());
            return r;
        }
        r = fetchAll(port, blockSize, root, names,
                     dir.path() + (builtIn ? "/out-built-in" : "/out-tftpd-hpa"), options.clients);
        server.stop();
        const double cpu = server.cpuMs();
        if (cpu >= 0 && r.intact > 0)
            r.cpuMsPerFile = cpu / r.intact;
        return r;
    };

    std::printf(
        "%d files of 20,480 bytes, %d curl clients fetching them once between them; "
        "load %.2f%s\n",
        options.files, options.clients, loadAverage(),
        havePerf() ? "" : "; no perf: server CPU not counted");
    int failures = 0;
    for (const int blockSize : {512, 1468}) {
        std::printf("blksize %d\n", blockSize);
        std::vector<double> ratios, cpuRatios;
        for (int round = 1; round <= options.rounds; ++round) {
            std::printf(" round %d (load %.2f)\n", round, loadAverage());
            // The order alternates, so that a change of the machine's load from other work does
            // not always favour the same server.
            Result a, b;
            if (round % 2) {
                a = measure(true, blockSize);
                b = measure(false, blockSize);
            } else {
                b = measure(false, blockSize);
                a = measure(true, blockSize);
            }
            print("built-in", a);
            print("tftpd-hpa", b);
            failures += a.failed + b.failed;
            if (b.filesPerSecond() > 0) {
                ratios.push_back(a.filesPerSecond() / b.filesPerSecond());
                std::printf("  ratio     %.2f files/s", ratios.back());
                if (a.cpuMsPerFile > 0 && b.cpuMsPerFile > 0) {
                    cpuRatios.push_back(b.cpuMsPerFile / a.cpuMsPerFile);
                    std::printf(", %.2f CPU per file (tftpd-hpa / built-in)", cpuRatios.back());
                }
                std::printf("\n");
            }
            std::fflush(stdout);
        }
        const auto summary = [blockSize](const char* what, std::vector<double> v) {
            if (v.empty())
                return;
            std::sort(v.begin(), v.end());
            std::printf("blksize %d median %s: %.2f (min %.2f, max %.2f)\n", blockSize, what,
                        v[v.size() / 2], v.front(), v.back());
        };
        summary("files/s built-in / tftpd-hpa", ratios);
        summary("CPU per file tftpd-hpa / built-in", cpuRatios);
    }
    QFile lines(log);
    lines.open(QIODevice::ReadOnly);
    std::printf("log lines printed by the built-in server: %lld; files not intact: %d\n",
                static_cast<long long>(lines.readAll().count('\n')), failures);
    return failures == 0 ? 0 : 2;
}
