#include "servers/PnpResponder.h"

#include "discovery/DeviceCommand.h"
#include "record/ProvisioningRecord.h"
#include "support/LoopbackPhone.h"
#include "support/QtPrinters.h"
#include "support/Sqlite3Cli.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace {

QByteArray subscribe(int port, const char* mac = "MAC0a1b2c3d4e5f",
                     const char* callId = "4711-abc") {
    return QByteArray("SUBSCRIBE sip:") + mac +
           "@224.0.1.75 SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:" + QByteArray::number(port) +
           ";branch=z9\r\nCall-ID: " + callId + "\r\nEvent: ua-profile\r\n\r\n";
}

TEST(PnpResponderTest, AnswersTheSenderWithTheModesNotifyAndLogLine) {
    LoopbackPhone phone;
    const QByteArray port = QByteArray::number(phone.port());
    const struct {
        bool mac, builtIn;
        DeviceCommandKind kind;
        QByteArray url, log;
        ServerProtocol protocol = ServerProtocol::Http;
    } cases[] = {
        {true, true, DeviceCommandKind::PnpAnswerMac, "http://192.168.1.2:6000/cfg",
         "PNP: MAC MODE, BUILT-IN HTTP SERVER. To: 127.0.0.1:" + port +
             " Mac: MAC0a1b2c3d4e5f with content = http://192.168.1.2:6000/cfg"},
        {false, true, DeviceCommandKind::PnpAnswerPin, "http://192.168.1.2:6000/cfg",
         "PNP: PIN MODE, BUILT-IN HTTP SERVER. To: 127.0.0.1:" + port +
             " Mac: MAC0a1b2c3d4e5f with content = http://192.168.1.2:6000/cfg"},
        {true, false, DeviceCommandKind::PnpAnswerMac, "http://ext/cfg",
         "PNP: MAC MODE, EXTERNAL HTTP SERVER. To: 127.0.0.1:" + port +
             " Mac: MAC0a1b2c3d4e5f with content = http://ext/cfg"},
        {false, false, DeviceCommandKind::PnpAnswerPin, "http://ext/cfg",
         "PNP: PIN MODE, EXTERNAL HTTP SERVER. To: 127.0.0.1:" + port +
             " Mac: MAC0a1b2c3d4e5f with content = http://ext/cfg"},
        // The built-in TFTP server: its URL with the TFTP port; the external one is unchanged.
        {true, true, DeviceCommandKind::PnpAnswerMac, "tftp://192.168.1.2:69/cfg",
         "PNP: MAC MODE, BUILT-IN TFTP SERVER. To: 127.0.0.1:" + port +
             " Mac: MAC0a1b2c3d4e5f with content = tftp://192.168.1.2:69/cfg",
         ServerProtocol::Tftp},
        {false, true, DeviceCommandKind::PnpAnswerPin, "tftp://192.168.1.2:69/cfg",
         "PNP: PIN MODE, BUILT-IN TFTP SERVER. To: 127.0.0.1:" + port +
             " Mac: MAC0a1b2c3d4e5f with content = tftp://192.168.1.2:69/cfg",
         ServerProtocol::Tftp},
        {true, false, DeviceCommandKind::PnpAnswerMac, "http://ext/cfg",
         "PNP: MAC MODE, EXTERNAL HTTP SERVER. To: 127.0.0.1:" + port +
             " Mac: MAC0a1b2c3d4e5f with content = http://ext/cfg",
         ServerProtocol::Tftp},
    };
    for (const auto& c : cases) {
        PnpResponder responder;
        PnpAnswerOptions o;
        o.macMode = c.mac;
        o.pinMode = !c.mac;
        o.builtInServer = c.builtIn;
        o.protocol = c.protocol;
        o.interfaceText = "192.168.1.2";
        o.portText = c.protocol == ServerProtocol::Tftp ? " 69 " : " 6000 ";
        o.externalUrl = " http://ext/cfg ";
        EXPECT_EQ(responder.Answer(subscribe(phone.port()), o), c.log);
        DeviceCommandFields f;
        f.kind = c.kind;
        f.user = "MAC0a1b2c3d4e5f";
        f.address = "127.0.0.1";
        f.port = phone.port();
        f.callId = "4711-abc";
        f.body = c.url;
        EXPECT_EQ(phone.receive(), ComposeDeviceCommand(f));
    }
}

TEST(PnpResponderTest, ADatagramLackingFieldsReusesTheEarlierOnesAndNoModeSendsNothing) {
    LoopbackPhone phone;
    PnpResponder responder;
    PnpAnswerOptions o;
    o.interfaceText = "10.0.0.1";
    o.portText = "6000";
    responder.Answer(subscribe(phone.port()), o);
    ASSERT_FALSE(phone.receive().isEmpty());
    const QByteArray log = responder.Answer("hello, not SIP", o);
    EXPECT_TRUE(log.contains("Mac: MAC0a1b2c3d4e5f"));
    EXPECT_TRUE(phone.receive().contains("Call-ID: 4711-abc \r\n"));

    o.macMode = o.pinMode = false;
    EXPECT_EQ(responder.Answer(subscribe(phone.port()), o), "");
    EXPECT_TRUE(phone.receive({}, 200).isEmpty());
}

// A datagram without a MAC is answered with the last one's, as the rules say, but the record
// books an answer only for a MAC its datagram carried, with what its User-Agent says.
TEST(PnpResponderTest, TheRecordBooksOnlyAMacTheDatagramCarried) {
    TempDir dir;
    const QString file = dir.file("record.sqlite");
    ProvisioningRecord record;
    ASSERT_TRUE(record.Open(file));
    LoopbackPhone phone, stranger;
    PnpResponder responder;
    responder.SetRecord(&record);
    PnpAnswerOptions o;
    o.interfaceText = "10.0.0.1";
    o.portText = "6000";
    QByteArray first = subscribe(phone.port());
    first.replace("Event:", "User-Agent: Orvo X100 2.0.4.4\r\nEvent:");
    EXPECT_TRUE(responder.Answer(first, o).contains("Mac: MAC0a1b2c3d4e5f"));
    EXPECT_TRUE(responder.Answer(subscribe(stranger.port(), "nomac", "4712-def"), o)
                    .contains("Mac: MAC0a1b2c3d4e5f"));
    EXPECT_FALSE(phone.receive().isEmpty());
    EXPECT_FALSE(stranger.receive().isEmpty());
    ASSERT_TRUE(record.Flush());
    EXPECT_EQ(Sqlite3Rows(file, "SELECT kind, phone, address, model, version FROM commands"),
              QStringList{"pnp|0a1b2c3d4e5f|127.0.0.1|Orvo X100|2.0.4.4"});
}

// A datagram's MAC must not add a line to the NOTIFY: the request line keeps the MAC of the
// last SUBSCRIBE that had a sound one.
TEST(PnpResponderTest, DatagramTextNeverAddsALineToTheAnswer) {
    const QByteArray found =
        ReadFileBytes(SourcePath("tests/fuzz/regressions/pnp_answer/mac-with-carriage-return"));
    ASSERT_TRUE(found.contains("sip:MAC0a1b2c3d4eo\r@"));
    LoopbackPhone phone;
    PnpResponder responder;
    PnpAnswerOptions o;
    o.interfaceText = "10.0.0.1";
    o.portText = "6000";
    responder.Answer(subscribe(phone.port()), o);
    ASSERT_TRUE(phone.receive().startsWith("NOTIFY sip:MAC0a1b2c3d4e5f@"));
    const QByteArray port = QByteArray::number(phone.port());
    for (const QByteArray& datagram :
         {subscribe(phone.port(), "MAC0a1b\r\nEvil:1"),
          found.left(found.indexOf('\0')).replace("127.0.0.1:5060", "127.0.0.1:" + port)}) {
        responder.Answer(datagram, o);
        const QByteArray notify = phone.receive();
        EXPECT_TRUE(
            notify.startsWith("NOTIFY sip:MAC0a1b2c3d4e5f@127.0.0.1:" + port + " SIP/2.0 \r\n"))
            << notify.constData();
        EXPECT_EQ(notify.count("\r\n"), 12) << notify.constData();
    }
}

// The log line carries the datagram's own bytes (the Via host); none of them can end the line.
TEST(PnpResponderTest, ControlBytesOfTheDatagramAreEscapedInTheLogLine) {
    PnpResponder responder;
    PnpAnswerOptions o;
    o.interfaceText = "10.0.0.1";
    o.portText = "6000";
    const char raw[] =
        "SUBSCRIBE sip:MAC0a1b2c3d4e5f@224.0.1.75 SIP/2.0\r\n"
        "Via: SIP/2.0/UDP\r\nPNP\0x\r\n127.0.0.1:9;branch=z9\r\n\r\n";
    const QByteArray forged(raw, sizeof raw - 1);
    const QByteArray line = responder.Answer(forged, o);
    EXPECT_EQ(line,
              "PNP: MAC MODE, BUILT-IN HTTP SERVER. To: SIP/2.0/UDP%0D%0APNP%00x%0D%0A127.0.0.1:9"
              " Mac: MAC0a1b2c3d4e5f with content = http://10.0.0.1:6000/cfg");
}

}  // namespace
