#include "discovery/CmdDevBySipThread.h"

#include "app/Notices.h"
#include "app/Workers.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A phone on loopback: receives datagrams on an ephemeral port and may answer them.
class LoopbackPhone {
public:
    LoopbackPhone() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~LoopbackPhone() { ::close(fd_); }
    int port() const { return port_; }

    // The next datagram within 5 s (empty if none); answers it with reply when given.
    QByteArray receive(const QByteArray& reply = {}) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0)
            return {};
        char buf[9000];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n = ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (!reply.isEmpty())
            ::sendto(fd_, reply.constData(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
        return n > 0 ? QByteArray(buf, n) : QByteArray();
    }

private:
    int fd_ = -1;
    int port_ = 0;
};

TEST(CmdDevBySipThreadTest, SendsEachKindOnceAsComposed) {
    LoopbackPhone phone;
    for (DeviceCommandKind kind : {DeviceCommandKind::ProvisionMac, DeviceCommandKind::ProvisionPin,
                                   DeviceCommandKind::PnpAnswerMac, DeviceCommandKind::PnpAnswerPin}) {
        auto* cmd = new CmdDevBySipThread(kind, 0, phone.port(), "127.0.0.1", nullptr);
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
        NoticeTransport notices;
        bool got = false;
        RefreshResult result;
        notices.SetHandler(RefreshResultNotice, [&](int, const void* record) {
            result = *static_cast<const RefreshResult*>(record);
            got = true;
        });
        auto* cmd = new CmdDevBySipThread(DeviceCommandKind::OnlineCheck, 7, phone.port(), address, &notices);
        cmd->SetUser("0a-1b-2c-3d-4e-5f");
        cmd->SetIdentity("0a-1b-2c-3d-4e-5f");
        const QByteArray expected = cmd->Message();
        const int before = Workers::LiveCount();
        cmd->Start();
        if (address == "127.0.0.1")
            EXPECT_EQ(phone.receive(answer), expected);
        QElapsedTimer t;
        t.start();
        WaitHandlingNotices([&] { return got || Workers::LiveCount() == before || t.elapsed() > 15000; });
        received = got;
        return result;
    }
    LoopbackPhone phone;
    bool received = false;
};

TEST_F(RefreshCheck, AnAnswerWithUserAgentReportsOnline) {
    const RefreshResult r = run("SIP/2.0 200 OK\r\nUser-Agent: Vendor X100 2.0.4.4.34\r\n\r\n");
    ASSERT_TRUE(received);
    EXPECT_EQ(r.online, 1);
    EXPECT_EQ(r.vendor, "unknow");
    EXPECT_EQ(r.model, "Vendor X100");
    EXPECT_EQ(r.version, "2.0.4.4.34");
    EXPECT_EQ(r.identity, "0a-1b-2c-3d-4e-5f");
    EXPECT_EQ(r.row, 7);
}

TEST_F(RefreshCheck, AnAnswerWithoutUserAgentReportsOffline) {
    const RefreshResult r = run("SIP/2.0 200 OK\r\n\r\n");
    ASSERT_TRUE(received);
    EXPECT_EQ(r.online, 0);
    EXPECT_EQ(r.version, "");
    EXPECT_EQ(r.model, "");
    EXPECT_EQ(r.identity, "0a-1b-2c-3d-4e-5f");
    EXPECT_EQ(r.row, 7);
}

TEST_F(RefreshCheck, AnAddressThatIsNotIpv4EndsSilently) {
    run("", "not-an-address");
    EXPECT_FALSE(received);
}

}  // namespace
