#include "servers/PnpResponder.h"

#include "app/MyLog.h"
#include "discovery/CmdDevBySipThread.h"
#include "record/PhoneKey.h"
#include "record/ProvisioningRecord.h"

#include <cstdio>

QByteArray PnpResponder::Answer(const QByteArray& datagram, const PnpAnswerOptions& o) {
    std::fprintf(stderr, ">>MyIPMulticastClient recieved!\n");
    analyser_.Parse(datagram);
    DeviceCommandKind kind;
    if (o.macMode) {
        std::fprintf(stderr, "=====On read PnpModeMacRb->Checked\n");
        kind = DeviceCommandKind::PnpAnswerMac;
    } else if (o.pinMode) {
        kind = DeviceCommandKind::PnpAnswerPin;
    } else {
        return {};
    }
    auto* command = new CmdDevBySipThread(kind, 0, analyser_.Port(), analyser_.Host());
    command->SetUser(analyser_.Mac());
    command->SetCallId(analyser_.CallId());
    const QByteArray url =
        ConfigServerUrl(o.builtInServer, o.interfaceText, o.portText, o.externalUrl);
    command->SetBody(url);
    // Host and MAC are the datagram's own bytes.
    const QByteArray destination = LogSafeText(analyser_.Host()) + ":" +
                                   QByteArray::number(analyser_.Port()) +
                                   " Mac: " + LogSafeText(analyser_.Mac());
    const char* prefix = o.macMode
                             ? (o.builtInServer ? "PNP: MAC MODE, BUILT-IN HTTP SERVER. To: "
                                                : "PNP: MAC MODE, EXTERNAL HTTP SERVER. To: ")
                             : (o.builtInServer ? "PNP: PIN MODE, BUILT-IN HTTP SERVER. To: "
                                                : "PNP: PIN MODE, EXTERNAL HTTP SERVER. To: ");
    command->Start();
    if (record_) {
        RecordEvent e;
        e.kind = RecordEvent::Kind::Pnp;
        e.phone = PhoneOfMac(analyser_.Mac());
        e.address = analyser_.Host();
        e.url = DeviceCommandBody(kind, url);
        record_->Add(std::move(e));
    }
    return prefix + destination + " with content = " + url;
}
