// The built-in servers with HTTPS, an address allow-list and credentials, as curl, openssl
// s_client and a hand-made TFTP client see them.
#include "app/MyLog.h"
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
#include <QFile>
#include <QThread>

#include <unistd.h>
#include <mutex>
#include <vector>

using namespace std::chrono_literals;

namespace {

const char kPassword[] = "p@ss w\xc3\xb6rd:1";

std::shared_ptr<ServerAccess> Access(const QString& allow, const QByteArray& user = {},
                                     const QByteArray& password = {}) {
    AddressAllowList list;
    EXPECT_TRUE(list.Parse(allow));
    return std::make_shared<ServerAccess>(list, BasicCredentials(user, password));
}

// A server on an ephemeral port of 127.0.0.1 with a self-signed pair made for that address,
// its log in a folder of its own and every fetch event kept.
class ProtectedServing : public ::testing::Test {
  protected:
    void SetUp() override {
        QString error;
        QDir().mkpath(base_.file("tls"));
        ASSERT_TRUE(MakeSelfSignedCertificate({"127.0.0.1"}, TlsKeyType::Ec, tls_, &error))
            << error.toStdString();
        base_.write("htdocs/cfg/a.cfg", "small answer");
        base_.write("htdocs/fw/big.rom", big_);
        log_.SetDirectory(logDir_.path());
        ASSERT_EQ(log_.Open(), 0);
        server_.SetDocumentRoot(base_.file("htdocs"));
        server_.SetLog(&log_);
        server_.SetFetchObserver([this](const FetchEvent& e) {
            std::lock_guard<std::mutex> lock(mutex_);
            fetches_.push_back(e);
        });
    }
    void start(bool https, std::shared_ptr<ServerAccess> access = nullptr) {
        server_.Stop();
        server_.SetTls(https ? tls_.certFile : QString(), https ? tls_.keyFile : QString());
        server_.SetAccess(std::move(access));
        server_.Start(0, "127.0.0.1");
        ASSERT_TRUE(server_.IsActive());
    }
    QString url(const QString& path, const QString& scheme = "https") const {
        return QString("%1://127.0.0.1:%2%3").arg(scheme).arg(server_.Port()).arg(path);
    }
    CurlAnswer trusted(const QString& path, QStringList extra = {}) const {
        return Curl(url(path), extra << "--cacert" << tls_.certFile);
    }
    QByteArray logText() const { return ReadFileBytes(log_.FileName()); }
    std::vector<FetchEvent> fetches() {
        std::lock_guard<std::mutex> lock(mutex_);
        return fetches_;
    }
    // openssl s_client limited to one protocol version; its exit code and output.
    int sClient(const QString& version, QByteArray* output) const {
        QByteArray err;
        const int code = RunProgram(
            "openssl",
            {"s_client", "-connect", QString("127.0.0.1:%1").arg(server_.Port()), version,
             "-cipher", "DEFAULT@SECLEVEL=0", "-brief", "-CAfile", tls_.certFile},
            output, &err);
        *output += err;
        return code;
    }

    TempDir base_;
    TempDir logDir_;
    TlsFiles tls_{base_.file("tls/server.crt"), base_.file("tls/server.key")};
    const QByteArray big_ = QByteArray(3 << 20, 'b') + "end";
    MyLog log_;
    std::mutex mutex_;
    std::vector<FetchEvent> fetches_;
    MyHttpServer server_;  // stopped first: its last connections still report
};

TEST_F(ProtectedServing, HttpsServesSmallAndLargeFilesToClientsThatTrustOrPinTheCertificate) {
    start(true);
    const CurlAnswer small = trusted("/cfg/a.cfg");
    EXPECT_EQ(small.exitCode, 0);
    EXPECT_EQ(small.status, 200);
    EXPECT_EQ(small.body, "small answer");
    const CurlAnswer large = trusted("/fw/big.rom");
    EXPECT_EQ(large.status, 200);
    EXPECT_TRUE(large.body == big_) << large.body.size();
    EXPECT_EQ(trusted("/cfg/a.cfg", {"--head"}).status, 200);
    EXPECT_EQ(trusted("/cfg/none").status, 404);
    EXPECT_EQ(trusted("/cfg/a.cfg", {"--tlsv1.3"}).body, "small answer");
    EXPECT_EQ(trusted("/cfg/a.cfg", {"--tls-max", "1.2"}).body, "small answer");

    // Pinned by the key's digest instead of trusted as an authority.
    const QByteArray pin = PublicKeyPin(tls_.certFile);
    ASSERT_FALSE(pin.isEmpty());
    EXPECT_EQ(Curl(url("/cfg/a.cfg"), {"--insecure", "--pinnedpubkey", pin}).body, "small answer");
    TempDir other;
    const TlsFiles foreign{other.file("c"), other.file("k")};
    QString error;
    ASSERT_TRUE(MakeSelfSignedCertificate({"127.0.0.1"}, TlsKeyType::Ec, foreign, &error));
    EXPECT_EQ(
        Curl(url("/cfg/a.cfg"), {"--insecure", "--pinnedpubkey", PublicKeyPin(foreign.certFile)})
            .exitCode,
        90);  // CURLE_SSL_PINNEDPUBKEYNOTMATCH
    // A client that does not trust it ends the handshake; the server logs it and goes on.
    EXPECT_EQ(Curl(url("/cfg/a.cfg")).exitCode, 60);  // CURLE_PEER_FAILED_VERIFICATION
    EXPECT_EQ(Curl(url("/cfg/a.cfg"), {"--cacert", foreign.certFile}).exitCode, 60);
    EXPECT_EQ(trusted("/cfg/a.cfg").status, 200);

    for (int i = 0; i < 100 && server_.ConnectionCount() > 0; ++i)
        QThread::msleep(20);
    const QByteArray log = logText();
    EXPECT_TRUE(log.contains("BUILT-IN HTTP SERVER responses to 127.0.0.1 with File "));
    EXPECT_TRUE(log.contains("BUILT-IN HTTP SERVER refuses 127.0.0.1: TLS handshake failed: "))
        << log.constData();
    const std::vector<FetchEvent> events = fetches();
    ASSERT_FALSE(events.empty());
    for (const FetchEvent& e : events)
        EXPECT_STREQ(e.protocol, "https");
    EXPECT_EQ(events[1].bytes, big_.size());
}

// A rate-limited reader still busy with a large file when the short time-outs have passed
// gets all of it, the TLS close included.
TEST_F(ProtectedServing, ASlowHttpsReaderThatKeepsReadingGetsTheWholeFile) {
    server_.SetTimeouts(300ms, 300ms);
    start(true);
    const CurlAnswer slow = trusted("/fw/big.rom", {"--limit-rate", "1M"});
    EXPECT_EQ(slow.exitCode, 0);
    EXPECT_TRUE(slow.body == big_) << slow.body.size();
}

TEST_F(ProtectedServing, HttpsTakesTls12And13AndRefusesOlderVersions) {
    start(true);
    const struct {
        const char* option;
        bool taken;
        const char* text;
    } cases[] = {
        {"-tls1", false, "alert protocol version"},
        {"-tls1_1", false, "alert protocol version"},
        {"-tls1_2", true, "Protocol version: TLSv1.2"},
        {"-tls1_3", true, "Protocol version: TLSv1.3"},
    };
    for (const auto& c : cases) {
        QByteArray output;
        const int code = sClient(c.option, &output);
        EXPECT_EQ(code == 0, c.taken) << c.option << "\n" << output.constData();
        EXPECT_TRUE(output.contains(c.text)) << c.option << "\n" << output.constData();
        if (c.taken) {
            EXPECT_TRUE(output.contains("Verification: OK")) << output.constData();
        }
    }
    EXPECT_EQ(trusted("/cfg/a.cfg").status, 200);
}

// TLS 1.2 is offered with ECDHE and AES-GCM or ChaCha20-Poly1305 only, for an EC and an RSA
// key alike: no CBC suites, no static RSA key exchange, no other AEAD; TLS 1.3 keeps its
// suites. openssl s_client offers one suite at a time.
TEST_F(ProtectedServing, Tls12OffersForwardSecretAeadSuitesOnly) {
    TempDir rsaDir;
    const TlsFiles rsa{rsaDir.file("server.crt"), rsaDir.file("server.key")};
    QString error;
    ASSERT_TRUE(MakeSelfSignedCertificate({"127.0.0.1"}, TlsKeyType::Rsa, rsa, &error));
    const auto handshake = [&](const QString& version, const QString& option, const QString& suite,
                               QByteArray* output) {
        QByteArray err;
        const int code =
            RunProgram("openssl",
                       {"s_client", "-connect", QString("127.0.0.1:%1").arg(server_.Port()),
                        version, option, suite, "-brief"},
                       output, &err);
        *output += err;
        return code == 0 && output->contains("Ciphersuite: " + suite.section(':', 0, 0).toUtf8());
    };
    const struct {
        const TlsFiles* pair;
        QStringList taken;
        QStringList refused;
    } keys[] = {
        {&tls_,
         {"ECDHE-ECDSA-AES128-GCM-SHA256", "ECDHE-ECDSA-AES256-GCM-SHA384",
          "ECDHE-ECDSA-CHACHA20-POLY1305"},
         {"ECDHE-ECDSA-AES128-SHA", "ECDHE-ECDSA-AES256-SHA", "ECDHE-ECDSA-AES128-SHA256",
          "ECDHE-ECDSA-AES256-SHA384", "ECDHE-ECDSA-AES128-CCM", "ECDHE-ECDSA-ARIA128-GCM-SHA256",
          "ECDHE-ECDSA-CAMELLIA128-SHA256"}},
        {&rsa,
         {"ECDHE-RSA-AES128-GCM-SHA256", "ECDHE-RSA-AES256-GCM-SHA384",
          "ECDHE-RSA-CHACHA20-POLY1305"},
         {"AES128-GCM-SHA256", "AES256-GCM-SHA384", "AES128-SHA", "AES256-SHA", "AES128-SHA256",
          "AES256-SHA256", "AES128-CCM", "ECDHE-RSA-AES128-SHA", "ECDHE-RSA-AES256-SHA384",
          "DHE-RSA-AES128-GCM-SHA256", "DHE-RSA-CHACHA20-POLY1305", "ECDHE-ARIA128-GCM-SHA256"}},
    };
    for (const auto& key : keys) {
        SCOPED_TRACE(key.pair->keyFile.toStdString());
        server_.Stop();
        server_.SetTls(key.pair->certFile, key.pair->keyFile);
        server_.Start(0, "127.0.0.1");
        for (const QString& suite : key.taken) {
            QByteArray output;
            EXPECT_TRUE(handshake("-tls1_2", "-cipher", suite, &output))
                << suite.toStdString() << "\n"
                << output.constData();
        }
        for (const QString& suite : key.refused) {
            QByteArray output;
            EXPECT_FALSE(handshake("-tls1_2", "-cipher", suite + ":@SECLEVEL=0", &output))
                << suite.toStdString() << "\n"
                << output.constData();
        }
        for (const QString suite :
             {"TLS_AES_128_GCM_SHA256", "TLS_AES_256_GCM_SHA384", "TLS_CHACHA20_POLY1305_SHA256"}) {
            QByteArray output;
            EXPECT_TRUE(handshake("-tls1_3", "-ciphersuites", suite, &output))
                << suite.toStdString() << "\n"
                << output.constData();
        }
    }
}

// Every connection is a full handshake: no session ID or ticket is handed out.
TEST_F(ProtectedServing, HttpsResumesNoSession) {
    start(true);
    const QString session = base_.file("session");
    const auto connect = [&](const QString& version, const QString& option) {
        QByteArray out, err;
        RunProgram("openssl",
                   {"s_client", "-connect", QString("127.0.0.1:%1").arg(server_.Port()), version,
                    "-CAfile", tls_.certFile, option, session},
                   &out, &err);
        return out + err;
    };
    // s_client keeps a session only when the server offers one to resume.
    for (const QString version : {"1.2", "1.3"}) {
        const QByteArray out = connect("-tls" + QString(version).replace('.', '_'), "-sess_out");
        EXPECT_TRUE(out.contains("New, TLSv" + version.toUtf8())) << out.constData();
        EXPECT_FALSE(out.contains("Session Ticket arrived"));
        EXPECT_FALSE(QFile::exists(session)) << version.toStdString();
    }
}

// A client that opens a connection and stalls in the handshake is cut by the read time-out;
// the others are served meanwhile.
TEST_F(ProtectedServing, AStalledHandshakeIsCutByTheTimeOutWhileOthersAreServed) {
    start(true);
    const int silent = ConnectLoopback(server_.Port());
    const int partial = ConnectLoopback(server_.Port());
    ASSERT_GE(silent, 0);
    ASSERT_GE(partial, 0);
    ASSERT_TRUE(SendAll(partial, QByteArray::fromHex("160301020001")));  // a ClientHello's start
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(trusted("/cfg/a.cfg").body, "small answer");
    EXPECT_FALSE(PeerCloses(silent, 1000));
    EXPECT_TRUE(PeerCloses(silent, 6000));
    EXPECT_TRUE(PeerCloses(partial, 1000));
    ::close(silent);
    ::close(partial);
    EXPECT_EQ(logText().count("BUILT-IN HTTP SERVER refuses 127.0.0.1: TLS handshake failed: "
                              "not completed within 5 s"),
              2);
    EXPECT_EQ(trusted("/cfg/a.cfg").status, 200);
}

TEST_F(ProtectedServing, APlainRequestToTheHttpsPortIsAnsweredLoggedAndServingGoesOn) {
    start(true);
    for (int i = 0; i < 3; ++i) {
        const QByteArray raw =
            ExchangeRaw(server_.Port(), "GET /cfg/a.cfg HTTP/1.1\r\nHost: a\r\n\r\n");
        EXPECT_TRUE(raw.startsWith("HTTP/1.1 400 Bad Request\r\n")) << raw.constData();
        EXPECT_FALSE(raw.contains("small answer"));
    }
    EXPECT_EQ(Curl(url("/cfg/a.cfg", "http")).status, 400);
    EXPECT_EQ(trusted("/cfg/a.cfg").body, "small answer");
    EXPECT_EQ(logText().count("BUILT-IN HTTP SERVER refuses 127.0.0.1: TLS handshake failed: a "
                              "plain HTTP request to the HTTPS port"),
              4);
}

// Credentials over HTTP and HTTPS alike: missing or wrong ones get 401 with the Basic
// challenge, ten failures within a minute a block of 429 for a minute, logged once; the
// password shows in no log line.
TEST_F(ProtectedServing, CredentialsAreAskedForCheckedAndThrottled) {
    for (const bool https : {false, true}) {
        SCOPED_TRACE(https ? "https" : "http");
        start(https, Access({}, "alice", kPassword));
        const QString scheme = https ? "https" : "http";
        const QStringList trust = {"--cacert", tls_.certFile};
        const auto fetch = [&](QStringList extra) {
            return Curl(url("/cfg/a.cfg", scheme), extra << trust);
        };
        const CurlAnswer missing = fetch({});
        EXPECT_EQ(missing.status, 401);
        EXPECT_EQ(missing.header("WWW-Authenticate"),
                  "Basic realm=\"Orvo Provision Tool\", charset=\"UTF-8\"");
        EXPECT_EQ(fetch({"--head"}).status, 401);
        EXPECT_EQ(fetch({"--user", QString("alice:") + kPassword}).body, "small answer");
        // The URL a phone is given: user and password percent-encoded in it.
        EXPECT_EQ(Curl(QString("%1://alice:p%40ss%20w%C3%B6rd%3A1@127.0.0.1:%2/cfg/a.cfg")
                           .arg(scheme)
                           .arg(server_.Port()),
                       trust)
                      .body,
                  "small answer");
        const struct {
            QStringList user;
        } wrong[] = {{{"--user", "alice:p@ss"}},
                     {{"--user", "Alice:" + QString(kPassword)}},
                     {{"--header", "Authorization: Basic !!"}},
                     {{"--header", "Authorization: Bearer abc"}}};
        for (const auto& w : wrong) {
            const CurlAnswer a = fetch(w.user);
            EXPECT_EQ(a.status, 401) << w.user.join(' ').toStdString();
            EXPECT_FALSE(a.header("WWW-Authenticate").isEmpty());
        }
        // Six more wrong ones make ten: the address is refused even with the right ones.
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(fetch({"--user", "alice:w7x9q"}).status, 401);
        for (int i = 0; i < 3; ++i) {
            const CurlAnswer blocked = fetch({"--user", QString("alice:") + kPassword});
            EXPECT_EQ(blocked.status, 429);
            EXPECT_EQ(blocked.header("Retry-After"), "60");
        }
        for (int i = 0; i < 100 && server_.ConnectionCount() > 0; ++i)
            QThread::msleep(20);
    }
    const QByteArray log = logText();
    EXPECT_EQ(log.count("BUILT-IN HTTP SERVER refuses 127.0.0.1 with 401. File "), 2 * 12)
        << log.constData();
    EXPECT_EQ(log.count(": no credentials"), 2 * 2);
    EXPECT_EQ(log.count(": wrong credentials"), 2 * 10);
    EXPECT_EQ(log.count("BUILT-IN HTTP SERVER refuses 127.0.0.1 with 429. File "), 2);
    for (const QByteArray& secret : {QByteArray("p@ss"), QByteArray("w7x9q")})
        EXPECT_FALSE(log.contains(secret)) << secret.constData();
    const std::vector<FetchEvent> events = fetches();
    int refused = 0;
    for (const FetchEvent& e : events)
        refused += e.status == 401 || e.status == 429;
    EXPECT_EQ(refused, 2 * 15);
}

// Bound to 127.0.0.1, clients come from 127.0.0.1 and from 127.0.0.2 as a second host.
TEST_F(ProtectedServing, OnlyListedAddressesDownload) {
    for (const bool https : {false, true}) {
        SCOPED_TRACE(https ? "https" : "http");
        start(https, Access("127.0.0.2, 10.0.0.0/8"));
        const QStringList trust = {"--cacert", tls_.certFile};
        const QString scheme = https ? "https" : "http";
        EXPECT_EQ(
            Curl(url("/cfg/a.cfg", scheme), QStringList{"--interface", "127.0.0.2"} << trust).body,
            "small answer");
        const CurlAnswer refused = Curl(url("/cfg/a.cfg", scheme), trust);
        EXPECT_EQ(refused.status, 403);
        EXPECT_FALSE(refused.body.contains("small"));
        EXPECT_EQ(Curl(url("/cfg/none", scheme), trust).status, 403);  // nothing told either
    }
    const QByteArray log = logText();
    EXPECT_EQ(log.count("BUILT-IN HTTP SERVER refuses 127.0.0.1 with 403. File "), 4)
        << log.constData();
    EXPECT_EQ(log.count("BUILT-IN HTTP SERVER responses to 127.0.0.2 with File "), 2);
    EXPECT_FALSE(log.contains("NOT exist"));
}

// The refusal's log line carries what the client sent escaped.
TEST_F(ProtectedServing, ARefusalsLogLineEscapesTheClientsPath) {
    start(false, Access("10.0.0.1"));
    EXPECT_TRUE(ExchangeRaw(server_.Port(), "GET /cfg/a%1b[31m%0a.cfg HTTP/1.1\r\nHost: a\r\n\r\n")
                    .startsWith("HTTP/1.1 403 "));
    const QByteArray log = logText();
    EXPECT_TRUE(log.contains("refuses 127.0.0.1 with 403. File ")) << log.constData();
    EXPECT_FALSE(log.contains('\x1b'));
    EXPECT_EQ(log.count('\n'), 1);
}

// The key and the credentials file below the root, reached by any name, and every name with a
// part beginning with "." are refused by each server (HTTP, HTTPS, TFTP), one log line each;
// the certificate is served. A hidden name is refused whether or not it exists.
TEST_F(ProtectedServing, NoServerHandsOutItsSecretsOrHiddenNames) {
    const TlsFiles inside{base_.file("htdocs/tls/server.crt"), base_.file("htdocs/tls/server.key")};
    QString error;
    QDir().mkpath(base_.file("htdocs/tls"));
    ASSERT_TRUE(MakeSelfSignedCertificate({"127.0.0.1"}, TlsKeyType::Ec, inside, &error))
        << error.toStdString();
    const QString credentials = base_.write("htdocs/auth.txt", "alice:secret\n");
    base_.write("htdocs/.htpasswd", "alice:x");
    base_.write("htdocs/.git/config", "[core]");
    base_.write("htdocs/cfg/.a.cfg.swp", "draft");
    ASSERT_TRUE(QFile::link("tls/server.key", base_.file("htdocs/key-link")));
    ASSERT_EQ(::link(inside.keyFile.toUtf8().constData(),
                     base_.file("htdocs/cfg/key-copy").toUtf8().constData()),
              0);
    const struct {
        std::string name;
        int status;  // 200 served, 403 refused by this rule, 404 by the root's own rule
    } cases[] = {
        {"tls/server.crt", 200}, {"cfg/a.cfg", 200},       {"cfg/./a.cfg", 200},
        {"tls/server.key", 403}, {"tls//server.key", 403}, {"tls/./server.key", 403},
        {"key-link", 403},       {"cfg/key-copy", 403},    {"auth.txt", 403},
        {".htpasswd", 403},      {".git/config", 403},     {"cfg/.a.cfg.swp", 403},
        {".none", 403},          {"cfg/..x", 403},         {"tls/../tls/server.key", 404},
    };
    const auto logged = [&](const QByteArray& subject, const std::string& name) {
        const QByteArray file = base_.file("htdocs/").toUtf8() + QByteArray::fromStdString(name);
        return logText().count(subject + file + ": ");
    };
    for (const bool https : {false, true}) {
        SCOPED_TRACE(https ? "https" : "http");
        server_.Stop();
        server_.SetWithheldFiles(https ? QStringList{credentials}
                                       : QStringList{credentials, inside.keyFile});
        server_.SetTls(https ? inside.certFile : QString(), https ? inside.keyFile : QString());
        server_.Start(0, "127.0.0.1");
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            const QString path = "/" + QString::fromStdString(c.name);
            const CurlAnswer answer =
                Curl(url(path, https ? "https" : "http"), {"--cacert", inside.certFile});
            EXPECT_EQ(answer.status, c.status);
            EXPECT_FALSE(answer.body.contains("PRIVATE KEY") || answer.body.contains("secret"));
            if (c.status == 403) {
                EXPECT_EQ(logged("BUILT-IN HTTP SERVER refuses 127.0.0.1 with 403. File ", c.name),
                          https ? 2 : 1);
            }
        }
        // The same names escaped: still refused.
        EXPECT_EQ(Curl(url("/cfg/%2e%61", https ? "https" : "http"), {"--cacert", inside.certFile})
                      .status,
                  403);
    }
    server_.Stop();

    MyTftpServer tftp(base_.file("htdocs"));
    tftp.SetLog(&log_);
    tftp.SetWithheldFiles({credentials, inside.keyFile});
    tftp.Start(0, "127.0.0.1");
    ASSERT_TRUE(tftp.IsActive());
    for (const auto& c : cases) {
        SCOPED_TRACE("tftp " + c.name);
        const TftpDownload download = DownloadByHand(tftp.Port(), c.name);
        EXPECT_EQ(download.complete, c.status == 200) << download.errorText;
        EXPECT_EQ(download.errorCode, c.status == 200 ? -1 : 2);  // access violation
        if (c.status == 403) {
            EXPECT_EQ(logged("BUILT-IN TFTP SERVER refuses 127.0.0.1 with error 2. File ", c.name),
                      1);
        }
    }
    EXPECT_EQ(DownloadByHand(tftp.Port(), "\\.git\\config").errorCode, 2);
    tftp.Stop();
    const QByteArray log = logText();
    EXPECT_TRUE(log.contains("tls/server.key: the server's key and credentials are never served"))
        << log.constData();
    EXPECT_TRUE(log.contains(".htpasswd: names beginning with \".\" are never served"));
    for (const FetchEvent& e : fetches()) {
        if (e.status == 403) {
            EXPECT_EQ(e.fileSize, -1) << e.path.toStdString();
        }
    }
}

TEST_F(ProtectedServing, TftpAnswersAnAddressNotOnTheListWithAnError) {
    MyTftpServer tftp(base_.file("htdocs"));
    tftp.SetLog(&log_);
    tftp.SetAccess(Access("127.0.0.2"));
    tftp.Start(0, "127.0.0.1");
    ASSERT_TRUE(tftp.IsActive());
    const TftpDownload refused = DownloadByHand(tftp.Port(), "cfg/a.cfg");
    EXPECT_FALSE(refused.complete);
    EXPECT_EQ(refused.errorCode, 2);  // access violation
    EXPECT_TRUE(refused.data.empty());

    // From the listed address the file comes.
    TftpSocket second("127.0.0.2");
    second.Send(tftp.Port(), RequestPacket("cfg/a.cfg"));
    std::string packet;
    uint16_t from = 0;
    ASSERT_TRUE(second.Receive(&packet, &from, 3000));
    EXPECT_EQ(PacketOpcode(packet), 3);  // DATA
    EXPECT_EQ(packet.substr(4), "small answer");
    second.Send(from, AckPacket(1));
    tftp.Stop();
    const QByteArray log = logText();
    EXPECT_TRUE(log.contains("BUILT-IN TFTP SERVER refuses 127.0.0.1 with error 2. File ") &&
                log.contains("cfg/a.cfg: address not allowed"))
        << log.constData();
    EXPECT_TRUE(log.contains("BUILT-IN TFTP SERVER responses to 127.0.0.2 with File "));
}

}  // namespace
