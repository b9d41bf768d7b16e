// orvo-cli serve: the built-in HTTP server, TFTP server or both in the foreground until SIGINT
// or SIGTERM.
#include "cli/Cli.h"
#include "cli/CliRecord.h"

#include "app/SocketError.h"
#include "protection/ServerProtection.h"
#include "protection/TlsServerContext.h"
#include "servers/MyHttpServer.h"
#include "servers/MyTftpServer.h"

#include <QFile>
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

// A refused allow-list or credentials, as "KEY: what is wrong".
QString worded(const UiText& error) {
    return error.render([](const QString& key) {
        if (key == "LAllowListError1")
            return key + ": not an IPv4 address or network (a.b.c.d or a.b.c.d/n): ";
        if (key == "LAuthError1")
            return key + ": the user name and the password must both be given";
        if (key == "LAuthError2")
            return key +
                   ": the user name may hold no colon, and neither it nor the password a "
                   "control character";
        return key;
    });
}

// The protection that --tls-cert, --tls-key, --allow, --auth and --auth-file ask for; false with
// the exit status in *status when they do not go together or cannot be read.
bool readProtection(const CliArgs& args, ServerProtection* p, int* status) {
    if (args.has("tls-cert") != args.has("tls-key")) {
        *status = CliUsageError("serve", "--tls-cert and --tls-key go together");
        return false;
    }
    if (args.has("auth") && args.has("auth-file")) {
        *status = CliUsageError("serve", "--auth and --auth-file exclude each other");
        return false;
    }
    p->https = args.has("tls-cert");
    p->certFile = args.value("tls-cert");
    p->keyFile = args.value("tls-key");
    p->allowText = args.value("allow");
    QString credentials = args.value("auth");
    if (args.has("auth-file")) {
        // The first line of the file, so that the password stays out of process lists.
        QFile file(args.value("auth-file"));
        if (!file.open(QIODevice::ReadOnly)) {
            *status = CliFail(args.value("auth-file"), file.errorString());
            return false;
        }
        credentials = QString::fromUtf8(file.readLine()).remove('\n').remove('\r');
    }
    if ((args.has("auth") || args.has("auth-file")) &&
        !BasicCredentials::Split(credentials, &p->user, &p->password)) {
        *status = CliFail("serve", "--auth expects USER:PASSWORD");
        return false;
    }
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
    ServerProtection protection;
    int status = 0;
    if (!readProtection(args, &protection, &status))
        return status;
    const PreparedProtection prepared = PrepareProtection(protection, {}, {}, {});
    if (!prepared.error.isEmpty())
        return CliFail("serve", worded(prepared.error));

    if (const int bad = CheckCliKeepDays(args, "serve"))
        return bad;
    CliStopSignals stop;
    raiseDescriptorLimit();

    CliRecord record(args, CliRecord::Pruning::KeepDays);
    const QString documentRoot = QFileInfo(root).absoluteFilePath();
    MyHttpServer httpServer(documentRoot);
    MyTftpServer tftpServer(documentRoot);
    httpServer.SetLineObserver(CliPrintLogLine);
    tftpServer.SetLineObserver(CliPrintLogLine);
    if (record.get()) {
        httpServer.SetFetchObserver(record.get()->Observer());
        tftpServer.SetFetchObserver(record.get()->Observer());
    }
    httpServer.SetAccess(prepared.access);
    tftpServer.SetAccess(prepared.access);
    if (prepared.https)
        httpServer.SetTls(prepared.tls.certFile, prepared.tls.keyFile);
    try {
        if (http)
            httpServer.Start(httpPort, args.value("bind"));
        if (tftp)
            tftpServer.Start(tftpPort, args.value("bind"));
    } catch (const SocketError& e) {
        return CliFail("serve", e.what());
    } catch (const std::invalid_argument& e) {
        return CliFail("serve", e.what());
    } catch (const TlsSetupError& e) {
        return CliFail("serve", e.what());
    }
    if (http) {
        CliPrintLogLine("Built-in HTTP Server started! Port: " +
                        QByteArray::number(httpServer.Port()));
        for (const QByteArray& line : HttpProtectionLines(prepared))
            CliPrintLogLine(line);
    }
    if (tftp) {
        CliPrintLogLine("Built-in TFTP Server started! Port: " +
                        QByteArray::number(tftpServer.Port()));
        for (const QByteArray& line : TftpProtectionLines(prepared))
            CliPrintLogLine(line);
    }

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
               {"record", "FILE", "record the events in this provisioning record (SQLite)"},
               CliKeepDaysOption(),
               {"tls-cert", "FILE", "serve HTTPS with this PEM certificate (with --tls-key)"},
               {"tls-key", "FILE", "the PEM key of --tls-cert"},
               {"allow", "LIST",
                "serve only these comma-separated IPv4 addresses and networks (a.b.c.d/n), "
                "over HTTP and TFTP"},
               {"auth", "USER:PASSWORD", "ask HTTP clients for these credentials"},
               {"auth-file", "FILE", "the same, from the first line of FILE"}},
              {},
              serve});

}  // namespace
