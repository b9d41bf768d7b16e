// The built-in server's fetch observer feeding a provisioning record: curl downloads, then the
// rows as the sqlite3 program reads them; a record that fails never stops the serving.
#include "protection/ServerAccess.h"
#include "protection/TlsCertificate.h"
#include "record/ProvisioningRecord.h"
#include "support/HttpClient.h"
#include "servers/MyHttpServer.h"
#include "support/FileSizeLimit.h"
#include "support/QtPrinters.h"
#include "support/Sqlite3Cli.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>
#include <mutex>
#include <vector>

namespace {

class RecordedFetch : public ::testing::Test {
  protected:
    RecordedFetch() {
        dir.write("htdocs/cfg/cfg0a1b2c3d4e5f", QByteArray(5000, 'c'));
        dir.write("htdocs/fw/a b.rom", "firmware");
        record.SetFailureHandler([this](const QString&, const QString& reason) {
            std::lock_guard<std::mutex> lock(mutex);
            failures << reason;
        });
    }
    void Serve() {
        server.SetFetchObserver(record.Observer());
        server.Start(0, "127.0.0.1");
    }
    QString Url(const QString& path) const {
        return QString("http://127.0.0.1:%1%2").arg(server.Port()).arg(path);
    }

    TempDir dir;
    QString file = dir.file("db/provisioning.sqlite");
    ProvisioningRecord record;
    MyHttpServer server{dir.file("htdocs")};
    std::mutex mutex;
    QStringList failures;
};

TEST_F(RecordedFetch, EveryAnswerIsARowWithTheBytesTheClientTook) {
    ASSERT_TRUE(record.Open(file));
    Serve();
    EXPECT_EQ(Curl(Url("/cfg/cfg0a1b2c3d4e5f"), {"-A", "Orvo X210 1.2.3"}).status, 200);
    EXPECT_EQ(Curl(Url("/cfg/cfg0a1b2c3d4e5f.xml?x=1"), {"-A", ""}).status, 404);
    EXPECT_EQ(Curl(Url("/fw/a%20b.rom"), {"-A", "tab\there"}).status, 200);
    EXPECT_EQ(Curl(Url("/cfg/cfg0a1b2c3d4e5f"), {"--head", "-A", "h"}).status, 200);
    EXPECT_EQ(Curl(Url("/cfg/cfg0a1b2c3d4e5f"), {"-X", "PUT", "-A", "p"}).status, 405);
    EXPECT_TRUE(ExchangeRaw(server.Port(), "NONSENSE\r\n\r\n").startsWith("HTTP/1.1 400"));
    server.Stop();
    ASSERT_TRUE(record.Flush());
    // Rows come in the order the connections closed, which the client does not fix.
    QStringList rows = Sqlite3Rows(
        file, "SELECT protocol, peer, path, status, bytes, user_agent, phone FROM fetches");
    QStringList expected{
        "http|127.0.0.1|cfg/cfg0a1b2c3d4e5f|200|5000|Orvo X210 1.2.3|0a1b2c3d4e5f",
        "http|127.0.0.1|cfg/cfg0a1b2c3d4e5f.xml|404|15||0a1b2c3d4e5f",
        "http|127.0.0.1|fw/a b.rom|200|8|tab\there|",
        "http|127.0.0.1|cfg/cfg0a1b2c3d4e5f|200|0|h|0a1b2c3d4e5f",
        "http|127.0.0.1|cfg/cfg0a1b2c3d4e5f|405|24|p|0a1b2c3d4e5f",
        "http|127.0.0.1||400|0||",
    };
    rows.sort();
    expected.sort();
    EXPECT_EQ(rows, expected);
}

// A client that stops reading half-way: the row tells how much it took.
TEST_F(RecordedFetch, AnAbortedDownloadCountsTheBytesSent) {
    dir.write("htdocs/fw/big.rom", QByteArray(32 << 20, 'f'));
    ASSERT_TRUE(record.Open(file));
    server.SetTimeouts(std::chrono::milliseconds(5000), std::chrono::milliseconds(300));
    Serve();
    const int fd = ConnectLoopback(server.Port());
    ASSERT_TRUE(SendAll(fd, "GET /fw/big.rom HTTP/1.1\r\nHost: x\r\n\r\n"));
    char buffer[4096];
    ASSERT_GT(::recv(fd, buffer, sizeof buffer, 0), 0);
    // Nothing more is read: the write time-out ends the answer.
    for (int i = 0; i < 100 && server.ConnectionCount() > 0; ++i)
        ::usleep(50000);
    ::close(fd);
    server.Stop();
    ASSERT_TRUE(record.Flush());
    const qint64 bytes = Sqlite3Value(file, "SELECT bytes FROM fetches").toLongLong();
    EXPECT_GT(bytes, 0);
    EXPECT_LT(bytes, 32 << 20);
}

// Over HTTPS with credentials: the refusals are rows too, with their status, and no row holds
// the password.
TEST_F(RecordedFetch, HttpsDownloadsAndTheirRefusalsAreRowsOfTheirOwnProtocol) {
    const TlsFiles tls{dir.file("server.crt"), dir.file("server.key")};
    QString error;
    ASSERT_TRUE(MakeSelfSignedCertificate({"127.0.0.1"}, TlsKeyType::Ec, tls, &error));
    server.SetTls(tls.certFile, tls.keyFile);
    server.SetAccess(
        std::make_shared<ServerAccess>(AddressAllowList(), BasicCredentials("u", "s3cr3t")));
    ASSERT_TRUE(record.Open(file));
    Serve();
    const QString url = QString("https://127.0.0.1:%1/cfg/cfg0a1b2c3d4e5f").arg(server.Port());
    const QStringList trust = {"--cacert", tls.certFile, "-A", "a"};
    EXPECT_EQ(Curl(url, trust).status, 401);
    EXPECT_EQ(Curl(url, QStringList{"--user", "u:wrong1"} << trust).status, 401);
    EXPECT_EQ(Curl(url, QStringList{"--user", "u:s3cr3t"} << trust).status, 200);
    server.Stop();
    ASSERT_TRUE(record.Flush());
    // Rows come in the order the connections closed, which the client does not fix.
    EXPECT_EQ(Sqlite3Rows(file, "SELECT protocol, peer, path, status, user_agent FROM fetches "
                                "ORDER BY status"),
              (QStringList{
                  "https|127.0.0.1|cfg/cfg0a1b2c3d4e5f|200|a",
                  "https|127.0.0.1|cfg/cfg0a1b2c3d4e5f|401|a",
                  "https|127.0.0.1|cfg/cfg0a1b2c3d4e5f|401|a",
              }));
    const QByteArray bytes = ReadFileBytes(file);
    EXPECT_FALSE(bytes.contains("s3cr3t") || bytes.contains("wrong1"));
}

TEST_F(RecordedFetch, AFullDiskTurnsRecordingOffWhileServingGoesOn) {
    ASSERT_TRUE(record.Open(file));
    Serve();
    {
        FileSizeLimit limit(64 * 1024);
        for (int i = 0; i < 300; ++i)
            ASSERT_EQ(Curl(Url("/cfg/cfg0a1b2c3d4e5f"), {"-A", QString(900, 'u')}).status, 200);
        record.Flush();
        EXPECT_FALSE(record.IsOn());
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(Curl(Url("/cfg/cfg0a1b2c3d4e5f")).status, 200);
        server.Stop();
        record.Close();
    }
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(failures.size(), 1) << failures.join("; ").toStdString();
    EXPECT_EQ(Sqlite3Value(file, "PRAGMA integrity_check"), "ok");
}

}  // namespace
