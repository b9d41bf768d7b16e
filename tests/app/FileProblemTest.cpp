// What keeps a file from being read, in the words messages name it with.
#include "app/FileProblem.h"
#include "support/RunAsNobody.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <sys/stat.h>

TEST(FileReadProblem, NamesWhatKeepsAFileFromBeingRead) {
    TempDir dir;
    const QString file = dir.write("a.txt", "x");
    const QString empty = dir.write("empty", "");
    QDir().mkpath(dir.file("folder"));
    const struct {
        QString path, problem;
    } cases[] = {
        {file, ""},
        {empty, ""},
        {dir.file("none"), "no such file"},
        {file + "/inside", "no such file (a part of the path is not a folder)"},
        {dir.file("folder"), "is a folder, not a file"},
        {"/dev/null", "is not a regular file"},
        {"", "no file name"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FileReadProblem(c.path), c.problem) << c.path.toStdString();

    // A file of another user that only its owner may read (the test gives root up for that).
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    ::chmod(QFile::encodeName(file).constData(), 0600);
    const int result = RunAsNobody(
        [&] { return FileReadProblem(file) == "cannot be read: permission denied" ? 0 : 1; });
    if (result == 3)
        GTEST_SKIP() << "root cannot be given up here";
    EXPECT_EQ(result, 0);
}
