#include "discovery/DeviceCommand.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

namespace {

DeviceCommandFields fields(DeviceCommandKind kind) {
    DeviceCommandFields f;
    f.kind = kind;
    f.user = "MAC0a1b2c3d4e5f";
    f.address = "192.168.1.20";
    f.port = 60000;
    f.callId = "4711-abc";
    f.body = "http://192.168.1.2:6000/cfg";
    return f;
}

TEST(DeviceCommandTest, EveryKindByteForByte) {
    const QByteArray pinTail =
        "CSeq: 1 NOTIFY \r\nMax-Forwards: 70 \r\nAllow: INVITE,ACK,CANCEL,BYE,MESSAGE \r\n"
        "Event: ua-profile; \r\nContent-Type: application/url \r\n"
        "Content-Length: 37 \r\n\r\nhttp://192.168.1.2:6000/cfg$input.cfg";
    const QByteArray head =
        "NOTIFY sip:MAC0a1b2c3d4e5f@192.168.1.20:60000 SIP/2.0 \r\n"
        "Via: SIP/2.0/UDP 192.168.1.20:60000; \r\n"
        "To: <sip:MAC0a1b2c3d4e5f@192.168.1.20:60000> \r\n"
        "From: <sip:0000@0.0.0.0:0000>\r\n";
    const struct {
        DeviceCommandKind kind;
        QByteArray expected;
    } cases[] = {
        {DeviceCommandKind::OnlineCheck,
         head + "CSeq: 1 NOTIFY \r\nMax-Forwards: 70 \r\nAllow: INVITE,ACK,CANCEL,BYE,MESSAGE \r\n"
                "Event: check-online \r\nContent-Type: application/url \r\nContent-Length: 0 "
                "\r\n\r\n"},
        {DeviceCommandKind::ProvisionMac,
         "NOTIFY sip:MAC0a1b2c3d4e5f@192.168.1.20:60000 SIP/2.0 \r\n"
         "Via: SIP/2.0/UDP \r\n"
         "Max-Forwards: 70 \r\n"
         "To: <sip:MAC000000000000@0.0.0.0:0000> \r\n"
         "From: <sip:MAC000000000000@0.0.0.0:0000> \r\n"
         "Call-ID: xxxxxxxxxxxx3cxsdassdasd \r\n"
         "CSeq: 1 NOTIFY \r\n"
         "Allow: INVITE, ACK, CANCEL, BYE, MESSAGE \r\n"
         "Content-Type: application/url \r\n"
         "User-Agent: ZvCfgTool \r\n"
         "Event: ua-profile \r\n"
         "Content-Length: 27 \r\n\r\nhttp://192.168.1.2:6000/cfg"},
        {DeviceCommandKind::ProvisionPin, head + pinTail},
        {DeviceCommandKind::PnpAnswerMac,
         head + "Call-ID: 4711-abc \r\n" +
             QByteArray(pinTail).replace(
                 "Content-Length: 37 \r\n\r\nhttp://192.168.1.2:6000/cfg$input.cfg",
                 "Content-Length: 27 \r\n\r\nhttp://192.168.1.2:6000/cfg")},
        {DeviceCommandKind::PnpAnswerPin, head + "Call-ID: 4711-abc \r\n" + pinTail},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ComposeDeviceCommand(fields(c.kind)), c.expected) << static_cast<int>(c.kind);
}

TEST(DeviceCommandTest, OnlineCheckCarriesTheMacAsShownAndLengthCountsBytes) {
    DeviceCommandFields f = fields(DeviceCommandKind::OnlineCheck);
    f.user = "0a-1b-2c-3d-4e-5f";
    EXPECT_TRUE(ComposeDeviceCommand(f).startsWith(
        "NOTIFY sip:0a-1b-2c-3d-4e-5f@192.168.1.20:60000 SIP/2.0 \r\n"));
    f = fields(DeviceCommandKind::ProvisionPin);
    f.body = "http://h/\xc3\xa9";  // a two-byte character: 11 bytes + "$input.cfg"
    EXPECT_TRUE(
        ComposeDeviceCommand(f).contains("Content-Length: 21 \r\n\r\nhttp://h/\xc3\xa9$input.cfg"));
    f.body.clear();
    EXPECT_TRUE(ComposeDeviceCommand(f).endsWith("Content-Length: 10 \r\n\r\n$input.cfg"));
    f = fields(DeviceCommandKind::PnpAnswerMac);
    f.port = 5060;
    EXPECT_TRUE(ComposeDeviceCommand(f).startsWith(
        "NOTIFY sip:MAC0a1b2c3d4e5f@192.168.1.20:5060 SIP/2.0 \r\n"));
}

TEST(MacText, ConvertsBetweenForms) {
    const struct {
        QByteArray in;
        MacForm from, to;
        QByteArray out;
    } cases[] = {
        {"0a-1b-2c-3d-4e-5f", MacForm::Separated, MacForm::MacPrefixed, "MAC0a1b2c3d4e5f"},
        {"0A:1B:2C:3D:4E:5F", MacForm::Separated, MacForm::MacPrefixed, "MAC0A1B2C3D4E5F"},
        {"0a-1b-2c-3d-4e-5f", MacForm::Separated, MacForm::Colon, "0a:1b:2c:3d:4e:5f"},
        {"0a1b2c3d4e5f", MacForm::Plain, MacForm::Dashed, "0a-1b-2c-3d-4e-5f"},
        {"MAC0a1b2c3d4e5f", MacForm::MacPrefixed, MacForm::Plain, "0a1b2c3d4e5f"},
        {"MAC0a1b2c3d4e5f", MacForm::MacPrefixed, MacForm::Dashed, "0a-1b-2c-3d-4e-5f"},
        {"0a-1b", MacForm::Separated, MacForm::MacPrefixed, "MAC0a1b"},
        {"", MacForm::Separated, MacForm::Plain, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ConvertMacText(c.in, c.from, c.to), c.out) << c.in.constData();
}

TEST(OnlineCheckAnswer, LastWordIsTheVersion) {
    const struct {
        QByteArray reply;
        bool found;
        QByteArray model, version;
    } cases[] = {
        {"SIP/2.0 200 OK\r\nUser-Agent: Vendor X100 2.0.4.4.34\r\n\r\n", true, "Vendor X100",
         "2.0.4.4.34"},
        {"SIP/2.0 200 OK\r\nUser-Agent:   Vendor  X100   2.0.4.4.34  \r\n", true, "Vendor  X100",
         "2.0.4.4.34"},
        {"SIP/2.0 200 OK\r\nUser-Agent: X100\r\n", true, "unknow", "X100"},
        {"SIP/2.0 200 OK\r\nUser-Agent: Vendor X100 V2 build7\n", true, "Vendor X100 V2", "build7"},
        {"SIP/2.0 200 OK\r\nUser-Agent:\r\n", true, "unknow", "unknow"},
        {"SIP/2.0 200 OK\r\nUser-Agent", true, "unknow", "unknow"},
        {"SIP/2.0 200 OK\r\nuser-agent: Vendor X100 1.0\r\n", false, "", ""},
        {"", false, "", ""},
    };
    for (const auto& c : cases) {
        QByteArray model, version;
        EXPECT_EQ(ParseOnlineCheckAnswer(c.reply, &model, &version), c.found)
            << c.reply.constData();
        if (c.found) {
            EXPECT_EQ(model, c.model) << c.reply.constData();
            EXPECT_EQ(version, c.version) << c.reply.constData();
        }
    }
}

}  // namespace
