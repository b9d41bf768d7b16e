// orvo-cli serve: the built-in HTTP server in the foreground until SIGINT or SIGTERM.
#include "cli/Cli.h"
#include "cli/CliRecord.h"

#include "app/SocketError.h"
#include "servers/MyHttpServer.h"

#include <QFileInfo>

#include <sys/resource.h>
#include <stdexcept>

namespace {

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

    CliStopSignals stop;
    raiseDescriptorLimit();

    CliRecord record(args);
    MyHttpServer server(QFileInfo(root).absoluteFilePath());
    server.SetLineObserver(CliPrintLogLine);
    if (record.get())
        server.SetFetchObserver(record.get()->Observer());
    try {
        server.Start(static_cast<quint16>(port), args.value("bind"));
    } catch (const SocketError& e) {
        return CliFail("serve", e.what());
    } catch (const std::invalid_argument& e) {
        return CliFail("serve", e.what());
    }
    CliPrintLogLine("Built-in HTTP Server started! Port: " + QByteArray::number(server.Port()));

    stop.Wait();
    server.Stop();
    CliPrintLogLine("Built-in HTTP Server stopped!");
    return 0;
}

const CliRegistration serveCommand("serve",
                                   {"serve --root DIR --port N [--bind ADDR] [--record FILE]",
                                    serve});

}  // namespace
