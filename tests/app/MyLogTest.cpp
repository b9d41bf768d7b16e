#include "app/MyLog.h"

#include "app/TextLines.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QRegularExpression>

#include <thread>
#include <vector>

namespace {

QStringList logFiles(const TempDir& dir) {
    return QDir(dir.file("log")).entryList(QDir::Files, QDir::Name);
}

TEST(Log, OpensANewFileNamedByTheTimeWithACounterWhenTaken) {
    TempDir dir;
    MyLog a, b, c;
    for (MyLog* log : {&a, &b, &c}) {
        log->SetDirectory(dir.path());
        ASSERT_EQ(log->Open(), 0);
    }
    const QRegularExpression name("^log-(\\d{14})(-\\d+)?\\.log$");
    const QStringList files = logFiles(dir);
    ASSERT_EQ(files.size(), 3);
    for (const QString& f : files)
        EXPECT_TRUE(name.match(f).hasMatch()) << f.toStdString();
    // Opened within the same second, the later names take the counters 1 and 2 (a second may
    // tick between the opens, so compare only names that share a stamp).
    const QString stamp = name.match(QFileInfo(a.FileName()).fileName()).captured(1);
    if (name.match(QFileInfo(c.FileName()).fileName()).captured(1) == stamp) {
        EXPECT_EQ(QFileInfo(b.FileName()).fileName(), "log-" + stamp + "-1.log");
        EXPECT_EQ(QFileInfo(c.FileName()).fileName(), "log-" + stamp + "-2.log");
    }
    EXPECT_EQ(a.Directory(), dir.path() + "/log/");
}

TEST(Log, WritesOneStampedLinePerCallAndNothingWhenClosed) {
    TempDir dir;
    MyLog log;
    log.Write("before open");
    log.SetDirectory(dir.path());
    ASSERT_EQ(log.Open(), 0);
    log.Write("QRV Opened!");
    log.Write(QByteArray("caf\xc3\xa9 \xff"));
    log.Close();
    log.Write("after close");
    const QByteArray text = ReadFileBytes(log.FileName());
    const QRegularExpression line("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d (.*)$");
    const std::vector<QByteArray> lines = SplitTextLines(text);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(text.endsWith("\r\n"));
    EXPECT_EQ(text.count("\r\n"), 2);
    EXPECT_EQ(line.match(QString::fromUtf8(lines[0])).captured(1), "QRV Opened!");
    EXPECT_TRUE(lines[1].endsWith(" caf\xc3\xa9 \xff"));
}

TEST(Log, LinesFromManyThreadsStayWhole) {
    TempDir dir;
    MyLog log;
    log.SetDirectory(dir.path());
    ASSERT_EQ(log.Open(), 0);
    constexpr int kThreads = 8, kLines = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&log, t] {
            const QByteArray msg =
                "thread " + QByteArray::number(t) + " " + QByteArray(300, 'a' + t);
            for (int i = 0; i < kLines; ++i)
                log.Write(msg);
        });
    for (auto& th : threads)
        th.join();
    log.Close();
    const std::vector<QByteArray> lines = SplitTextLines(ReadFileBytes(log.FileName()));
    ASSERT_EQ(lines.size(), size_t(kThreads * kLines));
    const QRegularExpression whole("^\\S+ \\S+ thread (\\d) ([a-h])\\2{299}$");
    for (const QByteArray& l : lines) {
        const auto m = whole.match(QString::fromLatin1(l));
        ASSERT_TRUE(m.hasMatch()) << l.constData();
        EXPECT_EQ(m.captured(2)[0].unicode() - 'a', m.captured(1).toInt());
    }
}

TEST(Log, OpenFailsWithoutTheWorkingDirectory) {
    MyLog log;
    log.SetDirectory("/nonexistent/orvo-workdir");
    EXPECT_EQ(log.Open(), -1);
    EXPECT_FALSE(log.IsOpen());
    log.Write("dropped");
    log.TidyUp(1);
    MyLog unset;
    EXPECT_EQ(unset.Open(), -1);
}

TEST(Log, TidyUpKeepsTheNewestNamesIgnoringCase) {
    TempDir dir;
    for (const char* old : {"log-20200101000000.log", "LOG-20200102000000.log", "log-old.txt",
                            "log-20200103000000.log", "log-20200104000000.log"})
        dir.write(QString("log/") + old, "old");
    dir.write("log/other.log", "not a log");
    QDir().mkpath(dir.file("log/log-dir"));
    MyLog log;
    log.SetDirectory(dir.path());
    ASSERT_EQ(log.Open(), 0);
    log.TidyUp(3);
    const QString mine = QFileInfo(log.FileName()).fileName();
    EXPECT_EQ(logFiles(dir),
              QStringList({"log-20200104000000.log", mine, "log-old.txt", "other.log"}));
    EXPECT_TRUE(QFileInfo(dir.file("log/log-dir")).isDir());

    log.TidyUp(0);
    log.TidyUp(-1);
    EXPECT_EQ(logFiles(dir).size(), 4);
}

}  // namespace
