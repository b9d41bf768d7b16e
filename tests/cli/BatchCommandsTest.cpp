#include "config/BinFile.h"
#include "config/CfgCrypto.h"
#include "config/XmlFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

namespace {

class CliBatch : public ::testing::Test {
  protected:
    CliBatch() {
        tpl = dir.write(
            "t.bin",
            "Flag=5678&CheckSum=0&P2=admin&P35={$username.line.1}&P237={$cfg_srv_path}&end");
        csv = dir.write("a.csv",
                        "MAC,{$username.line.1}\r\n02E5D2AABBCC,alice\r\n02E5D2000002,bob\r\n");
        out = dir.path() + "/out";
        QDir().mkpath(out);
    }
    int batch(const QStringList& extra) {
        stdoutText.clear();
        stderrText.clear();
        return RunProgram(
            BuiltProgram("orvo-cli"),
            QStringList{"batch", "--template", tpl, "--csv", csv, "--out", out} + extra,
            &stdoutText, &stderrText);
    }
    static ParameterSet set(std::initializer_list<std::pair<PNumber, QByteArray>> values) {
        ParameterSet s;
        for (const auto& [p, v] : values)
            s.Set(p, v);
        return s;
    }
    TempDir dir;
    QString tpl, csv, out;
    QByteArray stdoutText, stderrText;
};

TEST_F(CliBatch, WritesOneFilePerRowAndPrintsItsPath) {
    ASSERT_EQ(batch({"--mode", "mac", "--format", "bin", "--scramble"}), 0)
        << stderrText.constData();
    EXPECT_EQ(stdoutText, (out + "/cfg02e5d2aabbcc\n" + out + "/cfg02e5d2000002\n").toUtf8());
    EXPECT_EQ(ReadFileBytes(out + "/cfg02e5d2aabbcc"),
              ScrambleBinText(
                  BuildBinText(set({{2, "admin"}, {35, "alice"}, {237, "{$cfg_srv_path}"}}))));

    csv = dir.write("p.csv", "PIN,{$username.line.1}\r\n12345,carol\r\n");
    ASSERT_EQ(batch({"--mode", "pin", "--format", "xml", "--xml-key", "0a1b"}), 0);
    EXPECT_EQ(stdoutText, (out + "/12345.xml\n").toUtf8());
    EXPECT_EQ(
        ReadFileBytes(out + "/12345.xml"),
        EncryptedXmlBytes(
            PrintXmlConfig(set({{2, "admin"}, {35, "carol"}, {237, "{$cfg_srv_path}"}})), "0a1b"));
}

TEST_F(CliBatch, AutofillTakesTheAddressPortAndTheSettingsPNumbers) {
    const QString ini = dir.write("s.ini",
                                  "[PNO]\r\np_upgrade_mode=271\r\np_cfg_server_path=237\r\n"
                                  "p_fw_server_path=238\r\n");
    ASSERT_EQ(batch({"--mode", "mac", "--format", "xml", "--autofill", "10.0.0.5:6000",
                     "--settings", ini}),
              0)
        << stderrText.constData();
    EXPECT_EQ(ReadFileBytes(out + "/cfg02e5d2000002.xml"),
              PrintXmlConfig(set({{2, "admin"},
                                  {35, "bob"},
                                  {237, "http://10.0.0.5:6000/cfg"},
                                  {238, "http://10.0.0.5:6000/fw"},
                                  {271, "1"}})));
}

TEST_F(CliBatch, XmlFilesNameWhatTheyLeftOutOnStderr) {
    csv = dir.write("c.csv",
                    "MAC,{$username.line.1},{$cfg_srv_path}\r\n02E5D2AABBCC,al\x02ice,c\r\n"
                    "02E5D2000002,bob,c\r\n");
    ASSERT_EQ(batch({"--mode", "mac", "--format", "xml"}), 0) << stderrText.constData();
    EXPECT_EQ(stdoutText,
              (out + "/cfg02e5d2aabbcc.xml\n" + out + "/cfg02e5d2000002.xml\n").toUtf8());
    EXPECT_EQ(stderrText, "orvo-cli: " + out.toUtf8() +
                              "/cfg02e5d2aabbcc.xml: characters XML cannot hold left out: P35 "
                              "U+0002\n");
    EXPECT_EQ(RunProgram("xmllint", {"--noout", out + "/cfg02e5d2aabbcc.xml"}), 0);
}

// The placeholders no column fills are named once on stderr (the exit status stays 0).
// Autofill follows the protocol of the settings' built-in server: tftp:// with [TFTP SERVER]
// protocol=1, and then nothing is left unfilled.
TEST_F(CliBatch, NamesUnfilledPlaceholdersAndAutofillsForTheChosenProtocol) {
    ASSERT_EQ(batch({"--mode", "mac", "--format", "bin"}), 0) << stderrText.constData();
    EXPECT_EQ(stderrText, "orvo-cli: " + tpl.toUtf8() +
                              ": placeholders no CSV column fills, left in the files as they "
                              "are: P237={$cfg_srv_path}\n");
    EXPECT_EQ(stdoutText, (out + "/cfg02e5d2aabbcc\n" + out + "/cfg02e5d2000002\n").toUtf8());

    const QString ini = dir.write("s.ini",
                                  "[PNO]\r\np_upgrade_mode=0\r\np_cfg_server_path=237\r\n"
                                  "p_fw_server_path=238\r\n[TFTP SERVER]\r\nport=69\r\n"
                                  "protocol=1\r\n[HTTP SERVER]\r\nhttps=1\r\n");
    ASSERT_EQ(batch({"--mode", "mac", "--format", "xml", "--autofill", "10.0.0.5:1069",
                     "--settings", ini}),
              0)
        << stderrText.constData();
    EXPECT_EQ(stderrText, "");
    EXPECT_EQ(ReadFileBytes(out + "/cfg02e5d2000002.xml"),
              PrintXmlConfig(set({{2, "admin"},
                                  {35, "bob"},
                                  {237, "tftp://10.0.0.5:1069/cfg"},
                                  {238, "tftp://10.0.0.5:1069/fw"}})));
}

// The port's range is the chosen server's: TFTP takes 69, HTTP does not take 80 (a usage error).
TEST_F(CliBatch, TheAutofilledPortFollowsTheChosenServersRule) {
    const QString tftp = dir.write("t.ini",
                                   "[PNO]\r\np_cfg_server_path=237\r\n[TFTP SERVER]\r\n"
                                   "protocol=1\r\n");
    EXPECT_EQ(batch({"--mode", "mac", "--format", "bin", "--autofill", "10.0.0.5:69", "--settings",
                     tftp}),
              0)
        << stderrText.constData();
    const QString http = dir.write("h.ini", "[PNO]\r\np_cfg_server_path=237\r\n");
    EXPECT_EQ(batch({"--mode", "mac", "--format", "bin", "--autofill", "10.0.0.5:80", "--settings",
                     http}),
              2);
    EXPECT_TRUE(stderrText.startsWith("orvo-cli batch: --autofill expects"))
        << stderrText.constData();
}

TEST_F(CliBatch, RefusalsGoToStderrWithANonZeroExit) {
    const QString goodTpl = tpl, goodOut = out;
    const struct {
        QStringList args;
        QString tpl, out;
        QByteArray error;
    } cases[] = {
        {{"--mode", "pin", "--format", "bin"}, goodTpl, goodOut, "a.csv: LCsvError7"},
        {{"--mode", "mac", "--format", "bin"}, csv, goodOut, "a.csv: LCfgError1"},
        {{"--mode", "mac", "--format", "xml", "--xml-key", "0123456789abcdef0"},
         goodTpl,
         goodOut,
         "longer than 16"},
        {{"--mode", "mac", "--format", "bin"}, goodTpl, goodOut + "/missing", "is not a folder"},
        {{"--mode", "mac", "--format", "bin", "--autofill", "10.0.0.5:6000"},
         goodTpl,
         goodOut,
         "go together"},
    };
    for (const auto& c : cases) {
        tpl = c.tpl;
        out = c.out;
        EXPECT_NE(batch(c.args), 0) << c.error.constData();
        EXPECT_TRUE(stderrText.contains(c.error)) << stderrText.constData();
        EXPECT_TRUE(stdoutText.isEmpty());
        EXPECT_TRUE(QDir(goodOut).isEmpty());
    }
    tpl = goodTpl;
    out = goodOut;
    csv = dir.write("h.csv", "MAC,{$a}\r\n");
    EXPECT_NE(batch({"--mode", "mac", "--format", "bin"}), 0);
    EXPECT_TRUE(stderrText.contains("h.csv: LCsvError4")) << stderrText.constData();
}

// A row whose PIN would lead out of the folder is refused as such; the other rows are written.
TEST_F(CliBatch, ARowLeadingOutOfTheFolderIsRefusedAsSuch) {
    csv = dir.write("p.csv", "PIN,{$username.line.1}\r\n../evil,mallory\r\n12345,carol\r\n");
    EXPECT_EQ(batch({"--mode", "pin", "--format", "bin"}), 1);
    EXPECT_EQ(stdoutText, (out + "/12345.cfg\n").toUtf8());
    EXPECT_EQ(stderrText, "orvo-cli: " + tpl.toUtf8() +
                              ": placeholders no CSV column fills, left in the files as they "
                              "are: P237={$cfg_srv_path}\n"
                              "orvo-cli: " +
                              out.toUtf8() +
                              "/../evil.cfg: refused: the row's MAC or PIN is no file name in the "
                              "folder (it holds \"/\" and so would lead out of it)\n");
    EXPECT_FALSE(QFileInfo::exists(dir.file("evil.cfg")));
}

}  // namespace
