// The built-in TFTP server (orvo-cli serve --tftp-port) against tftpd-hpa on loopback, in the
// same run: the same folder of 1,000 configuration files of 20 KB, the same client load (curl
// processes fetching every file once between them), with 512- and 1468-byte blocks, the order
// of the servers alternating per round. Every file fetched is compared with its original.
//   tftp_server_bench [--rounds N] [--clients C] [--files N]
// Needs curl and tftpd-hpa (scripts/install-deps bench) and root: tftpd-hpa runs as a child of
// this program on 127.0.0.1 with its own arguments (in the foreground, confined to the folder,
// as user nobody), never as a service, and is stopped at the end.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

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

// A UDP port on loopback that was free a moment ago.
quint16 freePort() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

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

// A server as a child process, stopped when this object goes and when this program dies.
class Child {
  public:
    ~Child() { stop(); }
    bool start(const QString& program, const QStringList& args, const QString& output) {
        process_.setProgram(program);
        process_.setArguments(args);
        process_.setStandardOutputFile(output);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        process_.start();
        return process_.waitForStarted(5000);
    }
    void stop() {
        if (process_.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(process_.processId()), SIGTERM);
        if (!process_.waitForFinished(10000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    qint64 pid() const { return process_.processId(); }

  private:
    QProcess process_;
};

// CPU seconds (user + system) of a process, with those of its children it has waited for
// (tftpd-hpa answers each request in a child of its own).
double cpuSeconds(qint64 pid) {
    QFile f(QString("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray stat = f.readAll();
    // Fields after the command name: utime 14, stime 15, cutime 16, cstime 17.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 15)
        return 0;
    double ticks = 0;
    for (int i = 11; i <= 14; ++i)
        ticks += fields[i].toDouble();
    return ticks / double(sysconf(_SC_CLK_TCK));
}

struct Result {
    double seconds = 0;
    int intact = 0;
    int failed = 0;  // curl reported a failure or the bytes differ
    double cpuMsPerFile = 0;

    double filesPerSecond() const { return seconds > 0 ? intact / seconds : 0; }
};

// Every file once, spread over the clients; each client is one curl process fetching its
// files one after another.
Result fetchAll(quint16 port, int blockSize, const QString& root, const QStringList& names,
                const QString& out, int clients, qint64 serverPid) {
    QDir(out).removeRecursively();
    QDir().mkpath(out);
    std::vector<QStringList> lists(static_cast<size_t>(clients));
    for (int i = 0; i < names.size(); ++i) {
        QStringList& args = lists[size_t(i % clients)];
        args << QString("tftp://127.0.0.1:%1/cfg/%2").arg(port).arg(names[i]) << "-o"
             << out + "/" + names[i];
    }
    const double cpuBefore = cpuSeconds(serverPid);
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
    const double cpu = cpuSeconds(serverPid) - cpuBefore;
    for (const QString& name : names) {
        QFile original(root + "/cfg/" + name), copy(out + "/" + name);
        if (original.open(QIODevice::ReadOnly) && copy.open(QIODevice::ReadOnly) &&
            original.readAll() == copy.readAll())
            ++r.intact;
        else
            ++r.failed;
    }
    if (r.intact > 0)
        r.cpuMsPerFile = cpu * 1000 / r.intact;
    return r;
}

double loadAverage() {
    double load[1] = {0};
    getloadavg(load, 1);
    return load[0];
}

void print(const char* who, const Result& r) {
    std::printf("  %-9s %8.0f files/s  %6.2f s  %5d intact  %4d failed  server CPU %5.2f ms/file\n",
                who, r.filesPerSecond(), r.seconds, r.intact, r.failed, r.cpuMsPerFile);
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

    Child ours, theirs;
    const quint16 ourPort = freePort();
    const quint16 theirPort = freePort();
    const QString program = QCoreApplication::applicationDirPath() + "/orvo-cli";
    if (!ours.start(program,
                    {"serve", "--root", root, "--tftp-port", QString::number(ourPort), "--bind",
                     "127.0.0.1"},
                    dir.path() + "/orvo-cli.log") ||
        !theirs.start("/usr/sbin/in.tftpd",
                      {"--foreground", "--address", QString("127.0.0.1:%1").arg(theirPort),
                       "--secure", "--user", "nobody", root},
                      QProcess::nullDevice()) ||
        !answers(ourPort, probe) || !answers(theirPort, probe)) {
        std::fprintf(stderr, "a server does not answer\n");
        return 1;
    }

    std::printf(
        "%d files of 20,480 bytes, %d curl clients fetching them once between them; "
        "load %.2f\n",
        options.files, options.clients, loadAverage());
    const auto measure = [&](bool builtIn, int blockSize) {
        return fetchAll(builtIn ? ourPort : theirPort, blockSize, root, names,
                        dir.path() + (builtIn ? "/out-built-in" : "/out-tftpd-hpa"),
                        options.clients, builtIn ? ours.pid() : theirs.pid());
    };
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
            if (b.filesPerSecond() > 0 && a.cpuMsPerFile > 0) {
                ratios.push_back(a.filesPerSecond() / b.filesPerSecond());
                cpuRatios.push_back(b.cpuMsPerFile / a.cpuMsPerFile);
                std::printf("  ratio     %.2f files/s, %.2f CPU per file (tftpd-hpa / built-in)\n",
                            ratios.back(), cpuRatios.back());
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
    QFile log(dir.path() + "/orvo-cli.log");
    log.open(QIODevice::ReadOnly);
    std::printf("log lines printed by the built-in server: %lld; files not intact: %d\n",
                static_cast<long long>(log.readAll().count('\n')), failures);
    return failures == 0 ? 0 : 2;
}
