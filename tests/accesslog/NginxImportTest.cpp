// A real nginx, started with the example configuration of packaging/linux/examples on a loopback
// port, serves a batch's output under /cfg; curl downloads (whole, cut off by a client that
// leaves early, a HEAD, a phone not in the batch, a path outside /cfg); orvo-cli record import
// reads nginx's log into the record, once however often it is imported, and the phones' states
// follow from it; --follow reads on across a rename rotation (nginx reopening its log) and a
// copy-truncate, and a follower killed and started again records each line once.
#include "record/ProvisioningRecord.h"
#include "support/LoopbackMulticast.h"
#include "support/Sqlite3Cli.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>
#include <functional>

namespace {

const QString kPhoneA = "0a1b2c3d4e01", kPhoneB = "0a1b2c3d4e02", kPhoneC = "0a1b2c3d4e03",
              kStranger = "0a1b2c3d4e09";

// Waits up to 20 s for a condition; the machine may be busy.
bool eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 200; ++i) {
        if (condition())
            return true;
        QThread::msleep(100);
    }
    return condition();
}

int lineCount(const QString& path) {
    return int(ReadFileBytes(path).count('\n'));
}

// nginx as a child process with the example server block, on 127.0.0.1 only.
class Nginx {
  public:
    ~Nginx() {
        if (process_.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(process_.processId()), SIGTERM);
        if (!process_.waitForFinished(10000))
            process_.kill();
        process_.waitForFinished(5000);
    }

    // The example with its port, root and log put where this test wants them.
    bool start(const QString& dir, const QString& root, const QString& log, QString* problem) {
        QByteArray server =
            ReadFileBytes(SourcePath("packaging/linux/examples/nginx-provisioning.conf"));
        for (int attempt = 0; attempt < 5; ++attempt) {
            port_ = FreeLoopbackPort(SOCK_STREAM);
            QByteArray conf = server;
            const std::pair<QByteArray, QByteArray> replaced[] = {
                {"listen 80;", "listen 127.0.0.1:" + QByteArray::number(port_) + ";"},
                {"root /srv/orvo-provision-tool;", "root " + QFile::encodeName(root) + ";"},
                {"/var/log/nginx/orvo-provisioning.access.log", QFile::encodeName(log)},
            };
            for (const auto& [from, to] : replaced) {
                if (!conf.contains(from)) {
                    *problem = "the example holds no '" + QString(from) + "'";
                    return false;
                }
                conf.replace(from, to);
            }
            const QByteArray d = QFile::encodeName(dir);
            QDir().mkpath(dir + "/temp");
            TempDirWrite(dir + "/server.conf", conf);
            QByteArray main;
            if (geteuid() == 0)
                main += "user root;\n";  // the workers read the test's private folder
            main += "worker_processes 1;\ndaemon off;\npid " + d + "/nginx.pid;\nerror_log " + d +
                    "/error.log warn;\nevents { worker_connections 64; }\nhttp {\n"
                    "  client_body_temp_path " +
                    d +
                    "/temp/body;\n"
                    "  proxy_temp_path " +
                    d +
                    "/temp/proxy;\n"
                    "  fastcgi_temp_path " +
                    d +
                    "/temp/fastcgi;\n"
                    "  uwsgi_temp_path " +
                    d +
                    "/temp/uwsgi;\n"
                    "  scgi_temp_path " +
                    d +
                    "/temp/scgi;\n"
                    "  include " +
                    d + "/server.conf;\n}\n";
            TempDirWrite(dir + "/nginx.conf", main);
            process_.setProgram(QStandardPaths::findExecutable("nginx", {"/usr/sbin", "/usr/bin"}));
            process_.setArguments({"-p", dir, "-c", dir + "/nginx.conf"});
            process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
            process_.start();
            if (!process_.waitForStarted(5000)) {
                *problem = "nginx does not start (scripts/install-deps test installs it)";
                return false;
            }
            if (eventually([&] {
                    return process_.state() != QProcess::Running ||
                           RunProgram("curl", {"-s", "-o", "/dev/null", url("/")}) == 0;
                }) &&
                process_.state() == QProcess::Running)
                return true;
            process_.waitForFinished(5000);  // the port was taken meanwhile: another
        }
        *problem = "nginx does not answer: " + QString::fromUtf8(ReadFileBytes(dir + "/error.log"));
        return false;
    }

    QString url(const QString& path) const {
        return "http://127.0.0.1:" + QString::number(port_) + path;
    }
    // nginx opens its log anew (after the log was renamed).
    void reopenLogs() { ::kill(pid_t(process_.processId()), SIGUSR1); }

  private:
    static void TempDirWrite(const QString& path, const QByteArray& bytes) {
        QFile f(path);
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(bytes);
    }

    QProcess process_;
    int port_ = 0;
};

class NginxImport : public ::testing::Test {
  protected:
    void SetUp() override {
        root = dir.path() + "/www";
        QDir().mkpath(root + "/cfg");
        log = dir.file("logs/access.log");
        QDir().mkpath(dir.file("logs"));
        record = dir.file("db/provisioning.sqlite");
        // The batch: two small files and one of 16 MB, far more than a slow reader's connection
        // holds in its buffers (the server's send buffer alone takes up to 4 MB), so that a
        // client leaving early cuts it.
        const QString tpl =
            dir.write("t.bin", "Flag=5678&CheckSum=0&P2=admin&P35={$username.line.1}&end");
        const QString csv =
            dir.write("a.csv", "MAC,{$username.line.1}\r\n" + kPhoneA.toUtf8() + ",alice\r\n" +
                                   kPhoneB.toUtf8() + ",bob\r\n" + kPhoneC.toUtf8() + "," +
                                   QByteArray(16 << 20, 'c') + "\r\n");
        QByteArray err;
        ASSERT_EQ(RunProgram(BuiltProgram("orvo-cli"),
                             {"batch", "--template", tpl, "--csv", csv, "--mode", "mac", "--format",
                              "bin", "--out", root + "/cfg", "--record", record},
                             nullptr, &err),
                  0)
            << err.toStdString();
        // A log line tells its second only: the downloads come in a second after the batch's.
        const std::time_t batched = std::time(nullptr);
        while (std::time(nullptr) <= batched)
            QThread::msleep(20);
        QString problem;
        ASSERT_TRUE(nginx.start(dir.file("nginx"), root, log, &problem)) << problem.toStdString();
        // The probes of start are no downloads of this test.
        ASSERT_TRUE(QFile::resize(log, 0));
    }

    // curl's exit status.
    int curl(const QStringList& args, const QString& path) {
        return RunProgram(
            "curl", QStringList{"-s", "-o", "/dev/null"} + args + QStringList{nginx.url(path)});
    }
    qint64 size(const QString& phone) const { return QFileInfo(root + "/cfg/cfg" + phone).size(); }

    int import(QByteArray* out, QByteArray* err, const QStringList& logs) {
        return RunProgram(
            BuiltProgram("orvo-cli"),
            QStringList{"record", "import", "--record", record, "--strip", "/cfg"} + logs, out,
            err);
    }
    QStringList fetches() const {
        return Sqlite3Rows(record,
                           "SELECT phone, peer, path, status, bytes, protocol, "
                           "user_agent FROM fetches");
    }
    int fetchCount() const { return Sqlite3Value(record, "SELECT count(*) FROM fetches").toInt(); }
    // Each phone and its state, as orvo-cli status prints them.
    QStringList states() const {
        QByteArray out, err;
        if (RunProgram(BuiltProgram("orvo-cli"), {"status", "--record", record}, &out, &err) != 0)
            return {"status failed: " + QString::fromUtf8(err)};
        QStringList rows;
        for (const QByteArray& line : out.split('\n'))
            if (!line.isEmpty())
                rows << QString::fromUtf8(line).section('\t', 0, 1).replace('\t', '|');
        return rows;
    }
    // orvo-cli record import --follow of the log.
    void startFollower(QProcess& follower) {
        follower.start(BuiltProgram("orvo-cli"), {"record", "import", "--record", record, "--strip",
                                                  "/cfg", "--follow", log});
        ASSERT_TRUE(follower.waitForStarted(5000));
    }

    TempDir dir;
    QString root, log, record;
    Nginx nginx;
};

TEST_F(NginxImport, DownloadsOfTheLogAreRecordedOnce) {
    QByteArray agentOut;
    ASSERT_EQ(RunProgram("curl", {"--version"}, &agentOut), 0);
    const QString agent = "curl/" + QString::fromUtf8(agentOut).section(' ', 1, 1);
    const QByteArray before = RecordTime(qint64(std::time(nullptr)) * 1000);

    EXPECT_EQ(curl({}, "/cfg/cfg" + kPhoneA), 0);
    EXPECT_EQ(curl({}, "/cfg/cfg" + kPhoneB), 0);
    // A client that leaves after a second, having taken a little of the 16 MB.
    EXPECT_EQ(curl({"--limit-rate", "16K", "--max-time", "1"}, "/cfg/cfg" + kPhoneC), 28);
    EXPECT_EQ(curl({"-I"}, "/cfg/cfg" + kPhoneA), 0);
    EXPECT_EQ(curl({"-f"}, "/cfg/cfg" + kStranger), 22);  // 404: not in the batch
    EXPECT_EQ(curl({"-f"}, "/index.html"), 22);           // outside /cfg
    ASSERT_TRUE(eventually([&] { return lineCount(log) == 6; })) << lineCount(log);
    QFile f(log);
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write("this is no line of nginx\n\"GET /cfg/cfg0a1b2c3d4e01\" 200\n");
    f.close();

    QByteArray out, err;
    ASSERT_EQ(import(&out, &err, {log}), 0) << err.toStdString();
    EXPECT_EQ(out, log.toUtf8() + ": 8 new lines, 5 recorded, 1 naming no file below /cfg\n");
    EXPECT_EQ(err,
              "orvo-cli: " + log.toUtf8() + ": skipped 2 lines that are not in combined format\n");
    const QStringList rows = fetches();
    ASSERT_EQ(rows.size(), 5) << rows.join('\n').toStdString();
    const QString external = "|external|" + agent;
    EXPECT_EQ(rows[0], kPhoneA + "|127.0.0.1|cfg" + kPhoneA + "|200|" +
                           QString::number(size(kPhoneA)) + external);
    EXPECT_EQ(rows[1], kPhoneB + "|127.0.0.1|cfg" + kPhoneB + "|200|" +
                           QString::number(size(kPhoneB)) + external);
    // The cut-off download: 200, and fewer bytes than the file has.
    const QStringList cut = rows[2].split('|');
    EXPECT_EQ(cut.mid(0, 4), (QStringList{kPhoneC, "127.0.0.1", "cfg" + kPhoneC, "200"}));
    EXPECT_LT(cut[4].toLongLong(), size(kPhoneC));
    EXPECT_EQ(rows[3], kPhoneA + "|127.0.0.1|cfg" + kPhoneA + "|200|0" + external);  // the HEAD
    EXPECT_EQ(rows[4].section('|', 0, 3), kStranger + "|127.0.0.1|cfg" + kStranger + "|404");
    // Times as the record writes them, from nginx's own with its offset.
    const QByteArray after = RecordTime(qint64(std::time(nullptr)) * 1000);
    for (const QString& time : Sqlite3Rows(record, "SELECT time FROM fetches")) {
        EXPECT_GE(time.toUtf8(), before);
        EXPECT_LE(time.toUtf8(), after);
    }

    // Each phone where its downloads left it: the whole ones fetched (the HEAD after one is no
    // fetch), the one cut off failed, the phone not in the batch unknown. Each download's source
    // is the log.
    const QStringList expected{kPhoneA + "|fetched", kPhoneB + "|fetched", kPhoneC + "|failed",
                               kStranger + "|unknown phone"};
    EXPECT_EQ(states(), expected);
    EXPECT_EQ(Sqlite3Rows(record,
                          "SELECT phone, fetch_method, fetch_status, fetch_source FROM "
                          "phone_status ORDER BY phone"),
              (QStringList{kPhoneA + "|GET|200|" + log, kPhoneB + "|GET|200|" + log,
                           kPhoneC + "|GET|200|" + log, kStranger + "|GET|404|" + log}));

    // Imported again: nothing new.
    ASSERT_EQ(import(&out, &err, {log}), 0);
    EXPECT_EQ(out, log.toUtf8() + ": 0 new lines, 0 recorded, 0 naming no file below /cfg\n");
    EXPECT_TRUE(err.isEmpty()) << err.toStdString();
    EXPECT_EQ(fetchCount(), 5);
    EXPECT_EQ(states(), expected);
}

// A follower killed (SIGKILL) while nginx serves a stream of downloads, then started again: each
// line of the log is recorded once, none lost, none twice.
TEST_F(NginxImport, AFollowerKilledAndStartedAgainRecordsEachLineOnce) {
    constexpr int kRequests = 3000;
    QProcess first;
    startFollower(first);
    // One client asking for phone A's file again and again, 1,000 requests a second for three
    // seconds, each request a line of its own.
    QProcess client;
    client.setStandardOutputFile(QProcess::nullDevice());
    client.start("curl",
                 {"-s", "-f", "--rate", "1000/s",
                  nginx.url("/cfg/cfg" + kPhoneA + "?[1-" + QString::number(kRequests) + "]")});
    ASSERT_TRUE(client.waitForStarted(5000));
    ASSERT_TRUE(eventually([&] { return fetchCount() >= 300; }));
    ::kill(pid_t(first.processId()), SIGKILL);
    ASSERT_TRUE(first.waitForFinished(10000));
    EXPECT_EQ(first.exitStatus(), QProcess::CrashExit);
    const int atKill = fetchCount();

    QProcess second;
    startFollower(second);
    ASSERT_TRUE(client.waitForFinished(60000));
    EXPECT_EQ(client.exitCode(), 0);
    ASSERT_TRUE(eventually([&] { return lineCount(log) == kRequests; })) << lineCount(log);
    EXPECT_TRUE(eventually([&] { return fetchCount() >= kRequests; })) << fetchCount();
    QThread::msleep(500);  // two more looks of the follower: nothing more comes
    EXPECT_EQ(fetchCount(), kRequests) << "killed after " << atKill;
    ::kill(pid_t(second.processId()), SIGTERM);
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();

    QByteArray out, err;
    ASSERT_EQ(import(&out, &err, {log}), 0) << err.toStdString();
    EXPECT_TRUE(out.contains(": 0 new lines")) << out.toStdString();
    EXPECT_EQ(fetchCount(), kRequests);
    EXPECT_EQ(Sqlite3Value(record, "SELECT offset FROM log_cursors").toLongLong(),
              QFileInfo(log).size());
    EXPECT_EQ(states(), (QStringList{kPhoneA + "|fetched", kPhoneB + "|file ready",
                                     kPhoneC + "|file ready"}));
}

TEST_F(NginxImport, AFollowerReadsAcrossRenameRotationAndCopyTruncate) {
    EXPECT_EQ(curl({}, "/cfg/cfg" + kPhoneA), 0);
    ASSERT_TRUE(eventually([&] { return lineCount(log) == 1; }));

    QProcess follower;
    follower.start(BuiltProgram("orvo-cli"),
                   {"record", "import", "--record", record, "--strip", "/cfg", "--follow", log});
    ASSERT_TRUE(follower.waitForStarted(5000));
    EXPECT_TRUE(eventually([&] { return fetchCount() == 1; })) << fetchCount();
    EXPECT_EQ(curl({}, "/cfg/cfg" + kPhoneB), 0);
    EXPECT_TRUE(eventually([&] { return fetchCount() == 2; })) << fetchCount();

    // Rotated by rename: nginx writes to the renamed file until it reopens its log.
    ASSERT_TRUE(QFile::rename(log, log + ".1"));
    EXPECT_EQ(curl({}, "/cfg/cfg" + kPhoneA), 0);
    nginx.reopenLogs();
    ASSERT_TRUE(eventually([&] { return QFile::exists(log); }));
    EXPECT_EQ(curl({}, "/cfg/cfg" + kPhoneB), 0);
    EXPECT_TRUE(eventually([&] { return fetchCount() == 4; })) << fetchCount();

    // Copied and truncated: nginx appends at the new end.
    ASSERT_TRUE(QFile::copy(log, log + ".2"));
    ASSERT_TRUE(QFile::resize(log, 0));
    EXPECT_EQ(curl({"-f"}, "/cfg/cfg" + kStranger), 22);
    EXPECT_TRUE(eventually([&] { return fetchCount() == 5; })) << fetchCount();

    ::kill(pid_t(follower.processId()), SIGTERM);
    ASSERT_TRUE(follower.waitForFinished(10000));
    EXPECT_EQ(follower.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(follower.exitCode(), 0) << follower.readAllStandardError().toStdString();
    const QByteArray out = follower.readAllStandardOutput();
    EXPECT_TRUE(out.contains("Following " + log.toUtf8())) << out.toStdString();
    EXPECT_TRUE(out.contains(log.toUtf8() + " was rotated: reading the new file"));
    EXPECT_TRUE(out.contains(log.toUtf8() + " was truncated: reading it anew"));
    EXPECT_TRUE(out.contains(log.toUtf8() + ": 5 new lines, 5 recorded")) << out.toStdString();

    // The rotated files, one of them compressed, hold nothing that was not recorded.
    ASSERT_EQ(RunProgram("gzip", {log + ".1"}), 0);
    QByteArray importOut, err;
    ASSERT_EQ(import(&importOut, &err, {log + ".1.gz", log + ".2", log}), 0) << err.toStdString();
    EXPECT_EQ(importOut.count(": 0 new lines, 0 recorded"), 3) << importOut.toStdString();
    EXPECT_EQ(Sqlite3Rows(record, "SELECT phone, status FROM fetches"),
              (QStringList{kPhoneA + "|200", kPhoneB + "|200", kPhoneA + "|200", kPhoneB + "|200",
                           kStranger + "|404"}));
}

}  // namespace
