#include "servers/PnpResponder.h"

#include "app/DebugChannel.h"
#include "app/MyLog.h"
#include "discovery/CmdDevBySipThread.h"
#include "discovery/DeviceCommand.h"
#include "record/PhoneKey.h"
#include "record/ProvisioningRecord.h"

std::optional<PnpResponder::Reply> PnpResponder::Compose(const QByteArray& datagram,
                                                         const PnpAnswerOptions& o) {
    analyser_.Parse(datagram);
    Reply reply;
    DeviceCommandFields& f = reply.fields;
    if (o.macMode)
        f.kind = DeviceCommandKind::PnpAnswerMac;
    else if (o.pinMode)
        f.kind = DeviceCommandKind::PnpAnswerPin;
    else
        return std::nullopt;
    f.port = analyser_.Port();
    f.address = analyser_.Host();
    f.user = analyser_.Mac();
    f.callId = analyser_.CallId();
    f.body = ConfigServerUrl(o.builtInServer ? ServerSource::BuiltIn : ServerSource::External,
                             o.interfaceText, o.portText, o.externalUrl, o.protocol, o.access);
    // Host and MAC are the datagram's own bytes.
    const QByteArray destination = LogSafeText(analyser_.Host()) + ":" +
                                   QByteArray::number(analyser_.Port()) +
                                   " Mac: " + LogSafeText(analyser_.Mac());
    const QByteArray prefix = QByteArray("PNP: ") + (o.macMode ? "MAC MODE, " : "PIN MODE, ") +
                              (!o.builtInServer                     ? "EXTERNAL HTTP"
                               : o.protocol == ServerProtocol::Tftp ? "BUILT-IN TFTP"
                                                                    : "BUILT-IN HTTP") +
                              " SERVER. To: ";
    reply.logLine = prefix + destination + " with content = " + UrlWithoutPassword(f.body);
    return reply;
}

QByteArray PnpResponder::Answer(const QByteArray& datagram, const PnpAnswerOptions& o) {
    DebugLine(">>MyIPMulticastClient recieved!");
    const std::optional<Reply> reply = Compose(datagram, o);
    if (!reply)
        return {};
    if (o.macMode)
        DebugLine("=====On read PnpModeMacRb->Checked");
    const DeviceCommandFields& f = reply->fields;
    auto* command = new CmdDevBySipThread(f.kind, 0, f.port, f.address);
    command->SetUser(f.user);
    command->SetCallId(f.callId);
    command->SetBody(f.body);
    command->Start();
    if (record_) {
        // Booked only for a MAC this datagram carried: one without takes the last datagram's
        // MAC for its answer, which names another phone.
        SipPackAnalyser own;
        own.Parse(datagram);
        const QByteArray phone = PhoneOfMac(own.Mac());
        if (!phone.isEmpty()) {
            RecordEvent e;
            e.kind = RecordEvent::Kind::Pnp;
            e.phone = phone;
            e.address = f.address;
            e.url = UrlWithoutPassword(DeviceCommandBody(f.kind, f.body));
            // What the phone says it is: its User-Agent, "<model> <version>".
            QByteArray agent;
            if (FindUserAgentValue(datagram, &agent))
                SplitUserAgent(agent, &e.model, &e.version);
            record_->Add(std::move(e));
        }
    }
    return reply->logLine;
}
