// libFuzzer target: the TFTP server's reading of a request datagram, the options it takes from
// it, the path it makes of the file name and the netascii form of the name's bytes.
#include "FuzzSupport.h"
#include "servers/RequestPath.h"
#include "servers/TftpPacket.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Tftp::Request request;
    if (!Tftp::ParseRequest(data, size, &request))
        return 0;
    FUZZ_CHECK(request.opcode == Tftp::Rrq || request.opcode == Tftp::Wrq);
    FUZZ_CHECK(!request.mode.empty() && request.filename.find('\0') == std::string::npos);

    // The options answered stay within their ranges, and the OACK reads back as they are.
    const Tftp::Negotiation n = Tftp::Negotiate(request.options);
    FUZZ_CHECK(n.blockSize >= Tftp::kMinBlockSize && n.blockSize <= Tftp::kMaxBlockSize);
    FUZZ_CHECK(n.windowSize >= 1 && n.windowSize <= 64);
    FUZZ_CHECK(n.timeoutSeconds <= Tftp::kMaxTimeoutSeconds);
    const std::string oack = Tftp::ComposeOack(n, 12345);
    FUZZ_CHECK(oack.size() >= 2 && oack[1] == Tftp::Oack);

    // The path below the root has no leading separator and no backslash.
    const std::string path = Tftp::RequestPathBelowRoot(request.filename);
    FUZZ_CHECK(path.empty() || path[0] != '/');
    FUZZ_CHECK(path.find('\\') == std::string::npos);
    FUZZ_CHECK(PathLeavesRoot(path) ==
               (path == ".." || path.rfind("../", 0) == 0 ||
                path.find("/../") != std::string::npos ||
                (path.size() >= 3 && path.compare(path.size() - 3, 3, "/..") == 0)));

    // Netascii in blocks of 7 gives the whole text's bytes, as long as NetasciiLength says.
    const std::string& text = request.filename;
    std::string out;
    size_t at = 0, consumed = 0;
    int pending = -1;
    for (;;) {
        char block[7];
        const size_t n7 = Tftp::NetasciiEncode(text.data() + at, text.size() - at, block,
                                               sizeof block, &pending, &consumed);
        at += consumed;
        out.append(block, n7);
        if (n7 < sizeof block)
            break;
    }
    FUZZ_CHECK(at == text.size() && out.size() == Tftp::NetasciiLength(text.data(), text.size()));
    return 0;
}
