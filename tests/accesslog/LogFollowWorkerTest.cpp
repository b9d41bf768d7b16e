// The window's follower of an access log: it reads on its own thread into a real record file
// and tells the thread that made it, through its event loop, what it met: counts, a log that
// cannot be read or a record that cannot be written, and its recovery from either.
#include "accesslog/LogFollowWorker.h"
#include "support/EventLoopWait.h"
#include "support/Sqlite3Cli.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

namespace {

QByteArray logLines(int from, int to) {
    QByteArray text;
    for (int n = from; n < to; ++n)
        text +=
            "10.0.0.1 - - [10/Dec/2026:14:03:07 +0100] \"GET /cfg/cfg0a1b2c3d4e5f HTTP/1.1\" "
            "200 " +
            QByteArray::number(n) + " \"-\" \"X100\"\n";
    return text;
}

class FollowWorker : public ::testing::Test {
  protected:
    FollowWorker()
        : worker([this](const LogFollowReport& r) {
              reports.push_back(r);
              onMainThread = onMainThread && QThread::currentThread() == qApp->thread();
          }) {
        options.prefix = "/cfg";
    }

    const LogFollowReport& last() const { return reports.back(); }
    bool recorded(qint64 n) const {
        return !reports.empty() && last().counts.recorded == n &&
               last().trouble == LogFollowReport::Trouble::None;
    }

    TempDir dir;
    QString record = dir.file("db/provisioning.sqlite");
    QString log = dir.file("logs/access.log");
    LogImportOptions options;
    std::vector<LogFollowReport> reports;
    bool onMainThread = true;
    LogFollowWorker worker;
};

TEST_F(FollowWorker, FollowsTheLogAndTellsItsThreadWhatItMet) {
    dir.write("logs/access.log", logLines(0, 3));
    worker.Start(record, log, options);
    ASSERT_TRUE(RunEventsUntil([&] { return recorded(3); }));
    EXPECT_EQ(last().counts.lines, 3);

    QFile f(log);
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write(logLines(3, 5));
    f.close();
    ASSERT_TRUE(RunEventsUntil([&] { return recorded(5); }));
    EXPECT_EQ(Sqlite3Rows(record, "SELECT count(*), min(bytes), max(bytes), source FROM fetches"),
              QStringList{"5|0|4|" + log});

    // Rotated, and a folder where the new log should be: told, and read again once it is a log.
    ASSERT_TRUE(QFile::rename(log, log + ".1"));
    ASSERT_TRUE(QDir().mkdir(log));
    ASSERT_TRUE(RunEventsUntil([&] { return last().trouble == LogFollowReport::Trouble::Log; }));
    EXPECT_EQ(last().reason, "is a folder");
    ASSERT_TRUE(QDir().rmdir(log));
    dir.write("logs/access.log", logLines(5, 7));
    ASSERT_TRUE(RunEventsUntil([&] { return recorded(7); }));
    EXPECT_TRUE(onMainThread);

    // Stopped: nothing more is told, nothing more read.
    worker.Stop();
    EXPECT_FALSE(worker.IsRunning());
    const size_t told = reports.size();
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write(logLines(7, 8));
    f.close();
    RunEventsFor(1000);  // the event loop runs well past several looks
    EXPECT_EQ(reports.size(), told);
    EXPECT_EQ(Sqlite3Value(record, "SELECT count(*) FROM fetches"), "7");
}

TEST_F(FollowWorker, TellsALogNotThereAndARecordItCannotWriteUntilTheyAreFine) {
    worker.Start(record, log, options);
    ASSERT_TRUE(RunEventsUntil([&] { return !reports.empty(); }));
    EXPECT_EQ(last().trouble, LogFollowReport::Trouble::Log);
    EXPECT_EQ(last().reason, "No such file or directory");
    dir.write("logs/access.log", logLines(0, 2));
    ASSERT_TRUE(RunEventsUntil([&] { return recorded(2); }));
    worker.Stop();

    // Another program's database where the record should be: left as it is.
    const QString other = dir.file("other.sqlite");
    ASSERT_EQ(RunProgram("sqlite3", {other, "CREATE TABLE t (a)"}), 0);
    const QByteArray before = ReadFileBytes(other);
    reports.clear();
    worker.Start(other, log, options);
    ASSERT_TRUE(RunEventsUntil([&] { return !reports.empty(); }));
    EXPECT_EQ(last().trouble, LogFollowReport::Trouble::Record);
    EXPECT_EQ(last().reason, "the file is another program's database");
    worker.Stop();
    EXPECT_EQ(ReadFileBytes(other), before);

    // A record whose inserts fail: told as the record's trouble, read once the inserts work.
    reports.clear();
    worker.Start(record, log, options);
    ASSERT_TRUE(RunEventsUntil([&] { return recorded(0); }));  // a new run counts from its start
    ASSERT_EQ(RunProgram("sqlite3", {record,
                                     "CREATE TRIGGER full BEFORE INSERT ON events "
                                     "BEGIN SELECT RAISE(ABORT, 'full'); END"}),
              0);
    QFile f(log);
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write(logLines(2, 4));
    f.close();
    ASSERT_TRUE(RunEventsUntil([&] { return last().trouble == LogFollowReport::Trouble::Record; }));
    EXPECT_EQ(last().reason, "full");
    ASSERT_EQ(RunProgram("sqlite3", {record, "DROP TRIGGER full"}), 0);
    ASSERT_TRUE(RunEventsUntil([&] { return recorded(2); }));
    EXPECT_EQ(Sqlite3Rows(record, "SELECT count(*), count(DISTINCT bytes) FROM fetches"),
              QStringList{"4|4"});
    EXPECT_TRUE(onMainThread);
}

}  // namespace
