// orvo-cli cert: a file that cannot be written is named with the reason.
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

TEST(CertCommand, AFileThatCannotBeWrittenIsNamedWithTheReason) {
    TempDir dir;
    QDir().mkpath(dir.file("server.key/in-the-way"));  // a folder where the key goes
    QByteArray out, err;
    EXPECT_EQ(RunProgram(BuiltProgram("orvo-cli"),
                         {"cert", "--address", "10.0.0.2", "--out", dir.path(), "--overwrite"},
                         &out, &err),
              1);
    EXPECT_EQ(err, "orvo-cli: cert: " + dir.file("server.key").toUtf8() +
                       ": cannot be written: is a directory\n");
    EXPECT_TRUE(out.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(dir.file("server.crt")));
}
