// libFuzzer target: SipPackAnalyser on arbitrary datagrams. The input is cut at each "\0\0"
// into packets parsed one after another by one analyser, as the listener's datagrams are.
#include "servers/SipPackAnalyser.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

std::vector<QByteArray> packets(const QByteArray& input) {
    static const QByteArray cut("\0\0", 2);
    std::vector<QByteArray> out;
    qsizetype from = 0;
    for (qsizetype at; (at = input.indexOf(cut, from)) >= 0; from = at + 2)
        out.push_back(input.mid(from, at - from));
    out.push_back(input.mid(from));
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    SipPackAnalyser analyser;
    for (const QByteArray& packet : packets(input)) {
        const QByteArray mac = analyser.Mac(), host = analyser.Host(), callId = analyser.CallId();
        const int32_t port = analyser.Port();
        analyser.Parse(packet);
        if (!packet.contains("SIP/")) {
            check(analyser.Mac() == mac && analyser.Host() == host && analyser.CallId() == callId &&
                  analyser.Port() == port);
            continue;
        }
        // The fields are what the rules cut out: a MAC of fifteen characters without blanks or
        // control bytes, a host without a space or colon, a non-negative port, a Call-ID without
        // blanks or line ends.
        const QByteArray m = analyser.Mac();
        check(m.isEmpty() || (m.size() == 15 && m.startsWith("MAC")));
        for (const char c : m)
            check(static_cast<unsigned char>(c) > 0x20 && c != 0x7F);
        check(!analyser.Host().contains(' ') && !analyser.Host().contains(':'));
        check(analyser.Port() >= 0);
        const QByteArray id = analyser.CallId();
        check(!id.contains(' ') && !id.contains('\r') && !id.contains('\n'));
        check(analyser.Mac() == mac || packet.startsWith("SUBSCRIBE"));
    }
    return 0;
}
