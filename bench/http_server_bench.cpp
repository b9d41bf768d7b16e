// The built-in HTTP server against nginx on loopback, in the same run: wrk fetches 1,000 small
// configuration files with "Connection: close" for a fixed time, alternately from each server,
// and then a light client fetches files while 500 idle connections are held open. A second
// built-in server that records every download in a provisioning record (SQLite) is measured in
// the same rounds, to show what recording costs. With --https 1 both serve HTTPS instead, with
// the same self-signed EC P-256 certificate, TLS 1.2 and 1.3, no sessions resumed: every
// request is a new connection with a full handshake (the recording server and the idle part
// are left out then).
//   http_server_bench [--rounds N] [--seconds S] [--connections C] [--wrk-threads T]
//                     [--idle N] [--server-threads N] [--no-log 1] [--https 1]
// (5 rounds of 8 s each, 100 connections, 2 wrk threads and 500 idle connections unless asked:
// the round-to-round swing on a small machine is several percent, so the median takes five.)
// Needs wrk and nginx (scripts/install-deps bench). nginx runs as a child of this program on
// 127.0.0.1 with its own configuration, pid, log and temporary paths, and is stopped at the end.
#include "free_port.h"
#include "app/MyLog.h"
#include "protection/TlsCertificate.h"
#include "record/ProvisioningRecord.h"
#include "record/Sqlite.h"
#include "servers/MyHttpServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

struct Options {
    int rounds = 5;
    int seconds = 8;
    int connections = 100;
    int wrkThreads = 2;
    int idle = 500;
    int serverThreads = 0;  // 0: the server's own choice
    bool log = true;        // --no-log 1 leaves the built-in server without a log (to see its cost)
    bool https = false;
};

struct WrkResult {
    bool ran = false;
    double requestsPerSecond = 0;
    long long requests = 0;
    long long errors = 0;  // socket errors plus answers other than 2xx/3xx
    double p99Ms = 0;
    double cpuUsPerRequest = 0;  // server CPU time per answered request
    QString errorText;
};

int connectLoopback(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// True when GET path answers 200 within a few seconds; over HTTPS curl asks.
bool answers200(quint16 port, const QByteArray& path, bool https = false) {
    if (https) {
        for (int attempt = 0; attempt < 50; ++attempt) {
            QProcess curl;
            curl.start("curl",
                       {"--silent", "--insecure", "--output", "/dev/null", "--write-out",
                        "%{http_code}", QString("https://127.0.0.1:%1%2").arg(port).arg(path)});
            if (curl.waitForFinished(5000) && curl.readAllStandardOutput() == "200")
                return true;
            QThread::msleep(100);
        }
        return false;
    }
    for (int attempt = 0; attempt < 50; ++attempt) {
        const int fd = connectLoopback(port);
        if (fd >= 0) {
            const QByteArray request =
                "GET " + path + " HTTP/1.1\r\nHost: b\r\nConnection: close\r\n\r\n";
            ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL);
            char buf[64] = {};
            const ssize_t n = ::recv(fd, buf, sizeof buf - 1, 0);
            ::close(fd);
            return n > 12 && QByteArray(buf).startsWith("HTTP/1.1 200");
        }
        QThread::msleep(100);
    }
    return false;
}

// nginx as a child process; stopped when this object goes, and when this program dies.
class Nginx {
  public:
    // With a certificate and key, nginx serves HTTPS.
    explicit Nginx(const QString& dir, const TlsFiles& tls = {}) : dir_(dir), tls_(tls) {}
    ~Nginx() { stop(); }

    bool start(const QString& root, const QString& probe) {
        for (int attempt = 0; attempt < 5; ++attempt) {
            port_ = FreeLoopbackPort(SOCK_STREAM);
            writeConfig(root);
            process_.setProgram("nginx");
            process_.setArguments({"-p", dir_, "-c", dir_ + "/nginx.conf"});
            process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
            process_.start();
            if (!process_.waitForStarted(5000))
                return false;
            if (answers200(port_, probe.toUtf8(), !tls_.certFile.isEmpty()))
                return true;
            stop();  // the port was taken meanwhile, or nginx failed: try another
        }
        return false;
    }

    void stop() {
        if (process_.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(process_.processId()), SIGTERM);  // fast shutdown of master and workers
        if (!process_.waitForFinished(10000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

    quint16 port() const { return port_; }
    qint64 pid() const { return process_.processId(); }

  private:
    void writeConfig(const QString& root) {
        QDir().mkpath(dir_ + "/logs");
        QDir().mkpath(dir_ + "/temp");
        QFile f(dir_ + "/nginx.conf");
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        QByteArray conf;
        if (geteuid() == 0)
            conf += "user root;\n";  // the workers must read the private temporary folder
        conf +=
            "worker_processes auto;\n"
            "daemon off;\n"
            "pid " +
            dir_.toUtf8() +
            "/nginx.pid;\n"
            "error_log " +
            dir_.toUtf8() +
            "/logs/error.log warn;\n"
            "events { worker_connections 4096; }\n"
            "http {\n"
            "  include /etc/nginx/mime.types;\n"
            "  default_type application/octet-stream;\n"
            "  access_log " +
            dir_.toUtf8() +
            "/logs/access.log;\n"
            "  sendfile on;\n"
            "  tcp_nopush on;\n"
            "  keepalive_timeout 0;\n"
            "  client_body_temp_path " +
            dir_.toUtf8() +
            "/temp/body;\n"
            "  proxy_temp_path " +
            dir_.toUtf8() +
            "/temp/proxy;\n"
            "  fastcgi_temp_path " +
            dir_.toUtf8() +
            "/temp/fastcgi;\n"
            "  uwsgi_temp_path " +
            dir_.toUtf8() +
            "/temp/uwsgi;\n"
            "  scgi_temp_path " +
            dir_.toUtf8() +
            "/temp/scgi;\n"
            "  server {\n"
            "    listen 127.0.0.1:" +
            QByteArray::number(port_) + (tls_.certFile.isEmpty() ? "" : " ssl") + ";\n" +
            tlsConfig() + "    root " + root.toUtf8() +
            ";\n"
            "  }\n"
            "}\n";
        f.write(conf);
    }

    // The built-in server's TLS settings: TLS 1.2 and 1.3, OpenSSL's default ciphers and
    // groups, no session tickets and no session cache.
    QByteArray tlsConfig() const {
        if (tls_.certFile.isEmpty())
            return {};
        return "    ssl_certificate " + QFile::encodeName(tls_.certFile) +
               ";\n"
               "    ssl_certificate_key " +
               QFile::encodeName(tls_.keyFile) +
               ";\n"
               "    ssl_protocols TLSv1.2 TLSv1.3;\n"
               "    ssl_ciphers DEFAULT;\n"
               "    ssl_session_tickets off;\n"
               "    ssl_session_cache off;\n";
    }

    QString dir_;
    TlsFiles tls_;
    QProcess process_;
    quint16 port_ = 0;
};

// CPU seconds (user + system) a process has used, all its threads together.
double cpuSeconds(qint64 pid) {
    QFile f(QString("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray stat = f.readAll();
    // Fields after the command name in parentheses: state is field 3, utime 14, stime 15.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    return (fields[11].toDouble() + fields[12].toDouble()) / double(sysconf(_SC_CLK_TCK));
}

// CPU seconds of a process and its children (nginx's master and workers).
double cpuSecondsWithChildren(qint64 pid) {
    double total = cpuSeconds(pid);
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
        bool numeric = false;
        const qint64 child = entry.toLongLong(&numeric);
        if (!numeric)
            continue;
        QFile f("/proc/" + entry + "/stat");
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QByteArray stat = f.readAll();
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toLongLong() == pid)
            total += cpuSeconds(child);
    }
    return total;
}

double latencyMs(const QString& value, const QString& unit) {
    const double v = value.toDouble();
    if (unit == "us")
        return v / 1000;
    if (unit == "s")
        return v * 1000;
    return v;
}

WrkResult runWrk(quint16 port, const QString& script, int threads, int connections, int seconds,
                 bool https) {
    QProcess wrk;
    wrk.start("wrk",
              {"-t" + QString::number(threads), "-c" + QString::number(connections),
               "-d" + QString::number(seconds) + "s", "--latency", "-H", "Connection: close", "-s",
               script, QString("%1://127.0.0.1:%2/").arg(https ? "https" : "http").arg(port)});
    WrkResult result;
    if (!wrk.waitForStarted(5000) || !wrk.waitForFinished((seconds + 30) * 1000)) {
        result.errorText = "wrk did not run";
        return result;
    }
    const QString out = QString::fromUtf8(wrk.readAllStandardOutput());
    const auto rps = QRegularExpression("Requests/sec:\\s+([0-9.]+)").match(out);
    const auto total = QRegularExpression("(\\d+) requests in").match(out);
    const auto p99 = QRegularExpression("\\n\\s+99%\\s+([0-9.]+)(us|ms|s)").match(out);
    const auto sockets =
        QRegularExpression(
            "Socket errors: connect (\\d+), read (\\d+), write (\\d+), timeout (\\d+)")
            .match(out);
    const auto non2xx = QRegularExpression("Non-2xx or 3xx responses: (\\d+)").match(out);
    if (!rps.hasMatch()) {
        result.errorText = out + QString::fromUtf8(wrk.readAllStandardError());
        return result;
    }
    result.ran = true;
    result.requestsPerSecond = rps.captured(1).toDouble();
    result.requests = total.captured(1).toLongLong();
    if (p99.hasMatch())
        result.p99Ms = latencyMs(p99.captured(1), p99.captured(2));
    for (int i = 1; sockets.hasMatch() && i <= 4; ++i)
        result.errors += sockets.captured(i).toLongLong();
    if (non2xx.hasMatch())
        result.errors += non2xx.captured(1).toLongLong();
    return result;
}

// Keeps count connections open and silent, opening new ones as the server closes old ones.
class IdleClients {
  public:
    IdleClients(quint16 port, int count) : port_(port), count_(count) {
        thread_ = std::thread([this] { run(); });
    }
    ~IdleClients() {
        stop_ = true;
        thread_.join();
    }
    int reopened() const { return reopened_; }

  private:
    void run() {
        std::vector<pollfd> fds;
        while (!stop_) {
            while (int(fds.size()) < count_ && !stop_) {
                const int fd = connectLoopback(port_);
                if (fd < 0)
                    break;
                fds.push_back({fd, POLLIN, 0});
            }
            ::poll(fds.data(), fds.size(), 100);
            for (size_t i = 0; i < fds.size();) {
                if (fds[i].revents) {
                    ::close(fds[i].fd);
                    fds[i] = fds.back();
                    fds.pop_back();
                    ++reopened_;
                } else {
                    ++i;
                }
            }
        }
        for (const pollfd& p : fds)
            ::close(p.fd);
    }

    quint16 port_;
    int count_;
    std::atomic<bool> stop_{false};
    std::atomic<int> reopened_{0};
    std::thread thread_;
};

void print(const char* who, const WrkResult& r) {
    if (!r.ran) {
        std::printf("  %-8s failed: %s\n", who, r.errorText.toUtf8().constData());
        return;
    }
    std::printf(
        "  %-8s %9.0f req/s  %9lld requests  %5lld errors  p99 %7.2f ms  server CPU %5.1f us/req\n",
        who, r.requestsPerSecond, r.requests, r.errors, r.p99Ms, r.cpuUsPerRequest);
}

int loadFigure() {
    double load[1] = {0};
    getloadavg(load, 1);
    return int(load[0] * 100 + 0.5);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Options options;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        const int value = args[i + 1].toInt();
        if (args[i] == "--rounds")
            options.rounds = value;
        else if (args[i] == "--seconds")
            options.seconds = value;
        else if (args[i] == "--connections")
            options.connections = value;
        else if (args[i] == "--wrk-threads")
            options.wrkThreads = value;
        else if (args[i] == "--idle")
            options.idle = value;
        else if (args[i] == "--server-threads")
            options.serverThreads = value;
        else if (args[i] == "--no-log")
            options.log = value == 0;
        else if (args[i] == "--https")
            options.https = value != 0;
    }
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);

    QTemporaryDir dir(QDir::tempPath() + "/orvo-http-bench-XXXXXX");
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    const QString root = dir.path() + "/htdocs";
    QDir().mkpath(root + "/cfg");
    QByteArray paths;
    for (int i = 0; i < 1000; ++i) {
        const QString name = QString("cfg0015650%1").arg(i, 5, 10, QChar('0'));
        QByteArray body = "Flag=5678&CheckSum=0";
        for (int p = 1; p <= 60; ++p)
            body += "&P" + QByteArray::number(p * 7) + "=value" + QByteArray::number(i * p);
        body += "&end";
        QFile f(root + "/cfg/" + name);
        f.open(QIODevice::WriteOnly);
        f.write(body);
        paths += "/cfg/" + name.toUtf8() + "\n";
    }
    {
        QFile f(dir.path() + "/paths.txt");
        f.open(QIODevice::WriteOnly);
        f.write(paths);
        QFile lua(dir.path() + "/paths.lua");
        lua.open(QIODevice::WriteOnly);
        lua.write(
            "local paths = {}\n"
            "for line in io.lines(\"" +
            dir.path().toUtf8() +
            "/paths.txt\") do\n"
            "  paths[#paths + 1] = line\n"
            "end\n"
            "local i = math.random(#paths)\n"
            "request = function()\n"
            "  i = i % #paths + 1\n"
            "  return wrk.format(\"GET\", paths[i])\n"
            "end\n");
    }
    const QString script = dir.path() + "/paths.lua";
    const QByteArray probe = "/cfg/cfg001565000000";

    QDir().mkpath(dir.path() + "/orvo");
    MyLog log;
    log.SetDirectory(dir.path() + "/orvo");
    if (log.Open() != 0) {
        std::fprintf(stderr, "cannot open the log\n");
        return 1;
    }
    TlsFiles tls;
    if (options.https) {
        tls = {dir.path() + "/tls/server.crt", dir.path() + "/tls/server.key"};
        QDir().mkpath(dir.path() + "/tls");
        QString error;
        if (!MakeSelfSignedCertificate({"127.0.0.1"}, TlsKeyType::Ec, tls, &error)) {
            std::fprintf(stderr, "cannot make the certificate: %s\n", error.toUtf8().constData());
            return 1;
        }
        // nginx's workers read the key as the user they run as.
        ::chmod(QFile::encodeName(dir.path() + "/tls").constData(), 0755);
        ::chmod(QFile::encodeName(tls.keyFile).constData(), 0644);
    }
    MyHttpServer server(root, options.log ? &log : nullptr);
    if (options.https)
        server.SetTls(tls.certFile, tls.keyFile);
    ProvisioningRecord record;
    if (!record.Open(dir.path() + "/db/provisioning.sqlite")) {
        std::fprintf(stderr, "cannot open the record\n");
        return 1;
    }
    MyHttpServer recorded(root, options.log ? &log : nullptr);
    recorded.SetFetchObserver(record.Observer());
    for (MyHttpServer* s : {&server, &recorded}) {
        if (options.serverThreads > 0)
            s->SetThreadCount(options.serverThreads);
        s->Start(0, "127.0.0.1");
    }
    Nginx nginx(dir.path() + "/nginx", tls);
    if (!nginx.start(root, probe) || !answers200(server.Port(), probe, options.https) ||
        !answers200(recorded.Port(), probe)) {
        std::fprintf(stderr, "a server does not answer\n");
        return 1;
    }

    std::printf(
        "wrk -t%d -c%d -d%ds, %s, Connection: close, 1,000 files of %lld bytes; load %.2f\n",
        options.wrkThreads, options.connections, options.seconds, options.https ? "HTTPS" : "HTTP",
        QFileInfo(root + "/cfg/cfg001565000000").size(), loadFigure() / 100.0);
    // Each round measures both servers, in alternating order, so that a change of the machine's
    // load from other work does not always favour the same one.
    // The built-in server (the recording one when asked) or nginx.
    const auto measure = [&](bool builtIn, int threads, int connections, bool recording = false) {
        const qint64 pid = builtIn ? qint64(getpid()) : nginx.pid();
        const double cpuBefore = builtIn ? cpuSeconds(pid) : cpuSecondsWithChildren(pid);
        const quint16 port = builtIn ? (recording ? recorded.Port() : server.Port()) : nginx.port();
        WrkResult r = runWrk(port, script, threads, connections, options.seconds,
                             options.https && !recording);
        const double cpu = (builtIn ? cpuSeconds(pid) : cpuSecondsWithChildren(pid)) - cpuBefore;
        if (r.requests > 0)
            r.cpuUsPerRequest = cpu * 1e6 / double(r.requests);
        return r;
    };
    std::vector<double> ratios, cpuRatios, recordRatios, recordCpuRatios;
    for (int round = 1; round <= options.rounds; ++round) {
        std::printf("round %d (load %.2f)\n", round, loadFigure() / 100.0);
        WrkResult ours, theirs, recording;
        if (options.https) {  // no recording server: built-in and nginx only
            ours = measure(round % 2, options.wrkThreads, options.connections);
            theirs = measure(!(round % 2), options.wrkThreads, options.connections);
            if (!(round % 2))
                std::swap(ours, theirs);
        } else if (round % 2) {
            ours = measure(true, options.wrkThreads, options.connections);
            recording = measure(true, options.wrkThreads, options.connections, true);
            theirs = measure(false, options.wrkThreads, options.connections);
        } else {
            theirs = measure(false, options.wrkThreads, options.connections);
            recording = measure(true, options.wrkThreads, options.connections, true);
            ours = measure(true, options.wrkThreads, options.connections);
        }
        print("built-in", ours);
        if (!options.https)
            print("recorded", recording);
        print("nginx", theirs);
        if (ours.ran && recording.ran && ours.requestsPerSecond > 0 &&
            recording.cpuUsPerRequest > 0) {
            recordRatios.push_back(recording.requestsPerSecond / ours.requestsPerSecond);
            recordCpuRatios.push_back(ours.cpuUsPerRequest / recording.cpuUsPerRequest);
            std::printf("  record   %.3f req/s, %.3f CPU per request (without / with recording)\n",
                        recordRatios.back(), recordCpuRatios.back());
        }
        if (ours.ran && theirs.ran && theirs.requestsPerSecond > 0 && ours.cpuUsPerRequest > 0) {
            ratios.push_back(ours.requestsPerSecond / theirs.requestsPerSecond);
            cpuRatios.push_back(theirs.cpuUsPerRequest / ours.cpuUsPerRequest);
            std::printf("  ratio    %.2f req/s, %.2f CPU per request (nginx / built-in)\n",
                        ratios.back(), cpuRatios.back());
        }
        std::fflush(stdout);
    }
    const auto summary = [](const char* what, std::vector<double> v) {
        if (v.empty())
            return;
        std::sort(v.begin(), v.end());
        std::printf("median %s: %.2f (min %.2f, max %.2f)\n", what, v[v.size() / 2], v.front(),
                    v.back());
    };
    summary("req/s built-in / nginx", ratios);
    summary("CPU per request nginx / built-in", cpuRatios);
    summary("req/s recording / not recording", recordRatios);
    summary("CPU per request not recording / recording", recordCpuRatios);
    if (options.https)
        return 0;

    std::printf("while %d idle connections are held open: wrk -t1 -c4 -d%ds\n", options.idle,
                options.seconds);
    for (const bool builtIn : {true, false}) {
        const quint16 port = builtIn ? server.Port() : nginx.port();
        IdleClients idle(port, options.idle);
        QThread::msleep(500);
        const WrkResult r = measure(builtIn, 1, 4);
        print(builtIn ? "built-in" : "nginx", r);
        std::printf("           idle connections closed by the server and reopened: %d\n",
                    idle.reopened());
    }
    QFile logFile(log.FileName());
    logFile.open(QIODevice::ReadOnly);
    std::printf("log lines written by the built-in servers: %lld\n",
                static_cast<long long>(logFile.readAll().count('\n')));
    record.Flush();
    SqliteDb db;
    db.Open(record.Path(), SqliteMode::ReadOnly);
    std::printf("downloads recorded: %lld (dropped: %llu)\n",
                static_cast<long long>(db.QueryInt("SELECT count(*) FROM fetches")),
                static_cast<unsigned long long>(record.Dropped()));
    return 0;
}
