// What the built-in servers tell their fetch observer about a download: the method, the body
// bytes the client acknowledged, whether the whole body reached it, when the answer ended and
// the version of the file delivered. Clients are curl (whole, HEAD, POST, --max-filesize), curl
// piped into a reader that leaves after 200 KB, a client of its own that half-closes, and a
// TFTP client by hand.
#include "protection/ServerAccess.h"
#include "protection/TlsCertificate.h"
#include "support/HttpClient.h"
#include "servers/MyHttpServer.h"
#include "servers/MyTftpServer.h"
#include "servers/TftpClient.h"
#include "support/QtPrinters.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QDir>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <chrono>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr qint64 kBig = 3 << 20;

class FetchEvents {
  public:
    FetchObserver Observer() {
        return [this](const FetchEvent& e) {
            std::lock_guard<std::mutex> lock(mutex_);
            events_.push_back(e);
        };
    }
    // The next event, waiting up to 10 s for it; status 0 when none came.
    FetchEvent Next() {
        for (int i = 0; i < 1000; ++i) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (taken_ < events_.size())
                    return events_[taken_++];
            }
            std::this_thread::sleep_for(10ms);
        }
        return {};
    }

  private:
    std::mutex mutex_;
    std::vector<FetchEvent> events_;
    size_t taken_ = 0;
};

// The file's version as fstat gives it.
struct FileVersion {
    qint64 size;
    quint64 inode;
    qint64 mtimeNs;
};
FileVersion VersionOf(const QString& file) {
    struct stat st {};
    EXPECT_EQ(::stat(file.toUtf8().constData(), &st), 0);
    return {qint64(st.st_size), quint64(st.st_ino),
            qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

void ExpectVersion(const FetchEvent& e, const FileVersion& v) {
    EXPECT_EQ(e.fileSize, v.size);
    EXPECT_EQ(e.fileInode, v.inode);
    EXPECT_EQ(e.fileMtimeNs, v.mtimeNs);
}

class HttpFetchEvents : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        dir_.write("htdocs/fw/big.rom", QByteArray(kBig, 'b'));
        dir_.write("htdocs/cfg/a.cfg", "small answer");
        QDir().mkpath(dir_.file("tls"));
        QString error;
        ASSERT_TRUE(MakeSelfSignedCertificate({"127.0.0.1"}, TlsKeyType::Ec, tls_, &error));
        if (https())
            server_.SetTls(tls_.certFile, tls_.keyFile);
        server_.SetFetchObserver(events_.Observer());
        server_.Start(0, "127.0.0.1");
        ASSERT_TRUE(server_.IsActive());
    }
    bool https() const { return GetParam(); }
    QString url(const QString& path) const {
        return QString("%1://127.0.0.1:%2%3")
            .arg(https() ? "https" : "http")
            .arg(server_.Port())
            .arg(path);
    }
    QStringList trust() const { return {"--cacert", tls_.certFile}; }

    TempDir dir_;
    TlsFiles tls_{dir_.file("tls/server.crt"), dir_.file("tls/server.key")};
    FetchEvents events_;
    MyHttpServer server_{dir_.file("htdocs")};
};

// Whole downloads are complete with every byte; a HEAD delivers no body and a download cut off
// by the client is not complete, with the bytes it acknowledged (at least what it read).
TEST_P(HttpFetchEvents, TellWhatTheClientAcknowledged) {
    const FileVersion big = VersionOf(dir_.file("htdocs/fw/big.rom"));
    const FileVersion small = VersionOf(dir_.file("htdocs/cfg/a.cfg"));
    // A reader that takes 200 KB of the body and leaves: curl's output is cut by head.
    const QString leaver = QString("curl -s --cacert '%1' '%2' | head -c 204800 >/dev/null")
                               .arg(tls_.certFile, url("/fw/big.rom"));
    const struct {
        const char* name;
        std::function<void()> client;
        const char* method;
        bool complete;
        qint64 leastBytes, mostBytes;
        FileVersion version;
    } cases[] = {
        {"whole", [&] { EXPECT_EQ(Curl(url("/fw/big.rom"), trust()).body.size(), kBig); }, "GET",
         true, kBig, kBig, big},
        {"small", [&] { EXPECT_EQ(Curl(url("/cfg/a.cfg"), trust()).body, "small answer"); }, "GET",
         true, 12, 12, small},
        {"post",
         [&] {
             EXPECT_EQ(Curl(url("/cfg/a.cfg"), QStringList{"--data", "x"} << trust()).status, 200);
         },
         "POST", true, 12, 12, small},
        {"head",
         [&] { EXPECT_EQ(Curl(url("/fw/big.rom"), QStringList{"--head"} << trust()).status, 200); },
         "HEAD", false, 0, 0, big},
        {"max-filesize",
         [&] {
             EXPECT_EQ(Curl(url("/fw/big.rom"), QStringList{"--max-filesize", "1000"} << trust())
                           .exitCode,
                       63);  // CURLE_FILESIZE_EXCEEDED
         },
         "GET", false, 0, kBig - 1, big},
        // Over HTTPS the bytes count in whole writes of up to 64 KB.
        {"reads 200 KB and leaves",
         [&] {
             RunProgram("sh", {"-c", leaver});
         },
         "GET", false, 204800 - (https() ? 65536 : 0), kBig - 1, big},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::time_t before = std::time(nullptr);
        c.client();
        const FetchEvent e = events_.Next();
        EXPECT_EQ(e.status, 200);
        EXPECT_STREQ(e.protocol, https() ? "https" : "http");
        EXPECT_STREQ(e.method, c.method);
        EXPECT_EQ(e.complete, c.complete);
        EXPECT_GE(e.bytes, c.leastBytes);
        EXPECT_LE(e.bytes, c.mostBytes);
        ExpectVersion(e, c.version);
        EXPECT_GE(e.time, before);
        EXPECT_LE(e.time, std::time(nullptr));
    }
    // A file missing, and a request that is no request: no file, nothing complete of a file.
    EXPECT_EQ(Curl(url("/cfg/none"), trust()).status, 404);
    const FetchEvent missing = events_.Next();
    EXPECT_EQ(missing.status, 404);
    EXPECT_EQ(missing.fileSize, -1);
}

// A refusal names the method too; a HEAD delivers no body, refused or not.
TEST_P(HttpFetchEvents, ARefusedHeadIsNoCompleteAnswer) {
    server_.Stop();
    server_.SetAccess(
        std::make_shared<ServerAccess>(AddressAllowList(), BasicCredentials("u", "p")));
    server_.Start(0, "127.0.0.1");
    for (const bool head : {true, false}) {
        SCOPED_TRACE(head);
        const QStringList extra = head ? QStringList{"--head"} : QStringList{};
        EXPECT_EQ(Curl(url("/cfg/a.cfg"), extra + trust()).status, 401);
        const FetchEvent e = events_.Next();
        EXPECT_EQ(e.status, 401);
        EXPECT_STREQ(e.method, head ? "HEAD" : "GET");
        EXPECT_EQ(e.complete, !head);  // a GET took the whole refusal
        EXPECT_EQ(e.fileSize, -1);
    }
}

INSTANTIATE_TEST_SUITE_P(Http, HttpFetchEvents, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Https" : "Plain";
                         });

// A client that ends its sending side with the request and reads the answer only later: the
// kernel delivers the answer after the server's end of sending too, and the server waits to
// see it acknowledged before it reports. The event's time is when the answer ended.
TEST(HttpFetchEvent, AClientThatHalfClosesAndReadsLaterGetsACompleteDownload) {
    TempDir dir;
    dir.write("htdocs/fw/big.rom", QByteArray(kBig, 'b'));
    FetchEvents events;
    MyHttpServer server(dir.file("htdocs"));
    server.SetFetchObserver(events.Observer());
    server.Start(0, "127.0.0.1");
    const std::time_t before = std::time(nullptr);
    const int fd = ConnectLoopback(server.Port());
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(SendAll(fd, "GET /fw/big.rom HTTP/1.1\r\nHost: x\r\n\r\n"));
    ::shutdown(fd, SHUT_WR);
    std::this_thread::sleep_for(1500ms);
    const QByteArray answer = ReadToEnd(fd);
    ::close(fd);
    EXPECT_TRUE(answer.endsWith(QByteArray(1000, 'b')));
    const FetchEvent e = events.Next();
    EXPECT_EQ(e.status, 200);
    EXPECT_TRUE(e.complete);
    EXPECT_EQ(e.bytes, kBig);
    EXPECT_GE(e.time, before + 1);
}

// TFTP: complete only when the last block is acknowledged, the method RRQ, the version of the
// file opened; a refusal has no file.
TEST(TftpFetchEvent, CompleteOnlyWhenTheLastBlockIsAcknowledged) {
    TempDir dir;
    const QString file = dir.write("htdocs/cfg/a.cfg", QByteArray(2000, 'a'));
    const FileVersion version = VersionOf(file);
    FetchEvents events;
    MyTftpServer server(dir.file("htdocs"));
    server.SetRetransmission(50ms, 1);
    server.SetFetchObserver(events.Observer());
    server.Start(0, "127.0.0.1");

    const std::time_t before = std::time(nullptr);
    EXPECT_TRUE(DownloadByHand(server.Port(), "cfg/a.cfg").complete);
    const FetchEvent whole = events.Next();
    EXPECT_EQ(whole.status, 200);
    EXPECT_STREQ(whole.protocol, "tftp");
    EXPECT_STREQ(whole.method, "RRQ");
    EXPECT_TRUE(whole.complete);
    EXPECT_EQ(whole.bytes, 2000);
    ExpectVersion(whole, version);
    EXPECT_GE(whole.time, before);

    // Two blocks acknowledged of four, then silence.
    TftpSocket client;
    client.Send(server.Port(), RequestPacket("cfg/a.cfg"));
    std::string packet;
    uint16_t from = 0;
    for (uint16_t block = 1; block <= 2; ++block) {
        ASSERT_TRUE(client.Receive(&packet, &from, 2000));
        ASSERT_EQ(PacketNumber(packet), block);
        client.Send(from, AckPacket(block));
    }
    const FetchEvent cut = events.Next();
    EXPECT_EQ(cut.status, 408);
    EXPECT_FALSE(cut.complete);
    EXPECT_EQ(cut.bytes, 1024);
    ExpectVersion(cut, version);

    EXPECT_EQ(DownloadByHand(server.Port(), "cfg/none").errorCode, 1);
    const FetchEvent missing = events.Next();
    EXPECT_EQ(missing.status, 404);
    EXPECT_FALSE(missing.complete);
    EXPECT_EQ(missing.fileSize, -1);
    server.Stop();
}

}  // namespace
