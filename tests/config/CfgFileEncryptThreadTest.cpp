#include "config/CfgFileEncryptThread.h"

#include "app/Notices.h"
#include "config/BulkEncryptFixtures.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <functional>
#include <utility>
#include <vector>

namespace {

using Reports = std::vector<std::pair<int, int>>;

// Records the (code, row) reports of a run on the main thread.
class CfgFileEncryptThreadTest : public ::testing::Test {
  protected:
    CfgFileEncryptThreadTest() {
        for (int code = ToolStatusLoadErr; code <= ToolStatusSkipped; ++code)
            transport.SetHandler(code, [this](int c, const void* record) {
                const int row = static_cast<const Tag_ToolStatusReport*>(record)->row;
                onMainThread = onMainThread && QThread::currentThread() == qApp->thread();
                reports.emplace_back(c, row);
                if (onReport)
                    onReport(c, row);
            });
    }

    Reports run(CfgFileEncryptThread& thread) {
        thread.start();
        WaitHandlingNotices([&] { return thread.isFinished(); });
        return reports;
    }

    NoticeTransport transport;
    Reports reports;
    bool onMainThread = true;
    std::function<void(int, int)> onReport;
    TempDir inDir;
    TempDir outDir;
};

QStringList threadNames() {
    QStringList names;
    for (const QString& task : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        names << QString::fromUtf8(ReadFileBytes("/proc/self/task/" + task + "/comm")).trimmed();
    return names;
}

TEST_F(CfgFileEncryptThreadTest, ReportsEveryRowInOrderWhileTheWorkerWaits) {
    const QByteArray xml = XmlOfSize(100);
    const QStringList column = {"File", inDir.write("a.bin", BinOfSize(40)),
                                inDir.write("b.xml", xml), inDir.write("c.txt", "plain text"),
                                inDir.file("missing.xml")};
    QStringList namesDuringRun;
    bool secondWrittenEarly = false;
    onReport = [&](int, int row) {
        if (row == 1) {
            namesDuringRun = threadNames();
            secondWrittenEarly = QFileInfo::exists(outDir.file("b.xml"));
        }
    };

    CfgFileEncryptThread thread(&transport);
    thread.SetOutputDir(outDir.path());
    thread.SetKey("abc");
    thread.SetFileList(column);
    thread.SetStartFromRowOne(true);
    EXPECT_EQ(run(thread), Reports({{1132, 1}, {1132, 2}, {1134, 3}, {1129, 4}, {1135, 0}}));

    EXPECT_TRUE(onMainThread);
    EXPECT_FALSE(secondWrittenEarly);  // the worker waited until row 1 was handled
    EXPECT_TRUE(namesDuringRun.contains("CfgFileEncryptT"))
        << namesDuringRun.join(",").toStdString();
    // An odd key gets a "0".
    EXPECT_EQ(OpensslDecrypt(outDir.file("b.xml"), "abc00000000000000000000000000000"),
              xml + QByteArray(12, '\0'));
    EXPECT_EQ(QDir(outDir.path()).entryList(QDir::Files), QStringList({"a.bin", "b.xml"}));
}

TEST_F(CfgFileEncryptThreadTest, RefusesARunWithoutFolderOrRows) {
    const QString bin = inDir.write("a.bin", BinOfSize(40));
    const struct {
        const char* name;
        QString dir;
        std::optional<QStringList> column;
        bool fromRowOne;
        Reports expected;
    } cases[] = {
        {"no list", outDir.path(), std::nullopt, true, {{1135, 0}}},
        {"no folder", "", QStringList({"File", bin}), true, {{1133, -1}}},
        {"header only", outDir.path(), QStringList({"File"}), true, {{1133, -1}}},
        {"empty list", outDir.path(), QStringList(), false, {{1133, -1}}},
        {"from row 0",
         outDir.path(),
         QStringList({"File", bin}),
         false,
         {{1129, 0}, {1132, 1}, {1135, 0}}},
        {"overwrite off", outDir.path(), QStringList({"File", bin}), true, {{1136, 1}, {1135, 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reports.clear();
        CfgFileEncryptThread thread(&transport);
        thread.SetOutputDir(c.dir);
        if (c.column)
            thread.SetFileList(*c.column);
        thread.SetStartFromRowOne(c.fromRowOne);
        EXPECT_EQ(run(thread), c.expected);
    }
}

TEST_F(CfgFileEncryptThreadTest, OverwritesWhenAsked) {
    const QString bin = inDir.write("a.bin", BinOfSize(40));
    outDir.write("a.bin", "old");
    CfgFileEncryptThread thread(&transport);
    thread.SetOutputDir(outDir.path());
    thread.SetFileList({"File", bin});
    thread.SetStartFromRowOne(true);
    thread.SetOverwrite(true);
    EXPECT_EQ(run(thread), Reports({{1132, 1}, {1135, 0}}));
    EXPECT_EQ(ReadFileBytes(outDir.file("a.bin")).size(), 40 + 14);
}

TEST_F(CfgFileEncryptThreadTest, StopsAfterTheFileInHandWhenInterrupted) {
    QStringList column = {"File"};
    for (int i = 0; i < 5; ++i)
        column << inDir.write(QString("f%1.bin").arg(i), BinOfSize(40));
    CfgFileEncryptThread thread(&transport);
    onReport = [&](int, int row) {
        if (row == 2)
            thread.requestInterruption();
    };
    thread.SetOutputDir(outDir.path());
    thread.SetFileList(column);
    thread.SetStartFromRowOne(true);
    EXPECT_EQ(run(thread), Reports({{1132, 1}, {1132, 2}}));
    EXPECT_EQ(QDir(outDir.path()).entryList(QDir::Files), QStringList({"f0.bin", "f1.bin"}));
}

}  // namespace
