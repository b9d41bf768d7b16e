// orvo-cli serve: the built-in HTTP server in the foreground until SIGINT or SIGTERM.
#include "cli/Cli.h"

#include "app/MyLog.h"
#include "app/SocketError.h"
#include "servers/MyHttpServer.h"

#include <QFileInfo>

#include <pthread.h>
#include <sys/resource.h>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <stdexcept>

namespace {

// Log lines go to stdout as the log file would hold them, one flushed line each.
void printLogLine(const QByteArray& message) {
    static std::mutex mutex;
    const QByteArray line = MyLog::LineStamp() + ' ' + message + '\n';
    std::lock_guard<std::mutex> lock(mutex);
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fflush(stdout);
}

// Many idle clients each hold a descriptor; take all the process may have.
void raiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

int serve(const QStringList& rawArgs) {
    const CliArgs args(rawArgs, {});
    if (!args.ok())
        return CliFail("serve", args.error());
    if (!args.positional().isEmpty())
        return CliFail("serve", "unexpected argument " + args.positional()[0]);
    const QString root = args.value("root");
    if (root.isEmpty() || !args.has("port"))
        return CliFail("serve", "expects --root DIR and --port N");
    if (!QFileInfo(root).isDir())
        return CliFail(root, "is not a folder");
    bool numeric = false;
    const uint port = args.value("port").toUInt(&numeric);
    if (!numeric || port > 65535)
        return CliFail("serve", "--port must be a number from 0 (any free port) to 65535");

    // The server threads inherit the blocked signals, so only sigwait below receives them. An
    // ignored signal would never arrive (a background job starts with SIGINT ignored).
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    raiseDescriptorLimit();

    MyHttpServer server(QFileInfo(root).absoluteFilePath());
    server.SetLineObserver(printLogLine);
    try {
        server.Start(static_cast<quint16>(port), args.value("bind"));
    } catch (const SocketError& e) {
        return CliFail("serve", e.what());
    } catch (const std::invalid_argument& e) {
        return CliFail("serve", e.what());
    }
    printLogLine("Built-in HTTP Server started! Port: " + QByteArray::number(server.Port()));

    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.Stop();
    printLogLine("Built-in HTTP Server stopped!");
    return 0;
}

const CliRegistration serveCommand("serve", {"serve --root DIR --port N [--bind ADDR]", serve});

}  // namespace
