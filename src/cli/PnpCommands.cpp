// orvo-cli pnp: the plug-and-play server in the foreground until SIGINT or SIGTERM.
// orvo-cli provision: the ua-profile NOTIFYs of the grid's Provision to phones given by hand.
#include "cli/Cli.h"
#include "cli/CliRecord.h"

#include "app/MyLog.h"
#include "app/Notices.h"
#include "discovery/CmdDevBySipThread.h"
#include "discovery/ProvisionCommands.h"
#include "servers/MyIPMCastClient.h"
#include "servers/PnpResponder.h"
#include "servers/PortCheck.h"

#include <QElapsedTimer>
#include <QRegularExpression>

#include <arpa/inet.h>
#include <cstring>

namespace {

bool isIpv4(const QString& text) {
    in_addr address{};
    return inet_pton(AF_INET, text.toLatin1().constData(), &address) == 1;
}

// The commands are detached threads: before the process ends, each must have sent its datagram.
void waitForCommands(int ms) {
    QElapsedTimer clock;
    clock.start();
    WaitHandlingNotices([&] { return CmdDevBySipThread::Running() == 0 || clock.elapsed() > ms; },
                        2);
}

int pnp(const CliArgs& args) {
    const QString iface = args.value("iface");
    const QString url = args.value("url").trimmed();
    const QString group = args.value("group", "224.0.1.75").trimmed();
    if (!isIpv4(iface))
        return CliUsageError("pnp", "--iface " + iface + " is not a dotted IPv4 address");
    if (!isIpv4(group))
        return CliUsageError("pnp", "--group " + group + " is not a dotted IPv4 address");
    const PortCheck port = CheckPnpServerPort(args.value("port", "5060"));
    if (!port.ok())
        return CliUsageError("pnp", port.errorKey + ": --port must be a number from 1025 to 65525");

    if (const int bad = CheckCliKeepDays(args, "pnp"))
        return bad;
    CliStopSignals stop;
    CliRecord record(args, CliRecord::Pruning::KeepDays);
    NoticeTransport transport;
    MyLog log;
    log.SetLineObserver(CliPrintLogLine);
    PnpResponder responder;
    responder.SetRecord(record.get());
    PnpAnswerOptions options;
    options.macMode = !args.has("pin");
    options.pinMode = args.has("pin");
    options.builtInServer = false;  // the URL is handed out as given
    options.externalUrl = url.toUtf8();
    transport.SetHandler(PnpPacketNotice, [&](int, const void* record) {
        const QByteArray line =
            responder.Answer(static_cast<const PnpPacket*>(record)->text, options);
        if (!line.isEmpty())
            log.Write(line);
    });

    MyIPMCastClient listener(port.port, group.toLatin1(), iface.toLatin1(), &transport);
    listener.SetLog(&log);
    listener.Start();
    QElapsedTimer clock;
    clock.start();
    WaitHandlingNotices(
        [&] { return listener.IsRunning() || listener.HasEnded() || clock.elapsed() > 10000; });
    if (!listener.IsRunning()) {
        const int error = listener.LastError();
        return CliFail("pnp", "cannot listen to " + group + " port " + port.text + " on " + iface +
                                  (error ? QString(": ") + std::strerror(error) : QString()));
    }
    log.Write("PNP Server started! Listen to: " + group + " Port: " + port.text);
    if (const QByteArray note = listener.ReceiveBufferNote(); !note.isEmpty())
        log.Write(note);
    WaitHandlingNotices([&] { return stop.Arrived() || listener.HasEnded(); }, 20);
    listener.Stop();
    listener.Terminate();
    waitForCommands(2000);
    log.Write("PNP Server Stopped!");
    return 0;
}

int provision(const CliArgs& args) {
    const QString url = args.value("url").trimmed();
    bool numeric = false;
    const int phonePort = args.value("phone-port", "60000").toInt(&numeric);
    if (!numeric || phonePort < 1 || phonePort > 65535)
        return CliUsageError("provision", "--phone-port must be a number from 1 to 65535");

    static const QRegularExpression mac("^[0-9A-Fa-f]{2}([-:][0-9A-Fa-f]{2}){5}$");
    std::vector<SelectedDevice> phones;
    for (const QString& phone : args.positional()) {
        const QString address = phone.section('=', 0, 0);
        const QString macText = phone.section('=', 1);
        if (!isIpv4(address) || !mac.match(macText).hasMatch())
            return CliUsageError(
                "provision", phone + " is not ADDR=MAC (dotted IPv4, six pairs joined by - or :)");
        phones.push_back(
            {static_cast<int>(phones.size()) + 1, address.toLatin1(), macText.toLatin1()});
    }

    MyLog log;
    log.SetLineObserver(CliPrintLogLine);
    CliRecord record(args);
    ProvisionOptions options;
    options.record = record.get();
    options.mode = args.has("pin") ? ProvisionOptions::Mode::Pin : ProvisionOptions::Mode::Mac;
    options.builtInServer = false;
    options.externalUrl = url.toUtf8();
    options.phonePort = phonePort;
    const QString error = ProvisionDevices(phones, options, &log);
    waitForCommands(5000);
    return error.isEmpty() ? 0 : CliFail("provision", error);
}

const CliRegistration pnpCommand(
    "pnp", {"Answer the phones' plug-and-play SUBSCRIBEs with URL until SIGINT or SIGTERM, "
            "printing the log lines; run it on a network of your own.",
            {{"iface", "ADDR", "the local address that joins the group", true},
             {"url", "URL", "the configuration URL handed out, as given", true},
             {"group", "G", "the multicast group (224.0.1.75)"},
             {"port", "P", "the port, 1025 to 65525 (5060)"},
             {"pin", {}, "PIN mode instead of MAC mode"},
             {"record", "FILE", "record the events in this provisioning record (SQLite)"},
             CliKeepDaysOption()},
            {},
            pnp});
const CliRegistration provisionCommand(
    "provision",
    {"Send the Provision NOTIFY with URL to each phone ADDR=MAC (MAC as six pairs joined by - "
     "or :).",
     {{"url", "URL", "the configuration URL, as given", true},
      {"pin", {}, "PIN mode instead of MAC mode"},
      {"phone-port", "N", "the phones' UDP port (60000)"},
      {"record", "FILE", "record the events in this provisioning record (SQLite)"}},
     "ADDR=MAC...",
     provision});

}  // namespace
