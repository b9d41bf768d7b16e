// orvo-cli record import: its refusals (each one line, no record file made), logs that cannot be
// read among good ones, a record that is another program's file, an import killed in the middle
// of a long log, and several followers feeding one record at once, stopped by SIGTERM and SIGINT.
#include "record/Sqlite.h"
#include "support/Sqlite3Cli.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <csignal>
#include <memory>

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

QByteArray line(int log, int n) {
    return "10.0." + QByteArray::number(log) +
           ".1 - - [10/Dec/2026:14:03:07 +0100] \"GET /cfg/cfg0a1b2c3d" +
           QByteArray::number(4000 + n % 1000) + ".xml HTTP/1.1\" 200 " + QByteArray::number(n) +
           " \"-\" \"X100\"\n";
}

TEST(CliImport, RefusalsAreOneLineAndMakeNoRecord) {
    TempDir dir;
    const QString log = dir.write("access.log", line(1, 1));
    const QString record = dir.file("db/rec.sqlite");
    const QString missing = dir.file("missing.log");
    const struct {
        QStringList args;
        int code;
        QByteArray err;
    } cases[] = {
        {{"record"}, 2, "orvo-cli record: missing import; see 'orvo-cli record --help'\n"},
        {{"record", "export", "--record", record, log},
         2,
         "orvo-cli record: unknown subcommand 'export'; see 'orvo-cli record --help'\n"},
        {{"record", "import", "--record", record},
         2,
         "orvo-cli record: missing LOG...; see 'orvo-cli record --help'\n"},
        {{"record", "import", "--record", record, "--format", "json", log},
         2,
         "orvo-cli record: --format is combined or common, not 'json'; see 'orvo-cli record "
         "--help'\n"},
        {{"record", "import", "--record", record, "--strip", "", log},
         2,
         "orvo-cli record: option '--strip' is empty; see 'orvo-cli record --help'\n"},
        {{"record", "import", "--record", record, "--strip", "/cfg/../x", log},
         2,
         "orvo-cli record: --strip '/cfg/../x' is no URL path (a '.' or '..' segment, '?', '#' "
         "or a control character); see 'orvo-cli record --help'\n"},
        {{"record", "import", "--record", "", log},
         2,
         "orvo-cli record: option '--record' is empty; see 'orvo-cli record --help'\n"},
        {{"record", "import", "--record", record, missing},
         1,
         "orvo-cli: " + missing.toUtf8() + ": cannot be read: No such file or directory\n"},
        {{"record", "import", "--record", record, dir.path()},
         1,
         "orvo-cli: " + dir.path().toUtf8() + ": cannot be read: is a folder\n"},
        // A follower starts only when every log can be read.
        {{"record", "import", "--record", record, "--follow", log, missing},
         1,
         "orvo-cli: " + missing.toUtf8() + ": cannot be read: No such file or directory\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const CliRun r = Cli(c.args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.err, c.err);
        EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
        EXPECT_FALSE(QDir(dir.file("db")).exists());
    }
}

TEST(CliImport, ALogThatCannotBeReadIsNamedAndTheOthersImported) {
    TempDir dir;
    const QString log = dir.write("access.log", line(1, 1) + line(1, 2));
    const QString record = dir.file("rec.sqlite");
    const CliRun r = Cli({"record", "import", "--record", record, dir.file("gone.log"), log});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "orvo-cli: " + dir.file("gone.log").toUtf8() +
                         ": cannot be read: No such file or directory\n");
    EXPECT_EQ(r.out, log.toUtf8() + ": 2 new lines, 2 recorded, 0 naming no file below /\n");
    EXPECT_EQ(Sqlite3Rows(record, "SELECT path, phone FROM fetches"),
              (QStringList{"cfg/cfg0a1b2c3d4001.xml|0a1b2c3d4001",
                           "cfg/cfg0a1b2c3d4002.xml|0a1b2c3d4002"}));
}

TEST(CliImport, AFileThatIsNoRecordIsLeftAlone) {
    TempDir dir;
    const QString log = dir.write("access.log", line(1, 1));
    const QString other = dir.file("other.sqlite");
    ASSERT_EQ(RunProgram("sqlite3", {other, "CREATE TABLE t (a); INSERT INTO t VALUES (1)"}), 0);
    const CliRun r = Cli({"record", "import", "--record", other, log});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "orvo-cli: " + other.toUtf8() + ": the file is another program's database\n");
    EXPECT_EQ(Sqlite3Rows(other, "SELECT name FROM sqlite_schema"), QStringList{"t"});
    EXPECT_FALSE(QFile::exists(other + ".logs"));
}

// Downloads in the record; 0 while it cannot be read. On a connection of this process: a few
// lookups a millisecond.
class FetchCounter {
  public:
    explicit FetchCounter(const QString& record) : record_(record) {}
    qint64 operator()() {
        if (!db_.IsOpen() && !(QFile::exists(record_) && db_.Open(record_, SqliteMode::ReadOnly)))
            return 0;
        return db_.QueryInt("SELECT count(*) FROM events WHERE kind = 'fetch'", 0);
    }

  private:
    QString record_;
    SqliteDb db_;
};

// Starts orvo-cli with args and waits (up to 30 s) until the record holds more downloads than
// before; false when it ended first.
bool StartAndWaitForMore(QProcess& process, const QStringList& args, FetchCounter& count,
                         qint64 before) {
    process.start(BuiltProgram("orvo-cli"), args);
    if (!process.waitForStarted(5000))
        return false;
    for (int i = 0; i < 60000 && process.state() == QProcess::Running; ++i) {
        if (count() > before)
            return true;
        QThread::usleep(500);
    }
    return false;
}

// A long log read in three runs: a follower stopped by SIGTERM in its backlog commits what it
// read and says so; an import killed (SIGKILL) in the middle, most likely within a transaction
// of the record, leaves whole stretches with the cursor after them; the last import records the
// rest. Each line once.
TEST(CliImport, AnImportStoppedOrKilledMidwayRecordsEachLineOnceWhenRunAgain) {
    TempDir dir;
    constexpr int kLines = 400000;
    QByteArray text;
    for (int n = 1; n <= kLines; ++n)
        text += line(1, n);
    const QString log = dir.write("access.log", text);
    text.clear();
    const QString record = dir.file("rec.sqlite");
    FetchCounter count(record);

    QProcess follower;
    ASSERT_TRUE(StartAndWaitForMore(
        follower, {"record", "import", "--record", record, "--follow", log}, count, 0));
    ::kill(pid_t(follower.processId()), SIGTERM);
    ASSERT_TRUE(follower.waitForFinished(30000));
    EXPECT_EQ(follower.exitCode(), 0) << follower.readAllStandardError().toStdString();
    const qint64 atStop = count();
    ASSERT_LT(atStop, kLines) << "the follower read the whole log before it was stopped";
    EXPECT_TRUE(follower.readAllStandardOutput().endsWith(
        ": " + QByteArray::number(atStop) + " new lines, " + QByteArray::number(atStop) +
        " recorded, 0 naming no file below /\n"));

    QProcess import;
    ASSERT_TRUE(
        StartAndWaitForMore(import, {"record", "import", "--record", record, log}, count, atStop));
    ::kill(pid_t(import.processId()), SIGKILL);
    ASSERT_TRUE(import.waitForFinished(10000));
    EXPECT_EQ(import.exitStatus(), QProcess::CrashExit);
    const qint64 atKill = count();
    ASSERT_LT(atKill, kLines) << "the import ended before it was killed";

    const CliRun again = Cli({"record", "import", "--record", record, log});
    EXPECT_EQ(again.code, 0) << again.err.toStdString();
    EXPECT_EQ(again.out, log.toUtf8() + ": " + QByteArray::number(kLines - atKill) +
                             " new lines, " + QByteArray::number(kLines - atKill) +
                             " recorded, 0 naming no file below /\n");
    // The bytes column numbers the lines.
    EXPECT_EQ(Sqlite3Rows(record,
                          "SELECT count(*), count(DISTINCT bytes), min(bytes), max(bytes) "
                          "FROM fetches"),
              QStringList{QString("%1|%1|1|%1").arg(kLines)});
    EXPECT_EQ(Sqlite3Value(record, "PRAGMA integrity_check"), "ok");
}

// Three followers, each on a log of its own, feed one record while the logs grow: every line is
// recorded once, none is lost to a locked database, and each follower stops cleanly.
TEST(CliImport, SeveralFollowersFeedOneRecord) {
    TempDir dir;
    const QString record = dir.file("rec.sqlite");
    // The record is there before them, as a batch makes it.
    ASSERT_EQ(Cli({"record", "import", "--record", record, dir.write("empty.log", {})}).code, 0);
    constexpr int kLogs = 3, kBursts = 5, kPerBurst = 1000;
    std::vector<std::unique_ptr<QProcess>> followers;
    for (int i = 0; i < kLogs; ++i) {
        const QString log = dir.write("access" + QString::number(i) + ".log", line(i, 0));
        followers.push_back(std::make_unique<QProcess>());
        followers.back()->start(BuiltProgram("orvo-cli"),
                                {"record", "import", "--record", record, "--follow", log});
        ASSERT_TRUE(followers.back()->waitForStarted(5000));
    }
    for (int burst = 0; burst < kBursts; ++burst) {
        for (int i = 0; i < kLogs; ++i) {
            QByteArray lines;
            for (int n = 1; n <= kPerBurst; ++n)
                lines += line(i, burst * kPerBurst + n);
            QFile f(dir.file("access" + QString::number(i) + ".log"));
            ASSERT_TRUE(f.open(QIODevice::Append));
            f.write(lines);
        }
        QThread::msleep(100);
    }
    const int total = kLogs * (1 + kBursts * kPerBurst);
    const auto count = [&] { return Sqlite3Value(record, "SELECT count(*) FROM fetches").toInt(); };
    for (int i = 0; i < 300 && count() < total; ++i)
        QThread::msleep(100);
    EXPECT_EQ(count(), total);
    for (int i = 0; i < kLogs; ++i) {
        QProcess& f = *followers[size_t(i)];
        ::kill(pid_t(f.processId()), i == 0 ? SIGINT : SIGTERM);
        ASSERT_TRUE(f.waitForFinished(10000));
        EXPECT_EQ(f.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(f.exitCode(), 0);
        EXPECT_TRUE(f.readAllStandardError().isEmpty());
        EXPECT_TRUE(f.readAllStandardOutput().contains(
            ": " + QByteArray::number(1 + kBursts * kPerBurst) + " new lines"));
    }
    // Per log, each line once: the bytes column numbers them.
    EXPECT_EQ(Sqlite3Value(record,
                           "SELECT count(DISTINCT address || ' ' || bytes) FROM events "
                           "WHERE kind = 'fetch'")
                  .toInt(),
              total);
}

}  // namespace
