#include "config/BulkEncryptFixtures.h"
#include "config/CfgCrypto.h"
#include "config/XmlFile.h"

#include <gtest/gtest.h>

#include <QDir>

namespace {

struct CliRun {
    int rc;
    QList<QByteArray> lines;
    QByteArray err;
};

CliRun encrypt(const QStringList& args) {
    QByteArray out, err;
    const int rc = RunProgram(BuiltProgram("orvo-cli"), QStringList{"encrypt"} + args, &out, &err);
    QList<QByteArray> lines = out.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return {rc, lines, err};
}

QByteArray line(const QString& path, int status, const char* words) {
    return path.toUtf8() + '\t' + QByteArray::number(status) + '\t' + words;
}

TEST(EncryptCommand, GivesEveryFileItsStatusAndFailsWhenOneFailed) {
    TempDir in, out;
    const QByteArray xml = XmlOfSize(100);
    const QString bin = in.write("a.bin", BinOfSize(60));
    const QString xmlPath = in.write("b.xml", xml);
    const QString other = in.write("c.xml", EncryptedXmlBytes(xml, ""));
    const QString empty = in.write("d.bin", "");

    const CliRun run = encrypt({"--out", out.path(), bin, xmlPath, other, empty});
    EXPECT_EQ(run.rc, 1);
    EXPECT_EQ(
        run.lines,
        QList<QByteArray>({line(bin, 1132, "scrambled"), line(xmlPath, 1132, "encrypted"),
                           line(other, 1134, "is neither a bin nor a plain XML configuration file"),
                           line(empty, 1129, "is empty")}));
    // Without --key the default key.
    EXPECT_EQ(OpensslDecrypt(out.file("b.xml"), kDefaultKeyHex), xml + QByteArray(12, '\0'));
    EXPECT_EQ(ReadFileBytes(out.file("a.bin")).size(), 60 + 14);

    // A second run skips what exists (not a failure), --overwrite replaces it under the new key.
    const CliRun again = encrypt({"--out", out.path(), bin, xmlPath});
    EXPECT_EQ(again.rc, 0);
    EXPECT_EQ(again.lines, QList<QByteArray>({line(bin, 1136, "skipped: the output exists"),
                                              line(xmlPath, 1136, "skipped: the output exists")}));
    const CliRun replaced =
        encrypt({"--overwrite", "--key", " 0123456789ABCDE ", "--out", out.path(), xmlPath});
    EXPECT_EQ(replaced.rc, 0);
    EXPECT_EQ(replaced.lines, QList<QByteArray>({line(xmlPath, 1132, "encrypted")}));
    EXPECT_EQ(OpensslDecrypt(out.file("b.xml"), "0123456789abcde00000000000000000"),
              xml + QByteArray(12, '\0'));
}

TEST(EncryptCommand, EmptyKeySkipsXmlFiles) {
    TempDir in, out;
    const QString xml = in.write("b.xml", XmlOfSize(100));
    const QString bin = in.write("a.bin", BinOfSize(60));
    const CliRun run = encrypt({"--key", "", "--out", out.path(), xml, bin});
    EXPECT_EQ(run.rc, 0);
    EXPECT_EQ(run.lines, QList<QByteArray>({line(xml, 1136, "skipped: XML file and no key"),
                                            line(bin, 1132, "scrambled")}));
    EXPECT_EQ(QDir(out.path()).entryList(QDir::Files), QStringList({"a.bin"}));
}

TEST(EncryptCommand, LeavesInputsAloneInTheirOwnFolder) {
    TempDir in;
    const QByteArray xml = XmlOfSize(100);
    const QString path = in.write("b.xml", xml);
    const CliRun run = encrypt({"--overwrite", "--out", in.path(), path});
    EXPECT_EQ(run.rc, 1);
    EXPECT_EQ(
        run.lines,
        QList<QByteArray>({line(path, 1131, "not written: the output would replace the input")}));
    EXPECT_EQ(ReadFileBytes(path), xml);
}

TEST(EncryptCommand, RefusesBadArguments) {
    TempDir in, out;
    const QString bin = in.write("a.bin", BinOfSize(60));
    const struct {
        QStringList args;
        const char* error;
    } cases[] = {
        {{"--out", "", bin}, "option '--out' is empty"},
        {{"--out", out.file("none"), bin}, "is not an existing writable folder"},
        {{"--out", bin, bin}, "is not an existing writable folder"},
        {{"--key", "0123456789abcdef0", "--out", out.path(), bin}, "longer than 16"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const CliRun run = encrypt(c.args);
        EXPECT_NE(run.rc, 0);
        EXPECT_TRUE(run.lines.isEmpty());
        EXPECT_TRUE(run.err.contains(c.error)) << run.err.toStdString();
    }
    EXPECT_TRUE(QDir(out.path()).isEmpty());
}

}  // namespace
