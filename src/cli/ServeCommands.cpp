// orvo-cli serve: the built-in HTTP server, TFTP server or both in the foreground until SIGINT
// or SIGTERM.
#include "cli/Cli.h"
#include "cli/CliRecord.h"
#include "cli/DhcpOptions.h"

#include "app/FileProblem.h"
#include "app/SocketError.h"
#include "protection/ServerProtection.h"
#include "protection/TlsServerContext.h"
#include "servers/BuiltinServers.h"

#include <QFile>
#include <QFileInfo>

#include <arpa/inet.h>
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

bool isIpAddress(const QString& text) {
    unsigned char buffer[sizeof(in6_addr)];
    const QByteArray latin = text.toLatin1();
    return inet_pton(AF_INET, latin.constData(), buffer) == 1 ||
           inet_pton(AF_INET6, latin.constData(), buffer) == 1;
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

// What is wrong with the credentials "USER:PASSWORD" that source (--auth or --auth-file FILE)
// gives; empty when they can be used. Given but empty never means "no credentials".
QString credentialsProblem(const QString& text, const QString& source, QString* user,
                           QString* password) {
    if (!BasicCredentials::Split(text, user, password))
        return source + " expects USER:PASSWORD";
    if (user->isEmpty() && password->isEmpty())
        return source + " gives neither a user name nor a password";
    const QString problem = BasicCredentials::Problem(*user, *password);
    return problem.isEmpty() ? QString() : source + ": " + worded(UiText::key(problem));
}

// The protection that --tls-cert, --tls-key, --allow, --auth and --auth-file ask for; false with
// the exit status in *status when they do not go together, are not of their form (exit 2) or
// cannot be read (exit 1).
bool readProtection(const CliArgs& args, ServerProtection* p, int* status) {
    const auto usage = [&](const QString& problem) {
        *status = CliUsageError("serve", problem);
        return false;
    };
    if (args.has("tls-cert") != args.has("tls-key"))
        return usage("--tls-cert and --tls-key go together");
    if (args.has("auth") && args.has("auth-file"))
        return usage("--auth and --auth-file exclude each other");
    p->https = args.has("tls-cert");
    p->certFile = args.value("tls-cert");
    p->keyFile = args.value("tls-key");
    p->allowText = args.value("allow");
    if (args.has("allow")) {
        AddressAllowList list;
        QString bad;
        if (!list.Parse(p->allowText, &bad))
            return usage("--allow: " + worded(UiText::key("LAllowListError1").addLiteral(bad)));
        if (list.IsEmpty())
            return usage("--allow names no address or network");
    }
    QString problem;
    if (args.has("auth"))
        problem = credentialsProblem(args.value("auth"), "--auth", &p->user, &p->password);
    if (args.has("auth-file")) {
        // The first line of the file, so that the password stays out of process lists.
        const QString path = args.value("auth-file");
        QFile file(path);
        const QString unreadable = FileReadProblem(path);
        if (!unreadable.isEmpty() || !file.open(QIODevice::ReadOnly)) {
            *status = CliFail(path, unreadable.isEmpty() ? file.errorString() : unreadable);
            return false;
        }
        const QString line = QString::fromUtf8(file.readLine()).remove('\n').remove('\r');
        problem = credentialsProblem(line, "--auth-file " + path, &p->user, &p->password);
    }
    return problem.isEmpty() || usage(problem);
}

int serve(const CliArgs& args) {
    const bool http = args.has("port");
    const bool tftp = args.has("tftp-port");
    if (!http && !tftp)
        return CliUsageError("serve", "missing option '--port' or '--tftp-port'");
    quint16 httpPort = 0, tftpPort = 0;
    if (http && !readPort(args.value("port"), &httpPort))
        return CliUsageError("serve", "--port must be a number from 0 (any free port) to 65535");
    if (tftp && !readPort(args.value("tftp-port"), &tftpPort))
        return CliUsageError("serve",
                             "--tftp-port must be a number from 0 (any free port) to 65535");
    const QString bind = args.value("bind");
    if (args.has("bind") && !isIpAddress(bind))
        return CliUsageError("serve", "--bind " + bind + " is not an IP address");
    ServerProtection protection;
    int status = 0;
    if (!readProtection(args, &protection, &status))
        return status;
    CliDhcp dhcp(args);
    if (!dhcp.Check(&status))
        return status;
    const QString root = args.value("root");
    if (!QFileInfo(root).isDir())
        return CliFail(root, "is not a folder");
    const PreparedProtection prepared = PrepareProtection(protection, {}, {}, {});
    if (!prepared.error.isEmpty())
        return CliFail("serve", worded(prepared.error));

    if (const int bad = CheckCliKeepDays(args, "serve"))
        return bad;
    CliStopSignals stop;
    raiseDescriptorLimit();

    CliRecord record(args, CliRecord::Pruning::KeepDays);
    BuiltinServers servers(QFileInfo(root).absoluteFilePath(), nullptr, CliDhcpFolder());
    servers.SetLineObserver(CliPrintLogLine);
    servers.SetRecord(record.get());
    // The key and the credentials file are never served, wherever they lie.
    QStringList secrets;
    for (const char* option : {"tls-key", "auth-file"})
        if (args.has(option))
            secrets << QFileInfo(args.value(option)).absoluteFilePath();
    servers.SetWithheldFiles(secrets);
    try {
        if (http)
            servers.StartHttp(httpPort, bind, prepared);
        if (tftp)
            servers.StartTftp(tftpPort, bind, prepared);
    } catch (const SocketError& e) {
        return CliFail("serve", e.what());
    } catch (const std::invalid_argument& e) {
        return CliFail("serve", e.what());
    } catch (const TlsSetupError& e) {
        return CliFail("serve", e.what());
    }
    if (!dhcp.Start(servers.Dhcp(), servers.Http().Port(), servers.Tftp().Port(), protection.Url(),
                    &status))
        return status;

    stop.Wait();
    servers.StopAll();
    return 0;
}

const CliRegistration serveCommand(
    "serve",
    {"Run the built-in HTTP server, TFTP server or both over one folder in the "
     "foreground until SIGINT or SIGTERM, printing their log lines; with --dhcp-range also "
     "the bench DHCP server, which tells phones their URL.",
     WithDhcpOptions({{"root", "DIR", "the folder served", true},
                      {"port", "N", "the HTTP port; 0 picks a free one"},
                      {"tftp-port", "N", "the TFTP port; 0 picks a free one"},
                      {"bind", "ADDR", "listen on this local address only"},
                      {"record", "FILE", "record the events in this provisioning record (SQLite)"},
                      CliKeepDaysOption(),
                      {"tls-cert", "FILE",
                       "serve HTTPS with this PEM certificate (with --tls-key)"},
                      {"tls-key", "FILE", "the PEM key of --tls-cert"},
                      {"allow", "LIST",
                       "serve only these comma-separated IPv4 addresses and networks (a.b.c.d/n), "
                       "over HTTP and TFTP"},
                      {"auth", "USER:PASSWORD", "ask HTTP clients for these credentials"},
                      {"auth-file", "FILE", "the same, from the first line of FILE"}}),
     {},
     serve});

}  // namespace
