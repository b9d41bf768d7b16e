#include "servers/SipPackAnalyser.h"

#include <algorithm>
#include <cstdint>

namespace {

bool endsValue(char c) {
    return c == ' ' || c == '\r' || c == '\n';
}

// The answer's request line carries the MAC: a blank or a control byte would break it.
bool fitsRequestLine(const char* text, qsizetype size) {
    return std::none_of(text, text + size,
                        [](char c) { return static_cast<unsigned char>(c) <= 0x20 || c == 0x7F; });
}

}  // namespace

void SipPackAnalyser::Parse(const QByteArray& p) {
    if (!p.contains("SIP/"))
        return;
    const qsizetype n = p.size();

    if (p.startsWith("SUBSCRIBE")) {
        const qsizetype uri = p.indexOf("sip:MAC");
        if (uri >= 0 && uri + 19 < n && p[uri + 19] == '@' &&
            fitsRequestLine(p.constData() + uri + 4, 15))
            mac_ = p.mid(uri + 4, 15);
    }

    const qsizetype via = p.indexOf("Via:");
    if (via >= 0) {
        const qsizetype colon = p.indexOf(':', via + 5);
        if (colon < 0)
            return;
        qsizetype start = colon;
        while (start > 0 && p[start - 1] != ' ' && p[start - 1] != ':')
            --start;
        host_ = p.mid(start, colon - start);
        // A number too large for the port field stays the largest one (no port): wrapped
        // around, it could name some other real port.
        int64_t port = 0;
        for (qsizetype i = colon + 1; i < n && p[i] >= '0' && p[i] <= '9'; ++i)
            port = std::min<int64_t>(port * 10 + (p[i] - '0'), INT32_MAX);
        port_ = static_cast<int32_t>(port);
    }

    const qsizetype call = p.indexOf("Call-ID:");
    if (call >= 0) {
        qsizetype i = call + 9;
        while (i < n && p[i] == ' ')
            ++i;
        qsizetype end = i;
        while (end < n && !endsValue(p[end]))
            ++end;
        if (end > i)
            callId_ = p.mid(i, end - i);
    }
}
