#include "discovery/QueryDevInfoBySipThread.h"

#include "app/Notices.h"
#include "discovery/NoticeWait.h"
#include "discovery/UdpPeer.h"
#include "support/LoopbackPhone.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

TEST(SipProbe, MessageIsByteForByte) {
    const QByteArray expected =
        "NOTIFY sip:0000@0.0.0.0:0000;transport=UDP SIP/2.0 \r\n"
        "Via: SIP/2.0/UDP \r\n"
        "To: <sip:0000@192.168.1.20:60000> \r\n"
        "From: <sip:0000@192.168.0.1:0000>;\r\n"
        "CSeq: 1 NOTIFY \r\n"
        "Max-Forwards: 70 \r\n"
        "Allow: INVITE,ACK,CANCEL,BYE,MESSAGE \r\n"
        "Event: check-online; \r\n"
        "Content-Type: application/url \r\n"
        "Content-Length: 0 \r\n\r\n";
    EXPECT_EQ(QueryDevInfoBySipThread::ComposeMessage("192.168.1.20", 60000), expected);
}

TEST(SipProbe, UserAgentGivesModelAndVersion) {
    const struct {
        QByteArray reply;
        bool found;
        const char* model;
        const char* version;
    } cases[] = {
        {"SIP/2.0 200 OK\r\nUser-Agent: Vendor X100 2.0.4.4.34\r\n\r\n", true, "Vendor X100",
         "2.0.4.4.34"},
        {"User-Agent: Vendor X100 V2.0.4 build 7\r\n", true, "Vendor X100", "V2.0.4"},
        {"User-Agent: 2.0.4.4.34\r\n", true, "unknow", "2.0.4.4.34"},
        {"User-Agent: Vendor X100\r\n", true, "unknow", "unknow"},
        {"User-Agent: \r\n", true, "unknow", "unknow"},
        {"User-Agent:", true, "unknow", "unknow"},
        // Inner spaces of the model stay as received; the value ends at CR or LF.
        {"User-Agent:   Vendor  X100   2.0.4.4.34  \nVia: a.b\r\n", true, "Vendor  X100",
         "2.0.4.4.34"},
        // The one character after the name is passed over, whatever it is.
        {"User-AgentXOrvo P2 1.2\r\n", true, "Orvo P2", "1.2"},
        {"SIP/2.0 200 OK\r\nuser-agent: Vendor X100 2.0\r\n", false, "", ""},
        {"", false, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply.toStdString());
        QString model;
        QString version;
        ASSERT_EQ(QueryDevInfoBySipThread::ParseReply(c.reply, &model, &version), c.found);
        if (c.found) {
            EXPECT_EQ(model, c.model);
            EXPECT_EQ(version, c.version);
        }
    }
}

// A probe started against a peer on loopback, with its notice collected.
class Probe : public ::testing::Test {
  protected:
    Probe() : gate(std::make_shared<NoticeGate>(&transport)) {
        transport.SetHandler(DeviceInfoNotice, [this](int, const void* r) {
            ++notices;
            if (r)
                record = *static_cast<const DeviceInfoRecord*>(r);
        });
    }
    ~Probe() override { gate->Close(); }

    void Start(const QString& address, int port, int waitMs = 3000) {
        auto q = QueryDevInfoBySipThread::Create(7, port, address, gate);
        q->SetRun(3);
        q->SetAnswerWait(waitMs);
        q->Start();
    }

    NoticeTransport transport;
    std::shared_ptr<NoticeGate> gate;
    int notices = 0;
    std::optional<DeviceInfoRecord> record;
};

TEST_F(Probe, AnAnswerWithUserAgentFillsTheRecord) {
    UdpPeer phone;
    Start("127.0.0.1", phone.Port());
    EXPECT_EQ(phone.Receive(), QueryDevInfoBySipThread::ComposeMessage("127.0.0.1", phone.Port()));
    phone.Reply(
        "SIP/2.0 200 OK\r\nUser-Agent: Vendor X100 2.0.4.4.34\r\nContent-Length: 0\r\n\r\n");
    ASSERT_TRUE(WaitFor([&] { return notices == 1; }));
    ASSERT_TRUE(record);
    EXPECT_TRUE(record->hasInfo);
    EXPECT_EQ(record->vendor, "");
    EXPECT_EQ(record->model, "Vendor X100");
    EXPECT_EQ(record->version, "2.0.4.4.34");
    EXPECT_EQ(record->row, 7);
    EXPECT_EQ(record->run, 3u);
}

// The phone may answer from another port (its SIP port); other addresses are not the phone.
TEST_F(Probe, TheAnswerComesFromThePhonesAddressOnAnyPort) {
    LoopbackPhone phone;
    Start("127.0.0.1", phone.port());
    phone.receive();
    phone.answerFrom("127.0.0.2", "SIP/2.0 200 OK\r\nUser-Agent: Stranger S1 9.9\r\n\r\n");
    phone.answerFrom("127.0.0.1", "SIP/2.0 200 OK\r\nUser-Agent: Vendor X100 2.0.4.4.34\r\n\r\n");
    ASSERT_TRUE(WaitFor([&] { return notices == 1; }));
    ASSERT_TRUE(record && record->hasInfo);
    EXPECT_EQ(record->model, "Vendor X100");
    EXPECT_EQ(record->version, "2.0.4.4.34");
}

TEST_F(Probe, NoUsableAnswerStillCountsAsAnswered) {
    {
        SCOPED_TRACE("an answer without User-Agent");
        UdpPeer phone;
        Start("127.0.0.1", phone.Port());
        phone.Receive();
        phone.Reply("SIP/2.0 200 OK\r\n\r\n");
        ASSERT_TRUE(WaitFor([&] { return notices == 1; }));
        EXPECT_FALSE(record->hasInfo);
        EXPECT_EQ(record->row, 7);
    }
    {
        SCOPED_TRACE("silence until the wait ends");
        UdpPeer phone;
        Start("127.0.0.1", phone.Port(), 200);
        phone.Receive();
        ASSERT_TRUE(WaitFor([&] { return notices == 2; }));
        EXPECT_FALSE(record->hasInfo);
    }
    {
        SCOPED_TRACE("nobody listening: the refusal ends the wait at once");
        UdpPeer gone;
        const int port = gone.Port();
        gone.Close();
        Start("127.0.0.1", port, 60000);
        ASSERT_TRUE(WaitFor([&] { return notices == 3; }));
        EXPECT_FALSE(record->hasInfo);
    }
}

TEST_F(Probe, AnAddressThatCannotBeSentToGivesNoNotice) {
    Start("not-an-address", 60000);
    EXPECT_FALSE(WaitFor([&] { return notices > 0; }, 300));
}

}  // namespace
