// --record FILE of the orvo-cli commands and orvo-cli status, on record files in temporary
// folders, read back with the sqlite3 program; downloads by curl and by a bounded storm of
// loopback requests.
#include "support/LoopbackMulticast.h"
#include "support/LoopbackPhone.h"
#include "support/QtPrinters.h"
#include "support/Sqlite3Cli.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <mutex>
#include <thread>
#include <vector>

namespace {

struct CliRun {
    int code = -1;
    QByteArray out, err;
};

CliRun Cli(const QStringList& args) {
    CliRun r;
    r.code = RunProgram(BuiltProgram("orvo-cli"), args, &r.out, &r.err);
    return r;
}

// orvo-cli serve or pnp in the background until signalled. Its output goes to a file, so that
// a command printing a line per download never waits for this test to read them.
class Background {
  public:
    explicit Background(const QStringList& args) {
        process_.setStandardOutputFile(output_.file("out"));
        process_.start(BuiltProgram("orvo-cli"), args);
        process_.waitForStarted(10000);
    }
    ~Background() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(10000);
        }
    }
    // The last group of the first match of pattern in the output (waiting up to 10 s).
    QString WaitFor(const QString& pattern) {
        const QRegularExpression re(pattern);
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 10000) {
            const auto m = re.match(QString::fromUtf8(ReadFileBytes(output_.file("out"))));
            if (m.hasMatch())
                return m.captured(m.lastCapturedIndex());
            if (process_.state() == QProcess::NotRunning)
                break;
            process_.waitForFinished(50);
        }
        return {};
    }
    int Stop(int signal = SIGTERM) {
        ::kill(pid_t(process_.processId()), signal);
        process_.waitForFinished(10000);
        err_ += process_.readAllStandardError();
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }
    QByteArray Err() {
        err_ += process_.readAllStandardError();
        return err_;
    }

  private:
    TempDir output_;
    QProcess process_;
    QByteArray err_;
};

int Curl(const QString& url, const QStringList& extra = {}) {
    QByteArray out;
    RunProgram("curl", QStringList{"-s", "-o", "/dev/null", "-w", "%{http_code}", url} + extra,
               &out);
    return out.toInt();
}

class RecordCommands : public ::testing::Test {
  protected:
    TempDir dir;
    QString record = dir.file("db/provisioning.sqlite");
};

// The road of three phones of a CSV, and one outside it, through batch, serve and status.
TEST_F(RecordCommands, BatchServeAndStatusFollowEachPhone) {
    const QString root = dir.file("htdocs");
    const QString cfg = root + "/cfg";
    QDir().mkpath(cfg);
    const QString tpl = dir.write("template.bin", "Flag=5678&CheckSum=0&P410={$pw}&end");
    const QString csv = dir.write(
        "phones.csv", "MAC,{$pw}\r\n0A1B2C000001,a\r\n0a-1b-2c-00-00-02,b\r\n0a1b2c000003,c\r\n");
    const CliRun batch = Cli({"batch", "--template", tpl, "--csv", csv, "--mode", "mac", "--format",
                              "bin", "--out", cfg, "--record", record});
    ASSERT_EQ(batch.code, 0) << batch.err.toStdString();
    // A MAC with separators gets the name its phone asks for, and stderr says so.
    EXPECT_EQ(Sqlite3Rows(record, "SELECT path, phone, format, protection FROM batch_files"),
              (QStringList{"cfg0a1b2c000001|0a1b2c000001|bin|plain",
                           "cfg0a1b2c000002|0a1b2c000002|bin|plain",
                           "cfg0a1b2c000003|0a1b2c000003|bin|plain"}));
    EXPECT_EQ(batch.err,
              "orvo-cli: 0a-1b-2c-00-00-02: written as cfg0a1b2c000002, the name the "
              "phone asks for\n");
    EXPECT_TRUE(QFileInfo::exists(cfg + "/cfg0a1b2c000002"));
    // Each file's version: its size, digest, inode and modification time.
    const QString digest =
        QString::fromLatin1(QCryptographicHash::hash(ReadFileBytes(cfg + "/cfg0a1b2c000001"),
                                                     QCryptographicHash::Sha256)
                                .toHex());
    struct stat written {};
    ASSERT_EQ(::stat(QFile::encodeName(cfg + "/cfg0a1b2c000001").constData(), &written), 0);
    EXPECT_EQ(Sqlite3Rows(record,
                          "SELECT file_size, digest, file_inode, file_mtime_ns FROM batch_files "
                          "WHERE phone = '0a1b2c000001'"),
              QStringList{
                  QString("%1|%2|%3|%4")
                      .arg(written.st_size)
                      .arg(digest)
                      .arg(written.st_ino)
                      .arg(qint64(written.st_mtim.tv_sec) * 1000000000 + written.st_mtim.tv_nsec)});

    Background serve(
        {"serve", "--root", root, "--port", "0", "--bind", "127.0.0.1", "--record", record});
    const QString port = serve.WaitFor("HTTP Server started! Port: (\\d+)");
    ASSERT_FALSE(port.isEmpty());
    const QString base = "http://127.0.0.1:" + port;
    const qint64 size = QFileInfo(cfg + "/cfg0a1b2c000001").size();
    EXPECT_EQ(Curl(base + "/cfg/cfg0a1b2c000001", {"-A", "Orvo X100 2.0.4.4"}), 200);
    EXPECT_EQ(Curl(base + "/cfg/cfg0a1b2c000002.xml"), 404);  // its file is the bin one
    EXPECT_EQ(Curl(base + "/cfg/cfg0a1b2c0000ff"), 404);      // a MAC outside the CSV
    EXPECT_EQ(Curl(base + "/cfg/cfg0a1b2c000001", {"--head"}), 200);
    EXPECT_EQ(serve.Stop(), 0);

    EXPECT_EQ(Sqlite3Rows(record,
                          "SELECT protocol, peer, path, status, bytes, phone "
                          "FROM fetches"),
              (QStringList{"http|127.0.0.1|cfg/cfg0a1b2c000001|200|" + QString::number(size) +
                               "|0a1b2c000001",
                           "http|127.0.0.1|cfg/cfg0a1b2c000002.xml|404|15|0a1b2c000002",
                           "http|127.0.0.1|cfg/cfg0a1b2c0000ff|404|15|0a1b2c0000ff",
                           "http|127.0.0.1|cfg/cfg0a1b2c000001|200|0|0a1b2c000001"}));
    const QStringList agents = Sqlite3Rows(record, "SELECT user_agent FROM fetches");
    ASSERT_EQ(agents.size(), 4);
    EXPECT_EQ(agents[0], "Orvo X100 2.0.4.4");
    EXPECT_TRUE(agents[1].startsWith("curl/")) << agents[1].toStdString();

    const CliRun all = Cli({"status", "--record", record});
    ASSERT_EQ(all.code, 0) << all.err.toStdString();
    QStringList states;
    for (const QByteArray& line : all.out.split('\n'))
        if (!line.isEmpty())
            states << line.split('\t').mid(0, 2).join(' ');
    EXPECT_EQ(states, (QStringList{"0a1b2c000001 fetched", "0a1b2c000002 failed",
                                   "0a1b2c000003 file ready", "0a1b2c0000ff unknown phone"}));
    const struct {
        const char* option;
        QStringList phones;
    } filters[] = {{"--pending", {"0a1b2c000003"}},
                   {"--failed", {"0a1b2c000002"}},
                   {"--unknown", {"0a1b2c0000ff"}}};
    for (const auto& f : filters) {
        const CliRun r = Cli({"status", "--record", record, f.option});
        QStringList phones;
        for (const QByteArray& line : r.out.split('\n'))
            if (!line.isEmpty())
                phones << line.left(line.indexOf('\t'));
        EXPECT_EQ(phones, f.phones) << f.option;
    }

    const CliRun csvOut = Cli({"status", "--record", record, "--csv", "--unknown"});
    ASSERT_EQ(csvOut.code, 0);
    const QList<QByteArray> lines = csvOut.out.split('\n');
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines[0],
              "phone,state,file_time,file,told_time,told_by,told_address,fetch_time,"
              "status,bytes,protocol,user_agent,peer,model,version\r");
    EXPECT_TRUE(lines[1].startsWith("0a1b2c0000ff,unknown phone,,,,,,")) << lines[1].toStdString();

    EXPECT_EQ(Cli({"status", "--record", dir.file("none.sqlite")}).code, 1);
    EXPECT_EQ(Cli({"status", "--record", record, "--failed", "--unknown"}).code, 2);
}

TEST_F(RecordCommands, PnpAndProvisionRecordWhomTheyToldWhichUrl) {
    const QString group = OwnMulticastGroup();
    const int port = FreeLoopbackPort();
    LoopbackPhone phone;
    {
        Background pnp({"pnp", "--iface", "127.0.0.1", "--group", group, "--port",
                        QString::number(port), "--url", "http://10.0.0.2:6000/cfg", "--pin",
                        "--record", record});
        ASSERT_FALSE(pnp.WaitFor("PNP Server started!()").isNull());
        SendToLoopbackGroup(group, port, LoopbackSubscribe(phone.port(), "MAC0A1B2C3D4E5F"));
        EXPECT_FALSE(phone.receive().isEmpty());
        EXPECT_FALSE(pnp.WaitFor("PNP: PIN MODE()").isNull());
        EXPECT_EQ(pnp.Stop(), 0);
    }
    const CliRun r =
        Cli({"provision", "--url", "http://10.0.0.2:6000/cfg", "--phone-port",
             QString::number(phone.port()), "--record", record, "127.0.0.1=0a:1b:2c:3d:4e:60"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(Sqlite3Rows(record, "SELECT kind, address, phone, url FROM commands"),
              (QStringList{"pnp|127.0.0.1|0a1b2c3d4e5f|http://10.0.0.2:6000/cfg$input.cfg",
                           "provision|127.0.0.1|0a1b2c3d4e60|http://10.0.0.2:6000/cfg"}));
    EXPECT_EQ(Sqlite3Rows(record, "SELECT phone, state FROM phone_status"),
              (QStringList{"0a1b2c3d4e5f|told", "0a1b2c3d4e60|told"}));
}

// A MAC that is no MAC writes nothing, with one line naming it; the others are written.
TEST_F(RecordCommands, BatchRefusesAMacThatIsNoMac) {
    const QString out = dir.file("out");
    QDir().mkpath(out);
    const QString tpl = dir.write("template.bin", "Flag=5678&CheckSum=0&P410={$pw}&end");
    const QString csv =
        dir.write("phones.csv", "MAC,{$pw}\r\n0a1b2c000001,a\r\nphone-2,b\r\n0a1b2c00000,c\r\n");
    const CliRun r = Cli({"batch", "--template", tpl, "--csv", csv, "--mode", "mac", "--format",
                          "bin", "--out", out, "--record", record});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err,
              "orvo-cli: phone-2: is not a MAC address; no file written for it\n"
              "orvo-cli: 0a1b2c00000: is not a MAC address; no file written for it\n");
    EXPECT_EQ(QDir(out).entryList(QDir::Files), QStringList{"cfg0a1b2c000001"});
    EXPECT_EQ(Sqlite3Rows(record, "SELECT phone FROM batch_files"), QStringList{"0a1b2c000001"});
}

// --keep-days of serve, pnp and batch: what is older goes at start, each phone's latest of
// each kind stays; a value that is no number of days is refused before anything is done.
TEST_F(RecordCommands, ServePnpAndBatchPruneAtStart) {
    const QString out = dir.file("htdocs/cfg");
    QDir().mkpath(out);
    const QString tpl = dir.write("template.bin", "Flag=5678&CheckSum=0&P410={$pw}&end");
    const QString csv =
        dir.write("phones.csv", "MAC,{$pw}\r\n0a1b2c000001,a\r\n0a1b2c000002,b\r\n");
    const QStringList batch{"batch",    "--template", tpl,     "--csv", csv,        "--mode", "mac",
                            "--format", "bin",        "--out", out,     "--record", record};
    // Two batches of long ago.
    for (const char* day : {"2020-01-01", "2020-01-02"}) {
        ASSERT_EQ(Cli(batch).code, 0);
        ASSERT_EQ(Sqlite3Rows(record, QString("UPDATE events SET time = '%1T10:00:00.000Z' "
                                              "WHERE time > '2021'")
                                          .arg(day)),
                  QStringList{});
    }
    const auto count = [&] { return Sqlite3Value(record, "SELECT count(*) FROM events"); };
    const auto states = [&] {
        return Sqlite3Rows(record, "SELECT phone, state FROM phone_status ORDER BY phone");
    };
    ASSERT_EQ(count(), "4");
    const QStringList ready{"0a1b2c000001|file ready", "0a1b2c000002|file ready"};
    ASSERT_EQ(states(), ready);

    // Usage errors: exit 2, one line, nothing done.
    const QByteArray hint = "; see 'orvo-cli batch --help'\n";
    const QByteArray range =
        "orvo-cli batch: --keep-days must be a whole number of days from 0 to 36500" + hint;
    const struct {
        QStringList args;
        QByteArray err;
    } bad[] = {{{"--keep-days", ""}, "orvo-cli batch: option '--keep-days' is empty" + hint},
               {{"--keep-days", "-1"}, range},
               {{"--keep-days", "x"}, range},
               {{"--keep-days", "1e3"}, range}};
    for (const auto& c : bad) {
        const CliRun r = Cli(batch + c.args);
        EXPECT_EQ(r.code, 2) << c.args.join(' ').toStdString();
        EXPECT_EQ(r.err, c.err);
    }
    const CliRun alone = Cli(QStringList(batch.mid(0, 11)) << "--keep-days"
                                                           << "5");
    EXPECT_EQ(alone.code, 2);
    EXPECT_EQ(alone.err, "orvo-cli batch: --keep-days needs --record" + hint);
    EXPECT_EQ(count(), "4");

    const QString group = OwnMulticastGroup();
    {
        Background pnp({"pnp", "--iface", "127.0.0.1", "--group", group, "--port",
                        QString::number(FreeLoopbackPort()), "--url", "http://10.0.0.2:6000/cfg",
                        "--record", record, "--keep-days", "0"});
        ASSERT_FALSE(pnp.WaitFor("PNP Server started!()").isNull());
        EXPECT_EQ(pnp.Stop(), 0);
    }
    EXPECT_EQ(count(), "4");  // 0 keeps all
    {
        Background serve({"serve", "--root", dir.file("htdocs"), "--port", "0", "--bind",
                          "127.0.0.1", "--record", record});
        ASSERT_FALSE(serve.WaitFor("HTTP Server started! Port: (\\d+)").isEmpty());
        EXPECT_EQ(serve.Stop(), 0);
    }
    EXPECT_EQ(count(), "2");  // 90 days unless given: the older batch of each phone went
    EXPECT_EQ(Sqlite3Rows(record, "SELECT DISTINCT time FROM events"),
              QStringList{"2020-01-02T10:00:00.000Z"});
    EXPECT_EQ(states(), ready);
    ASSERT_EQ(Cli(batch + QStringList{"--keep-days", "1"}).code, 0);
    EXPECT_EQ(count(), "4");  // the latest two stay, the new two came
}

// The tab-separated lines keep their escaping; CSV cells a spreadsheet would take for a
// formula are neutralised.
TEST_F(RecordCommands, StatusCsvPlantsNoFormulas) {
    dir.write("htdocs/cfg/readme", "x");
    {
        Background serve({"serve", "--root", dir.file("htdocs"), "--port", "0", "--bind",
                          "127.0.0.1", "--record", record});
        const QString port = serve.WaitFor("HTTP Server started! Port: (\\d+)");
        ASSERT_FALSE(port.isEmpty());
        for (const char* agent : {"=1+2", "+SUM(1;2)", "@SUM(1;2)", "-2+3"})
            EXPECT_EQ(Curl("http://127.0.0.1:" + port + "/cfg/cfg0a1b2c0000ee", {"-A", agent}),
                      404);
        EXPECT_EQ(serve.Stop(), 0);
    }
    const CliRun tsv = Cli({"status", "--record", record});
    ASSERT_EQ(tsv.code, 0) << tsv.err.toStdString();
    EXPECT_EQ(tsv.out.split('\t').value(11), "-2+3");
    const CliRun csv = Cli({"status", "--record", record, "--csv"});
    ASSERT_EQ(csv.code, 0);
    const QList<QByteArray> lines = csv.out.split('\n');
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines[1].split(',').value(11), "'-2+3");
}

// Reading needs no writing: another user's record in a folder it may not write, being written
// or closed; a folder, a missing file and a file it may not read each said in their own words.
TEST_F(RecordCommands, StatusReadsWhereItMayNotWriteAndSaysWhatIsWrong) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run status as another user";
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    const QString out = dir.file("htdocs/cfg");
    QDir().mkpath(out);
    const QString tpl = dir.write("template.bin", "Flag=5678&CheckSum=0&P410={$pw}&end");
    const QString csv = dir.write("phones.csv", "MAC,{$pw}\r\n0a1b2c000001,a\r\n");
    ASSERT_EQ(Cli({"batch", "--template", tpl, "--csv", csv, "--mode", "mac", "--format", "bin",
                   "--out", out, "--record", record})
                  .code,
              0);
    const QString secret = dir.write("secret.sqlite", ReadFileBytes(record));
    ASSERT_EQ(::chmod(QFile::encodeName(secret).constData(), 0600), 0);
    const auto asNobody = [&](const QString& path) {
        CliRun r;
        r.code = RunProgram("setpriv",
                            {"--reuid=65534", "--regid=65534", "--clear-groups",
                             BuiltProgram("orvo-cli"), "status", "--record", path},
                            &r.out, &r.err);
        return r;
    };
    // Closed: no -shm file, and none can be made in the folder.
    ASSERT_FALSE(QFileInfo::exists(record + "-shm"));
    CliRun r = asNobody(record);
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith("0a1b2c000001\tfile ready\t")) << r.out.toStdString();
    EXPECT_FALSE(QFileInfo::exists(record + "-shm"));
    // While a writer holds it open.
    {
        Background serve({"serve", "--root", dir.file("htdocs"), "--port", "0", "--bind",
                          "127.0.0.1", "--record", record});
        ASSERT_FALSE(serve.WaitFor("HTTP Server started! Port: (\\d+)").isEmpty());
        r = asNobody(record);
        EXPECT_EQ(r.code, 0) << r.err.toStdString();
        EXPECT_TRUE(r.out.startsWith("0a1b2c000001\tfile ready\t")) << r.out.toStdString();
        EXPECT_EQ(serve.Stop(), 0);
    }
    const struct {
        QString path;
        const char* words;
    } wrong[] = {
        {dir.file("db"), "it is a folder, not a record file"},
        {dir.file("db/none.sqlite"), "no such file"},
        {secret, "no permission to read it"},
    };
    for (const auto& c : wrong) {
        r = asNobody(c.path);
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.err, "orvo-cli: " + c.path.toUtf8() + ": " + c.words + "\n");
    }
}

// A record that cannot be written costs one line on stderr; the command serves as ever.
TEST_F(RecordCommands, ARecordThatCannotBeWrittenLeavesServingAlone) {
    dir.write("htdocs/cfg/cfg0a1b2c3d4e5f", "Flag=5678&CheckSum=0&end");
    dir.write("not-a-folder", "x");
    dir.write("garbage.sqlite", QByteArray(4096, 'g'));
    for (const QString& file :
         {dir.file("not-a-folder/provisioning.sqlite"), dir.file("garbage.sqlite")}) {
        SCOPED_TRACE(file.toStdString());
        Background serve({"serve", "--root", dir.file("htdocs"), "--port", "0", "--bind",
                          "127.0.0.1", "--record", file});
        const QString port = serve.WaitFor("HTTP Server started! Port: (\\d+)");
        ASSERT_FALSE(port.isEmpty());
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(Curl("http://127.0.0.1:" + port + "/cfg/cfg0a1b2c3d4e5f"), 200);
        EXPECT_EQ(serve.Stop(), 0);
        const QByteArray err = serve.Err();
        EXPECT_EQ(err.count("LRecordError1: " + file.toUtf8() + ": "), 1) << err.toStdString();
    }
    EXPECT_EQ(ReadFileBytes(dir.file("garbage.sqlite")), QByteArray(4096, 'g'));
}

// Requests on loopback from a few threads, each answer's end time noted, until stopped or the
// bound is reached.
class Storm {
  public:
    Storm(int port, const QByteArray& path, int maxRequests) {
        for (int t = 0; t < 4; ++t)
            threads_.emplace_back([=] {
                const QByteArray request = "GET " + path + " HTTP/1.1\r\nHost: s\r\n\r\n";
                while (!stop_ && sent_++ < maxRequests) {
                    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
                    sockaddr_in a{};
                    a.sin_family = AF_INET;
                    a.sin_port = htons(uint16_t(port));
                    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
                        ::close(fd);
                        break;  // the server is gone
                    }
                    ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL);
                    char buffer[4096];
                    ssize_t n = 0, total = 0;
                    while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
                        total += n;
                    ::close(fd);
                    if (total > 0 && n == 0) {
                        std::lock_guard<std::mutex> lock(mutex_);
                        done_.push_back(std::chrono::steady_clock::now());
                    }
                }
            });
    }
    ~Storm() { Stop(); }
    void Stop() {
        stop_ = true;
        for (auto& t : threads_)
            if (t.joinable())
                t.join();
    }
    // Answers that had ended before a time.
    int DoneBefore(std::chrono::steady_clock::time_point when) {
        std::lock_guard<std::mutex> lock(mutex_);
        int n = 0;
        for (const auto& t : done_)
            n += t < when;
        return n;
    }

  private:
    std::vector<std::thread> threads_;
    std::atomic<bool> stop_{false};
    std::atomic<int> sent_{0};
    std::mutex mutex_;
    std::vector<std::chrono::steady_clock::time_point> done_;
};

// kill -9 in the middle of a storm of downloads: the file is sound and holds every download
// that ended more than a second before the kill.
TEST_F(RecordCommands, AKillDuringADownloadStormLeavesASoundRecordOfAllButTheLastSecond) {
    dir.write("htdocs/cfg/cfg0a1b2c3d4e5f", QByteArray(700, 'c'));
    Background serve({"serve", "--root", dir.file("htdocs"), "--port", "0", "--bind", "127.0.0.1",
                      "--record", record});
    const QString port = serve.WaitFor("HTTP Server started! Port: (\\d+)");
    ASSERT_FALSE(port.isEmpty());
    Storm storm(port.toInt(), "/cfg/cfg0a1b2c3d4e5f", 200000);
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    const auto killedAt = std::chrono::steady_clock::now();
    serve.Stop(SIGKILL);
    storm.Stop();
    const int older = storm.DoneBefore(killedAt - std::chrono::seconds(1));
    ASSERT_GT(older, 100);

    EXPECT_EQ(Sqlite3Value(record, "PRAGMA integrity_check"), "ok");
    const int rows = Sqlite3Value(record, "SELECT count(*) FROM fetches").toInt();
    EXPECT_GE(rows, older);
    EXPECT_EQ(Sqlite3Value(record,
                           "SELECT count(*) FROM fetches WHERE status <> 200 OR "
                           "bytes <> 700 OR phone <> '0a1b2c3d4e5f'"),
              "0");
    std::printf("answers ended a second before the kill: %d, before it: %d, rows: %d\n", older,
                storm.DoneBefore(killedAt), rows);
}

}  // namespace
