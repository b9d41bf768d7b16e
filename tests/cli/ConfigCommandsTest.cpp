#include "config/BinFile.h"
#include "config/CfgCrypto.h"
#include "config/XmlFile.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

namespace {

struct CliRun {
    int code;
    QByteArray out;
    QByteArray err;
};

CliRun cli(const QStringList& args) {
    CliRun r;
    r.code = RunProgram(BuiltProgram("orvo-cli"), args, &r.out, &r.err);
    return r;
}

const QByteArray kBin = "Flag=5678&CheckSum=0&P271=1&P2=admin&P35={$username.line.1}&end";

TEST(CliShow, PrintsTheKindThenEveryParameterInAscendingOrder) {
    TempDir dir;
    const CliRun bin = cli({"show", dir.write("t.bin", kBin)});
    EXPECT_EQ(bin.code, 0);
    EXPECT_EQ(bin.out, "kind: bin\nP2=admin\nP35={$username.line.1}\nP271=1\n");

    const CliRun xml = cli({"show", dir.write("t.xml",
                                              "<?xml version=\"1.0\"?><r><config><P9>a &amp; b</P9>"
                                              "<p3>x</p3></config></r>")});
    EXPECT_EQ(xml.code, 0);
    EXPECT_EQ(xml.out, "kind: xml\nP3=x\nP9=a & b\n");

    const CliRun other = cli({"show", dir.write("scrambled", ScrambleBinText(kBin))});
    EXPECT_EQ(other.code, 0);
    EXPECT_EQ(other.out, "kind: other\n");
}

TEST(CliShow, ReportsUnreadableAndBrokenFilesOnStderr) {
    TempDir dir;
    const struct {
        QString path;
        QByteArray firstLine;
        QByteArray problem;
    } cases[] = {
        {dir.file("missing.bin"), "kind: unreadable", "cannot be read"},
        {dir.write("empty", ""), "kind: unreadable", "cannot be read"},
        // What keeps the file from being read is named, and no warning of the toolkit leaks.
        {dir.file("none.bin"), "kind: unreadable", "none.bin: cannot be read: no such file"},
        {dir.write("void", ""), "kind: unreadable", "void: cannot be read: is empty"},
        {"/dev/null", "kind: unreadable", "/dev/null: cannot be read: is not a regular file"},
        {dir.path(), "kind: unreadable", ": cannot be read: is a folder, not a file"},
        {dir.write("nopairs.bin", "Flag=5678&CheckSum=0&end"), "kind: bin", "no parameter"},
        {dir.write("bad.xml", "<?xml version=\"1.0\"?><r><config>"), "kind: xml",
         "not well-formed"},
        {dir.write("noconfig.xml", "<?xml version=\"1.0\"?><r><P1>x</P1></r>"), "kind: xml",
         "\"config\""},
    };
    for (const auto& c : cases) {
        const CliRun r = cli({"show", c.path});
        EXPECT_NE(r.code, 0) << c.path.toStdString();
        EXPECT_EQ(r.out, c.firstLine + "\n");
        EXPECT_TRUE(r.err.contains(c.path.toUtf8())) << r.err.constData();
        EXPECT_TRUE(r.err.contains(c.problem)) << r.err.constData();
        EXPECT_EQ(r.err.count('\n'), 1);
    }
}

TEST(CliConvert, WritesEachFormWithTheProgramsWriters) {
    TempDir dir;
    const QString in = dir.write("in.bin", kBin);
    ParameterSet set;
    ASSERT_EQ(ParseBinText(kBin, set), BinReadStatus::Ok);
    const struct {
        const char* to;
        QStringList extra;
        QByteArray expected;
    } cases[] = {
        {"bin", {}, BuildBinText(set)},
        {"bin-scrambled", {}, ScrambleBinText(BuildBinText(set))},
        {"xml", {}, PrintXmlConfig(set)},
        {"xml-encrypted", {}, EncryptedXmlBytes(PrintXmlConfig(set), kDefaultXmlKey)},
        {"xml-encrypted", {"--key", ""}, EncryptedXmlBytes(PrintXmlConfig(set), kDefaultXmlKey)},
        {"xml-encrypted", {"--key", "abc"}, EncryptedXmlBytes(PrintXmlConfig(set), "abc")},
    };
    for (const auto& c : cases) {
        const QString out = dir.file(QString("out-%1").arg(c.to));
        const CliRun r = cli(QStringList{"convert", "--to", c.to} + c.extra + QStringList{in, out});
        EXPECT_EQ(r.code, 0) << c.to << r.err.constData();
        EXPECT_EQ(ReadFileBytes(out), c.expected) << c.to;
    }
    // and back from XML
    const CliRun back = cli({"convert", "--to", "bin", dir.file("out-xml"), dir.file("round.bin")});
    EXPECT_EQ(back.code, 0);
    EXPECT_EQ(ReadFileBytes(dir.file("round.bin")), BuildBinText(set));
}

TEST(CliConvert, EncryptedXmlDecryptsWithOpensslToThePrintedDocument) {
    TempDir dir;
    const QString in = dir.write("in.bin", kBin);
    const QString out = dir.file("enc.xml");
    ASSERT_EQ(cli({"convert", "--to", "xml-encrypted", "--key", "0123456789abcdef", in, out}).code,
              0);
    const CliRun printed = cli({"convert", "--to", "xml", in, dir.file("plain.xml")});
    ASSERT_EQ(printed.code, 0);
    const QByteArray doc = ReadFileBytes(dir.file("plain.xml"));
    QByteArray plain;
    ASSERT_EQ(
        RunProgram("openssl",
                   {"enc", "-d", "-aes-128-cbc", "-nopad", "-K", "0123456789abcdef0000000000000000",
                    "-iv", "0313181f181d01131a161d1b0705020a", "-in", out},
                   &plain),
        0);
    EXPECT_EQ(plain.left(doc.size()), doc);
    EXPECT_EQ(plain.mid(doc.size()), QByteArray(plain.size() - doc.size(), '\0'));
    EXPECT_GE(plain.size() - doc.size(), 1);
}

TEST(CliConvert, XmlOutputsNameWhatTheyLeftOutOnStderr) {
    TempDir dir;
    const QString in = dir.write("in.bin", "Flag=5678&CheckSum=0&P1=a\x01\x1b&P2=b\r&P3=c&end");
    for (const char* to : {"xml", "xml-encrypted"}) {
        const QString out = dir.file(QString("out-%1").arg(to));
        const CliRun r = cli({"convert", "--to", to, in, out});
        EXPECT_EQ(r.code, 0) << to;
        EXPECT_EQ(r.err, "orvo-cli: " + out.toUtf8() +
                             ": characters XML cannot hold left out: P1 U+0001 U+001B\n")
            << to;
    }
    EXPECT_EQ(RunProgram("xmllint", {"--noout", dir.file("out-xml")}), 0);
    const CliRun bin = cli({"convert", "--to", "bin", in, dir.file("out.bin")});
    EXPECT_EQ(bin.code, 0);
    EXPECT_TRUE(bin.err.isEmpty());
}

TEST(CliConvert, RefusesBadInputWithOneLineAndLeavesNoFile) {
    TempDir dir;
    const QString in = dir.write("in.bin", kBin);
    const QString garbage = dir.write("garbage", "\x01\x02garbage");
    const QString out = dir.file("out");
    const struct {
        QStringList args;
        QByteArray names;
    } cases[] = {
        {{"convert", "--to", "xml", dir.file("missing"), out}, "missing"},
        {{"convert", "--to", "xml", garbage, out}, "garbage"},
        {{"convert", "--to", "pdf", in, out}, "--to"},
        {{"convert", "--to", "xml-encrypted", "--key", "0123456789abcdef0", in, out}, "16"},
        {{"convert", "--to", "bin", "--key", "abc", in, out}, "--key"},
        {{"convert", "--to", "bin", in, dir.file("no/such/folder/out")}, "no/such/folder/out"},
        {{"convert", "--to", "bin", in, dir.path()}, "folder"},
    };
    for (const auto& c : cases) {
        const CliRun r = cli(c.args);
        EXPECT_NE(r.code, 0) << c.args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(c.names)) << r.err.constData();
        EXPECT_EQ(r.err.count('\n'), 1) << r.err.constData();
        EXPECT_FALSE(QFileInfo::exists(out));
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

}  // namespace
