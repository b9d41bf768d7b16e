#include "servers/RequestPath.h"
#include "servers/TftpPacket.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

std::string bytes(std::initializer_list<int> head, const std::string& rest = {}) {
    std::string out;
    for (const int b : head)
        out.push_back(static_cast<char>(b));
    return out + rest;
}

bool parse(const std::string& packet, Tftp::Request* request) {
    return Tftp::ParseRequest(reinterpret_cast<const uint8_t*>(packet.data()), packet.size(),
                              request);
}

TEST(TftpPacket, ReadsRequestsAndRefusesWhatIsNotOne) {
    using Options = std::vector<std::pair<std::string, std::string>>;
    const struct {
        std::string packet;
        bool ok;
        uint16_t opcode;
        std::string filename, mode;
        Options options;
    } cases[] = {
        {bytes({0, 1}, std::string("cfg/a\0octet\0", 12)), true, 1, "cfg/a", "octet", {}},
        {bytes({0, 2}, std::string("x\0NetASCII\0", 11)), true, 2, "x", "netascii", {}},
        {bytes({0, 1}, std::string("a\0octet\0BLKSIZE\0001024\0tsize\0000\0", 29)),
         true,
         1,
         "a",
         "octet",
         {{"blksize", "1024"}, {"tsize", "0"}}},
        // A cut-off option, padding and empty names are ignored.
        {bytes({0, 1}, std::string("a\0octet\0blksize\0", 16)), true, 1, "a", "octet", {}},
        {bytes({0, 1}, std::string("a\0octet\0\0\0\0", 11)), true, 1, "a", "octet", {}},
        {bytes({0, 1}, std::string("a\0octet\0timeout\0003\0blk", 21)),
         true,
         1,
         "a",
         "octet",
         {{"timeout", "3"}}},
        {bytes({0, 1}, std::string("\0octet\0", 7)), true, 1, "", "octet", {}},
        // Not requests, or not well formed.
        {bytes({0, 1}, std::string("a\0octet", 7)), false, 0, "", "", {}},
        {bytes({0, 1}, std::string("a", 1)), false, 0, "", "", {}},
        {bytes({0, 1}, std::string("a\0\0", 3)), false, 0, "", "", {}},
        {bytes({0, 4, 0, 1}), false, 0, "", "", {}},
        {bytes({0, 3}, std::string("a\0octet\0", 8)), false, 0, "", "", {}},
        {bytes({1}), false, 0, "", "", {}},
        {std::string(), false, 0, "", "", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.packet));
        Tftp::Request r;
        ASSERT_EQ(parse(c.packet, &r), c.ok);
        if (!c.ok)
            continue;
        EXPECT_EQ(r.opcode, c.opcode);
        EXPECT_EQ(r.filename, c.filename);
        EXPECT_EQ(r.mode, c.mode);
        EXPECT_EQ(r.options, c.options);
    }
}

TEST(TftpPacket, NegotiatesOptionsWithinTheirRanges) {
    using Options = std::vector<std::pair<std::string, std::string>>;
    const struct {
        Options requested;
        Options accepted;
        unsigned block, window, timeout;
        bool size;
    } cases[] = {
        {{}, {}, 512, 1, 0, false},
        {{{"blksize", "1468"}}, {{"blksize", "1468"}}, 1468, 1, 0, false},
        {{{"blksize", "8"}}, {{"blksize", "8"}}, 8, 1, 0, false},
        {{{"blksize", "65464"}}, {{"blksize", "65464"}}, 65464, 1, 0, false},
        // Larger than allowed: answered with the largest value; smaller or not a number: dropped.
        {{{"blksize", "65465"}}, {{"blksize", "65464"}}, 65464, 1, 0, false},
        {{{"blksize", "99999999999999999999999"}}, {}, 512, 1, 0, false},
        {{{"blksize", "7"}}, {}, 512, 1, 0, false},
        {{{"blksize", "0"}}, {}, 512, 1, 0, false},
        {{{"blksize", "-1"}}, {}, 512, 1, 0, false},
        {{{"blksize", "1k"}}, {}, 512, 1, 0, false},
        {{{"blksize", ""}}, {}, 512, 1, 0, false},
        {{{"timeout", "1"}}, {{"timeout", "1"}}, 512, 1, 1, false},
        {{{"timeout", "255"}}, {{"timeout", "255"}}, 512, 1, 255, false},
        {{{"timeout", "0"}}, {}, 512, 1, 0, false},
        {{{"timeout", "256"}}, {}, 512, 1, 0, false},
        {{{"windowsize", "1"}}, {{"windowsize", "1"}}, 512, 1, 0, false},
        {{{"windowsize", "16"}}, {{"windowsize", "16"}}, 512, 16, 0, false},
        {{{"windowsize", "65535"}}, {{"windowsize", "64"}}, 512, 64, 0, false},
        {{{"windowsize", "0"}}, {}, 512, 1, 0, false},
        {{{"tsize", "0"}}, {}, 512, 1, 0, true},
        {{{"tsize", "x"}}, {}, 512, 1, 0, false},
        // Unknown options are ignored; the first of a repeated one counts; the order stays.
        {{{"multicast", ""}, {"timeout", "3"}, {"blksize", "1024"}, {"blksize", "2048"}},
         {{"timeout", "3"}, {"blksize", "1024"}},
         1024,
         1,
         3,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.requested));
        const Tftp::Negotiation n = Tftp::Negotiate(c.requested);
        EXPECT_EQ(n.accepted, c.accepted);
        EXPECT_EQ(n.blockSize, c.block);
        EXPECT_EQ(n.windowSize, c.window);
        EXPECT_EQ(n.timeoutSeconds, c.timeout);
        EXPECT_EQ(n.sizeRequested, c.size);
    }
}

TEST(TftpPacket, ComposesOackErrorAndDataHeader) {
    Tftp::Negotiation n = Tftp::Negotiate({{"blksize", "1024"}, {"tsize", "0"}});
    EXPECT_EQ(Tftp::ComposeOack(n, 20480),
              bytes({0, 6}, std::string("blksize\0001024\0tsize\00020480\0", 25)));
    EXPECT_EQ(Tftp::ComposeError(1, "File not found"),
              bytes({0, 5, 0, 1}, std::string("File not found\0", 15)));
    uint8_t header[4];
    Tftp::WriteDataHeader(header, 0x1234);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(header), 4), bytes({0, 3, 0x12, 0x34}));
}

// Netascii in blocks of any size gives the same bytes as the whole text at once, and
// NetasciiLength counts them.
TEST(TftpPacket, NetasciiGivesTheSameBytesInBlocksOfAnySize) {
    const std::string text("a\nb\r\nc\rd\0e\n\n\r\r", 14);
    const std::string expected("a\r\nb\r\0\r\nc\r\0d\0e\r\n\r\n\r\0\r\0", 22);
    EXPECT_EQ(Tftp::NetasciiLength(text.data(), text.size()), expected.size());
    std::mt19937 random(7);
    std::string noise(3000, '\0');
    for (char& c : noise)
        c = "ab\r\n\0"[random() % 5];
    for (const std::string& input : {text, noise}) {
        std::string whole(2 * input.size(), '\0');
        int pending = -1;
        size_t consumed = 0;
        whole.resize(Tftp::NetasciiEncode(input.data(), input.size(), whole.data(), whole.size(),
                                          &pending, &consumed));
        EXPECT_EQ(consumed, input.size());
        EXPECT_EQ(whole.size(), Tftp::NetasciiLength(input.data(), input.size()));
        if (input == text) {
            EXPECT_EQ(whole, expected);
        }
        for (size_t block = 1; block <= 9; ++block) {
            SCOPED_TRACE(block);
            std::string out;
            size_t at = 0;
            pending = -1;
            for (;;) {
                std::string part(block, '\0');
                const size_t n = Tftp::NetasciiEncode(input.data() + at, input.size() - at,
                                                      part.data(), block, &pending, &consumed);
                at += consumed;
                out += part.substr(0, n);
                if (n < block)
                    break;
            }
            EXPECT_EQ(out, whole);
        }
    }
}

TEST(TftpPacket, RequestPathsBelowTheRoot) {
    const struct {
        std::string filename, path;
        bool leaves;
    } cases[] = {
        {"cfg/cfg02e5d2aabbcc", "cfg/cfg02e5d2aabbcc", false},
        {"/cfg/a", "cfg/a", false},
        {"\\cfg\\a", "cfg/a", false},
        {"//\\cfg/a", "cfg/a", false},
        {"cfg/..a/b..", "cfg/..a/b..", false},
        {"/", "", false},
        {"", "", false},
        {"../etc/passwd", "../etc/passwd", true},
        {"\\..\\etc", "../etc", true},
        {"cfg/../../x", "cfg/../../x", true},
        {"cfg/..", "cfg/..", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.filename);
        EXPECT_EQ(Tftp::RequestPathBelowRoot(c.filename), c.path);
        EXPECT_EQ(PathLeavesRoot(c.path), c.leaves);
    }
    EXPECT_TRUE(PathLeavesRoot(std::string("a\0b", 3)));
}

}  // namespace
