#include "config/BinFile.h"
#include "config/BulkEncrypt.h"
#include "config/CfgCrypto.h"
#include "config/XmlFile.h"

#include "config/BulkEncryptFixtures.h"
#include "config/ConfigFixtures.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include <functional>
#include <optional>

namespace {

QByteArray doc(const char* configBody, const char* root = "zv_provision") {
    return QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<") + root +
           " version=\"1\">\n" + "    <config version=\"1\">\n" + configBody + "    </config>\n</" +
           root + ">\n";
}

TEST(XmlPrint, IndentedOneElementPerLineInAscendingOrder) {
    EXPECT_EQ(PrintXmlConfig(MakeParams({{271, "1"}, {2, "admin"}})),
              doc("        <P2>admin</P2>\n        <P271>1</P271>\n"));
    EXPECT_EQ(PrintXmlConfig(MakeParams({{1, "a<b&c>\"d'"}})),
              doc("        <P1>a&lt;b&amp;c&gt;\"d'</P1>\n"));
}

TEST(XmlPrint, IsWellFormedForXmllint) {
    TempDir dir;
    const QString path = dir.file("c.xml");
    ASSERT_TRUE(
        WriteXmlFile(path, MakeParams({{1, "a<b&c"}, {2, ""}, {3, "caf\xc3\xa9"}, {4, "  x  "}})));
    QByteArray out;
    ASSERT_EQ(RunProgram("xmllint", {"--noout", path}, &out), 0);
}

// The text at an XPath as xmllint reads it from a file; nothing when xmllint refuses the file.
std::optional<QByteArray> xmllintString(const QString& path, const QString& xpath) {
    QByteArray out;
    if (RunProgram("xmllint", {"--xpath", "string(" + xpath + ")", path}, &out) != 0)
        return std::nullopt;
    out.chop(1);  // the line break xmllint ends its answer with
    return out;
}

std::optional<QByteArray> xmllintValue(const QString& path, PNumber p) {
    return xmllintString(path, "/*/config/P" + QString::number(p));
}

TEST(XmlWriters, WriteValuesSoThatParsersReadThemBackAndNameWhatXmlCannotHold) {
    const struct {
        QByteArray value;
        QByteArray read;  // as an XML parser reads it back
        const char* lost;
    } cases[] = {
        {"a\rb", "a\rb", ""},
        {"a\r\nb\r", "a\r\nb\r", ""},
        {"tab\tlf\n", "tab\tlf\n", ""},
        {"ctl\x01\x08\x0b\x0c\x1f.", "ctl.", "U+0001 U+0008 U+000B U+000C U+001F"},
        {QByteArray("nul") + '\0' + "byte", "nulbyte", "U+0000"},
        {"\x01\x01\x02", "", "U+0001 U+0002"},
        {"\xef\xbf\xbe\xef\xbf\xbf\xef\xbf\xbd", "\xef\xbf\xbd", "U+FFFE U+FFFF"},
        {"M\xfcller", "Mller", "0xFC"},
        {"cut \xe2\x82", "cut ", "0xE2 0x82"},
        {"overlong \xc0\xaf", "overlong ", "0xC0 0xAF"},
        {"surrogate \xed\xa0\x80", "surrogate ", "0xED 0xA0 0x80"},
        {"kept \x7f\xc2\x85\xf0\x9f\x98\x80 <&>", "kept \x7f\xc2\x85\xf0\x9f\x98\x80 <&>", ""},
        // blanks only: the XML library drops such a text as it reads unless it begins with a
        // character reference
        {" ", " ", ""},
        {"\t\n  \n", "\t\n  \n", ""},
        {" \x01\n", " \n", "U+0001"},
        {"\x02 ", " ", "U+0002"},
        {" \r", " \r", ""},
    };
    TempDir dir;
    const QString path = dir.file("c.xml");
    for (const auto& c : cases) {
        const ParameterSet set = MakeParams({{4, "before"}, {6, "after\r"}});
        ParameterSet withValue = set;
        withValue.Set(5, c.value);
        const QString expectedLoss =
            *c.lost ? XmlLossText({{"P5", QString(c.lost).split(' ')}}) : QString();
        const std::string what = c.value.toHex().toStdString();

        const auto check = [&](const char* writer, const XmlLosses& losses) {
            EXPECT_EQ(xmllintValue(path, 5), c.read) << writer << " " << what;
            EXPECT_EQ(xmllintValue(path, 6), "after\r") << writer << " " << what;
            ParameterSet back;
            ASSERT_EQ(ReadXmlFile(path, back), XmlReadStatus::Ok);
            EXPECT_EQ(back.Value(5), c.read) << writer << " " << what;
            EXPECT_EQ(losses.empty() ? QString() : XmlLossText(losses), expectedLoss)
                << writer << " " << what;
        };

        XmlLosses losses;
        ASSERT_TRUE(WriteXmlFile(path, withValue, &losses));
        check("whole file", losses);

        ASSERT_TRUE(WriteXmlFile(path, set));
        ParameterSet edited = withValue;
        std::set<PNumber> changed = {5, 6};
        losses.clear();
        ASSERT_EQ(UpdateXmlFile(path, edited, changed, &losses), XmlUpdateStatus::Updated);
        check("update", losses);

        losses.clear();
        const QString encrypted = dir.file("c.enc");
        ASSERT_TRUE(WriteEncryptedXmlFile(encrypted, withValue, "", &losses));
        QByteArray plain = OpensslDecrypt(encrypted, kDefaultKeyHex);
        while (plain.endsWith('\0'))
            plain.chop(1);
        dir.write("c.xml", plain);
        check("encrypted", losses);
    }
}

TEST(XmlRead, FollowsTheReaderRules) {
    const struct {
        QByteArray text;
        XmlReadStatus status;
        std::vector<std::pair<PNumber, QByteArray>> expected;
    } cases[] = {
        {doc("<P2>admin</P2><P12></P12><P13/>"),
         XmlReadStatus::Ok,
         {{2, "admin"}, {12, ""}, {13, ""}}},
        {doc("<p7>low</p7><P>skip</P><Px>skip</Px><Q1>skip</Q1><P8x>8</P8x>"),
         XmlReadStatus::Ok,
         {{7, "low"}, {8, "8"}}},
        {doc("<P5>first</P5><P5>second</P5>"), XmlReadStatus::Ok, {{5, "first"}}},
        {doc("<P1>  a &amp; b  </P1><P2>&lt;&#65;&gt;</P2>"),
         XmlReadStatus::Ok,
         {{1, "  a & b  "}, {2, "<A>"}}},
        {doc("<P1>x</P1>", "other_root"), XmlReadStatus::Ok, {{1, "x"}}},
        {"<zv_provision><version>1</version><config><P1>x</P1></config></zv_provision>",
         XmlReadStatus::NoConfig,
         {}},
        {"<zv_provision><Config><P1>x</P1></Config></zv_provision>", XmlReadStatus::NoConfig, {}},
        {"<zv_provision/>", XmlReadStatus::NoConfig, {}},
        {"<zv_provision><config>", XmlReadStatus::Unparsable, {}},
        {"not xml at all", XmlReadStatus::Unparsable, {}},
        {"", XmlReadStatus::Unparsable, {}},
    };
    for (const auto& c : cases) {
        ParameterSet set = MakeParams({{999, "stale"}});
        EXPECT_EQ(ParseXmlText(c.text, set), c.status) << c.text.constData();
        ParameterSet expected;
        if (c.status == XmlReadStatus::Unparsable)
            expected.Set(999, "stale");
        for (const auto& [p, v] : c.expected)
            expected.Set(p, v);
        EXPECT_TRUE(set == expected) << c.text.constData();
    }
}

TEST(XmlFile, RoundTripsThroughTheFile) {
    TempDir dir;
    const ParameterSet set = MakeParams({{1, "a<b"}, {20, ""}, {300, "x\ny"}, {4, "caf\xc3\xa9"}});
    ASSERT_TRUE(WriteXmlFile(dir.file("c.xml"), set));
    EXPECT_EQ(DetectConfigFileKind(dir.file("c.xml")), ConfigFileKind::Xml);
    ParameterSet back;
    ASSERT_EQ(ReadXmlFile(dir.file("c.xml"), back), XmlReadStatus::Ok);
    EXPECT_TRUE(back == set);
    EXPECT_EQ(ReadXmlFile(dir.file("none.xml"), back), XmlReadStatus::Unparsable);
}

TEST(EncryptedXml, LengthIsTheNextMultipleOf16AboveTextPlusTerminator) {
    const struct {
        int printed;
        int encrypted;
    } cases[] = {{31, 48}, {32, 48}, {47, 64}, {0, 16}, {14, 16}, {15, 32}};
    for (const auto& c : cases)
        EXPECT_EQ(EncryptedXmlBytes(QByteArray(c.printed, 'x'), "").size(), c.encrypted)
            << c.printed;
}

TEST(EncryptedXml, DecryptsWithOpensslToTheDocumentAndZeroBytes) {
    TempDir dir;
    const ParameterSet set = MakeParams({{2, "admin"}, {271, "1"}, {3, "{$cfg_srv_path}"}});
    for (const char* key : {"", "abc", "0123456789abcdef", "12G4"}) {
        const QString path = dir.file("enc.xml");
        ASSERT_TRUE(WriteEncryptedXmlFile(path, set, key));
        const QByteArray bytes = ReadFileBytes(path);
        EXPECT_EQ(bytes.size() % 16, 0);
        EXPECT_EQ(DetectConfigFileKind(path), ConfigFileKind::Other);
        QByteArray keyText = *key ? QByteArray(key) : QByteArray(kDefaultXmlKey);
        const Aes128Block k = HexKeyToBytes(keyText);
        const Aes128Block iv = CfgIv();
        QByteArray plain;
        ASSERT_EQ(
            RunProgram(
                "openssl",
                {"enc", "-d", "-aes-128-cbc", "-nopad", "-K",
                 QByteArray(reinterpret_cast<const char*>(k.data()), 16).toHex(), "-iv",
                 QByteArray(reinterpret_cast<const char*>(iv.data()), 16).toHex(), "-in", path},
                &plain),
            0);
        const QByteArray printed = PrintXmlConfig(set);
        ASSERT_EQ(plain.left(printed.size()), printed) << key;
        EXPECT_EQ(plain.mid(printed.size()), QByteArray(plain.size() - printed.size(), '\0'));
        EXPECT_GE(plain.size() - printed.size(), 2);
        EXPECT_LE(plain.size() - printed.size(), 17);
    }
}

class XmlUpdate : public ::testing::Test {
  protected:
    QString write(const QByteArray& text) { return dir.write("t.xml", text); }
    TempDir dir;
};

TEST_F(XmlUpdate, RewritesTheFirstElementOfEachChangedNumberAndAppendsTheRest) {
    const QString path =
        write(doc("        <P3>old</P3>\n        <P5>a</P5>\n        <P5>b</P5>\n"));
    ParameterSet set = MakeParams({{3, "new3"}, {5, "new5"}, {900, "v900"}});
    std::set<PNumber> changed = {3, 5, 900};
    EXPECT_EQ(UpdateXmlFile(path, set, changed), XmlUpdateStatus::Updated);
    EXPECT_TRUE(changed.empty());
    EXPECT_EQ(ReadFileBytes(path),
              doc("        <P3>new3</P3>\n        <P5>new5</P5>\n        <P5>b</P5>\n"
                  "        <P900>v900</P900>\n"));
    EXPECT_FALSE(QFileInfo::exists(path + "~"));
}

TEST_F(XmlUpdate, KeepsEverythingElseAndChangesOnlyTheEditedLine) {
    ParameterSet set = MakeParams({{1, "a"}, {2, "b"}, {3, "c"}});
    const QString path = dir.file("t.xml");
    ASSERT_TRUE(WriteXmlFile(path, set));
    const QByteArray before = ReadFileBytes(path);
    set.Set(2, "B");
    std::set<PNumber> changed = {2};
    ASSERT_EQ(UpdateXmlFile(path, set, changed), XmlUpdateStatus::Updated);
    QByteArray expected = before;
    expected.replace("<P2>b</P2>", "<P2>B</P2>");
    EXPECT_EQ(ReadFileBytes(path), expected);

    const QString rich = write(
        "<?xml version=\"1.0\"?>\n<zv_provision version=\"1\" x=\"y\">\n    <!-- note -->\n"
        "    <config version=\"1\">\n        <other a=\"1\">t</other>\n        <P2>b</P2>\n"
        "    </config>\n    <tail/>\n</zv_provision>\n");
    changed = {2};
    ASSERT_EQ(UpdateXmlFile(rich, set, changed), XmlUpdateStatus::Updated);
    const QByteArray after = ReadFileBytes(rich);
    for (const char* kept :
         {"<!-- note -->", "x=\"y\"", "<other a=\"1\">t</other>", "<tail/>", "<P2>B</P2>"})
        EXPECT_TRUE(after.contains(kept)) << kept << "\n" << after.constData();
}

TEST_F(XmlUpdate, UntouchedElementsKeepTheirCrAndLoseWhatXmlCannotHold) {
    // Character references the reader accepts, though XML cannot hold U+0001 and U+0002.
    const QString path =
        write(doc("        <P1>a&#13;b</P1>\n        <P2>x&#1;y</P2>\n"
                  "        <P3 note=\"l1&#10;l2&#13;&#9;&#2;.\">old</P3>\n"));
    ParameterSet set = MakeParams({{3, "new"}});
    std::set<PNumber> changed = {3};
    XmlLosses losses;
    ASSERT_EQ(UpdateXmlFile(path, set, changed, &losses), XmlUpdateStatus::Updated);
    EXPECT_EQ(xmllintValue(path, 1), "a\rb");
    EXPECT_EQ(xmllintValue(path, 2), "xy");
    EXPECT_EQ(xmllintValue(path, 3), "new");
    EXPECT_EQ(xmllintString(path, "/*/config/P3/@note"), "l1\nl2\r\t.");
    EXPECT_EQ(XmlLossText(losses), XmlLossText({{"P2", {"U+0001"}}, {"P3", {"U+0002"}}}));
}

TEST_F(XmlUpdate, AMissingValueIsAddedEmptyToTheSet) {
    const QString path = write(doc("        <P4>x</P4>\n"));
    ParameterSet set;
    std::set<PNumber> changed = {4};
    ASSERT_EQ(UpdateXmlFile(path, set, changed), XmlUpdateStatus::Updated);
    EXPECT_TRUE(set.Contains(4));
    EXPECT_EQ(set.Value(4), "");
}

TEST_F(XmlUpdate, RefusesFilesWithoutTheRootOrConfigAndKeepsChanges) {
    for (const QByteArray& text : {doc("        <P1>x</P1>\n", "other_root"),
                                   QByteArray("<zv_provision><P1>x</P1></zv_provision>"),
                                   QByteArray("<zv_provision><config>")}) {
        const QString path = write(text);
        ParameterSet set = MakeParams({{1, "y"}});
        std::set<PNumber> changed = {1};
        EXPECT_EQ(UpdateXmlFile(path, set, changed), XmlUpdateStatus::Refused);
        EXPECT_EQ(changed, std::set<PNumber>{1});
        EXPECT_EQ(ReadFileBytes(path), text);
        EXPECT_FALSE(QFileInfo::exists(path + "~"));
    }
}

TEST_F(XmlUpdate, NothingChangedWritesNothing) {
    const QByteArray text = "<zv_provision><config><P1>x</P1></config></zv_provision>";
    const QString path = write(text);
    ParameterSet set = MakeParams({{1, "y"}});
    std::set<PNumber> changed;
    EXPECT_EQ(UpdateXmlFile(path, set, changed), XmlUpdateStatus::NoChanges);
    EXPECT_EQ(ReadFileBytes(path), text);
}

TEST_F(XmlUpdate, AMissingFileIsWrittenWhole) {
    ParameterSet set = MakeParams({{1, "y"}, {2, "z"}});
    std::set<PNumber> changed = {1};
    EXPECT_EQ(UpdateXmlFile(dir.file("new.xml"), set, changed), XmlUpdateStatus::Created);
    EXPECT_EQ(ReadFileBytes(dir.file("new.xml")), PrintXmlConfig(set));
}

TEST_F(XmlUpdate, AFailedSaveKeepsTheFileAndEmptiesChanges) {
    const QByteArray text = doc("        <P1>x</P1>\n");
    const QString path = write(text);
    ParameterSet set;
    set.Set(1, QByteArray(64 * 1024, 'n'));
    std::set<PNumber> changed = {1};
    {
        FileSizeLimit limit(4096);
        EXPECT_EQ(UpdateXmlFile(path, set, changed), XmlUpdateStatus::SaveFailed);
    }
    EXPECT_TRUE(changed.empty());
    EXPECT_EQ(ReadFileBytes(path), text);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"t.xml"});
}

// Names of 255 bytes, the most the usual file systems take, for every writer.
TEST(Writers, TakeTheLongestNameTheFolderTakes) {
    TempDir dir;
    const ParameterSet set = MakeParams({{2, "admin"}, {271, "1"}});
    const QString name = QString(251, 'n');
    const QString path = dir.file(name + ".xml");
    const struct {
        const char* writer;
        std::function<bool()> write;
    } writers[] = {
        {"bin", [&] { return WriteBinFile(path, set, BinScrambling::Plain); }},
        {"bin scrambled", [&] { return WriteBinFile(path, set, BinScrambling::Scrambled); }},
        {"xml", [&] { return WriteXmlFile(path, set); }},
        {"xml encrypted", [&] { return WriteEncryptedXmlFile(path, set, "abc"); }},
        {"xml update",  // creates the file, then updates it
         [&] {
             const bool existed = QFileInfo::exists(path);
             ParameterSet s = set;
             s.Set(2, "root");
             std::set<PNumber> changed = {2};
             return UpdateXmlFile(path, s, changed) ==
                        (existed ? XmlUpdateStatus::Updated : XmlUpdateStatus::Created) &&
                    ReadFileBytes(path).contains("<P2>root</P2>");
         }},
        {"bulk encryption",
         [&] {
             const QString input = dir.write("in/" + name + ".xml", PrintXmlConfig(set));
             return EncryptCfgFile(input, dir.path(), kDefaultXmlKey, true) ==
                    CfgEncryptOutcome::Encrypted;
         }},
    };
    for (const auto& w : writers) {
        QFile::remove(path);
        // Once as a new file, once replacing it.
        for (int round = 0; round < 2; ++round)
            EXPECT_TRUE(w.write()) << w.writer << " round " << round;
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                  QStringList{name + ".xml"})
            << w.writer;
    }
}

}  // namespace
