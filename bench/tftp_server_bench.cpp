// The built-in TFTP server (orvo-cli serve --tftp-port) against tftpd-hpa on loopback, in the
// same run: the same folder of 1,000 configuration files of 20 KB, the same client load (curl
// processes fetching every file once between them), with 512- and 1468-byte blocks, the order
// of the servers alternating per round. Every file fetched is compared with its original.
// Then the first-block latency of a normal request while other clients flood the server with
// netascii requests that ask for the size of a 40 MB text file (telling it takes reading the
// whole file), wave after wave for a few seconds, each wave's clients ending their transfers once
// they have begun.
//   tftp_server_bench [--rounds N] [--clients C] [--files N] [--only files|flood]
//                     [--flood-seconds S] [--flood-size F]
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
#include "free_port.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

namespace {

struct Options {
    int rounds = 3;
    int clients = 32;
    int files = 1000;
    QString only;          // "files" or "flood": that part alone
    int floodSeconds = 3;  // how long the flood goes on per measurement
    int floodSize = 20;    // requests per wave
};

using Clock = std::chrono::steady_clock;

sockaddr_in loopback(quint16 port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return to;
}

QByteArray readRequest(const QByteArray& path, const QByteArray& mode, const QByteArray& options) {
    return QByteArray("\0\1", 2) + path + '\0' + mode + '\0' + options;
}

// Ends the transfer that sent the packet at from, with an ERROR.
void endTransfer(int fd, const sockaddr_in& from) {
    const char stop[] = {0, 5, 0, 0, 'b', 'e', 'n', 'c', 'h', 0};
    ::sendto(fd, stop, sizeof stop, 0, reinterpret_cast<const sockaddr*>(&from), sizeof from);
}

// Milliseconds from sending an octet read request for path to its DATA block 1 (the transfer
// is then ended); -1 when it did not come within timeoutMs.
double firstBlockMs(quint16 port, const QByteArray& path, int timeoutMs) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in to = loopback(port);
    const QByteArray request = readRequest(path, "octet", {});
    const auto start = Clock::now();
    ::sendto(fd, request.constData(), size_t(request.size()), 0,
             reinterpret_cast<const sockaddr*>(&to), sizeof to);
    double ms = -1;
    for (;;) {
        const int left =
            timeoutMs -
            int(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start)
                    .count());
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, left) != 1)
            break;
        char buf[600];
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t n =
            ::recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &length);
        if (n >= 4 && buf[1] == 3 && buf[2] == 0 && buf[3] == 1) {
            ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            endTransfer(fd, from);
            break;
        }
    }
    ::close(fd);
    return ms;
}

// One wave of the flood: size clients at once ask for path in netascii with tsize, each ends
// its transfer when its first packet comes (or gives up after 5 s). Gives the packets that
// came.
int floodWave(quint16 port, const QByteArray& path, int size) {
    const sockaddr_in to = loopback(port);
    const QByteArray request = readRequest(path, "netascii",
                                           QByteArray("tsize\0"
                                                      "0\0",
                                                      8));
    std::vector<pollfd> fds;
    for (int i = 0; i < size; ++i) {
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ::sendto(fd, request.constData(), size_t(request.size()), 0,
                 reinterpret_cast<const sockaddr*>(&to), sizeof to);
        fds.push_back({fd, POLLIN, 0});
    }
    int answered = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (answered < size && Clock::now() < deadline) {
        if (::poll(fds.data(), fds.size(), 100) <= 0)
            continue;
        for (pollfd& p : fds) {
            if (!(p.revents & POLLIN))
                continue;
            char buf[600];
            sockaddr_in from{};
            socklen_t length = sizeof from;
            if (::recvfrom(p.fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &length) >=
                4) {
                endTransfer(p.fd, from);
                ++answered;
            }
            p.events = 0;  // one packet each
            p.revents = 0;
        }
    }
    for (const pollfd& p : fds)
        ::close(p.fd);
    return answered;
}

// True when a read request for path is answered with its first block within a few seconds.
bool answers(quint16 port, const QByteArray& path) {
    for (int attempt = 0; attempt < 50; ++attempt)
        if (firstBlockMs(port, path, 100) >= 0)
            return true;
    return false;
}

struct FloodResult {
    std::vector<double> quietMs;    // first-block latencies without the flood
    std::vector<double> floodedMs;  // during it
    int lost = 0;                   // probes without a first block within 5 s
    int floodAnswered = 0, floodSent = 0;
};

double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
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
        else if (args[i] == "--only")
            options.only = args[i + 1];
        else if (args[i] == "--flood-seconds")
            options.floodSeconds = std::clamp(value, 1, 60);
        else if (args[i] == "--flood-size")
            options.floodSize = std::max(1, value);
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
    // A server started afresh on port; false when it does not answer.
    const auto startServer = [&](Child& server, bool builtIn, quint16 port) {
        const bool started =
            builtIn ? server.start(program,
                                   {"serve", "--root", root, "--tftp-port", QString::number(port),
                                    "--bind", "127.0.0.1"},
                                   log, dir.path() + "/cpu")
                    : server.start("/usr/sbin/in.tftpd",
                                   {"--foreground", "--address", QString("127.0.0.1:%1").arg(port),
                                    "--secure", "--user", "nobody", root},
                                   QProcess::nullDevice(), dir.path() + "/cpu");
        if (started && answers(port, probe))
            return true;
        std::fprintf(stderr, "%s does not answer\n", builtIn ? "orvo-cli serve" : "tftpd-hpa");
        return false;
    };
    // One measurement: the server started afresh, every file fetched, the server stopped.
    const auto measure = [&](bool builtIn, int blockSize) {
        Child server;
        const quint16 port = FreeLoopbackPort(SOCK_DGRAM);
        Result r;
        if (!startServer(server, builtIn, port)) {
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

    int failures = 0;
    if (options.only != "flood")
        std::printf(
            "%d files of 20,480 bytes, %d curl clients fetching them once between them; "
            "load %.2f%s\n",
            options.files, options.clients, loadAverage(),
            havePerf() ? "" : "; no perf: server CPU not counted");
    for (const int blockSize : {512, 1468}) {
        if (options.only == "flood")
            break;
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

    // The flood: a 40 MB text file whose netascii size is asked for again and again, while a
    // probe asks for a configuration file every 10 ms.
    if (options.only != "files") {
        {
            QDir().mkpath(root + "/fw");
            QFile big(root + "/fw/big.txt");
            big.open(QIODevice::WriteOnly);
            const QByteArray line = "P1=some value of a text file that phones fetch\n";
            const QByteArray chunk = line.repeated((1 << 20) / line.size());
            for (int i = 0; i < 40; ++i)
                big.write(chunk);
        }
        const auto flood = [&](bool builtIn) {
            FloodResult r;
            Child server;
            const quint16 port = FreeLoopbackPort(SOCK_DGRAM);
            if (!startServer(server, builtIn, port)) {
                r.lost = 1;
                return r;
            }
            for (int i = 0; i < 20; ++i)
                r.quietMs.push_back(firstBlockMs(port, probe, 5000));
            std::atomic<bool> done{false};
            std::thread flooding([&] {
                const auto end = Clock::now() + std::chrono::seconds(options.floodSeconds);
                while (Clock::now() < end) {
                    r.floodAnswered += floodWave(port, "fw/big.txt", options.floodSize);
                    r.floodSent += options.floodSize;
                }
                done = true;
            });
            while (!done) {
                const double ms = firstBlockMs(port, probe, 5000);
                if (ms < 0)
                    ++r.lost;
                else
                    r.floodedMs.push_back(ms);
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            flooding.join();
            server.stop();
            return r;
        };
        std::printf(
            "first block of a 20 KB file while waves of %d netascii tsize requests for a 40 MB "
            "file come in for %d s (load %.2f)\n",
            options.floodSize, options.floodSeconds, loadAverage());
        std::vector<double> ratios;
        for (int round = 1; round <= options.rounds; ++round) {
            FloodResult a, b;
            if (round % 2) {
                a = flood(true);
                b = flood(false);
            } else {
                b = flood(false);
                a = flood(true);
            }
            std::printf(" round %d (load %.2f)\n", round, loadAverage());
            for (const auto& [who, r] : {std::pair{"built-in", &a}, std::pair{"tftpd-hpa", &b}}) {
                std::printf(
                    "  %-9s quiet median %6.2f ms; flooded median %7.2f ms, p90 %7.2f ms, max "
                    "%7.2f ms over %zu probes, %d without a first block; flood answered %d of "
                    "%d\n",
                    who, percentile(r->quietMs, 0.5), percentile(r->floodedMs, 0.5),
                    percentile(r->floodedMs, 0.9), percentile(r->floodedMs, 1.0),
                    r->floodedMs.size(), r->lost, r->floodAnswered, r->floodSent);
            }
            failures += a.lost + b.lost;
            if (percentile(b.floodedMs, 0.5) > 0)
                ratios.push_back(percentile(a.floodedMs, 0.5) / percentile(b.floodedMs, 0.5));
            std::fflush(stdout);
        }
        if (!ratios.empty()) {
            std::sort(ratios.begin(), ratios.end());
            std::printf(
                "flooded first block, median of the rounds' medians, built-in / tftpd-hpa: "
                "%.2f (min %.2f, max %.2f)\n",
                ratios[ratios.size() / 2], ratios.front(), ratios.back());
        }
    }

    QFile lines(log);
    lines.open(QIODevice::ReadOnly);
    std::printf("log lines printed by the built-in server: %lld; files not intact: %d\n",
                static_cast<long long>(lines.readAll().count('\n')), failures);
    return failures == 0 ? 0 : 2;
}
