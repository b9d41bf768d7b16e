#include "servers/SipPackAnalyser.h"

#include "support/QtPrinters.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace {

const QByteArray kSubscribe =
    "SUBSCRIBE sip:MAC0a1b2c3d4e5f@224.0.1.75 SIP/2.0\r\n"
    "Via: SIP/2.0/UDP 192.168.1.20:5060;branch=z9hG4bK77\r\n"
    "From: <sip:MAC0a1b2c3d4e5f@224.0.1.75>;tag=1\r\n"
    "Call-ID: 4711-abc\r\n"
    "CSeq: 1 SUBSCRIBE\r\n"
    "Event: ua-profile\r\n\r\n";

struct Fields {
    QByteArray mac, host;
    int32_t port;
    QByteArray callId;
};

Fields fields(const SipPackAnalyser& a) {
    return {a.Mac(), a.Host(), a.Port(), a.CallId()};
}

void expectFields(const SipPackAnalyser& a, const Fields& f, const char* what) {
    EXPECT_EQ(a.Mac(), f.mac) << what;
    EXPECT_EQ(a.Host(), f.host) << what;
    EXPECT_EQ(a.Port(), f.port) << what;
    EXPECT_EQ(a.CallId(), f.callId) << what;
}

TEST(SipPackAnalyserTest, TakesMacViaAndCallIdFromASubscribe) {
    SipPackAnalyser a;
    expectFields(a, {"", "", 0, ""}, "fresh");
    a.Parse(kSubscribe);
    expectFields(a, {"MAC0a1b2c3d4e5f", "192.168.1.20", 5060, "4711-abc"}, "subscribe");
}

TEST(SipPackAnalyserTest, LaterPacketsOverwriteOnlyWhatTheyCarry) {
    const struct {
        const char* what;
        QByteArray packet;
        Fields after;
    } steps[] = {
        {"subscribe", kSubscribe, {"MAC0a1b2c3d4e5f", "192.168.1.20", 5060, "4711-abc"}},
        {"no SIP/",
         "SUBSCRIBE sip:MAC111111111111@x Via: 10.0.0.1:1 Call-ID: zz",
         {"MAC0a1b2c3d4e5f", "192.168.1.20", 5060, "4711-abc"}},
        {"notify keeps the MAC",
         "NOTIFY sip:MAC999999999999@10.0.0.9 SIP/2.0\r\nVia: SIP/2.0/UDP 10.0.0.9:5070\r\n"
         "Call-ID: n1\r\n\r\n",
         {"MAC0a1b2c3d4e5f", "10.0.0.9", 5070, "n1"}},
        {"eleven characters before @",
         "SUBSCRIBE sip:MAC0a1b2c3d4e5@224.0.1.75 SIP/2.0\r\nCall-ID: c2\r\n",
         {"MAC0a1b2c3d4e5f", "10.0.0.9", 5070, "c2"}},
        {"no space after Call-ID:",
         "REGISTER sip:x SIP/2.0\r\nCall-ID:abc\r\n",
         {"MAC0a1b2c3d4e5f", "10.0.0.9", 5070, "bc"}},
        // the next colon is the one of the From header: host and port come from there
        {"via without port takes the next colon",
         "SUBSCRIBE sip:MACaabbccddeeff@224.0.1.75 SIP/2.0\r\nVia: SIP/2.0/UDP "
         "10.0.0.7;branch=1\r\n"
         "From:<sip:MACaabbccddeeff@10.0.0.8:5062>\r\nCall-ID: c3\r\n",
         {"MACaabbccddeeff", "10.0.0.7;branch=1\r\nFrom", 0, "c3"}},
        {"via with no colon after it skips the Call-ID",
         "NOTIFY x SIP/2.0\r\nCall-ID: c4\r\nVia: SIP/2.0/UDP 10.0.0.7\r\n",
         {"MACaabbccddeeff", "10.0.0.7;branch=1\r\nFrom", 0, "c3"}},
        {"empty Call-ID keeps the old one",
         "NOTIFY x SIP/2.0\r\nCall-ID: \r\n",
         {"MACaabbccddeeff", "10.0.0.7;branch=1\r\nFrom", 0, "c3"}},
        {"port without digits",
         "NOTIFY x SIP/2.0\r\nVia: SIP/2.0/UDP 10.1.1.1:x\r\n",
         {"MACaabbccddeeff", "10.1.1.1", 0, "c3"}},
        // the MAC goes into the answer's request line
        {"a MAC with a line break, blank or control byte is ignored",
         "SUBSCRIBE sip:MAC0a1b\r\nEvil:1@224.0.1.75 SIP/2.0\r\nCall-ID: c5\r\n",
         {"MACaabbccddeeff", "10.1.1.1", 0, "c5"}},
        {"a blank",
         "SUBSCRIBE sip:MAC0a1b2c 3d4e5@x SIP/2.0\r\n",
         {"MACaabbccddeeff", "10.1.1.1", 0, "c5"}},
        {"a delete",
         "SUBSCRIBE sip:MAC0a1b2c3d4e5\x7f@x SIP/2.0\r\n",
         {"MACaabbccddeeff", "10.1.1.1", 0, "c5"}},
    };
    SipPackAnalyser a;
    for (const auto& s : steps) {
        a.Parse(s.packet);
        expectFields(a, s.after, s.what);
    }
}

// Wrapped around, 4294972356 would be 5060: a real port the phone never named.
TEST(SipPackAnalyserTest, APortBeyondTheRangeNamesNoPort) {
    const QByteArray found =
        ReadFileBytes(SourcePath("tests/fuzz/regressions/sip_pack_analyser/via-port-overflow"));
    ASSERT_TRUE(found.contains("Via: :1111111111"));
    for (const QByteArray& packet :
         {QByteArray("NOTIFY x SIP/2.0\r\nVia: SIP/2.0/UDP 10.0.0.1:4294972356\r\n"), found}) {
        SipPackAnalyser a;
        a.Parse(packet);
        EXPECT_EQ(a.Port(), INT32_MAX) << packet.constData();
    }
    SipPackAnalyser a;
    a.Parse("NOTIFY x SIP/2.0\r\nVia: SIP/2.0/UDP 10.0.0.1:65535;x\r\n");
    EXPECT_EQ(a.Port(), 65535);
}

TEST(SipPackAnalyserTest, ShortAndOddPacketsAreSafe) {
    SipPackAnalyser a;
    for (const QByteArray& p :
         {QByteArray("SIP/"), QByteArray("SUBSCRIBE sip:MAC SIP/"), QByteArray("SIP/ Via:"),
          QByteArray("SIP/ Via: :"), QByteArray("SIP/ Call-ID:"), QByteArray("SIP/Via::5060"),
          QByteArray(9000, 'S') + "SIP/", QByteArray("SIP/\0Via: a:1", 13)})
        a.Parse(p);
    SUCCEED();
}

}  // namespace
