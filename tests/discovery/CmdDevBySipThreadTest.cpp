#include "discovery/CmdDevBySipThread.h"

#include "app/Notices.h"
#include "support/LoopbackPhone.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

namespace {

TEST(CmdDevBySipThreadTest, SendsEachKindOnceAsComposed) {
    LoopbackPhone phone;
    for (DeviceCommandKind kind :
         {DeviceCommandKind::ProvisionMac, DeviceCommandKind::ProvisionPin,
          DeviceCommandKind::PnpAnswerMac, DeviceCommandKind::PnpAnswerPin}) {
        auto* cmd = new CmdDevBySipThread(kind, 0, phone.port(), "127.0.0.1");
        cmd->SetUser("MAC0a1b2c3d4e5f");
        cmd->SetBody("http://127.0.0.1:6000/cfg");
        cmd->SetCallId("4711-abc");
        const QByteArray expected = cmd->Message();
        cmd->Start();
        EXPECT_EQ(phone.receive(), expected) << static_cast<int>(kind);
    }
}

class RefreshCheck : public ::testing::Test {
  protected:
    RefreshResult run(const QByteArray& answer, const QByteArray& address = "127.0.0.1") {
        NoticeTransport transport;
        auto notices = std::make_shared<NoticeGate>(&transport);
        bool got = false;
        RefreshResult result;
        transport.SetHandler(RefreshResultNotice, [&](int, const void* record) {
            result = *static_cast<const RefreshResult*>(record);
            got = true;
        });
        auto* cmd = new CmdDevBySipThread(DeviceCommandKind::OnlineCheck, 7, phone.port(), address,
                                          notices);
        cmd->SetUser("0a-1b-2c-3d-4e-5f");
        cmd->SetIdentity("0a-1b-2c-3d-4e-5f");
        const QByteArray expected = cmd->Message();
        cmd->Start();
        if (address == "127.0.0.1" && answerFrom) {
            EXPECT_EQ(phone.receive(), expected);
            phone.answerFrom(answerFrom, answer);
        } else if (address == "127.0.0.1") {
            EXPECT_EQ(phone.receive(answer), expected);
        }
        QElapsedTimer t;
        t.start();
        // A command that cannot send ends without a notice: give it a moment, not the full wait.
        const int limit = address == "127.0.0.1" ? 15000 : 500;
        WaitHandlingNotices([&] { return got || t.elapsed() > limit; });
        notices->Close();
        received = got;
        return result;
    }
    LoopbackPhone phone;
    const char* answerFrom = nullptr;  // the phone answers from this address, another port
    bool received = false;
};

TEST_F(RefreshCheck, AnAnswerWithUserAgentReportsOnline) {
    const RefreshResult r = run("SIP/2.0 200 OK\r\nUser-Agent: Vendor X100 2.0.4.4.34\r\n\r\n");
    ASSERT_TRUE(received);
    EXPECT_EQ(r.online, 1);
    EXPECT_EQ(r.info.vendor, "unknow");
    EXPECT_EQ(r.info.model, "Vendor X100");
    EXPECT_EQ(r.info.version, "2.0.4.4.34");
    EXPECT_EQ(r.info.identity, "0a-1b-2c-3d-4e-5f");
    EXPECT_EQ(r.info.row, 7);
}

// Phones may answer from their SIP port rather than the port asked.
TEST_F(RefreshCheck, AnAnswerFromAnotherPortOfThePhoneCounts) {
    answerFrom = "127.0.0.1";
    const RefreshResult r = run("SIP/2.0 200 OK\r\nUser-Agent: Vendor X100 2.0.4.4.34\r\n\r\n");
    ASSERT_TRUE(received);
    EXPECT_EQ(r.online, 1);
    EXPECT_EQ(r.info.version, "2.0.4.4.34");
}

TEST_F(RefreshCheck, AnAnswerWithoutUserAgentReportsOffline) {
    const RefreshResult r = run("SIP/2.0 200 OK\r\n\r\n");
    ASSERT_TRUE(received);
    EXPECT_EQ(r.online, 0);
    EXPECT_EQ(r.info.version, "");
    EXPECT_EQ(r.info.model, "");
    EXPECT_EQ(r.info.identity, "0a-1b-2c-3d-4e-5f");
    EXPECT_EQ(r.info.row, 7);
}

TEST_F(RefreshCheck, AnAddressThatIsNotIpv4EndsSilently) {
    run("", "not-an-address");
    EXPECT_FALSE(received);
}

}  // namespace
