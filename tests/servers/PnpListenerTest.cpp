// The plug-and-play listener on a loopback group of the test's own: its receive buffer holds a
// burst of a site's phones while the main thread is busy, and what the kernel still drops is
// counted in the log.
#include "app/MyLog.h"
#include "app/Notices.h"
#include "servers/MyIPMCastClient.h"
#include "support/LoopbackMulticast.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QRegularExpression>

#include <unistd.h>

namespace {

// A SUBSCRIBE of a usual phone's size (about 700 bytes).
QByteArray Subscribe(int phone) {
    const QByteArray mac = QByteArray::number(0x0a1b2c000000LL + phone, 16).rightJustified(12, '0');
    return LoopbackSubscribe(5070, ("MAC" + mac).constData()) +
           "User-Agent: " + QByteArray(480, 'u') + "\r\n";
}

class Burst {
  public:
    Burst(const QString& group, int port) : fd_(::socket(AF_INET, SOCK_DGRAM, 0)) {
        in_addr loopback{};
        loopback.s_addr = htonl(INADDR_LOOPBACK);
        ::setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_IF, &loopback, sizeof loopback);
        to_.sin_family = AF_INET;
        to_.sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, group.toLatin1().constData(), &to_.sin_addr);
    }
    ~Burst() { ::close(fd_); }
    void Send(const QByteArray& datagram) const {
        ::sendto(fd_, datagram.constData(), size_t(datagram.size()), 0,
                 reinterpret_cast<const sockaddr*>(&to_), sizeof to_);
    }

  private:
    int fd_;
    sockaddr_in to_{};
};

TEST(PnpListener, HoldsABurstOfAThousandPhonesAndLogsWhatTheKernelDropped) {
    TempDir logDir;
    MyLog log;
    log.SetDirectory(logDir.path());
    ASSERT_EQ(log.Open(), 0);
    NoticeTransport transport;
    int delivered = 0;
    bool marker = false;
    transport.SetHandler(PnpPacketNotice, [&](int, const void* record) {
        ++delivered;
        marker = marker || static_cast<const PnpPacket*>(record)->text == "marker";
    });
    const QString group = OwnMulticastGroup();
    const int port = FreeLoopbackPort();
    MyIPMCastClient listener(port, group.toLatin1(), "127.0.0.1", &transport);
    listener.SetLog(&log);
    listener.Start();
    QElapsedTimer clock;
    clock.start();
    WaitHandlingNotices([&] { return listener.IsRunning() || clock.elapsed() > 10000; });
    ASSERT_TRUE(listener.IsRunning());
    // Forced past the system's limit with the privilege; otherwise the note says so.
    if (geteuid() == 0) {
        EXPECT_GE(listener.ReceiveBufferBytes(), MyIPMCastClient::kReceiveBufferBytes);
    }
    EXPECT_EQ(listener.ReceiveBufferNote().isEmpty(),
              listener.ReceiveBufferBytes() >= MyIPMCastClient::kReceiveBufferBytes);
    const bool roomForABurst =
        listener.ReceiveBufferBytes() >= MyIPMCastClient::kReceiveBufferBytes;

    // The main thread is busy while a site's phones announce themselves at once: the listener
    // waits with the first datagram, the others wait in the buffer.
    const Burst burst(group, port);
    for (int phone = 0; phone < MyIPMCastClient::kBurstPhones; ++phone)
        burst.Send(Subscribe(phone));
    clock.restart();
    WaitHandlingNotices(
        [&] { return delivered == MyIPMCastClient::kBurstPhones || clock.elapsed() > 10000; });
    if (roomForABurst) {
        EXPECT_EQ(delivered, MyIPMCastClient::kBurstPhones);
    }

    // Far more than the buffer holds: the drops are logged once a datagram after them comes.
    const int flood = 20 * MyIPMCastClient::kBurstPhones;
    for (int phone = 0; phone < flood; ++phone)
        burst.Send(Subscribe(phone));
    // Handled until the buffer is empty (nothing new for 300 ms), then one more datagram, as a
    // phone resends a second later.
    int seen = -1;
    QElapsedTimer quiet;
    quiet.start();
    clock.restart();
    WaitHandlingNotices([&] {
        if (delivered != seen) {
            seen = delivered;
            quiet.restart();
        }
        return quiet.elapsed() > 300 || clock.elapsed() > 20000;
    });
    burst.Send("marker");
    clock.restart();
    WaitHandlingNotices([&] { return marker || clock.elapsed() > 10000; });
    ASSERT_TRUE(marker);
    listener.Stop();
    listener.Terminate();
    WaitHandlingNotices([&] { return listener.HasEnded(); });

    const QString text = QString::fromUtf8(ReadFileBytes(log.FileName()));
    const QRegularExpression line(
        "PNP Server: \\d+ datagrams dropped by the kernel, the receive buffer being full \\((\\d+) "
        "since the start\\)");
    QRegularExpressionMatch last;
    for (auto it = line.globalMatch(text); it.hasNext();)
        last = it.next();
    ASSERT_TRUE(last.hasMatch()) << text.toStdString();
    const int dropped = last.captured(1).toInt();
    EXPECT_GT(dropped, 0);
    // Every datagram was either handed on or counted as dropped.
    EXPECT_EQ(delivered + dropped, MyIPMCastClient::kBurstPhones + flood + 1);
}

}  // namespace
