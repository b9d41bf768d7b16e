// Reading logs into the record: each line once across imports, rotations by rename,
// compression and copy-and-truncate, lines too long, two readers of one log, a record that fails
// in the middle of a stretch, and the follower. Events and cursors go into a real record file,
// read back with sqlite3.
#include "accesslog/AccessLogImport.h"
#include "accesslog/RecordLogCursors.h"
#include "support/Sqlite3Cli.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <unistd.h>

namespace {

// A line as nginx writes it, for a phone's file below /cfg.
QByteArray logLine(int n, const QByteArray& file = "cfg0a1b2c3d4e5f.xml") {
    return "10.0.0." + QByteArray::number(n % 250 + 1) +
           " - - [10/Dec/2026:14:03:" + QByteArray::number(10 + n % 50) + " +0100] \"GET /cfg/" +
           file + " HTTP/1.1\" 200 " + QByteArray::number(1000 + n) + " \"-\" \"X100 n" +
           QByteArray::number(n) + "\"\n";
}

QByteArray logLines(int from, int to) {
    QByteArray text;
    for (int n = from; n < to; ++n)
        text += logLine(n);
    return text;
}

void append(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::Append));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

class LogImport : public ::testing::Test {
  protected:
    LogImport() {
        record = dir.file("db/provisioning.sqlite");
        QString error;
        EXPECT_TRUE(store.Open(record, &error)) << error.toStdString();
        options.prefix = "/cfg";
    }

    // Imports the log; the counts of this import.
    LogImportCounts import(const QString& path) {
        LogImportCounts counts;
        QString error;
        EXPECT_TRUE(ImportLog(path, options, store, &counts, &error)) << error.toStdString();
        return counts;
    }

    // Column values of the record's downloads, in the order recorded.
    QStringList fetches(const QString& columns) const {
        return Sqlite3Rows(record, "SELECT " + columns +
                                       " FROM events WHERE kind = 'fetch' "
                                       "ORDER BY id");
    }
    // The User-Agents recorded so far: "n<line number>", which tells the lines apart.
    QStringList agents() const {
        QStringList list;
        for (const QString& agent : fetches("user_agent"))
            list << agent.section(' ', 1);
        return list;
    }

    static QStringList numbered(int from, int to) {
        QStringList list;
        for (int n = from; n < to; ++n)
            list << "n" + QString::number(n);
        return list;
    }

    // The insert of line 4 into the record fails (with "full") while failing is set.
    void setFailing(bool failing) {
        ASSERT_EQ(RunProgram("sqlite3", {record, failing ? "CREATE TRIGGER full BEFORE INSERT ON "
                                                           "events WHEN NEW.user_agent = 'X100 n4' "
                                                           "BEGIN SELECT RAISE(ABORT, 'full'); END"
                                                         : "DROP TRIGGER full"}),
                  0);
    }

    TempDir dir;
    QString record;
    LogImportOptions options;
    RecordLogCursors store;
};

TEST_F(LogImport, EachLineOnceAcrossImportsAndAWholeLineOnly) {
    const QString log =
        dir.write("access.log", logLines(0, 3) + "not a line of the format\n" +
                                    "10.0.0.1 - - [10/Dec/2026:14:03:07 +0100] \"GET /index.html "
                                    "HTTP/1.1\" 200 612 \"-\" \"X100 other\"\n" +
                                    logLine(3) + "bad again\n");
    LogImportCounts c = import(log);
    EXPECT_EQ(c.lines, 7);
    EXPECT_EQ(c.recorded, 4);
    EXPECT_EQ(c.malformed, 2);
    EXPECT_EQ(c.notFiles, 1);
    EXPECT_EQ(agents(), numbered(0, 4));
    // 14:03:10 +0100; the source is the log read.
    EXPECT_EQ(fetches("time, protocol, method, address, path, phone, status, bytes, complete, "
                      "file_size, source")
                  .first(),
              "2026-12-10T13:03:10.000Z|external|GET|10.0.0.1|cfg0a1b2c3d4e5f.xml|0a1b2c3d4e5f|"
              "200|1000|||" +
                  log);

    c = import(log);
    EXPECT_EQ(c.lines, 0);
    EXPECT_EQ(fetches("id").size(), 4);

    // A line still being written is left for the next import.
    const QByteArray next = logLine(5);
    append(log, logLine(4) + next.left(20));
    EXPECT_EQ(import(log).recorded, 1);
    append(log, next.mid(20));
    EXPECT_EQ(import(log).recorded, 1);
    EXPECT_EQ(agents(), numbered(0, 6));
}

TEST_F(LogImport, RotatedByRenameAndCompressedImportsOnlyWhatWasNotRead) {
    const QString log = dir.write("access.log", logLines(0, 3));
    // The server holds the log open: it writes on into the renamed file until it reopens.
    const int server = ::open(QFile::encodeName(log).constData(), O_WRONLY | O_APPEND);
    ASSERT_GE(server, 0);
    EXPECT_EQ(import(log).recorded, 3);
    ASSERT_TRUE(QFile::rename(log, log + ".1"));
    const QByteArray late = logLine(3);
    ASSERT_EQ(::write(server, late.constData(), size_t(late.size())), late.size());
    ::close(server);
    dir.write("access.log", logLines(4, 6));

    EXPECT_EQ(import(log + ".1").recorded, 1);
    EXPECT_EQ(import(log).recorded, 2);
    // Compressed by the next rotation, and imported again under each name.
    ASSERT_EQ(RunProgram("gzip", {"-k", log + ".1"}), 0);
    ASSERT_TRUE(QFile::rename(log, log + ".2"));
    ASSERT_EQ(RunProgram("gzip", {log + ".2"}), 0);
    for (const QString& name : {log + ".1.gz", log + ".2.gz", log + ".1"})
        EXPECT_EQ(import(name).lines, 0) << name.toStdString();
    EXPECT_EQ(agents(), numbered(0, 6));

    // A compressed log never read before: every line.
    dir.write("other.log", logLines(10, 13));
    ASSERT_EQ(RunProgram("gzip", {dir.file("other.log")}), 0);
    EXPECT_EQ(import(dir.file("other.log.gz")).recorded, 3);
    EXPECT_EQ(agents(), numbered(0, 6) + numbered(10, 13));
}

TEST_F(LogImport, CopiedAndTruncatedImportsTheCopyFromWhereItStood) {
    const QString log = dir.write("access.log", logLines(0, 3));
    EXPECT_EQ(import(log).recorded, 3);
    append(log, logLine(3));
    ASSERT_TRUE(QFile::copy(log, log + ".1"));
    ASSERT_TRUE(QFile::resize(log, 0));
    append(log, logLines(4, 6));
    EXPECT_EQ(import(log + ".1").recorded, 1);
    EXPECT_EQ(import(log).recorded, 2);
    EXPECT_EQ(import(log + ".1").lines, 0);
    EXPECT_EQ(agents(), numbered(0, 6));
}

// logrotate's copytruncate loses the lines written between its copy and its truncation: the
// copy is shorter than what was read of the log. It holds nothing new, plain or compressed.
TEST_F(LogImport, ACopyShorterThanWhatWasReadHoldsNothingNew) {
    const QString log = dir.write("access.log", logLines(0, 4));
    EXPECT_EQ(import(log).recorded, 4);
    const QString copy = dir.write("access.log.1", logLines(0, 3));
    EXPECT_EQ(import(copy).lines, 0);
    dir.write("access.log.2", logLines(0, 3));
    ASSERT_EQ(RunProgram("gzip", {dir.file("access.log.2")}), 0);
    EXPECT_EQ(import(dir.file("access.log.2.gz")).lines, 0);
    // The cursor stayed where it was: the log goes on from there.
    append(log, logLine(4));
    EXPECT_EQ(import(log).recorded, 1);
    EXPECT_EQ(agents(), numbered(0, 5));
}

TEST_F(LogImport, ADamagedCompressedLogFailsAndRecordsNothingOfTheStretch) {
    dir.write("access.log", logLines(0, 200));
    ASSERT_EQ(RunProgram("gzip", {dir.file("access.log")}), 0);
    const QByteArray gz = ReadFileBytes(dir.file("access.log.gz"));
    const QString cut = dir.write("cut.log.gz", gz.left(gz.size() / 2));
    LogImportCounts counts;
    QString error;
    EXPECT_FALSE(ImportLog(cut, options, store, &counts, &error));
    EXPECT_TRUE(error.contains("damaged gzip")) << error.toStdString();
    EXPECT_TRUE(agents().isEmpty());
    // The whole file later: every line, once.
    EXPECT_EQ(import(dir.file("access.log.gz")).recorded, 200);
    EXPECT_EQ(agents(), numbered(0, 200));
}

TEST_F(LogImport, ALineTooLongIsSkippedAndTheNextOneRead) {
    const QByteArray huge(LogStream::kMaxLineBytes + 10, 'x');
    const QString log = dir.write("access.log", logLine(0) + huge + "\n" + logLine(1));
    const LogImportCounts c = import(log);
    EXPECT_EQ(c.lines, 3);
    EXPECT_EQ(c.malformed, 1);
    EXPECT_EQ(agents(), numbered(0, 2));
    // A log that begins with one is known by its first kMaxLineBytes bytes.
    const QString other = dir.write("other.log", huge + "\n" + logLine(2));
    EXPECT_EQ(import(other).recorded, 1);
    EXPECT_EQ(import(other).lines, 0);
}

TEST_F(LogImport, LinesInStretchesAcrossCommits) {
    const int count = int(LogStream::kCommitLines) * 2 + 7;
    const QString log = dir.write("access.log", logLines(0, count));
    EXPECT_EQ(import(log).recorded, count);
    EXPECT_EQ(agents(), numbered(0, count));
    EXPECT_EQ(import(log).lines, 0);
}

// The record fails at the third line of a stretch: none of its lines is recorded and the cursor
// stays, so the next import records each line once.
TEST_F(LogImport, ARecordThatFailsWithinAStretchKeepsNeitherItsLinesNorTheCursorMove) {
    const QString log = dir.write("access.log", logLines(0, 2));
    EXPECT_EQ(import(log).recorded, 2);
    append(log, logLines(2, 6));
    setFailing(true);
    LogImportCounts counts;
    QString error;
    EXPECT_FALSE(ImportLog(log, options, store, &counts, &error));
    EXPECT_EQ(error, "full");
    EXPECT_EQ(counts.recorded, 0);
    EXPECT_EQ(agents(), numbered(0, 2));
    EXPECT_EQ(Sqlite3Value(record, "SELECT offset FROM log_cursors").toInt(),
              logLines(0, 2).size());
    setFailing(false);
    EXPECT_EQ(import(log).recorded, 4);
    EXPECT_EQ(agents(), numbered(0, 6));
}

TEST_F(LogImport, TwoReadersOfOneLogRecordEachLineOnce) {
    const QString log = dir.write("access.log", logLines(0, 3));
    RecordLogCursors second;
    QString error;
    ASSERT_TRUE(second.Open(record, &error));
    LogImportCounts countsA, countsB;
    LogStream a(options, store, countsA), b(options, second, countsB);
    ASSERT_TRUE(a.Open(log, &error));
    ASSERT_TRUE(b.Open(log, &error));
    ASSERT_TRUE(a.ReadAvailable(&error));
    ASSERT_TRUE(b.ReadAvailable(&error));  // finds the lines recorded by a
    append(log, logLines(3, 5));
    ASSERT_TRUE(a.ReadAvailable(&error));
    // b read up to where a stood before: its stretch conflicts and it goes on from a's cursor.
    append(log, logLine(5));
    ASSERT_TRUE(b.ReadAvailable(&error)) << error.toStdString();
    ASSERT_TRUE(a.ReadAvailable(&error));
    EXPECT_EQ(agents(), numbered(0, 6));
    EXPECT_EQ(countsA.recorded + countsB.recorded, 6);
}

TEST_F(LogImport, AFileNotToBeReadIsNamedWithItsReason) {
    LogImportCounts counts;
    QString error;
    EXPECT_FALSE(ImportLog(dir.file("missing.log"), options, store, &counts, &error));
    EXPECT_EQ(error, "No such file or directory");
    EXPECT_FALSE(ImportLog(dir.path(), options, store, &counts, &error));
    EXPECT_EQ(error, "is a folder");
}

TEST_F(LogImport, AFileThatIsNoRecordIsRefusedAndLeftAlone) {
    const QString other = dir.file("other.sqlite");
    ASSERT_EQ(RunProgram("sqlite3", {other, "CREATE TABLE t (a)"}), 0);
    const QByteArray before = ReadFileBytes(other);
    RecordLogCursors cursors;
    QString error;
    EXPECT_FALSE(cursors.Open(other, &error));
    EXPECT_EQ(error, "the file is another program's database");
    EXPECT_EQ(ReadFileBytes(other), before);
    const QString notDb = dir.write("text.sqlite", QByteArray(4096, 'x'));
    EXPECT_FALSE(cursors.Open(notDb, &error));
    EXPECT_EQ(ReadFileBytes(notDb), QByteArray(4096, 'x'));
}

class LogFollow : public LogImport {
  protected:
    void poll(LogFollower& follower) {
        QString error;
        ASSERT_TRUE(follower.Poll(&error)) << error.toStdString();
    }
};

TEST_F(LogFollow, ReadsAcrossRenameRotationAndCopyTruncate) {
    const QString log = dir.write("access.log", logLines(0, 2));
    LogFollower follower(log, options, store);
    QString error;
    ASSERT_TRUE(follower.Start(&error));
    poll(follower);
    EXPECT_EQ(agents(), numbered(0, 2));
    append(log, logLine(2));
    poll(follower);
    EXPECT_EQ(agents(), numbered(0, 3));

    // Renamed; the server writes one more line to the old file, then the new one.
    const int server = ::open(QFile::encodeName(log).constData(), O_WRONLY | O_APPEND);
    ASSERT_TRUE(QFile::rename(log, log + ".1"));
    poll(follower);  // no new file yet: the old one is read on
    dir.write("access.log", logLines(4, 6));
    poll(follower);
    EXPECT_EQ(follower.LastChange(), "rotated");
    const QByteArray late = logLine(3);
    ASSERT_EQ(::write(server, late.constData(), size_t(late.size())), late.size());
    ::close(server);
    poll(follower);  // the old file is read during its grace
    EXPECT_EQ(agents(), numbered(0, 3) + numbered(4, 6) + numbered(3, 4));

    // Copied and truncated, then written on.
    append(log, logLine(6));
    poll(follower);
    ASSERT_TRUE(QFile::copy(log, log + ".2"));
    ASSERT_TRUE(QFile::resize(log, 0));
    append(log, logLine(7));
    poll(follower);
    EXPECT_EQ(follower.LastChange(), "truncated");
    // Truncated and written past the old size between two looks: its first line tells.
    append(log, logLine(8));
    poll(follower);
    ASSERT_TRUE(QFile::resize(log, 0));
    append(log, logLines(9, 12));
    poll(follower);
    EXPECT_EQ(follower.LastChange(), "truncated");
    EXPECT_EQ(agents(), numbered(0, 3) + numbered(4, 6) + numbered(3, 4) + numbered(6, 12));

    // The rotated files hold nothing new.
    for (const QString& name : {log + ".1", log + ".2"})
        EXPECT_EQ(import(name).lines, 0);
    EXPECT_EQ(follower.Counts().recorded, 12);
}

TEST_F(LogFollow, ANewFileThatCannotBeReadStopsIt) {
    const QString log = dir.write("access.log", logLines(0, 1));
    LogFollower follower(log, options, store);
    QString error;
    ASSERT_TRUE(follower.Start(&error));
    poll(follower);
    ASSERT_TRUE(QFile::rename(log, log + ".1"));
    poll(follower);  // nothing at the path yet: waits
    ASSERT_TRUE(QDir().mkdir(log));
    EXPECT_FALSE(follower.Poll(&error));
    EXPECT_EQ(error, "is a folder");
}

// Asked to stop in the middle of a long backlog, a look commits what it read and ends; the next
// one reads on from there.
TEST_F(LogFollow, AnInterruptedLookCommitsWhatItReadAndTheNextGoesOn) {
    const int count = 10000;  // several chunks of the reader
    const QString log = dir.write("access.log", logLines(0, count));
    bool stopping = true;
    LogFollower follower(log, options, store);
    follower.SetInterrupt([&] { return stopping; });
    QString error;
    ASSERT_TRUE(follower.Start(&error));
    poll(follower);
    const int first = int(follower.Counts().recorded);
    EXPECT_GT(first, 0);
    EXPECT_LT(first, count / 2);
    EXPECT_EQ(agents(), numbered(0, first));
    stopping = false;
    poll(follower);
    EXPECT_EQ(agents(), numbered(0, count));
}

TEST_F(LogFollow, WaitsForTheFirstWholeLine) {
    const QString log = dir.write("access.log", {});
    LogFollower follower(log, options, store);
    QString error;
    ASSERT_TRUE(follower.Start(&error));
    poll(follower);
    const QByteArray line = logLine(0);
    append(log, line.left(10));
    poll(follower);
    EXPECT_TRUE(agents().isEmpty());
    append(log, line.mid(10));
    poll(follower);
    EXPECT_EQ(agents(), numbered(0, 1));
}

}  // namespace
