#include "servers/MyTftpServer.h"

#include "app/MyLog.h"
#include "app/SocketError.h"
#include "servers/TftpClient.h"
#include "support/QtPrinters.h"
#include "support/RunAsNobody.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <grp.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <stdexcept>
#include <thread>

using namespace std::chrono_literals;

namespace {

const QByteArray kSubject = "BUILT-IN TFTP SERVER responses to 127.0.0.1 with ";

QByteArray randomBytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    QByteArray out(static_cast<qsizetype>(size), '\0');
    for (char& c : out)
        c = static_cast<char>(random());
    return out;
}

// A server on an ephemeral loopback port, its document root <base>/htdocs (so that <base> is
// "outside" it), its log in a folder of its own, and every finished request kept.
class TftpServer : public ::testing::Test {
  protected:
    void SetUp() override {
        QDir().mkpath(root());
        log_.SetDirectory(logDir_.path());
        ASSERT_EQ(log_.Open(), 0);
        server_.SetDocumentRoot(root());
        server_.SetLog(&log_);
        server_.SetFetchObserver([this](const FetchEvent& r) {
            std::lock_guard<std::mutex> lock(mutex_);
            reports_.push_back(r);
        });
        server_.Start(0, "127.0.0.1");
        ASSERT_TRUE(server_.IsActive());
        ASSERT_NE(server_.Port(), 0);
    }
    // Transfers cut off by the stop report to reports_: stopped while it still exists.
    void TearDown() override { server_.Stop(); }

    QString root() const { return base_.file("htdocs"); }
    QString put(const QString& name, const QByteArray& bytes) {
        return base_.write("htdocs/" + name, bytes);
    }
    QString port() const { return QString::number(server_.Port()); }
    QString url(const QString& path) const {
        return QString("tftp://127.0.0.1:%1/%2").arg(server_.Port()).arg(path);
    }
    QByteArray logText() const { return ReadFileBytes(log_.FileName()); }
    std::vector<FetchEvent> reports() {
        std::lock_guard<std::mutex> lock(mutex_);
        return reports_;
    }
    // Waits until n requests have ended (transfers report when their last ACK came).
    std::vector<FetchEvent> waitForReports(size_t n) {
        for (int i = 0; i < 500 && reports().size() < n; ++i)
            std::this_thread::sleep_for(10ms);
        return reports();
    }
    // Restarts the server with other retransmission settings.
    void restart(std::chrono::milliseconds timeout, int retries) {
        server_.Stop();
        server_.SetRetransmission(timeout, retries);
        server_.Start(0, "127.0.0.1");
    }

    // The file a client program wrote, or "<exit N>" when it failed.
    QByteArray fetched(int exitCode, const QString& file) const {
        if (exitCode != 0)
            return "<exit " + QByteArray::number(exitCode) + ">";
        return ReadFileBytes(file);
    }
    QByteArray curl(const QString& path, const QStringList& extra = {}) {
        const QString out = scratch_.file("curl.out");
        QFile::remove(out);
        return fetched(
            RunProgram("curl", QStringList{"-s", "--path-as-is", "-o", out, url(path)} + extra),
            out);
    }
    QByteArray tftpHpa(const QString& path, const QString& mode = "octet") {
        const QString out = scratch_.file("tftp.out");
        QFile::remove(out);
        QByteArray output;
        const int code =
            RunProgram("tftp", {"127.0.0.1", port(), "-m", mode, "-c", "get", path, out}, &output);
        // tftp-hpa's exit code does not tell every failure; its message does.
        return output.contains("Error code") || output.contains("Transfer timed out")
                   ? "<" + output.trimmed() + ">"
                   : fetched(code, out);
    }
    QByteArray atftp(const QString& path, const QStringList& extra = {}) {
        const QString out = scratch_.file("atftp.out");
        QFile::remove(out);
        return fetched(RunProgram("atftp", QStringList{"-g", "-r", path, "-l", out} + extra +
                                               QStringList{"127.0.0.1", port()}),
                       out);
    }

    TempDir base_;
    TempDir logDir_;
    TempDir scratch_;
    MyLog log_;
    MyTftpServer server_;
    std::mutex mutex_;
    std::vector<FetchEvent> reports_;
};

TEST_F(TftpServer, EveryClientGetsEveryFileByteForByte) {
    const std::map<QString, QByteArray> files = {
        {"cfg/empty", ""},
        {"cfg/one", "1"},
        {"cfg/511", randomBytes(511, 1)},
        {"cfg/512", randomBytes(512, 2)},
        {"cfg/513", randomBytes(513, 3)},
        {"cfg/4096x3", randomBytes(3 * 4096, 4)},
        {"cfg/binary", randomBytes(100 * 1024 + 7, 5)},
        {"fw/lines.txt", QByteArray("a\r\nb\nc\rd\0e\n", 11).repeated(300)},
    };
    for (const auto& [name, bytes] : files)
        put(name, bytes);
    using Client = std::function<QByteArray(const QString&)>;
    const std::vector<std::pair<const char*, Client>> clients = {
        {"curl", [&](const QString& p) { return curl(p); }},
        {"curl blksize 8",
         [&](const QString& p) {
             return curl(p, {"--tftp-blksize", "8"});
         }},
        {"curl blksize 1468",
         [&](const QString& p) {
             return curl(p, {"--tftp-blksize", "1468"});
         }},
        {"curl blksize 65464",
         [&](const QString& p) {
             return curl(p, {"--tftp-blksize", "65464"});
         }},
        {"curl without options", [&](const QString& p) { return curl(p, {"--tftp-no-options"}); }},
        {"tftp-hpa", [&](const QString& p) { return tftpHpa(p); }},
        {"tftp-hpa, leading \\", [&](const QString& p) { return tftpHpa("\\" + p); }},
        {"atftp", [&](const QString& p) { return atftp(p); }},
        {"atftp blksize 1428 tsize",
         [&](const QString& p) {
             return atftp(p, {"--option", "blksize 1428", "--option", "tsize 0"});
         }},
        {"atftp windowsize 8",
         [&](const QString& p) {
             return atftp(p, {"--option", "blksize 1024", "--option", "windowsize 8"});
         }},
    };
    for (const auto& [client, fetch] : clients) {
        for (const auto& [name, bytes] : files) {
            SCOPED_TRACE(std::string(client) + " " + name.toStdString());
            EXPECT_EQ(fetch(name), bytes);
        }
    }
    const auto done = waitForReports(clients.size() * files.size());
    ASSERT_EQ(done.size(), clients.size() * files.size());
    for (const FetchEvent& r : done) {
        EXPECT_EQ(r.status, 200) << r.path.toStdString();
        EXPECT_STREQ(r.protocol, "tftp");
        EXPECT_NE(r.time, 0);
        EXPECT_EQ(r.peer, "127.0.0.1");
        EXPECT_EQ(r.bytes, files.at(QString::fromLatin1(r.path)).size());
    }
    const QByteArray log = logText();
    for (const auto& [name, bytes] : files)
        EXPECT_EQ(log.count(kSubject + "File " + root().toUtf8() + "/" + name.toUtf8() + "\r\n"),
                  qsizetype(clients.size()))
            << name.toStdString();
}

TEST_F(TftpServer, NetasciiWritesLineEndsAsCrLfAndCrAsCrNul) {
    const QByteArray text("line 1\nline 2\r\nbare\rcr\0end\n", 27);
    const std::string wire("line 1\r\nline 2\r\0\r\nbare\r\0cr\0end\r\n", 32);
    put("cfg/text.cfg", text.repeated(100));
    std::string expected;
    for (int i = 0; i < 100; ++i)
        expected += wire;

    const TftpDownload raw =
        DownloadByHand(server_.Port(), "cfg/text.cfg", "netascii", {{"tsize", "0"}});
    ASSERT_TRUE(raw.complete) << raw.errorText;
    EXPECT_EQ(raw.data, expected);
    EXPECT_EQ(raw.oack, (TftpOptions{{"tsize", std::to_string(expected.size())}}));
    // Every block size splits the CR LF and CR NUL pairs somewhere; the bytes stay the same.
    for (const char* size : {"8", "9", "511", "1468"}) {
        SCOPED_TRACE(size);
        EXPECT_EQ(
            DownloadByHand(server_.Port(), "cfg/text.cfg", "NETASCII", {{"blksize", size}}).data,
            expected);
    }
    // The clients turn the line ends back into what the file holds.
    EXPECT_EQ(tftpHpa("cfg/text.cfg", "netascii"), text.repeated(100));
    EXPECT_EQ(atftp("cfg/text.cfg", {"--option", "mode netascii"}), text.repeated(100));
}

TEST_F(TftpServer, AnswersOptionsAsTheRfcsSay) {
    const QByteArray bytes = randomBytes(70000, 9);
    put("cfg/big", bytes);
    const std::string size = std::to_string(bytes.size());
    const struct {
        TftpOptions asked;
        TftpOptions answered;
    } cases[] = {
        {{{"blksize", "1024"}, {"tsize", "0"}}, {{"blksize", "1024"}, {"tsize", size}}},
        {{{"BlkSize", "65465"}}, {{"blksize", "65464"}}},
        {{{"blksize", "7"}, {"timeout", "3"}}, {{"timeout", "3"}}},
        {{{"timeout", "0"}, {"windowsize", "4"}}, {{"windowsize", "4"}}},
        {{{"timeout", "256"}, {"windowsize", "65536"}, {"blksize", "x"}}, {{"windowsize", "64"}}},
        {{{"timeout", "256"}, {"blksize", "x"}}, {}},
        {{{"windowsize", "1000"}, {"unknown", "1"}, {"tsize", "123"}},
         {{"windowsize", "64"}, {"tsize", size}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.asked));
        const TftpDownload d = DownloadByHand(server_.Port(), "cfg/big", "octet", c.asked);
        ASSERT_TRUE(d.complete) << d.errorText;
        EXPECT_EQ(d.data, bytes.toStdString());
        EXPECT_EQ(d.oack, c.answered);
    }

    // An empty file's size goes unsaid (some clients take 0 for a refusal): no OACK at all.
    put("cfg/empty", "");
    const TftpDownload empty =
        DownloadByHand(server_.Port(), "cfg/empty", "octet", {{"tsize", "0"}});
    EXPECT_TRUE(empty.complete);
    EXPECT_TRUE(empty.oack.empty());
    EXPECT_EQ(empty.dataPackets, 1);

    // A window of 4: four DATA packets before the first ACK, from block 1 on.
    TftpSocket client;
    client.Send(server_.Port(), RequestPacket("cfg/big", "octet", {{"windowsize", "4"}}));
    std::string packet;
    uint16_t from = 0;
    ASSERT_TRUE(client.Receive(&packet, &from, 2000));
    ASSERT_EQ(PacketOpcode(packet), 6);
    client.Send(from, AckPacket(0));
    for (uint16_t block = 1; block <= 4; ++block) {
        ASSERT_TRUE(client.Receive(&packet, nullptr, 2000));
        EXPECT_EQ(PacketOpcode(packet), 3);
        EXPECT_EQ(PacketNumber(packet), block);
    }
    EXPECT_FALSE(client.Receive(&packet, nullptr, 200));
    // An ACK in the middle of the window: the next window starts after it.
    client.Send(from, AckPacket(2));
    for (uint16_t block = 3; block <= 6; ++block) {
        ASSERT_TRUE(client.Receive(&packet, nullptr, 2000));
        EXPECT_EQ(PacketNumber(packet), block);
    }
    client.Send(from, std::string("\0\5\0\0stop\0", 9));
}

// A netascii size is known only by reading the whole file: it is counted for a file of up to
// 64 KB, and left out of the OACK for a larger one (whose text still arrives whole), so that a
// request never holds up the others for long.
TEST_F(TftpServer, NetasciiTellsTheSizeOfSmallFilesOnly) {
    const struct {
        int lines;
        bool sized;
    } cases[] = {
        {100, true}, {9362, true}, {9363, false}, {20000, false}};  // 65,534 and 65,541 bytes
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines);
        put("cfg/lines.txt", QByteArray("line 1\n").repeated(c.lines));  // 7 bytes a line
        std::string expected;
        for (int i = 0; i < c.lines; ++i)
            expected += "line 1\r\n";
        const TftpDownload d = DownloadByHand(server_.Port(), "cfg/lines.txt", "netascii",
                                              {{"blksize", "1024"}, {"tsize", "0"}});
        ASSERT_TRUE(d.complete) << d.errorText;
        EXPECT_TRUE(d.data == expected);
        TftpOptions oack{{"blksize", "1024"}};
        if (c.sized)
            oack.emplace_back("tsize", std::to_string(expected.size()));
        EXPECT_EQ(d.oack, oack);
    }
}

TEST_F(TftpServer, AFileOfMoreThan65535BlocksWrapsTheBlockNumber) {
    // 40 MB in 512-byte blocks: 81,920 blocks, the number passing 65535 and starting at 0.
    const QByteArray bytes = randomBytes(40 * 1024 * 1024 + 100, 40);
    put("fw/firmware.bin", bytes);
    EXPECT_TRUE(curl("fw/firmware.bin") == bytes);
    const auto done = waitForReports(1);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].status, 200);
    EXPECT_EQ(done[0].bytes, bytes.size());
}

TEST_F(TftpServer, RefusesWritesMissingFilesAndPathsLeavingTheRoot) {
    put("cfg/a", "inside");
    base_.write("secret", "outside");
    QDir().mkpath(root() + "/cfg/folder");
    ASSERT_TRUE(QFile::link(base_.file("secret"), root() + "/cfg/out"));
    ASSERT_TRUE(QFile::link("a", root() + "/cfg/in"));
    ASSERT_TRUE(QFile::link(base_.file("none"), root() + "/cfg/gone"));
    const QByteArray file = root().toUtf8() + "/";
    const struct {
        std::string request;
        std::string mode;
        uint16_t opcode;
        int code;
        int status;  // as the fetch observer hears it
        QByteArray logLine;
        int curlExit;
    } cases[] = {
        {"cfg/none", "octet", 1, 1, 404, "error 1. File " + file + "cfg/none NOT exist!", 68},
        {"cfg/folder", "octet", 1, 1, 404, "error 1. File " + file + "cfg/folder NOT exist!", 68},
        {"", "octet", 1, 1, 404, "error 1. File " + file + " NOT exist!", -1},
        {"../secret", "octet", 1, 2, 403, "error 2. File " + file + "../secret: Access violation",
         69},
        {"\\..\\secret", "octet", 1, 2, 403,
         "error 2. File " + file + "../secret: Access violation", -1},
        {"cfg/../../secret", "octet", 1, 2, 403,
         "error 2. File " + file + "cfg/../../secret: Access violation", 69},
        {"cfg/out", "octet", 1, 2, 403, "error 2. File " + file + "cfg/out: Access violation", 69},
        // A link leading out is refused as such, whether or not anything is there.
        {"cfg/gone", "octet", 1, 2, 403, "error 2. File " + file + "cfg/gone: Access violation",
         69},
        {"cfg/a", "mail", 1, 4, 400, "error 4. File " + file + "cfg/a: Illegal TFTP operation", -1},
        {"cfg/new", "octet", 2, 2, 403, "error 2. File " + file + "cfg/new: Access violation", -1},
        {"cfg/a", "octet", 2, 2, 403, "error 2. File " + file + "cfg/a: Access violation", -1},
        // Control bytes of the name do not break the log line.
        {"cfg/x\r\n2024-01-01 00:00:00 forged", "octet", 1, 1, 404,
         "error 1. File " + file + "cfg/x%0D%0A2024-01-01 00:00:00 forged NOT exist!", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request + " " + std::to_string(c.opcode));
        TftpSocket client;
        client.Send(server_.Port(), RequestPacket(c.request, c.mode, {}, c.opcode));
        std::string packet;
        ASSERT_TRUE(client.Receive(&packet, nullptr, 2000));
        EXPECT_EQ(PacketOpcode(packet), 5);
        EXPECT_EQ(PacketNumber(packet), c.code);
        EXPECT_TRUE(logText().contains(kSubject + c.logLine + "\r\n")) << logText().toStdString();
        // Reported before the client hears of it.
        ASSERT_FALSE(reports().empty());
        EXPECT_EQ(reports().back().status, c.status);
        EXPECT_EQ(reports().back().bytes, 0);
        if (c.curlExit > 0) {
            EXPECT_EQ(curl(QString::fromStdString(c.request)),
                      "<exit " + QByteArray::number(c.curlExit) + ">");
        }
    }
    EXPECT_EQ(ReadFileBytes(base_.file("secret")), "outside");
    EXPECT_FALSE(QFile::exists(root() + "/cfg/new"));
    EXPECT_EQ(curl("cfg/in"), "inside");  // a link that stays inside is served

    // The clients see the refusals too; a put leaves nothing behind.
    EXPECT_TRUE(tftpHpa("cfg/none").contains("Error code 1: File not found"));
    EXPECT_TRUE(tftpHpa("../secret").contains("Error code 2: Access violation"));
    const QString local = scratch_.write("upload", "new bytes");
    QByteArray output;
    RunProgram("tftp", {"127.0.0.1", port(), "-c", "put", local, "cfg/uploaded"}, &output);
    EXPECT_TRUE(output.contains("Error code 2: Access violation")) << output.toStdString();
    EXPECT_NE(RunProgram("atftp", {"-p", "-l", local, "-r", "cfg/uploaded", "127.0.0.1", port()}),
              0);
    EXPECT_FALSE(QFile::exists(root() + "/cfg/uploaded"));

    for (const FetchEvent& r : reports()) {
        if (r.path != "cfg/in") {
            EXPECT_GE(r.status, 400) << r.path.toStdString();
        }
    }
}

// A client of its own that loses some ACKs, repeats others, and is joined by packets from
// another port: the transfer goes on and ends whole, each block sent again only after a
// time-out.
TEST_F(TftpServer, AClientThatLosesAndRepeatsAcksStillGetsTheWholeFile) {
    restart(100ms, 5);
    const QByteArray bytes = randomBytes(20 * 512 + 100, 11);
    put("cfg/c", bytes);
    TftpSocket client, stranger;
    client.Send(server_.Port(), RequestPacket("cfg/c"));
    std::map<uint16_t, int> received;
    std::set<uint16_t> dropped;
    std::string data, packet;
    uint16_t transferPort = 0, from = 0;
    while (client.Receive(&packet, &from, 2000)) {
        if (transferPort == 0)
            transferPort = from;
        ASSERT_EQ(from, transferPort);
        ASSERT_EQ(PacketOpcode(packet), 3);
        const uint16_t block = PacketNumber(packet);
        if (++received[block] == 1)
            data += packet.substr(4);
        if ((block == 3 || block == 7) && dropped.insert(block).second)
            continue;  // this ACK is lost
        client.Send(transferPort, AckPacket(block));
        if (block == 5 || block == 10)
            client.Send(transferPort, AckPacket(block));  // and this one arrives twice
        if (block == 4) {
            // Another port of this client: told it is unknown, and nothing else changes.
            stranger.Send(transferPort, AckPacket(5));
            std::string error;
            ASSERT_TRUE(stranger.Receive(&error, nullptr, 2000));
            EXPECT_EQ(PacketOpcode(error), 5);
            EXPECT_EQ(PacketNumber(error), 5);
        }
        if (packet.size() - 4 < 512)
            break;
    }
    EXPECT_EQ(data, bytes.toStdString());
    for (uint16_t block = 1; block <= 21; ++block)
        EXPECT_EQ(received[block], block == 3 || block == 7 ? 2 : 1) << block;
    // Nothing more comes: the duplicate ACKs sent nothing.
    EXPECT_FALSE(client.Receive(&packet, nullptr, 300));
    const auto done = waitForReports(1);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].status, 200);
}

TEST_F(TftpServer, GivesUpOnASilentClientAfterItsRetries) {
    restart(50ms, 3);
    put("cfg/s", randomBytes(2000, 12));
    TftpSocket client;
    client.Send(server_.Port(), RequestPacket("cfg/s"));
    int copies = 0;
    std::string packet;
    while (client.Receive(&packet, nullptr, 500)) {
        EXPECT_EQ(PacketNumber(packet), 1);
        ++copies;
    }
    EXPECT_EQ(copies, 4);  // the first and three more
    const auto done = waitForReports(1);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].status, 408);
    EXPECT_EQ(server_.TransferCount(), 0);

    // A client's ERROR ends its transfer at once, unanswered.
    client.Send(server_.Port(), RequestPacket("cfg/s"));
    uint16_t from = 0;
    ASSERT_TRUE(client.Receive(&packet, &from, 2000));
    client.Send(from, std::string("\0\5\0\3full\0", 9));
    EXPECT_FALSE(client.Receive(&packet, nullptr, 300));
    const auto ended = waitForReports(2);
    ASSERT_EQ(ended.size(), 2u);
    EXPECT_EQ(ended[1].status, 499);
}

TEST_F(TftpServer, ARepeatedRequestIsAnsweredOnce) {
    put("cfg/r", "x");
    TftpSocket client;
    client.Send(server_.Port(), RequestPacket("cfg/r"));
    client.Send(server_.Port(), RequestPacket("cfg/r"));
    std::set<uint16_t> ports;
    std::string packet;
    uint16_t from = 0;
    while (client.Receive(&packet, &from, 300))
        ports.insert(from);
    EXPECT_EQ(ports.size(), 1u);
    EXPECT_EQ(logText().count("with File"), 1);
}

TEST_F(TftpServer, ServesTwoHundredTransfersAtOnce) {
    constexpr int kClients = 200;
    std::vector<QByteArray> files;
    for (int i = 0; i < 20; ++i) {
        files.push_back(randomBytes(8 * 512 + size_t(i), 100 + unsigned(i)));
        put(QString("cfg/p%1").arg(i), files.back());
    }
    struct Client {
        std::unique_ptr<TftpSocket> socket = std::make_unique<TftpSocket>();
        uint16_t port = 0;
        uint16_t next = 1;
        std::string data;
        bool done = false;
    };
    std::vector<Client> clients(kClients);
    for (int i = 0; i < kClients; ++i)
        clients[size_t(i)].socket->Send(
            server_.Port(), RequestPacket(QString("cfg/p%1").arg(i % 20).toStdString()));
    // Every client holds its first block unacknowledged: all transfers run at once.
    std::string packet;
    for (Client& c : clients) {
        ASSERT_TRUE(c.socket->Receive(&packet, &c.port, 5000));
        ASSERT_EQ(PacketNumber(packet), 1);
        c.data = packet.substr(4);
    }
    EXPECT_EQ(server_.TransferCount(), kClients);
    for (Client& c : clients)
        c.socket->Send(c.port, AckPacket(c.next++));
    int open = kClients;
    std::vector<pollfd> polls;
    for (const Client& c : clients)
        polls.push_back({c.socket->fd(), POLLIN, 0});
    while (open > 0 && ::poll(polls.data(), polls.size(), 5000) > 0) {
        for (size_t i = 0; i < clients.size(); ++i) {
            Client& c = clients[i];
            if (!(polls[i].revents & POLLIN) || c.done)
                continue;
            uint16_t from = 0;
            ASSERT_TRUE(c.socket->Receive(&packet, &from, 0));
            if (PacketNumber(packet) != c.next)
                continue;
            c.data += packet.substr(4);
            c.socket->Send(c.port, AckPacket(c.next++));
            if (packet.size() - 4 < 512) {
                c.done = true;
                polls[i].events = 0;
                --open;
            }
        }
    }
    for (int i = 0; i < kClients; ++i)
        EXPECT_EQ(clients[size_t(i)].data, files[size_t(i % 20)].toStdString()) << i;
    EXPECT_EQ(waitForReports(kClients).size(), size_t(kClients));
}

TEST_F(TftpServer, StopEndsTransfersAndTheSocketsFailAsTheyShould) {
    put("cfg/t", randomBytes(5000, 13));
    TftpSocket client;
    client.Send(server_.Port(), RequestPacket("cfg/t"));
    std::string packet;
    ASSERT_TRUE(client.Receive(&packet, nullptr, 2000));
    server_.Stop();
    EXPECT_FALSE(server_.IsActive());
    const auto done = reports();
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].status, 503);

    server_.Start(0, "127.0.0.1");
    MyTftpServer second(root());
    try {
        second.Start(server_.Port(), "127.0.0.1");
        ADD_FAILURE() << "a port in use was bound";
    } catch (const SocketError& e) {
        EXPECT_EQ(e.kind(), SocketError::Kind::BindFailed);
    }
    EXPECT_FALSE(second.IsActive());
    EXPECT_THROW(second.Start(0, "not-an-address"), std::invalid_argument);
}

TEST_F(TftpServer, APrivilegedPortIsAccessDenied) {
    // In a child process that is not root (it gives up root when it has it): port 69 needs a
    // privilege it lacks.
    EXPECT_EQ(
        RunAsNobody([&] {
            MyTftpServer privileged(root());
            try {
                privileged.Start(69, "127.0.0.1");
            } catch (const SocketError& e) {
                return e.kind() == SocketError::Kind::AccessDenied && e.systemError() == EACCES ? 0
                                                                                                : 1;
            } catch (...) {
                return 4;
            }
            return 2;
        }),
        0)
        << "1: another kind, 2: bound, 3: could not drop root";
}

// A file the server may not read is an access violation, not a missing file. The server runs in
// a child process that is not root (root reads every file), and the file grants no one reading.
TEST_F(TftpServer, AFileTheServerMayNotReadIsAnAccessViolation) {
    put("cfg/private", "secret");
    ::chmod(QFile::encodeName(root() + "/cfg/private").constData(), 0);
    for (const QString& folder : {base_.path(), root(), root() + "/cfg"})
        ::chmod(QFile::encodeName(folder).constData(), 0755);
    EXPECT_EQ(RunAsNobody([&] {
                  MyTftpServer server(root());
                  server.Start(0, "127.0.0.1");
                  const TftpDownload d = DownloadByHand(server.Port(), "cfg/private");
                  return d.errorCode == 2 && d.errorText == "Access violation" ? 0 : 1;
              }),
              0)
        << "1: another answer, 3: could not drop root";
}

// Listening on every address, each transfer answers from the address its request was sent to.
// Runs in a network namespace of its own (only its loopback), so nothing listens on the
// machine's interfaces.
TEST_F(TftpServer, ATransferAnswersFromTheAddressItsRequestCameTo) {
    put("cfg/a", "a");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (unshare(CLONE_NEWNET) != 0)
            _exit(77);
        const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
        ifreq lo{};
        std::strcpy(lo.ifr_name, "lo");
        lo.ifr_flags = IFF_UP | IFF_LOOPBACK | IFF_RUNNING;
        if (::ioctl(s, SIOCSIFFLAGS, &lo) != 0)
            _exit(78);
        ::close(s);
        MyTftpServer any(root());
        any.Start(0);
        for (const char* address : {"127.0.0.2", "127.0.0.1"}) {
            TftpSocket client;
            client.Send(any.Port(), RequestPacket("cfg/a"), address);
            std::string packet, from;
            if (!client.Receive(&packet, nullptr, 2000, &from) || PacketOpcode(packet) != 3)
                _exit(1);
            if (from != address)
                _exit(2);
        }
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77 || WEXITSTATUS(status) == 78)
        GTEST_SKIP() << "no network namespace of its own here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: no DATA, 2: from another address";
}

}  // namespace
