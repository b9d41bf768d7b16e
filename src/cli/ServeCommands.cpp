// orvo-cli serve: the built-in HTTP server, TFTP server or both in the foreground until SIGINT
// or SIGTERM.
#include "cli/Cli.h"
#include "cli/CliRecord.h"

#include "app/SocketError.h"
#include "servers/MyHttpServer.h"
#include "servers/MyTftpServer.h"

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

// The value of a port option: 0 (any free port) to 65535; false when it is something else.
bool readPort(const QString& text, quint16* port) {
    bool numeric = false;
    const uint value = text.toUInt(&numeric);
    if (!numeric || value > 65535)
        return false;
    *port = static_cast<quint16>(value);
    return true;
}

int serve(const CliArgs& args) {
    const QString root = args.value("root");
    const bool http = args.has("port");
    const bool tftp = args.has("tftp-port");
    if (!http && !tftp)
        return CliUsageError("serve", "missing option '--port' or '--tftp-port'");
    if (root.isEmpty())
        return CliFail("serve", "expects --root DIR and --port N, --tftp-port N or both");
    if (!QFileInfo(root).isDir())
        return CliFail(root, "is not a folder");
    quint16 httpPort = 0, tftpPort = 0;
    if (http && !readPort(args.value("port"), &httpPort))
        return CliFail("serve", "--port must be a number from 0 (any free port) to 65535");
    if (tftp && !readPort(args.value("tftp-port"), &tftpPort))
        return CliFail("serve", "--tftp-port must be a number from 0 (any free port) to 65535");

    CliStopSignals stop;
    raiseDescriptorLimit();

    CliRecord record(args);
    const QString documentRoot = QFileInfo(root).absoluteFilePath();
    MyHttpServer httpServer(documentRoot);
    MyTftpServer tftpServer(documentRoot);
    httpServer.SetLineObserver(CliPrintLogLine);
    tftpServer.SetLineObserver(CliPrintLogLine);
    if (record.get()) {
        httpServer.SetFetchObserver(record.get()->Observer());
        tftpServer.SetFetchObserver(record.get()->Observer());
    }
    try {
        if (http)
            httpServer.Start(httpPort, args.value("bind"));
        if (tftp)
            tftpServer.Start(tftpPort, args.value("bind"));
    } catch (const SocketError& e) {
        return CliFail("serve", e.what());
    } catch (const std::invalid_argument& e) {
        return CliFail("serve", e.what());
    }
    if (http)
        CliPrintLogLine("Built-in HTTP Server started! Port: " +
                        QByteArray::number(httpServer.Port()));
    if (tftp)
        CliPrintLogLine("Built-in TFTP Server started! Port: " +
                        QByteArray::number(tftpServer.Port()));

    stop.Wait();
    if (http) {
        httpServer.Stop();
        CliPrintLogLine("Built-in HTTP Server stopped!");
    }
    if (tftp) {
        tftpServer.Stop();
        CliPrintLogLine("Built-in TFTP Server stopped!");
    }
    return 0;
}

const CliRegistration serveCommand(
    "serve", {"Run the built-in HTTP server, TFTP server or both over one folder in the "
              "foreground until SIGINT or SIGTERM, printing their log lines.",
              {{"root", "DIR", "the folder served", true},
               {"port", "N", "the HTTP port; 0 picks a free one"},
               {"tftp-port", "N", "the TFTP port; 0 picks a free one"},
               {"bind", "ADDR", "listen on this local address only"},
               {"record", "FILE", "record the events in this provisioning record (SQLite)"}},
              {},
              serve});

}  // namespace
