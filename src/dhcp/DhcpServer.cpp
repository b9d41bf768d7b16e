#include "dhcp/DhcpServer.h"

#include "app/AtomicFile.h"
#include "app/MyLog.h"
#include "app/ServerUrl.h"
#include "app/ThreadName.h"
#include "dhcp/DhcpLease.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr int kNeededCaps[] = {CAP_NET_BIND_SERVICE, CAP_NET_ADMIN, CAP_NET_RAW};
constexpr int kStopWaitMs = 3000;

// A text for a double-quoted value of the configuration file: backslash and quote escaped.
QByteArray quoted(const QByteArray& text) {
    QByteArray out = "\"";
    for (const char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

QByteArray address(uint32_t a) {
    return Ipv4Text(a).toLatin1();
}

// The capability sets of this process (version 3: two 32-bit words each).
bool readCaps(__user_cap_header_struct* header, __user_cap_data_struct data[2]) {
    header->version = _LINUX_CAPABILITY_VERSION_3;
    header->pid = 0;
    return syscall(SYS_capget, header, data) == 0;
}

// The capability sets a process holds.
enum class CapSet { Effective, Permitted };

bool hasCap(const __user_cap_data_struct data[2], int cap, CapSet set) {
    const uint32_t word =
        set == CapSet::Effective ? data[cap / 32].effective : data[cap / 32].permitted;
    return word & (1u << (cap % 32));
}

void closeFd(int* fd) {
    if (*fd >= 0)
        ::close(*fd);
    *fd = -1;
}

// The last line dnsmasq wrote to stderr that says something, without its "dnsmasq: " prefix.
QByteArray reasonOf(const std::vector<QByteArray>& lines) {
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
        QByteArray line = it->trimmed();
        if (line.isEmpty() || line.contains("exiting on receipt of"))
            continue;
        const qsizetype colon = line.indexOf(": ");
        if (line.startsWith("dnsmasq") && colon > 0)
            line = line.mid(colon + 2);
        return line;
    }
    return {};
}

QByteArray exitText(int status) {
    if (WIFEXITED(status))
        return "exit " + QByteArray::number(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return "signal " + QByteArray::number(WTERMSIG(status));
    return "status " + QByteArray::number(status);
}

}  // namespace

bool HasDhcpPrivileges() {
    __user_cap_header_struct header{};
    __user_cap_data_struct data[2]{};
    if (!readCaps(&header, data))
        return false;
    for (const int cap : kNeededCaps)
        if (!hasCap(data, cap, CapSet::Effective))
            return false;
    return true;
}

QByteArray DnsmasqConfiguration(const DhcpPlan& plan, const DhcpHandout& handout,
                                const QString& folder) {
    const QByteArray dir = QFile::encodeName(folder);
    QByteArray c = "# Written by the program at each start of its DHCP server; changes are lost.\n";
    c += "port=0\n";  // no DNS
    c += "no-resolv\nno-hosts\nno-poll\n";
    c += "log-facility=-\nquiet-dhcp\n";
    // The engine's check of each new address by ping holds every offer back 3 s, one address
    // after another (50 phones booting together waited 22 s); a bench's range is the
    // installer's own, and another server on the link is refused by the probe.
    c += "no-ping\n";
    c += "interface=" + plan.interfaceName.toLocal8Bit() + "\n";
    c += "dhcp-range=" + address(plan.first) + "," + address(plan.last) + "," + address(plan.mask) +
         "," + QByteArray::number(plan.leaseSeconds) + "\n";
    c += "dhcp-lease-max=" + QByteArray::number(plan.Size()) + "\n";
    c += "dhcp-option=1," + address(plan.mask) + "\n";
    // Without a value the option is not sent (the engine would name itself the router).
    c += "dhcp-option=3" + (plan.router ? "," + address(plan.router) : QByteArray()) + "\n";
    c += "dhcp-option=6";
    for (const uint32_t dns : plan.dns)
        c += "," + address(dns);
    c += "\n";
    c += "dhcp-option=66," + quoted(handout.url) + "\n";
    c += "dhcp-option=160," + quoted(handout.url) + "\n";
    if (handout.tftpServer)
        c += "dhcp-option=150," + address(plan.serverAddress) + "\n";
    c += "dhcp-leasefile=" + quoted(dir + "/leases") + "\n";
    c += "dhcp-script=" + quoted(dir + "/lease-event") + "\n";
    return c;
}

struct DhcpServer::Impl {
    QString folder;
    MyLog* log = nullptr;
    LineObserver lineObserver;
    DhcpLeaseObserver leaseObserver;
    EndObserver endObserver;
    QString program;
    int startWaitMs = 5000;

    std::thread supervisor;
    std::mutex mutex;
    std::condition_variable changed;
    // Guarded by mutex.
    bool serving = false;  // dnsmasq said it started
    bool ended = false;    // dnsmasq has ended and been reaped
    QByteArray endReason;
    std::atomic<bool> stopping{false};
    std::atomic<bool> running{false};
    // Start has written its line: lease changes are read from then on, so that the log tells
    // the start before the leases read back from the lease file.
    std::atomic<bool> announced{false};
    pid_t pid = -1;
    // The supervisor's wake-up pipe; both ends are closed once it has been joined.
    int wakeRead = -1;
    int wakeWrite = -1;

    void Log(const QByteArray& message) const {
        if (log)
            log->Write(message);
        if (lineObserver)
            lineObserver(LogSafeText(message));
    }

    QString Program() const {
        if (!program.isEmpty())
            return QFileInfo(program).isExecutable() ? program : QString();
        QString path = QStandardPaths::findExecutable("dnsmasq");
        if (path.isEmpty())
            path = QStandardPaths::findExecutable("dnsmasq", {"/usr/sbin", "/sbin"});
        return path;
    }

    QString Prepare(const DhcpPlan& plan, const DhcpHandout& handout);
    UiText Spawn(const QString& program);
    void Supervise(int errFd, int eventsFd, int wakeFd);
    void ReportLease(const DhcpLease& lease);
};

DhcpServer::DhcpServer(const QString& folder, MyLog* log) : impl_(std::make_unique<Impl>()) {
    impl_->folder = folder;
    impl_->log = log;
}

DhcpServer::~DhcpServer() {
    Stop();
}

void DhcpServer::SetLineObserver(LineObserver observer) {
    impl_->lineObserver = std::move(observer);
}

void DhcpServer::SetLeaseObserver(DhcpLeaseObserver observer) {
    impl_->leaseObserver = std::move(observer);
}

void DhcpServer::SetEndObserver(EndObserver observer) {
    impl_->endObserver = std::move(observer);
}

void DhcpServer::SetProgram(const QString& path) {
    impl_->program = path;
}

void DhcpServer::SetStartWait(int ms) {
    impl_->startWaitMs = ms;
}

bool DhcpServer::IsRunning() const {
    return impl_->running;
}

qint64 DhcpServer::ProcessId() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->running && !impl_->ended ? impl_->pid : 0;
}

QString DhcpServer::Folder() const {
    return impl_->folder;
}

QString DhcpServer::ProgramPath() const {
    return impl_->Program();
}

// The folder with the configuration, the lease script and an empty named pipe; an error text
// when something of it cannot be made.
QString DhcpServer::Impl::Prepare(const DhcpPlan& plan, const DhcpHandout& handout) {
    if (!QDir().mkpath(folder))
        return folder + ": cannot make the folder";
    const QString conf = folder + "/dnsmasq.conf";
    if (!WriteFileAtomically(conf, DnsmasqConfiguration(plan, handout, folder)))
        return conf + ": cannot be written";
    const QString script = folder + "/lease-event";
    if (!WriteFileAtomically(script, DhcpLeaseReader::ScriptText(), 0755))
        return script + ": cannot be written";
    const QByteArray pipe = QFile::encodeName(folder + "/lease-events");
    ::unlink(pipe.constData());
    if (::mkfifo(pipe.constData(), 0600) != 0)
        return QString::fromLocal8Bit(pipe) + ": " + QString::fromLocal8Bit(std::strerror(errno));
    return {};
}

UiText DhcpServer::CheckCanStart() const {
    if (impl_->Program().isEmpty()) {
        impl_->Log("DHCP Server not started: dnsmasq is not installed");
        return UiText::key("LDhcpError9");
    }
    if (!HasDhcpPrivileges()) {
        impl_->Log(
            "DHCP Server not started: it needs root or the capabilities "
            "cap_net_bind_service, cap_net_raw and cap_net_admin");
        return UiText::key("LDhcpError8");
    }
    return {};
}

UiText DhcpServer::Start(const DhcpPlan& plan, const DhcpHandout& handout) {
    Impl& d = *impl_;
    if (d.running)
        return {};
    if (const UiText refusal = CheckCanStart(); !refusal.isEmpty())
        return refusal;
    const QString program = d.Program();
    if (const UiText refusal = CheckDhcpHandout(handout); !refusal.isEmpty()) {
        d.Log("DHCP Server not started: the URL cannot go into a DHCP option: " +
              UrlWithoutPassword(handout.url));
        return refusal;
    }
    if (const QString error = d.Prepare(plan, handout); !error.isEmpty()) {
        d.Log("DHCP Server not started: " + error.toUtf8());
        return UiText::key("LDhcpError12").addLiteral(" " + error);
    }
    const UiText failure = d.Spawn(program);
    if (!failure.isEmpty())
        return failure;
    d.Log("DHCP Server started! Interface: " + plan.interfaceName.toLocal8Bit() + " Range: " +
          plan.RangeText().toLatin1() + " Lease: " + QByteArray::number(plan.leaseSeconds) +
          " s URL: " + UrlWithoutPassword(handout.url) +
          (handout.tftpServer ? " TFTP: " + address(plan.serverAddress) : QByteArray()));
    d.announced = true;
    (void)!::write(d.wakeWrite, "x", 1);
    return {};
}

UiText DhcpServer::Impl::Spawn(const QString& program) {
    int errPipe[2];
    int wakePipe[2];
    if (::pipe2(errPipe, O_CLOEXEC) != 0)
        return UiText::key("LDhcpError12").addLiteral(" pipe: " + QString(std::strerror(errno)));
    if (::pipe2(wakePipe, O_CLOEXEC) != 0) {
        ::close(errPipe[0]);
        ::close(errPipe[1]);
        return UiText::key("LDhcpError12").addLiteral(" pipe: " + QString(std::strerror(errno)));
    }
    // Held open for reading and writing, so that the script never waits for a reader.
    const QByteArray pipePath = QFile::encodeName(folder + "/lease-events");
    const int eventsFd = ::open(pipePath.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (eventsFd < 0) {
        const QString reason = QString::fromLocal8Bit(pipePath) + ": " + std::strerror(errno);
        for (const int fd : {errPipe[0], errPipe[1], wakePipe[0], wakePipe[1]})
            ::close(fd);
        Log("DHCP Server not started: " + reason.toLocal8Bit());
        return UiText::key("LDhcpError12").addLiteral(" " + reason);
    }

    // Everything the child needs is made before the fork.
    const QByteArray programPath = QFile::encodeName(program);
    const QByteArray confArg = "--conf-file=" + QFile::encodeName(folder + "/dnsmasq.conf");
    const std::vector<QByteArray> args = {programPath, "--keep-in-foreground", "--pid-file",
                                          confArg};
    const bool root = ::geteuid() == 0;
    __user_cap_header_struct capHeader{};
    __user_cap_data_struct caps[2]{};
    if (!root && readCaps(&capHeader, caps))
        for (const int cap : kNeededCaps)
            if (hasCap(caps, cap, CapSet::Permitted))
                caps[cap / 32].inheritable |= 1u << (cap % 32);
    const pid_t parent = ::getpid();
    const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);

    serving = false;
    announced = false;
    ended = false;
    endReason.clear();
    stopping = false;
    pid = -1;
    wakeRead = wakePipe[0];
    wakeWrite = wakePipe[1];
    const int errRead = errPipe[0];
    const int errWrite = errPipe[1];

    // The supervisor forks: the parent-death signal follows the thread that forked, and this
    // one lives until dnsmasq has ended.
    supervisor = std::thread([=]() mutable {
        NameCurrentThread("dhcp-server");
        std::vector<QByteArray> argBytes = args;
        std::vector<char*> argv;
        for (QByteArray& a : argBytes)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const pid_t child = ::fork();
        if (child == 0) {
            ::setpgid(0, 0);
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != parent)
                ::_exit(127);
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            for (int s = 1; s < NSIG; ++s)
                ::signal(s, SIG_DFL);
            ::dup2(devNull, 0);
            ::dup2(devNull, 1);
            ::dup2(errWrite, 2);
            ::syscall(SYS_close_range, 3u, ~0u, 0u);
            if (!root) {
                // Capabilities given to the program pass on to dnsmasq.
                ::syscall(SYS_capset, &capHeader, caps);
                for (const int cap : kNeededCaps)
                    ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_RAISE, cap, 0, 0);
            }
            ::execv(argv[0], argv.data());
            const char message[] = "dnsmasq: cannot be run\n";
            (void)!::write(2, message, sizeof message - 1);
            ::_exit(127);
        }
        ::close(errWrite);
        {
            std::lock_guard<std::mutex> lock(mutex);
            pid = child;
        }
        if (child < 0) {
            std::lock_guard<std::mutex> lock(mutex);
            ended = true;
            endReason = "fork: " + QByteArray(std::strerror(errno));
            changed.notify_all();
            ::close(errRead);
            if (eventsFd >= 0)
                ::close(eventsFd);
            return;
        }
        Supervise(errRead, eventsFd, wakePipe[0]);
    });

    std::unique_lock<std::mutex> lock(mutex);
    const bool settled = changed.wait_for(lock, std::chrono::milliseconds(startWaitMs),
                                          [this] { return serving || ended; });
    const bool up = settled && serving && !ended;
    if (up) {
        running = true;
        lock.unlock();
    } else {
        stopping = true;
        if (pid > 0 && !ended)
            ::kill(pid, SIGTERM);
        lock.unlock();
        (void)!::write(wakeWrite, "x", 1);
        supervisor.join();
    }
    if (devNull >= 0)
        ::close(devNull);
    if (up)
        return {};
    closeFd(&wakeWrite);
    closeFd(&wakeRead);
    const QByteArray reason =
        endReason.isEmpty() ? QByteArray("dnsmasq did not start in time") : endReason;
    Log("DHCP Server not started: " + reason);
    return UiText::key("LDhcpError12").addLiteral(" " + QString::fromLocal8Bit(reason));
}

void DhcpServer::Impl::Supervise(int errFd, int eventsFd, int wakeFd) {
    std::vector<QByteArray> lines;  // the last lines dnsmasq wrote
    QByteArray partial;
    DhcpLeaseReader reader;
    bool errOpen = true;
    std::chrono::steady_clock::time_point stopAsked{};
    bool killed = false;
    char buffer[8192];
    while (errOpen) {
        pollfd fds[3] = {{errFd, POLLIN, 0}, {eventsFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        if (!announced && !stopping)
            fds[1].fd = -1;  // not yet
        ::poll(fds, 3, 100);
        if (fds[2].revents & POLLIN)
            (void)!::read(wakeFd, buffer, sizeof buffer);
        if (fds[1].fd >= 0 && (fds[1].revents & POLLIN))
            for (ssize_t n; (n = ::read(eventsFd, buffer, sizeof buffer)) > 0;)
                for (const DhcpLease& lease :
                     reader.Feed(buffer, static_cast<size_t>(n), std::time(nullptr)))
                    ReportLease(lease);
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = ::read(errFd, buffer, sizeof buffer);
            if (n <= 0) {
                errOpen = false;
            } else {
                partial.append(buffer, n);
                for (qsizetype end; (end = partial.indexOf('\n')) >= 0;) {
                    const QByteArray line = partial.left(end);
                    partial.remove(0, end + 1);
                    if (line.contains("started, version")) {
                        std::lock_guard<std::mutex> lock(mutex);
                        serving = true;
                        changed.notify_all();
                    }
                    lines.push_back(line);
                    if (lines.size() > 8)
                        lines.erase(lines.begin());
                }
                if (partial.size() > 4096)
                    partial.clear();
            }
        }
        if (stopping) {
            const auto now = std::chrono::steady_clock::now();
            if (stopAsked == std::chrono::steady_clock::time_point{})
                stopAsked = now;
            else if (!killed && now - stopAsked > std::chrono::milliseconds(kStopWaitMs)) {
                ::kill(pid, SIGKILL);
                killed = true;
            }
        }
    }
    // stderr closes when dnsmasq has ended. Its script helper (which writes nothing there) may
    // still run scripts for changes it had queued: whatever is left of its process group goes
    // too. Before dnsmasq is reaped its id cannot name another group.
    ::kill(-pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ::close(errFd);
    // Lease changes written before the end are still reported.
    if (eventsFd >= 0)
        for (ssize_t n; (n = ::read(eventsFd, buffer, sizeof buffer)) > 0;)
            for (const DhcpLease& lease :
                 reader.Feed(buffer, static_cast<size_t>(n), std::time(nullptr)))
                ReportLease(lease);
    if (eventsFd >= 0)
        ::close(eventsFd);
    if (!partial.isEmpty())
        lines.push_back(partial);
    QByteArray reason = reasonOf(lines);
    reason = reason.isEmpty() ? "dnsmasq ended (" + exitText(status) + ")"
                              : reason + " (" + exitText(status) + ")";
    // Decided under the lock that Start takes to mark the server running.
    bool unexpected = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        ended = true;
        endReason = reason;
        unexpected = !stopping && running;
        if (unexpected)
            running = false;
        changed.notify_all();
    }
    if (unexpected) {
        Log("DHCP Server stopped: " + reason);
        if (endObserver)
            endObserver(reason);
    }
}

void DhcpServer::Impl::ReportLease(const DhcpLease& lease) {
    QByteArray line = "DHCP Server: " + QByteArray(DhcpLeaseKindName(lease.kind)) + " " +
                      lease.address + " Mac: " + lease.mac;
    if (!lease.hostName.isEmpty())
        line += " Host: " + LogSafeText(lease.hostName);
    if (!lease.vendorClass.isEmpty())
        line += " Vendor: " + LogSafeText(lease.vendorClass);
    if (lease.leaseEnd &&
        (lease.kind == DhcpLease::Kind::Add || lease.kind == DhcpLease::Kind::Renew))
        line += " Until: " + QDateTime::fromSecsSinceEpoch(lease.leaseEnd)
                                 .toString("yyyy-MM-dd HH:mm:ss")
                                 .toLatin1();
    Log(line);
    if (leaseObserver)
        leaseObserver(lease);
}

void DhcpServer::Stop() {
    Impl& d = *impl_;
    if (!d.supervisor.joinable())
        return;
    const bool wasRunning = d.running;
    d.stopping = true;
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        if (d.pid > 0 && !d.ended)
            ::kill(d.pid, SIGTERM);
    }
    (void)!::write(d.wakeWrite, "x", 1);
    d.supervisor.join();
    d.running = false;
    closeFd(&d.wakeWrite);
    closeFd(&d.wakeRead);
    if (wasRunning)
        d.Log("DHCP Server stopped!");
}
