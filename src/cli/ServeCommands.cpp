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

int serve(const CliArgs& args) {
    const QString root = args.value("root");
    if (root.isEmpty())
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

const CliRegistration serveCommand(
    "serve", {"Run the built-in HTTP server in the foreground until SIGINT or SIGTERM, printing "
              "its log lines.",
              {{"root", "DIR", "the folder served", true},
               {"port", "N", "the port; 0 picks a free one", true},
               {"bind", "ADDR", "listen on this local address only"},
               {"record", "FILE", "record the events in this provisioning record (SQLite)"}},
              {},
              serve});

}  // namespace
