// libFuzzer target: the plug-and-play answer to received datagrams. The input is cut at each
// "\0\0" into datagrams answered one after another by one responder, as the listener hands
// them over; the answers are built, not sent. An answer that would go out goes to a real port
// of a dotted IPv4 address, and datagram text never adds, breaks or ends a line of the NOTIFY.
#include "FuzzSupport.h"
#include "servers/PnpResponder.h"

#include <arpa/inet.h>
#include <algorithm>
#include <vector>

using namespace fuzz;

namespace {

std::vector<QByteArray> datagrams(const QByteArray& input) {
    static const QByteArray cut("\0\0", 2);
    std::vector<QByteArray> out;
    qsizetype from = 0;
    for (qsizetype at; (at = input.indexOf(cut, from)) >= 0 && out.size() < 16; from = at + 2)
        out.push_back(input.mid(from, at - from));
    out.push_back(input.mid(from));
    return out;
}

// What the command's sender accepts: UdpExchange sends only to these.
bool wouldBeSent(const DeviceCommandFields& f) {
    in_addr address{};
    return f.port >= 1 && f.port <= 65535 &&
           inet_pton(AF_INET, f.address.constData(), &address) == 1;
}

std::vector<QByteArray> headerLines(const QByteArray& header) {
    std::vector<QByteArray> lines;
    for (qsizetype from = 0;;) {
        const qsizetype end = header.indexOf("\r\n", from);
        lines.push_back(header.mid(from, end < 0 ? -1 : end - from));
        if (end < 0)
            return lines;
        from = end + 2;
    }
}

void checkMessage(const PnpResponder::Reply& reply, const QByteArray& url) {
    const DeviceCommandFields& f = reply.fields;
    const QByteArray message = ComposeDeviceCommand(f);
    const qsizetype end = message.indexOf("\r\n\r\n");
    FUZZ_CHECK(end > 0);
    const QByteArray body = message.mid(end + 4);
    FUZZ_CHECK(body == DeviceCommandBody(f.kind, url));
    // Request line, Via, To, From, Call-ID, CSeq, Max-Forwards, Allow, Event, Content-Type,
    // Content-Length: each a line of its own.
    const std::vector<QByteArray> lines = headerLines(message.left(end));
    FUZZ_CHECK(lines.size() == 11);
    for (const QByteArray& line : lines)
        FUZZ_CHECK(!line.contains('\r') && !line.contains('\n'));
    const QByteArray target = f.user + "@" + f.address + ":" + QByteArray::number(f.port);
    FUZZ_CHECK(lines[0] == "NOTIFY sip:" + target + " SIP/2.0 ");
    FUZZ_CHECK(lines[4] == "Call-ID: " + f.callId + " ");
    FUZZ_CHECK(lines[10] == "Content-Length: " + QByteArray::number(body.size()) + " ");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PnpResponder responder;
    int n = 0;
    for (const QByteArray& datagram : datagrams(bytes(data, size))) {
        PnpAnswerOptions o;
        o.macMode = n % 2 == 0;
        o.pinMode = n % 3 != 2;
        o.builtInServer = n % 4 < 2;
        o.interfaceText = "192.168.1.2";
        o.portText = "6000";
        o.externalUrl = " http://10.0.0.5/cfg ";
        const QByteArray url =
            o.builtInServer ? QByteArray("http://192.168.1.2:6000/cfg") : "http://10.0.0.5/cfg";
        ++n;

        const std::optional<PnpResponder::Reply> reply = responder.Compose(datagram, o);
        FUZZ_CHECK(reply.has_value() == (o.macMode || o.pinMode));
        if (!reply)
            continue;
        // The answer goes where the analyser says the phone is, with the phone's MAC and
        // Call-ID, carrying the configuration URL.
        const SipPackAnalyser& a = responder.Analyser();
        const DeviceCommandFields& f = reply->fields;
        FUZZ_CHECK(f.kind ==
                   (o.macMode ? DeviceCommandKind::PnpAnswerMac : DeviceCommandKind::PnpAnswerPin));
        FUZZ_CHECK(f.address == a.Host() && f.port == a.Port());
        FUZZ_CHECK(f.user == a.Mac() && f.callId == a.CallId() && f.body == url);
        FUZZ_CHECK(reply->logLine.startsWith("PNP: ") &&
                   reply->logLine.endsWith(" with content = " + url));
        // One line: no byte of the datagram ends or breaks it.
        FUZZ_CHECK(std::none_of(reply->logLine.begin(), reply->logLine.end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
        }));
        if (wouldBeSent(f))
            checkMessage(*reply, url);
    }
    return 0;
}
