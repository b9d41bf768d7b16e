#include "servers/MyHttpServer.h"

#include "app/MyLog.h"
#include "app/SocketError.h"
#include "support/HttpClient.h"
#include "support/ObeyFilePermissions.h"
#include "support/QtPrinters.h"
#include "support/RunAsNobody.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

const QByteArray kSubject = "BUILT-IN HTTP SERVER responses to 127.0.0.1 with ";

// A server on an ephemeral loopback port, its document root <base>/htdocs (so that <base> is
// "outside" it) and its log in a folder of its own.
class HttpServer : public ::testing::Test {
  protected:
    void SetUp() override {
        QDir().mkpath(root());
        log_.SetDirectory(logDir_.path());
        ASSERT_EQ(log_.Open(), 0);
        server_.SetDocumentRoot(root());
        server_.SetLog(&log_);
        server_.Start(0, "127.0.0.1");
        ASSERT_TRUE(server_.IsActive());
        ASSERT_NE(server_.Port(), 0);
    }

    QString root() const { return base_.file("htdocs"); }
    QString put(const QString& name, const QByteArray& bytes) {
        return base_.write("htdocs/" + name, bytes);
    }
    QString url(const QString& path) const {
        return QString("http://127.0.0.1:%1%2").arg(server_.Port()).arg(path);
    }
    QByteArray logText() const { return ReadFileBytes(log_.FileName()); }
    // A client with a receive buffer of a few KB, connected to the server.
    int smallWindowClient() const {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int small = 4096;
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        timeval timeout{10, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(server_.Port());
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }
    // Restarts the server with other time-outs.
    void restartWithTimeouts(std::chrono::milliseconds read, std::chrono::milliseconds write) {
        server_.Stop();
        server_.SetTimeouts(read, write);
        server_.Start(0, "127.0.0.1");
    }

    TempDir base_;
    TempDir logDir_;
    MyLog log_;
    MyHttpServer server_;
};

TEST_F(HttpServer, ServesFilesWithTypeLengthAndLogLine) {
    const struct {
        QString file;
        QString request;
        QString contentType;
    } cases[] = {
        {"cfg/cfg02e5d2aabbcc", "/cfg/cfg02e5d2aabbcc", "application/octet-stream"},
        {"cfg/cfg02e5d2aabbcc.xml", "/cfg/cfg02e5d2aabbcc.xml", "text/xml"},
        {"fw/phone image.rom", "/fw/phone%20image.rom", "application/octet-stream"},
        {"cfg/1234.xml", "/cfg/1234.xml?mac=0015651234&t=1", "text/xml"},
        {"Notes.TXT", "/Notes.TXT", "text/plain"},
        {"manual.odt", "/manual.odt", "application/vnd.oasis.opendocument.text"},
        {"data.zzqx", "/data.zzqx", "application/octet-stream"},
        {"cfg/a..zzqx", "/cfg/a..zzqx", "application/octet-stream"},  // ".." within a name
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request.toStdString());
        const QByteArray bytes = "Flag=5678&CheckSum=0&P2=" + c.file.toUtf8() + "&end";
        put(c.file, bytes);
        const CurlAnswer answer = Curl(url(c.request));
        EXPECT_EQ(answer.exitCode, 0);
        EXPECT_EQ(answer.status, 200);
        EXPECT_EQ(answer.body, bytes);
        EXPECT_EQ(answer.contentType, c.contentType);
        EXPECT_EQ(answer.header("Content-Length"), QByteArray::number(bytes.size()));
        EXPECT_EQ(answer.header("Connection"), "close");
        const QByteArray line =
            kSubject + "File " + root().toUtf8() + "/" + c.file.toUtf8() + "\r\n";
        EXPECT_TRUE(logText().contains(line)) << logText().toStdString();
    }
}

// Clients on several connections at once: each request has its one whole line in the log by
// the time its answer has arrived.
TEST_F(HttpServer, EveryAnswerFindsItsLogLineWritten) {
    constexpr int kClients = 4, kRequests = 60;
    for (int c = 0; c < kClients; ++c)
        for (int i = 0; i < kRequests; ++i)
            put(QString("cfg/c%1-%2").arg(c).arg(i), "x");
    std::vector<std::thread> clients;
    std::mutex failuresMutex;
    QStringList failures;
    for (int c = 0; c < kClients; ++c)
        clients.emplace_back([&, c] {
            for (int i = 0; i < kRequests; ++i) {
                const QByteArray name =
                    "cfg/c" + QByteArray::number(c) + "-" + QByteArray::number(i);
                const QByteArray answer =
                    ExchangeRaw(server_.Port(), "GET /" + name + " HTTP/1.1\r\nHost: a\r\n\r\n");
                const QByteArray line = kSubject + "File " + root().toUtf8() + "/" + name + "\r\n";
                if (!answer.startsWith("HTTP/1.1 200 OK\r\n") || !logText().contains(line)) {
                    std::lock_guard<std::mutex> lock(failuresMutex);
                    failures << QString::fromUtf8(name);
                }
            }
        });
    for (auto& client : clients)
        client.join();
    EXPECT_TRUE(failures.isEmpty()) << failures.join(' ').toStdString();
    const QByteArray text = logText();
    EXPECT_EQ(text.count(kSubject + "File "), kClients * kRequests);
    EXPECT_EQ(text.count("\r\n"), kClients * kRequests);
}

TEST_F(HttpServer, AnswersMissingFilesAndFoldersWith404) {
    put("cfg/other", "x");
    // An absolute URL without a path asks for the root folder.
    EXPECT_TRUE(ExchangeRaw(server_.Port(), "GET http://a:1 HTTP/1.1\r\nHost: a\r\n\r\n")
                    .startsWith("HTTP/1.1 404 "));
    for (const QString path : {"/cfg/cfg02e5d2aabbcc", "/", "/cfg", "/cfg/", "/cfg/other/x"}) {
        SCOPED_TRACE(path.toStdString());
        const CurlAnswer answer = Curl(url(path));
        EXPECT_EQ(answer.exitCode, 0);
        EXPECT_EQ(answer.status, 404);
        const QByteArray line =
            kSubject + "404. File " + root().toUtf8() + path.toUtf8() + " NOT exist!\r\n";
        EXPECT_TRUE(logText().contains(line)) << logText().toStdString();
    }
}

TEST_F(HttpServer, HeadAndPostAnswerLikeGet) {
    const QByteArray bytes(5000, 'b');
    put("fw/fw.rom", bytes);

    const CurlAnswer head = Curl(url("/fw/fw.rom"), {"--head"});
    EXPECT_EQ(head.exitCode, 0);
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.header("Content-Length"), "5000");
    // Nothing follows the header of a HEAD answer, and the connection closes.
    const QByteArray raw =
        ExchangeRaw(server_.Port(), "HEAD /fw/fw.rom HTTP/1.1\r\nHost: a\r\n\r\n");
    EXPECT_TRUE(raw.startsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_TRUE(raw.endsWith("\r\n\r\n")) << raw.toStdString();

    const CurlAnswer post = Curl(url("/fw/fw.rom"), {"--data", "mac=001565aabbcc"});
    EXPECT_EQ(post.exitCode, 0);
    EXPECT_EQ(post.status, 200);
    EXPECT_EQ(post.body, bytes);
    EXPECT_EQ(logText().count(kSubject + "File " + root().toUtf8() + "/fw/fw.rom\r\n"), 3);
}

TEST_F(HttpServer, StreamsLargeFilesWhole) {
    QByteArray bytes(24 * 1024 * 1024, '\0');
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7 + i / 4096);
    put("fw/big.rom", bytes);
    const CurlAnswer answer = Curl(url("/fw/big.rom"));
    EXPECT_EQ(answer.status, 200);
    EXPECT_TRUE(answer.body == bytes);
}

TEST_F(HttpServer, SlowReadersThatKeepReadingAreNotCutOff) {
    restartWithTimeouts(500ms, 500ms);
    const QByteArray bytes(8 * 1024 * 1024, 's');
    put("fw/slow.rom", bytes);
    // A small window read with a pause after every few KB: about a second in all, beyond the
    // write time-out, but never long without progress.
    const int fd = smallWindowClient();
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(SendAll(fd, "GET /fw/slow.rom HTTP/1.1\r\nHost: a\r\n\r\n"));
    QByteArray received;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        received.append(buf, n);
        QThread::msleep(1);
    }
    ::close(fd);
    EXPECT_TRUE(received.startsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_TRUE(received.endsWith(bytes)) << received.size();
}

TEST_F(HttpServer, RefusesPathsLeavingTheDocumentRoot) {
    const QByteArray secret = "P2=the admin password";
    base_.write("secret.txt", secret);
    base_.write("outside/secret.txt", secret);
    put("cfg/ok", "ok");
    put("fw/v2.rom", "firmware");
    ASSERT_TRUE(QFile::link(base_.file("outside"), root() + "/out"));
    ASSERT_TRUE(QFile::link(base_.file("secret.txt"), root() + "/abs.txt"));
    ASSERT_EQ(::symlink("../secret.txt", (root() + "/rel.txt").toUtf8().constData()), 0);
    ASSERT_EQ(::symlink("../../outside", (root() + "/cfg/up").toUtf8().constData()), 0);
    // A link that stays inside is an ordinary name, however it is written.
    ASSERT_EQ(::symlink("v2.rom", (root() + "/fw/latest.rom").toUtf8().constData()), 0);
    ASSERT_TRUE(QFile::link(root() + "/fw/v2.rom", root() + "/fw/current.rom"));

    for (const QString path :
         {"/../secret.txt", "/cfg/../../secret.txt", "/%2e%2e/secret.txt", "/%2E%2E%2Fsecret.txt",
          "/cfg/%2e%2e%2f%2e%2e%2fsecret.txt", "/..%2fsecret.txt", "//../secret.txt",
          "/cfg/..%2f..%2foutside/secret.txt", "/out/secret.txt", "/abs.txt", "/rel.txt",
          "/cfg/up/secret.txt", "/cfg/..", "/.."}) {
        SCOPED_TRACE(path.toStdString());
        const CurlAnswer answer = Curl(url(path));
        EXPECT_EQ(answer.exitCode, 0);
        EXPECT_EQ(answer.status, 404);
        EXPECT_FALSE(answer.body.contains(secret));
    }
    EXPECT_FALSE(logText().contains(" with File "));
    // A NUL byte cannot be part of a name; it must not cut the name short either.
    EXPECT_EQ(Curl(url("/cfg/ok%00.xml")).status, 404);

    for (const QString path : {"/fw/latest.rom", "/fw/current.rom"}) {
        const CurlAnswer inside = Curl(url(path));
        EXPECT_EQ(inside.status, 200) << path.toStdString();
        EXPECT_EQ(inside.body, "firmware");
    }
}

// Whatever a request path holds, its log line stays one line: control bytes are written as
// %XX, in the log file and to the line observer alike.
TEST_F(HttpServer, ControlBytesOfAPathAreEscapedInItsOneLogLine) {
    std::mutex mutex;
    QList<QByteArray> observed;
    server_.Stop();
    server_.SetLineObserver([&](const QByteArray& line) {
        std::lock_guard<std::mutex> lock(mutex);
        observed << line;
    });
    server_.Start(0, "127.0.0.1");
    put("cfg/a\tb", "tab");
    const struct {
        QString request;
        QByteArray logged;  // after "File <root>"
    } cases[] = {
        {"/cfg/x%0d%0a2026-12-10%2005:40:00%20BUILT-IN%20HTTP%20SERVER%20responses%20to%20"
         "10.0.0.1%20with%20File%20forged",
         "/cfg/x%0D%0A2026-12-10 05:40:00 BUILT-IN HTTP SERVER responses to 10.0.0.1 with File "
         "forged NOT exist!"},
        {"/cfg/ok%00.xml", "/cfg/ok%00.xml NOT exist!"},
        {"/cfg/%1b%5b2J%7f%0d", "/cfg/%1B[2J%7F%0D NOT exist!"},
        {"/cfg/a%09b", "/cfg/a%09b"},
    };
    for (const auto& c : cases)
        Curl(url(c.request));
    const QByteArray text = logText();
    EXPECT_EQ(text.count('\n'), int(std::size(cases))) << text.toStdString();
    EXPECT_EQ(text.count('\r'), int(std::size(cases)));
    EXPECT_FALSE(text.contains('\0'));
    for (const auto& c : cases)
        EXPECT_TRUE(text.contains(root().toUtf8() + c.logged + "\r\n")) << c.logged.toStdString();
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_EQ(observed.size(), qsizetype(std::size(cases)));
    for (const QByteArray& line : observed)
        EXPECT_TRUE(text.contains(" " + line + "\r\n")) << line.toStdString();
}

// A folder is not a file, also when it cannot be read (404); a file that cannot be read gets
// 500 with the reason. The server's threads obey file permissions here, even as root.
TEST_F(HttpServer, FoldersWithoutPermissionAre404UnreadableFiles500) {
    put("locked/inner", "i");
    put("cfg/private.cfg", "p");
    ASSERT_EQ(::chmod((root() + "/locked").toUtf8(), 0), 0);
    ASSERT_EQ(::chmod((root() + "/cfg/private.cfg").toUtf8(), 0), 0);
    server_.Stop();
    RunObeyingFilePermissions([&] { server_.Start(0, "127.0.0.1"); });
    for (const QString path : {"/locked", "/locked/"}) {
        EXPECT_EQ(Curl(url(path)).status, 404) << path.toStdString();
        EXPECT_TRUE(logText().contains(kSubject + "404. File " + root().toUtf8() + path.toUtf8() +
                                       " NOT exist!\r\n"));
    }
    const CurlAnswer unreadable = Curl(url("/cfg/private.cfg"));
    EXPECT_EQ(unreadable.status, 500);
    EXPECT_EQ(unreadable.body, "Permission denied");
    EXPECT_TRUE(logText().contains(kSubject + "500. File " + root().toUtf8() +
                                   "/cfg/private.cfg: Permission denied\r\n"));
    ::chmod((root() + "/locked").toUtf8(), 0700);
}

// Bytes the client sends after its request (a stray CRLF, a pipelined request, the rest of a
// body longer than announced) never cut the answer short: the server takes them and drops
// them until the client closes, so every announced byte arrives and nothing is reset.
TEST_F(HttpServer, BytesAfterTheRequestDoNotCutTheAnswerShort) {
    QByteArray bytes(8 * 1024 * 1024, '\0');
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 13 + i / 1000);
    put("fw/big.rom", bytes);
    put("cfg/a", "a");
    const QByteArray request = "GET /fw/big.rom HTTP/1.1\r\nHost: a\r\n\r\n";
    const struct {
        const char* what;
        QByteArray extra;
        bool withRequest;  // sent together with the request, else once the answer is flowing
    } cases[] = {
        {"a stray CRLF", "\r\n", false},
        {"a pipelined request", "GET /cfg/a HTTP/1.1\r\nHost: a\r\n\r\n", false},
        {"a pipelined request at once", "GET /cfg/a HTTP/1.1\r\nHost: a\r\n\r\n", true},
        {"many bytes", QByteArray(300 * 1024, 'x'), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const int fd = smallWindowClient();
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(SendAll(fd, c.withRequest ? request + c.extra : request));
        QByteArray received;
        char buf[65536];
        int error = 0;
        for (;;) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n < 0)
                error = errno;
            if (n <= 0)
                break;
            if (received.isEmpty() && !c.withRequest) {
                ASSERT_TRUE(SendAll(fd, c.extra));
            }
            received.append(buf, n);
        }
        ::close(fd);
        EXPECT_EQ(error, 0) << std::strerror(error);
        const qsizetype body = received.indexOf("\r\n\r\n") + 4;
        EXPECT_TRUE(received.startsWith("HTTP/1.1 200 OK\r\n"));
        EXPECT_EQ(received.size() - body, bytes.size());
        EXPECT_TRUE(received.mid(body) == bytes);
    }

    // curl as the client: a POST that announces 10 bytes of body and sends 3 MB.
    const QString upload = base_.write("upload", QByteArray(3 * 1024 * 1024, 'u'));
    const CurlAnswer answer = Curl(
        url("/fw/big.rom"),
        {"--limit-rate", "20M", "--header", "Content-Length: 10", "--data-binary", "@" + upload});
    EXPECT_EQ(answer.exitCode, 0);
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body.size(), bytes.size());
    EXPECT_TRUE(answer.body == bytes);

    for (int i = 0; i < 100 && server_.ConnectionCount() > 0; ++i)
        QThread::msleep(20);
    EXPECT_EQ(server_.ConnectionCount(), 0);
}

// After the answer the server waits only so long for a client that neither takes the rest of
// it nor closes, however much that client still sends.
TEST_F(HttpServer, AClientThatNeverClosesIsClosedAfterTheTimeOut) {
    restartWithTimeouts(300ms, 300ms);
    put("cfg/a", QByteArray(8 * 1024, 'a'));  // fits the server's buffer, not the client's
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int tiny = 1;  // the smallest receive buffer the kernel grants
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &tiny, sizeof tiny);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(server_.Port());
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_TRUE(SendAll(fd, "GET /cfg/a HTTP/1.1\r\nHost: a\r\n\r\n"));
    QThread::msleep(50);
    ASSERT_EQ(server_.ConnectionCount(), 1);
    // The client reads nothing and goes on sending until the server has closed (its sends
    // then fail).
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 5000 && SendAll(fd, QByteArray(1000, '\n')))
        QThread::msleep(10);
    EXPECT_LT(clock.elapsed(), 3000);
    for (int i = 0; i < 100 && server_.ConnectionCount() > 0; ++i)
        QThread::msleep(20);
    EXPECT_EQ(server_.ConnectionCount(), 0);
    ::close(fd);
}

TEST_F(HttpServer, OtherMethodsAndMalformedRequestsGetAnErrorAndNoLogLine) {
    put("cfg/a", "a");
    EXPECT_EQ(Curl(url("/cfg/a"), {"--request", "DELETE"}).status, 405);
    EXPECT_EQ(Curl(url("/cfg/a"), {"--request", "PUT", "--data", "x"}).status, 405);
    EXPECT_TRUE(ExchangeRaw(server_.Port(), "GARBAGE\r\n\r\n").startsWith("HTTP/1.1 400 "));
    // A target that is not a path from the root is no name below it.
    for (const QByteArray target : {"cfg/a", "*", "%2Fcfg/a"})
        EXPECT_TRUE(ExchangeRaw(server_.Port(), "GET " + target + " HTTP/1.1\r\nHost: a\r\n\r\n")
                        .startsWith("HTTP/1.1 400 "))
            << target.constData();
    EXPECT_TRUE(ExchangeRaw(server_.Port(),
                            "GET /cfg/a HTTP/1.1\r\nX: " + QByteArray(20000, 'x') + "\r\n\r\n")
                    .startsWith("HTTP/1.1 400 "));
    EXPECT_FALSE(logText().contains("BUILT-IN HTTP SERVER"));
}

TEST_F(HttpServer, ClosesTheConnectionAfterEveryAnswer) {
    put("cfg/a", "abc");
    // A keep-alive request still gets one answer and the close.
    const QByteArray raw = ExchangeRaw(server_.Port(),
                                       "GET /cfg/a HTTP/1.1\r\nHost: a\r\nConnection: "
                                       "keep-alive\r\n\r\nGET /cfg/a HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(raw.startsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_TRUE(raw.endsWith("\r\n\r\nabc"));
    EXPECT_EQ(raw.count("HTTP/1.1"), 1);
}

TEST_F(HttpServer, ClosesConnectionsThatSendOrReadNothing) {
    restartWithTimeouts(300ms, 300ms);
    put("fw/big.rom", QByteArray(32 * 1024 * 1024, 'f'));

    const int silent = ConnectLoopback(server_.Port());
    ASSERT_GE(silent, 0);
    // A request that trickles in, one byte at a time, never completes in time.
    const int trickle = ConnectLoopback(server_.Port());
    ASSERT_GE(trickle, 0);
    bool trickleClosed = false;
    const QByteArray request =
        "GET /fw/big.rom HTTP/1.1\r\nHost: a\r\nX-Pad: " + QByteArray(200, 'p') + "\r\n\r\n";
    for (qsizetype i = 0; i < request.size() && !trickleClosed; ++i) {
        trickleClosed = !SendAll(trickle, request.mid(i, 1)) || PeerCloses(trickle, 50);
    }
    EXPECT_TRUE(trickleClosed);
    EXPECT_TRUE(PeerCloses(silent, 5000));

    // A reader that stops reading is dropped once the socket buffers are full.
    const int stalled = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int small = 4096;
    setsockopt(stalled, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(server_.Port());
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(stalled, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_TRUE(SendAll(stalled, "GET /fw/big.rom HTTP/1.1\r\nHost: a\r\n\r\n"));
    for (int i = 0; i < 100 && server_.ConnectionCount() > 0; ++i)
        QThread::msleep(50);
    EXPECT_EQ(server_.ConnectionCount(), 0);
    for (const int fd : {silent, trickle, stalled})
        ::close(fd);
}

TEST_F(HttpServer, ClientsThatGoAwayMidDownloadDoNotStopTheServer) {
    put("fw/big.rom", QByteArray(32 * 1024 * 1024, 'g'));
    put("cfg/a", "a");
    for (int i = 0; i < 20; ++i) {
        const int fd = smallWindowClient();
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(SendAll(fd, "GET /fw/big.rom HTTP/1.1\r\nHost: a\r\n\r\n"));
        char buf[4096];
        ASSERT_GT(::recv(fd, buf, sizeof buf, 0), 0);
        if (i % 2) {
            const linger reset{1, 0};  // close with a reset instead of a FIN
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        }
        ::close(fd);
        QThread::msleep(20);
    }
    EXPECT_EQ(Curl(url("/cfg/a")).status, 200);
    for (int i = 0; i < 100 && server_.ConnectionCount() > 0; ++i)
        QThread::msleep(50);
    EXPECT_EQ(server_.ConnectionCount(), 0);
}

TEST_F(HttpServer, IdleConnectionsDoNotKeepOthersFromBeingServed) {
    put("cfg/cfg02e5d2aabbcc", "mine");
    std::vector<int> idle;
    for (int i = 0; i < 300; ++i) {
        const int fd = ConnectLoopback(server_.Port());
        ASSERT_GE(fd, 0);
        idle.push_back(fd);
    }
    for (int i = 0; i < 10; ++i) {
        const CurlAnswer answer = Curl(url("/cfg/cfg02e5d2aabbcc"));
        EXPECT_EQ(answer.status, 200);
        EXPECT_EQ(answer.body, "mine");
    }
    for (const int fd : idle)
        ::close(fd);
}

TEST_F(HttpServer, KeepsAcceptingAfterRunningOutOfDescriptors) {
    restartWithTimeouts(500ms, 500ms);
    put("cfg/a", "a");
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    // Room for a few dozen descriptors beyond those open now: the idle clients and their server
    // ends use them up.
    int highest = 0;
    for (int fd = 0; fd < int(saved.rlim_cur); ++fd)
        if (fcntl(fd, F_GETFD) != -1)
            highest = fd;
    rlimit tight = saved;
    tight.rlim_cur = rlim_t(highest + 40);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    std::vector<int> idle;
    for (int i = 0; i < 30; ++i) {
        const int fd = ConnectLoopback(server_.Port());
        if (fd >= 0)
            idle.push_back(fd);
    }
    QThread::msleep(200);
    for (const int fd : idle)
        ::close(fd);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_EQ(Curl(url("/cfg/a")).status, 200);
}

TEST_F(HttpServer, StopClosesConnectionsAndTheSamePortStartsAgain) {
    put("cfg/a", "a");
    const quint16 port = server_.Port();
    EXPECT_EQ(Curl(url("/cfg/a")).status, 200);  // leaves a connection in TIME_WAIT
    const int open = ConnectLoopback(port);
    ASSERT_GE(open, 0);
    for (int i = 0; i < 100 && server_.ConnectionCount() == 0; ++i)
        QThread::msleep(10);

    server_.Stop();
    EXPECT_FALSE(server_.IsActive());
    EXPECT_EQ(server_.Port(), 0);
    EXPECT_TRUE(PeerCloses(open, 5000));
    ::close(open);
    EXPECT_LT(ConnectLoopback(port), 0);

    server_.Start(port, "127.0.0.1");
    EXPECT_TRUE(server_.IsActive());
    EXPECT_EQ(server_.Port(), port);
    server_.Start(port + 1, "127.0.0.1");  // already running: nothing changes
    EXPECT_EQ(server_.Port(), port);
    EXPECT_EQ(Curl(url("/cfg/a")).status, 200);
}

TEST_F(HttpServer, StartFailuresAreSocketErrors) {
    MyHttpServer second(root());
    try {
        second.Start(server_.Port(), "127.0.0.1");
        ADD_FAILURE() << "a port in use was bound";
    } catch (const SocketError& e) {
        EXPECT_EQ(e.kind(), SocketError::Kind::BindFailed);
        EXPECT_EQ(e.systemError(), EADDRINUSE);
    }
    EXPECT_FALSE(second.IsActive());
    // Nor is a port that another program listens on while letting others share it.
    const int other = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ASSERT_EQ(setsockopt(other, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on), 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    ASSERT_EQ(::bind(other, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(other, 1), 0);
    ASSERT_EQ(getsockname(other, reinterpret_cast<sockaddr*>(&addr), &length), 0);
    try {
        second.Start(ntohs(addr.sin_port), "127.0.0.1");
        ADD_FAILURE() << "a shared port in use was bound";
    } catch (const SocketError& e) {
        EXPECT_EQ(e.systemError(), EADDRINUSE);
    }
    ::close(other);
    EXPECT_FALSE(second.IsActive());
    // An address that is not this machine's cannot be bound either.
    try {
        second.Start(0, "192.0.2.1");
        ADD_FAILURE() << "a foreign address was bound";
    } catch (const SocketError& e) {
        EXPECT_EQ(e.kind(), SocketError::Kind::BindFailed);
    }
    EXPECT_THROW(second.Start(0, "not-an-address"), std::invalid_argument);
    EXPECT_FALSE(second.IsActive());
}

TEST_F(HttpServer, APrivilegedPortIsAccessDenied) {
    // In a child process that is not root (it gives up root when it has it): ports below 1024
    // need a privilege it lacks.
    EXPECT_EQ(
        RunAsNobody([&] {
            MyHttpServer privileged(root());
            try {
                privileged.Start(1, "127.0.0.1");
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

TEST_F(HttpServer, StartsWithoutADocumentRootAndServesItOnceItExists) {
    MyHttpServer late(base_.file("later"), &log_);
    late.Start(0, "127.0.0.1");
    const QString address = QString("http://127.0.0.1:%1/cfg/a").arg(late.Port());
    EXPECT_EQ(Curl(address).status, 404);
    base_.write("later/cfg/a", "now");
    EXPECT_EQ(Curl(address).body, "now");
}

}  // namespace
