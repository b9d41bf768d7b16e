#include "discovery/DeviceCommand.h"

namespace {

QByteArray number(int32_t n) {
    return QByteArray::number(n);
}

QByteArray lengthLine(const QByteArray& body) {
    return "Content-Length: " + number(static_cast<int32_t>(body.size())) + " \r\n\r\n" + body;
}

}  // namespace

QByteArray DeviceCommandBody(DeviceCommandKind kind, const QByteArray& url) {
    return kind == DeviceCommandKind::ProvisionPin || kind == DeviceCommandKind::PnpAnswerPin
               ? url + "$input.cfg"
               : url;
}

QByteArray ComposeDeviceCommand(const DeviceCommandFields& f) {
    const QByteArray target = f.user + "@" + f.address + ":" + number(f.port);
    const QByteArray requestLine = "NOTIFY sip:" + target + " SIP/2.0 \r\n";
    const QByteArray via = "Via: SIP/2.0/UDP " + f.address + ":" + number(f.port) + "; \r\n";
    const QByteArray to = "To: <sip:" + target + "> \r\n";
    const QByteArray body = DeviceCommandBody(f.kind, f.body);

    switch (f.kind) {
        case DeviceCommandKind::OnlineCheck:
            return requestLine + via + to +
                   "From: <sip:0000@0.0.0.0:0000>\r\n"
                   "CSeq: 1 NOTIFY \r\n"
                   "Max-Forwards: 70 \r\n"
                   "Allow: INVITE,ACK,CANCEL,BYE,MESSAGE \r\n"
                   "Event: check-online \r\n"
                   "Content-Type: application/url \r\n"
                   "Content-Length: 0 \r\n\r\n";
        case DeviceCommandKind::ProvisionMac:
            return requestLine +
                   "Via: SIP/2.0/UDP \r\n"
                   "Max-Forwards: 70 \r\n"
                   "To: <sip:MAC000000000000@0.0.0.0:0000> \r\n"
                   "From: <sip:MAC000000000000@0.0.0.0:0000> \r\n"
                   "Call-ID: xxxxxxxxxxxx3cxsdassdasd \r\n"
                   "CSeq: 1 NOTIFY \r\n"
                   "Allow: INVITE, ACK, CANCEL, BYE, MESSAGE \r\n"
                   "Content-Type: application/url \r\n"
                   "User-Agent: ZvCfgTool \r\n"
                   "Event: ua-profile \r\n" +
                   lengthLine(body);
        case DeviceCommandKind::ProvisionPin:
        case DeviceCommandKind::PnpAnswerMac:
        case DeviceCommandKind::PnpAnswerPin: {
            const QByteArray callId = f.kind == DeviceCommandKind::ProvisionPin
                                          ? QByteArray()
                                          : "Call-ID: " + f.callId + " \r\n";
            return requestLine + via + to + "From: <sip:0000@0.0.0.0:0000>\r\n" + callId +
                   "CSeq: 1 NOTIFY \r\n"
                   "Max-Forwards: 70 \r\n"
                   "Allow: INVITE,ACK,CANCEL,BYE,MESSAGE \r\n"
                   "Event: ua-profile; \r\n"
                   "Content-Type: application/url \r\n" +
                   lengthLine(body);
        }
    }
    return {};
}

QByteArray ConvertMacText(const QByteArray& text, MacForm input, MacForm output) {
    QByteArray twelve;
    switch (input) {
        case MacForm::Separated:
        case MacForm::Dashed:
        case MacForm::Colon:
            for (int offset = 0; offset <= 15; offset += 3)
                twelve += text.mid(offset, 2);
            break;
        case MacForm::Plain:
            twelve = text;
            break;
        case MacForm::MacPrefixed:
            twelve = text.mid(3);
            break;
    }
    auto joined = [&](char sep) {
        QByteArray out;
        for (int i = 0; i < 6; ++i) {
            if (i)
                out += sep;
            out += twelve.mid(i * 2, 2);
        }
        return out;
    };
    switch (output) {
        case MacForm::MacPrefixed:
            return "MAC" + twelve;
        case MacForm::Separated:
        case MacForm::Dashed:
            return joined('-');
        case MacForm::Colon:
            return joined(':');
        case MacForm::Plain:
            return twelve;
    }
    return {};
}

bool FindUserAgentValue(const QByteArray& reply, QByteArray* value) {
    const qsizetype at = reply.indexOf("User-Agent");
    if (at < 0)
        return false;
    qsizetype i = at + 11;  // "User-Agent" and the character after it
    while (i < reply.size() && reply[i] == ' ')
        ++i;
    qsizetype end = i;
    while (end < reply.size() && reply[end] != '\r' && reply[end] != '\n')
        ++end;
    *value = i < end ? reply.mid(i, end - i) : QByteArray();
    return true;
}

bool ParseOnlineCheckAnswer(const QByteArray& reply, QByteArray* model, QByteArray* version) {
    QByteArray value;
    if (!FindUserAgentValue(reply, &value))
        return false;
    while (value.endsWith(' '))
        value.chop(1);
    const qsizetype space = value.lastIndexOf(' ');
    *version = value.mid(space + 1);
    QByteArray m = space < 0 ? QByteArray() : value.left(space);
    while (m.endsWith(' '))
        m.chop(1);
    *model = m.isEmpty() ? QByteArray("unknow") : m;
    if (version->isEmpty())
        *version = "unknow";
    return true;
}
