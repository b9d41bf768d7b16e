#include "config/BulkEncrypt.h"

#include "app/Notices.h"
#include "config/BulkEncryptFixtures.h"
#include "config/CfgCrypto.h"
#include "config/ConfigFixtures.h"
#include "config/XmlFile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>
#include <optional>

namespace {

// An input folder and an empty output folder.
class BulkEncryptTest : public ::testing::Test {
  protected:
    QString in(const QString& name, const QByteArray& bytes) { return inDir.write(name, bytes); }
    QString out(const QString& name) const { return outDir.file(name); }

    TempDir inDir;
    TempDir outDir;
};

TEST_F(BulkEncryptTest, EachKindOfInputGetsItsStatus) {
    const QByteArray bin = BinOfSize(60);
    const QByteArray xml = XmlOfSize(100);
    const struct {
        const char* name;
        std::optional<QByteArray> input;  // none: the input does not exist
        QByteArray key;
        bool overwrite;
        std::optional<QByteArray> existingOutput;
        CfgEncryptOutcome outcome;
        int status;
    } cases[] = {
        {"missing", std::nullopt, kDefaultXmlKey, false, {}, CfgEncryptOutcome::OpenFailed, 1129},
        {"empty", QByteArray(), kDefaultXmlKey, false, {}, CfgEncryptOutcome::Empty, 1129},
        {"text.xml",
         QByteArray("just some text"),
         kDefaultXmlKey,
         false,
         {},
         CfgEncryptOutcome::InvalidFormat,
         1134},
        {"scrambled.bin",
         ScrambleBinText(bin),
         kDefaultXmlKey,
         true,
         {},
         CfgEncryptOutcome::InvalidFormat,
         1134},
        {"encrypted.xml",
         EncryptedXmlBytes(xml, kDefaultXmlKey),
         kDefaultXmlKey,
         true,
         {},
         CfgEncryptOutcome::InvalidFormat,
         1134},
        {"exists-kept.bin", bin, kDefaultXmlKey, false, QByteArray("old output"),
         CfgEncryptOutcome::OutputExists, 1136},
        {"exists-replaced.bin", bin, kDefaultXmlKey, true, QByteArray("old output"),
         CfgEncryptOutcome::Scrambled, 1132},
        {"nokey.xml", xml, "", false, {}, CfgEncryptOutcome::NoKey, 1136},
        {"nokey.bin", bin, "", false, {}, CfgEncryptOutcome::Scrambled, 1132},
        {"default.xml", xml, kDefaultXmlKey, false, {}, CfgEncryptOutcome::Encrypted, 1132},
        {"fifteen.xml", xml, "0123456789ABCDE", false, {}, CfgEncryptOutcome::Encrypted, 1132},
        {"exists-replaced.xml", xml, kDefaultXmlKey, true, QByteArray("old"),
         CfgEncryptOutcome::Encrypted, 1132},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString input = c.input ? in(c.name, *c.input) : inDir.file(c.name);
        if (c.existingOutput)
            outDir.write(c.name, *c.existingOutput);

        const CfgEncryptOutcome outcome = EncryptCfgFile(input, outDir.path(), c.key, c.overwrite);
        EXPECT_EQ(outcome, c.outcome);
        EXPECT_EQ(ToolStatusOf(outcome), c.status);

        if (c.input) {
            EXPECT_EQ(ReadFileBytes(input), *c.input);  // the input is never written
        }
        if (c.status != 1132) {
            EXPECT_EQ(QFileInfo::exists(out(c.name)), c.existingOutput.has_value());
            if (c.existingOutput) {
                EXPECT_EQ(ReadFileBytes(out(c.name)), *c.existingOutput);
            }
        }
    }
    // The written outputs, checked with independent oracles.
    EXPECT_EQ(Unscramble(ReadFileBytes(out("exists-replaced.bin")), bin.size()),
              ExpectedScrambledPlain(bin));
    EXPECT_EQ(Unscramble(ReadFileBytes(out("nokey.bin")), bin.size()), ExpectedScrambledPlain(bin));
    const QByteArray xmlPlain = xml + QByteArray(12, '\0');
    EXPECT_EQ(OpensslDecrypt(out("default.xml"), kDefaultKeyHex), xmlPlain);
    EXPECT_EQ(OpensslDecrypt(out("exists-replaced.xml"), kDefaultKeyHex), xmlPlain);
    // A 15-character key is used with a "0" appended.
    EXPECT_EQ(OpensslDecrypt(out("fifteen.xml"), "0123456789abcde00000000000000000"), xmlPlain);
}

TEST_F(BulkEncryptTest, OutputSizesFollowTheInputSizes) {
    for (const int size : {64, 100, 111, 112, 113, 20000}) {
        SCOPED_TRACE(size);
        const QByteArray xml = XmlOfSize(size);
        const QString name = QString("%1.xml").arg(size);
        ASSERT_EQ(EncryptCfgFile(in(name, xml), outDir.path(), "abc", false),
                  CfgEncryptOutcome::Encrypted);
        const QByteArray written = ReadFileBytes(out(name));
        EXPECT_EQ(written.size(), (size / 16 + 1) * 16);
        EXPECT_EQ(OpensslDecrypt(out(name), "abc00000000000000000000000000000"),
                  xml + QByteArray(written.size() - size, '\0'));
    }
    EXPECT_EQ(ReadFileBytes(out("100.xml")).size(), 112);
    EXPECT_EQ(ReadFileBytes(out("112.xml")).size(), 128);

    for (const int size : {28, 29, 100, 20000}) {
        SCOPED_TRACE(size);
        const QByteArray bin = BinOfSize(size);
        const QString name = QString("%1.bin").arg(size);
        ASSERT_EQ(EncryptCfgFile(in(name, bin), outDir.path(), "", false),
                  CfgEncryptOutcome::Scrambled);
        const QByteArray written = ReadFileBytes(out(name));
        EXPECT_EQ(written.size(), size + 14);
        EXPECT_EQ(Unscramble(written, size), ExpectedScrambledPlain(bin));
    }
}

TEST_F(BulkEncryptTest, BinInputEndsAtItsFirstZeroByteAndKeepsItsLength) {
    const QByteArray bin = QByteArray("Flag=5678&CheckSum=0&P1=a&end\0tail", 34);
    ASSERT_EQ(EncryptCfgFile(in("zero.bin", bin), outDir.path(), "", false),
              CfgEncryptOutcome::Scrambled);
    const QByteArray written = ReadFileBytes(out("zero.bin"));
    ASSERT_EQ(written.size(), 34 + 14);
    EXPECT_EQ(Unscramble(written, 29),
              ExpectedScrambledPlain(bin.left(29)) + QByteArray(34 - 29, '\0'));
}

TEST_F(BulkEncryptTest, NeverReplacesTheInputItself) {
    const QByteArray xml = XmlOfSize(100);
    const QByteArray bin = BinOfSize(50);
    const QString xmlPath = in("a.xml", xml);
    const QString binPath = in("a.bin", bin);

    // The inputs' own folder, named directly and through a symbolic link.
    const QString link = outDir.file("link");
    ASSERT_EQ(
        ::symlink(QFile::encodeName(inDir.path()).constData(), QFile::encodeName(link).constData()),
        0);
    for (const QString& dir : {inDir.path(), inDir.path() + "/", link}) {
        SCOPED_TRACE(dir.toStdString());
        EXPECT_EQ(EncryptCfgFile(xmlPath, dir, kDefaultXmlKey, true),
                  CfgEncryptOutcome::OutputIsInput);
        EXPECT_EQ(EncryptCfgFile(binPath, dir, kDefaultXmlKey, true),
                  CfgEncryptOutcome::OutputIsInput);
        EXPECT_EQ(ToolStatusOf(CfgEncryptOutcome::OutputIsInput), 1131);
        // Without overwriting the existing output skips first.
        EXPECT_EQ(EncryptCfgFile(xmlPath, dir, kDefaultXmlKey, false),
                  CfgEncryptOutcome::OutputExists);
    }
    // A hard link in the output folder is the same file as well.
    ASSERT_EQ(
        ::link(QFile::encodeName(xmlPath).constData(), QFile::encodeName(out("a.xml")).constData()),
        0);
    EXPECT_EQ(EncryptCfgFile(xmlPath, outDir.path(), kDefaultXmlKey, true),
              CfgEncryptOutcome::OutputIsInput);

    EXPECT_EQ(ReadFileBytes(xmlPath), xml);
    EXPECT_EQ(ReadFileBytes(binPath), bin);
    EXPECT_EQ(QDir(inDir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList({"a.bin", "a.xml"}));
}

TEST_F(BulkEncryptTest, WriteFailuresKeepTheOldOutput) {
    const QString input = in("a.bin", BinOfSize(5000));
    EXPECT_EQ(EncryptCfgFile(input, outDir.file("missing-folder"), "", true),
              CfgEncryptOutcome::WriteFailed);
    EXPECT_EQ(ToolStatusOf(CfgEncryptOutcome::WriteFailed), 1131);

    outDir.write("a.bin", "old output");
    {
        const FileSizeLimit limit(1000);
        EXPECT_EQ(EncryptCfgFile(input, outDir.path(), "", true), CfgEncryptOutcome::WriteFailed);
    }
    EXPECT_EQ(ReadFileBytes(out("a.bin")), QByteArray("old output"));
    EXPECT_EQ(QDir(outDir.path()).entryList(QDir::Files | QDir::Hidden), QStringList({"a.bin"}));
}

TEST_F(BulkEncryptTest, OnlyRegularFilesAreRead) {
    const QString fifo = inDir.file("pipe.bin");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_EQ(EncryptCfgFile(fifo, outDir.path(), "", false), CfgEncryptOutcome::OpenFailed);
    QDir(inDir.path()).mkdir("folder.xml");
    EXPECT_EQ(EncryptCfgFile(inDir.file("folder.xml"), outDir.path(), "", false),
              CfgEncryptOutcome::OpenFailed);
    EXPECT_TRUE(QDir(outDir.path()).isEmpty());
}

TEST(BulkEncryptOutputPath, IsTheFolderAndTheInputsName) {
    EXPECT_EQ(CfgEncryptOutputPath("/a/b/cfg001.xml", "/out"), "/out/cfg001.xml");
    EXPECT_EQ(CfgEncryptOutputPath("/a/b/cfg001.xml", "/out/"), "/out/cfg001.xml");
    EXPECT_EQ(CfgEncryptOutputPath("rel.bin", "/out"), "/out/rel.bin");
}

}  // namespace
