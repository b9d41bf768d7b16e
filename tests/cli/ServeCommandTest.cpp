#include "support/HttpClient.h"
#include "support/QtPrinters.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <csignal>

namespace {

// orvo-cli serve on an ephemeral loopback port; the port is read from its first line.
class ServeCommand : public ::testing::Test {
  protected:
    void start(const QStringList& extra = {}) {
        process_.start(BuiltProgram("orvo-cli"), QStringList{"serve", "--root", dir_.path(),
                                                             "--port", "0", "--bind", "127.0.0.1"} +
                                                     extra);
        ASSERT_TRUE(process_.waitForStarted(10000));
        while (!output_.contains('\n') && process_.waitForReadyRead(10000))
            output_ += process_.readAllStandardOutput();
        const auto match = QRegularExpression("Built-in HTTP Server started! Port: (\\d+)\n")
                               .match(QString::fromUtf8(output_));
        ASSERT_TRUE(match.hasMatch()) << output_.toStdString();
        port_ = match.captured(1).toUShort();
    }
    // Sends the signal and gives everything printed until the exit.
    QByteArray stop(int signal) {
        const qint64 pid = process_.processId();
        if (pid <= 0) {
            ADD_FAILURE() << "orvo-cli is not running";
            return output_;
        }
        ::kill(pid_t(pid), signal);
        EXPECT_TRUE(process_.waitForFinished(10000));
        return output_ + process_.readAllStandardOutput();
    }
    QString url(const QString& path) const {
        return QString("http://127.0.0.1:%1%2").arg(port_).arg(path);
    }
    void TearDown() override {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(10000);
        }
    }

    TempDir dir_;
    QProcess process_;
    QByteArray output_;
    quint16 port_ = 0;
};

TEST_F(ServeCommand, ServesAndPrintsEachLogLineUntilSignalled) {
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        output_.clear();
        dir_.write("cfg/cfg02e5d2aabbcc", "Flag=5678&CheckSum=0&end");
        start();
        if (HasFatalFailure())
            return;
        const CurlAnswer found = Curl(url("/cfg/cfg02e5d2aabbcc"));
        EXPECT_EQ(found.status, 200);
        EXPECT_EQ(found.body, "Flag=5678&CheckSum=0&end");
        EXPECT_EQ(Curl(url("/cfg/none")).status, 404);

        // An idle connection does not delay the end.
        const int idle = ConnectLoopback(port_);
        const QByteArray out = stop(signal);
        EXPECT_EQ(process_.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process_.exitCode(), 0);
        if (idle >= 0)
            ::close(idle);

        const QString root = dir_.path();
        const QStringList expected = {
            "Built-in HTTP Server started! Port: " + QString::number(port_),
            "BUILT-IN HTTP SERVER responses to 127.0.0.1 with File " + root +
                "/cfg/cfg02e5d2aabbcc",
            "BUILT-IN HTTP SERVER responses to 127.0.0.1 with 404. File " + root +
                "/cfg/none NOT exist!",
            "Built-in HTTP Server stopped!",
        };
        const QStringList lines = QString::fromUtf8(out).split('\n', Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), expected.size()) << out.toStdString();
        for (int i = 0; i < lines.size(); ++i) {
            // "<date> <time> <message>"
            EXPECT_TRUE(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d ")
                            .match(lines[i])
                            .hasMatch())
                << lines[i].toStdString();
            EXPECT_EQ(lines[i].mid(20), expected[i]);
        }
    }
}

// --tftp-port alone runs the TFTP server, with both ports both servers run; each prints its
// lines.
TEST_F(ServeCommand, ServesByTftpAloneOrBesideHttp) {
    dir_.write("cfg/cfg02e5d2aabbcc", "Flag=5678&CheckSum=0&end");
    const QString root = dir_.path();
    for (const bool withHttp : {false, true}) {
        SCOPED_TRACE(withHttp);
        QStringList args = {"serve", "--root", root, "--tftp-port", "0", "--bind", "127.0.0.1"};
        if (withHttp)
            args << "--port"
                 << "0";
        output_.clear();
        process_.start(BuiltProgram("orvo-cli"), args);
        ASSERT_TRUE(process_.waitForStarted(10000));
        while (!output_.contains("TFTP Server started! Port: ") && process_.waitForReadyRead(10000))
            output_ += process_.readAllStandardOutput();
        const auto tftp = QRegularExpression("Built-in TFTP Server started! Port: (\\d+)\n")
                              .match(QString::fromUtf8(output_));
        ASSERT_TRUE(tftp.hasMatch()) << output_.toStdString();
        const QString tftpPort = tftp.captured(1);
        QByteArray got;
        EXPECT_EQ(RunProgram("curl",
                             {"-s", "tftp://127.0.0.1:" + tftpPort + "/cfg/cfg02e5d2aabbcc"}, &got),
                  0);
        EXPECT_EQ(got, "Flag=5678&CheckSum=0&end");
        EXPECT_NE(RunProgram("curl", {"-s", "tftp://127.0.0.1:" + tftpPort + "/cfg/none"}), 0);
        if (withHttp) {
            const auto http = QRegularExpression("Built-in HTTP Server started! Port: (\\d+)\n")
                                  .match(QString::fromUtf8(output_));
            ASSERT_TRUE(http.hasMatch()) << output_.toStdString();
            port_ = http.captured(1).toUShort();
            EXPECT_EQ(Curl(url("/cfg/cfg02e5d2aabbcc")).body, "Flag=5678&CheckSum=0&end");
        }
        const QByteArray out = stop(SIGTERM);
        EXPECT_EQ(process_.exitCode(), 0);
        QStringList expected = {
            "Built-in TFTP Server started! Port: " + tftpPort,
            "BUILT-IN TFTP SERVER responses to 127.0.0.1 with File " + root +
                "/cfg/cfg02e5d2aabbcc",
            "BUILT-IN TFTP SERVER responses to 127.0.0.1 with error 1. File " + root +
                "/cfg/none NOT exist!",
        };
        if (withHttp)
            expected << "BUILT-IN HTTP SERVER responses to 127.0.0.1 with File " + root +
                            "/cfg/cfg02e5d2aabbcc"
                     << "Built-in HTTP Server stopped!";
        expected << "Built-in TFTP Server stopped!";
        QStringList messages;
        for (const QString& line : QString::fromUtf8(out).split('\n', Qt::SkipEmptyParts))
            if (!line.contains("HTTP Server started!"))
                messages << line.mid(20);
        EXPECT_EQ(messages, expected) << out.toStdString();
    }
}

TEST_F(ServeCommand, RefusesBadArgumentsAndBusyPorts) {
    start();
    if (HasFatalFailure())
        return;
    const QString busy = QString::number(port_);
    // A value not of its option's form is a usage error (2), the work failing exits 1.
    const struct {
        QStringList args;
        QString problem;
        int code;
    } cases[] = {
        {{"--root", dir_.path(), "--port", busy, "--bind", "127.0.0.1"},
         "cannot listen on port",
         1},
        {{"--root", dir_.file("missing"), "--port", "0"}, "is not a folder", 1},
        {{"--root", dir_.path(), "--port", "65536"}, "--port must be", 2},
        {{"--root", dir_.path(), "--port", "http"}, "--port must be", 2},
        {{"--root", "", "--port", "0"}, "option '--root' is empty", 2},
        {{"--root", dir_.path(), "--tftp-port", "65536"}, "--tftp-port must be", 2},
        {{"--root", dir_.path(), "--tftp-port", "x", "--port", "0"}, "--tftp-port must be", 2},
        {{"--root", dir_.path(), "--tftp-port", "0", "--bind", "nowhere"}, "not an IP address", 2},
        {{"--root", dir_.path(), "--port", "0", "--bind", "nowhere"}, "not an IP address", 2},
        {{"--root", dir_.path(), "--port", "0", "--bind", "192.0.2.1"}, "cannot listen", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        QByteArray err;
        EXPECT_EQ(
            RunProgram(BuiltProgram("orvo-cli"), QStringList{"serve"} + c.args, nullptr, &err),
            c.code);
        EXPECT_TRUE(err.contains(c.problem.toUtf8())) << err.toStdString();
    }
    stop(SIGTERM);
}

// Nobody reads the program's output while it serves (the test handles no events, so the pipe
// fills): serving goes on, and every line is printed once the output is read.
TEST_F(ServeCommand, ServingGoesOnWhileTheOutputIsNotRead) {
    dir_.write("cfg/cfg02e5d2aabbcc", "Flag=5678&CheckSum=0&end");
    start();
    if (HasFatalFailure())
        return;
    constexpr int kRequests = 1500;  // far more log text than a pipe holds
    for (int i = 0; i < kRequests; ++i) {
        const QByteArray answer =
            ExchangeRaw(port_, "GET /cfg/cfg02e5d2aabbcc HTTP/1.1\r\nHost: a\r\n\r\n");
        ASSERT_TRUE(answer.startsWith("HTTP/1.1 200"))
            << "request " << i << ": " << answer.toStdString();
    }
    const QByteArray out = stop(SIGTERM);
    EXPECT_EQ(out.count("responses to 127.0.0.1 with File "), kRequests);
    EXPECT_TRUE(out.endsWith("Built-in HTTP Server stopped!\n")) << out.right(200).toStdString();
}

}  // namespace

namespace {

QString Fingerprint(const QString& cert) {
    QByteArray out;
    RunProgram("openssl", {"x509", "-in", cert, "-noout", "-fingerprint", "-sha256"}, &out);
    return QString::fromUtf8(out.trimmed()).section('=', 1);
}

}  // namespace

// orvo-cli cert makes the pair; serve takes it with an allow-list and credentials from a file;
// curl trusts the pair, and the second loopback address is refused.
TEST_F(ServeCommand, ServesHttpsWithAMadePairAnAllowListAndCredentials) {
    TempDir tls;
    QByteArray certOut, certErr;
    ASSERT_EQ(RunProgram(BuiltProgram("orvo-cli"),
                         {"cert", "--address", "127.0.0.1,phones.example", "--out", tls.path()},
                         &certOut, &certErr),
              0)
        << certErr.toStdString();
    const QString cert = tls.file("server.crt"), key = tls.file("server.key");
    EXPECT_TRUE(certOut.contains("SHA-256 fingerprint: " + Fingerprint(cert).toUtf8()))
        << certOut.toStdString();
    EXPECT_TRUE(certOut.contains("public key pin: sha256//"));
    struct stat keyStat {};
    ASSERT_EQ(::stat(QFile::encodeName(key).constData(), &keyStat), 0);
    EXPECT_EQ(keyStat.st_mode & 0777, 0600u);
    QByteArray san;
    RunProgram("openssl", {"x509", "-in", cert, "-noout", "-ext", "subjectAltName"}, &san);
    EXPECT_TRUE(san.contains("IP Address:127.0.0.1, DNS:phones.example")) << san.toStdString();
    // A second run keeps the pair unless told to replace it.
    QByteArray err;
    EXPECT_EQ(RunProgram(BuiltProgram("orvo-cli"),
                         {"cert", "--address", "127.0.0.1", "--out", tls.path()}, nullptr, &err),
              1);
    EXPECT_TRUE(err.contains("exists (--overwrite replaces it)")) << err.toStdString();

    dir_.write("cfg/cfg02e5d2aabbcc", "Flag=5678&CheckSum=0&end");
    const QString authFile = tls.write("auth", "phone:s3cr3t pass\n");
    start(
        {"--tls-cert", cert, "--tls-key", key, "--allow", "127.0.0.1/32", "--auth-file", authFile});
    if (HasFatalFailure())
        return;
    const QString url = QString("https://127.0.0.1:%1/cfg/cfg02e5d2aabbcc").arg(port_);
    const QStringList trust = {"--cacert", cert};
    EXPECT_EQ(Curl(url, QStringList{"--user", "phone:s3cr3t pass"} << trust).body,
              "Flag=5678&CheckSum=0&end");
    EXPECT_EQ(Curl(url, trust).status, 401);
    EXPECT_EQ(
        Curl(url, QStringList{"--user", "phone:s3cr3t pass", "--interface", "127.0.0.2"} << trust)
            .status,
        403);
    const QByteArray out = stop(SIGTERM);
    EXPECT_EQ(process_.exitCode(), 0);
    for (const QByteArray& line :
         {"Built-in HTTP Server: HTTPS, certificate " + cert.toUtf8() + ", SHA-256 " +
              Fingerprint(cert).toUtf8(),
          QByteArray("Built-in HTTP Server: downloads allowed from 127.0.0.1"),
          QByteArray("Built-in HTTP Server: credentials required, user phone"),
          QByteArray("BUILT-IN HTTP SERVER refuses 127.0.0.1 with 401. File "),
          QByteArray("BUILT-IN HTTP SERVER refuses 127.0.0.2 with 403. File ")})
        EXPECT_TRUE(out.contains(line)) << line.constData() << "\n" << out.toStdString();
    EXPECT_FALSE(out.contains("s3cr3t"));
}

// Key and credentials file kept below the served folder: never handed out, the certificate is.
TEST_F(ServeCommand, NeverServesItsKeyOrCredentialsFile) {
    QDir().mkpath(dir_.file("tls"));
    ASSERT_EQ(RunProgram(BuiltProgram("orvo-cli"),
                         {"cert", "--address", "127.0.0.1", "--out", dir_.file("tls")}),
              0);
    const QString cert = dir_.file("tls/server.crt");
    const QString authFile = dir_.write("auth.txt", "phone:s3cr3t\n");
    start({"--tls-cert", cert, "--tls-key", dir_.file("tls/server.key"), "--auth-file", authFile});
    if (HasFatalFailure())
        return;
    const QStringList withUser = {"--cacert", cert, "--user", "phone:s3cr3t"};
    const auto status = [&](const QString& path) {
        return Curl(QString("https://127.0.0.1:%1%2").arg(port_).arg(path), withUser).status;
    };
    EXPECT_EQ(status("/tls/server.crt"), 200);
    EXPECT_EQ(status("/tls/server.key"), 403);
    EXPECT_EQ(status("/auth.txt"), 403);
    const QByteArray out = stop(SIGTERM);
    EXPECT_EQ(out.count("the server's key and credentials are never served"), 2)
        << out.toStdString();
}

TEST_F(ServeCommand, RefusesProtectionArgumentsThatDoNotGoTogether) {
    TempDir tls;
    ASSERT_EQ(RunProgram(BuiltProgram("orvo-cli"),
                         {"cert", "--address", "127.0.0.1", "--out", tls.path(), "--type", "rsa"}),
              0);
    const QString cert = tls.file("server.crt"), key = tls.file("server.key");
    const QString root = dir_.path();
    const struct {
        QStringList args;
        QString problem;
    } cases[] = {
        {{"--tls-cert", cert}, "--tls-cert and --tls-key go together"},
        {{"--tls-cert", cert, "--tls-key", cert}, "server.crt"},
        {{"--tls-cert", key, "--tls-key", key}, "server.key"},
        {{"--tls-cert", tls.file("none"), "--tls-key", key}, tls.file("none") + ": no such file"},
        {{"--allow", "10.0.0.0/8,example.org"}, "LAllowListError1: not an IPv4 address"},
        {{"--allow", "10.0.0.1/33"}, "10.0.0.1/33"},
        {{"--auth", "nocolon"}, "--auth expects USER:PASSWORD"},
        {{"--auth", "user:"}, "LAuthError1"},
        {{"--auth", "a:b", "--auth-file", tls.file("none")}, "exclude each other"},
        {{"--auth-file", tls.file("none")}, "none"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        QByteArray err;
        const int code = RunProgram(
            BuiltProgram("orvo-cli"),
            QStringList{"serve", "--root", root, "--port", "0", "--bind", "127.0.0.1"} + c.args,
            nullptr, &err);
        EXPECT_NE(code, 0);
        EXPECT_TRUE(err.contains(c.problem.toUtf8())) << err.toStdString();
    }
}
