#include "app/MyLog.h"

#include "app/TextLines.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QDateTime>
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

// A thread that writes several lines at once forms them as Write does and hands them over in
// one piece.
TEST(Log, LinesFormedAheadAreWrittenAsWriteWritesThem) {
    TempDir dir;
    MyLog log;
    QList<QByteArray> observed;
    log.SetLineObserver([&](const QByteArray& m) { observed << m; });
    log.Append(log.FormatLine("before open"));
    log.SetDirectory(dir.path());
    ASSERT_EQ(log.Open(), 0);
    const QByteArray first = log.FormatLine("one\r\ntwo");
    const QByteArray second = log.FormatLine("three");
    EXPECT_EQ(observed, QList<QByteArray>({"before open", "one%0D%0Atwo", "three"}));
    EXPECT_EQ(ReadFileBytes(log.FileName()), "");  // formed, not written
    log.Append(first + second);
    log.Write("four");
    log.Close();
    log.Append(log.FormatLine("after close"));
    const std::vector<QByteArray> lines = SplitTextLines(ReadFileBytes(log.FileName()));
    ASSERT_EQ(lines.size(), 3u);
    const QRegularExpression line("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d (.*)$");
    const char* const messages[] = {"one%0D%0Atwo", "three", "four"};
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(line.match(QString::fromUtf8(lines[i])).captured(1), messages[i]);
    EXPECT_TRUE(first.endsWith("\r\n"));
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

// The file just opened is never removed, whatever the other names sort like; a name with a
// counter is newer than the same stamp without one.
TEST(Log, TidyUpNeverRemovesTheOpenFile) {
    const QString now = QDateTime::currentDateTime().toString("yyyyMMddhhmmss");
    const QString next = QDateTime::currentDateTime().addSecs(1).toString("yyyyMMddhhmmss");
    const QString later = QDateTime::currentDateTime().addSecs(2).toString("yyyyMMddhhmmss");
    const struct {
        const char* what;
        QStringList before;
        int keep;
        QStringList kept;  // beside the open file
    } cases[] = {
        {"a name sorting after the stamps", {"log-old.txt"}, 1, {}},
        {"the open file takes a counter",
         {"log-" + now + ".log", "log-" + next + ".log", "log-" + later + ".log"},
         1,
         {}},
        {"counters are newer",
         {"log-20200101000000.log", "log-20200101000000-1.log", "log-20200101000000-2.log"},
         3,
         {"log-20200101000000-1.log", "log-20200101000000-2.log"}},
        {"upper-case and odd names",
         {"LOG-20200101000000.LOG", "log-old.txt", "logbook"},
         2,
         {"logbook"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        for (const QString& name : c.before)
            dir.write("log/" + name, "old");
        MyLog log;
        log.SetDirectory(dir.path());
        ASSERT_EQ(log.Open(), 0);
        log.Write("QRV Opened!");
        log.TidyUp(c.keep);
        QStringList expected = c.kept;
        expected << QFileInfo(log.FileName()).fileName();
        expected.sort();
        EXPECT_EQ(logFiles(dir), expected);
        log.Write("still here");
        EXPECT_TRUE(ReadFileBytes(log.FileName()).contains("still here"));
    }
}

// No text handed to the log can end its line or start another: control bytes are written as
// %XX, in the file and to the line observer alike.
TEST(Log, ControlBytesAreWrittenEscaped) {
    const struct {
        QByteArray message;
        QByteArray written;
    } cases[] = {
        {"GET /cfg/x\r\n2026-12-10 05:40:00 BUILT-IN",
         "GET /cfg/x%0D%0A2026-12-10 05:40:00 BUILT-IN"},
        {QByteArray("a\0b", 3), "a%00b"},
        {"tab\tbell\aesc\x1b del\x7f", "tab%09bell%07esc%1B del%7F"},
        {"100% plain caf\xc3\xa9 \xff", "100% plain caf\xc3\xa9 \xff"},
        {"\n", "%0A"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LogSafeText(c.message), c.written) << c.message.toStdString();
        EXPECT_EQ(LogSafeText(c.written), c.written);
    }

    TempDir dir;
    MyLog log;
    QList<QByteArray> observed;
    log.SetLineObserver([&](const QByteArray& m) { observed << m; });
    log.SetDirectory(dir.path());
    ASSERT_EQ(log.Open(), 0);
    for (const auto& c : cases)
        log.Write(c.message);
    log.Close();
    const QByteArray text = ReadFileBytes(log.FileName());
    EXPECT_EQ(text.count('\n'), int(std::size(cases)));
    EXPECT_EQ(text.count('\r'), int(std::size(cases)));
    EXPECT_FALSE(text.contains('\0'));
    ASSERT_EQ(observed.size(), qsizetype(std::size(cases)));
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(observed[qsizetype(i)], cases[i].written);
        EXPECT_TRUE(text.contains(" " + cases[i].written + "\r\n"));
    }
}

}  // namespace
