#include "config/BinFile.h"
#include "config/CfgTemplate.h"
#include "config/XmlFile.h"

#include "app/MyLog.h"
#include "config/ConfigFixtures.h"
#include "support/RecordingDialogs.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

namespace {

class Template : public ::testing::Test {
  protected:
    Template() : tpl(&dialogs, nullptr) {
        tpl.clearEditorTables = [this] { ++tablesCleared; };
        tpl.setSaveEnabled = [this](bool on) { saveEnabled = on; };
        tpl.commitEditor = [this] { ++commits; };
    }
    TempDir dir;
    RecordingDialogs dialogs;
    CfgTemplate tpl;
    int tablesCleared = 0;
    int commits = 0;
    bool saveEnabled = true;
};

TEST_F(Template, LoadsBinAndXmlBySniffingAndRecordsPathAndKind) {
    const QString bin = dir.write("a.bin", "Flag=5678&CheckSum=0&P35={$username.line.1}&P35=x&end");
    ASSERT_TRUE(tpl.LoadTemplate(bin));
    EXPECT_EQ(tpl.Kind(), TemplateKind::Bin);
    EXPECT_EQ(tpl.CurrentTemplatePath(), bin);
    EXPECT_EQ(tpl.Parameters().Value(35), "{$username.line.1}");
    EXPECT_EQ(tpl.FindParameterByValue("{$username.line.1}"), 35);

    const QString xml =
        dir.write("b.xml", "<?xml version=\"1.0\"?><r><config><p12>v</p12></config></r>");
    ASSERT_TRUE(tpl.LoadTemplate(xml));
    EXPECT_EQ(tpl.Kind(), TemplateKind::Xml);
    EXPECT_EQ(tpl.Parameters().Value(12), "v");
    EXPECT_EQ(tablesCleared, 2);
    EXPECT_TRUE(dialogs.messages().isEmpty());
}

TEST_F(Template, RefusedLoadsShowTheirMessages) {
    tpl.Parameters().Set(1, "kept");
    tpl.ChangedParams().insert(1);
    const struct {
        QString file;
        QByteArray bytes;
        QString message;
        bool emptied;
    } cases[] = {
        {"none.bin", {}, "LCfgError1", false},          // cannot be opened (not created)
        {"other.bin", "garbage", "LCfgError1", false},  // neither bin nor XML
        {"bad.xml", "<?xml version=\"1.0\"?><open>", "LCfgError1", false},
        {"noconfig.xml", "<?xml version=\"1.0\"?><r><P1>x</P1></r>", "LCfgError1", true},
        {"nopairs.bin", "Flag=5678&CheckSum=0&end", "Handle process error!", true},
    };
    for (const auto& c : cases) {
        dialogs.clear();
        const QString path = c.bytes.isNull() ? dir.file(c.file) : dir.write(c.file, c.bytes);
        EXPECT_EQ(tpl.LoadTemplateFile(path),
                  c.emptied ? CfgTemplate::LoadResult::Emptied : CfgTemplate::LoadResult::Unchanged)
            << c.file.toStdString();
        EXPECT_EQ(dialogs.messages(), QStringList{c.message}) << c.file.toStdString();
        EXPECT_EQ(tpl.Parameters().IsEmpty(), c.emptied) << c.file.toStdString();
        EXPECT_EQ(tpl.Kind(), TemplateKind::None);
    }
}

TEST_F(Template, ABinTemplateNotStartingWithFlagNamesTheFile) {
    const QString path = dir.write("x.bin", "Flog=1&P1=2");
    tpl.Parameters().Set(1, "kept");
    EXPECT_FALSE(tpl.LoadBinTemplate(path, "shown-name.bin"));
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].text.keys(), QStringList{"LCfgError2"});
    EXPECT_EQ(dialogs.shown[0].text.raw(), "LCfgError2shown-name.bin");
    EXPECT_TRUE(tpl.Parameters().IsEmpty());
    EXPECT_TRUE(tpl.ChangedParams().empty());
}

TEST_F(Template, ALoadIsLoggedWithItsPath) {
    MyLog log;
    log.SetDirectory(dir.path());
    ASSERT_EQ(log.Open(), 0);
    CfgTemplate logged(&dialogs, &log);
    const QString path = dir.write("a.bin", "Flag=5678&CheckSum=0&P1=a&end");
    ASSERT_TRUE(logged.LoadTemplate(path));
    log.Close();
    EXPECT_TRUE(
        ReadFileBytes(log.FileName()).endsWith(" Load cfg template:" + path.toUtf8() + "\r\n"));
}

TEST_F(Template, XmlWritesLogWhatTheValuesLost) {
    MyLog log;
    log.SetDirectory(dir.path());
    ASSERT_EQ(log.Open(), 0);
    CfgTemplate logged(&dialogs, &log);
    const QString xml = dir.file("t.xml");
    ASSERT_TRUE(WriteXmlFile(xml, MakeParams({{1, "a"}, {2, "b"}})));
    ASSERT_TRUE(logged.LoadTemplate(xml));
    logged.Parameters().Set(1, "a\x01\x1b");
    logged.Parameters().Set(2, "b\r");  // kept: no line
    logged.ChangedParams() = {1, 2};
    logged.SaveTemplate();
    logged.SaveTemplateAs(dir.file("as.xml"));
    logged.Parameters().Set(1, "clean");
    logged.SaveTemplateAs(dir.file("clean.xml"));
    log.Close();
    const QByteArray lost = ": characters XML cannot hold left out: P1 U+0001 U+001B";
    const QByteArray text = ReadFileBytes(log.FileName());
    EXPECT_TRUE(text.contains(" CFG XML: " + xml.toUtf8() + lost + "\r\n")) << text.constData();
    EXPECT_TRUE(text.contains(" CFG XML: " + dir.file("as.xml").toUtf8() + lost + "\r\n"));
    EXPECT_EQ(text.count("CFG XML: "), 2);
    EXPECT_TRUE(dialogs.messages().isEmpty());
}

TEST_F(Template, SaveWritesByKindAfterCommittingTheEditor) {
    const QString bin = dir.write("a.bin", "Flag=5678&CheckSum=0&P1=a&end");
    ASSERT_TRUE(tpl.LoadTemplate(bin));
    tpl.commitEditor = [this] { tpl.Parameters().Set(1, "edited"); };
    tpl.SaveTemplate();
    EXPECT_EQ(ReadFileBytes(bin), "Flag=5678&CheckSum=0&P1=edited&end");
    EXPECT_FALSE(saveEnabled);

    const QString as = dir.file("copy.bin");
    tpl.SaveTemplateAs(as);
    EXPECT_EQ(ReadFileBytes(as), "Flag=5678&CheckSum=0&P1=edited&end");
    EXPECT_EQ(tpl.CurrentTemplatePath(), as);
    EXPECT_EQ(tpl.Kind(), TemplateKind::Bin);
}

TEST_F(Template, XmlSaveUpdatesOnlyChangedParametersAndSaveAsWritesWhole) {
    ParameterSet initial;
    initial.Set(1, "a");
    initial.Set(2, "b");
    const QString xml = dir.file("t.xml");
    ASSERT_TRUE(WriteXmlFile(xml, initial));
    ASSERT_TRUE(tpl.LoadTemplate(xml));
    const QByteArray before = ReadFileBytes(xml);

    tpl.Parameters().Set(1, "A");
    tpl.Parameters().Set(2, "B");
    saveEnabled = true;
    tpl.SaveTemplate();  // nothing marked changed: nothing written
    EXPECT_EQ(ReadFileBytes(xml), before);
    EXPECT_TRUE(saveEnabled);

    tpl.ChangedParams().insert(2);
    tpl.SaveTemplate();
    ParameterSet back;
    ASSERT_EQ(ReadXmlFile(xml, back), XmlReadStatus::Ok);
    EXPECT_EQ(back.Value(1), "a");
    EXPECT_EQ(back.Value(2), "B");
    EXPECT_FALSE(saveEnabled);
    EXPECT_TRUE(tpl.ChangedParams().empty());

    tpl.SaveTemplateAs(dir.file("whole.xml"));
    EXPECT_EQ(ReadFileBytes(dir.file("whole.xml")), PrintXmlConfig(tpl.Parameters()));
}

TEST_F(Template, WithoutATemplateKindNothingIsWritten) {
    tpl.Parameters().Set(1, "x");
    tpl.SaveTemplateAs(dir.file("none.bin"));
    EXPECT_FALSE(QFileInfo::exists(dir.file("none.bin")));
    EXPECT_EQ(tpl.CurrentTemplatePath(), dir.file("none.bin"));
    EXPECT_EQ(commits, 1);
}

TEST_F(Template, AFailedWriteShowsLCfgError3AndKeepsSaveEnabledAndTheOldFile) {
    const QString bin = dir.write("a.bin", "Flag=5678&CheckSum=0&P1=a&end");
    ASSERT_TRUE(tpl.LoadTemplate(bin));
    tpl.Parameters().Set(1, QByteArray(64 * 1024, 'x'));
    saveEnabled = true;
    {
        FileSizeLimit limit(4096);
        tpl.SaveTemplate();
    }
    EXPECT_EQ(dialogs.messages(), QStringList{"LCfgError3"});
    EXPECT_TRUE(saveEnabled);
    EXPECT_EQ(ReadFileBytes(bin), "Flag=5678&CheckSum=0&P1=a&end");

    dialogs.clear();
    EXPECT_FALSE(tpl.WriteEncryptedXml(dir.file("no/such/dir.xml"), ""));
    EXPECT_EQ(dialogs.messages(), QStringList{"LCfgError3"});
    EXPECT_FALSE(saveEnabled);  // this writer disables Save in both cases
}

// Every file below a folder.
QStringList filesBelow(const QString& dir) {
    QStringList files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    return files;
}

TEST_F(Template, LongPathsAreKeptWholeAndNothingIsWrittenElsewhere) {
    QString deep = dir.path();
    while (deep.size() < 1000)
        deep += "/" + QString(100, 'd');
    ASSERT_TRUE(QDir().mkpath(deep));
    // Paths longer than 1023 characters; tooLong is longer than the system takes.
    const QString longBin = deep + "/" + QString(200, 'b') + ".bin";
    const QString longXml = deep + "/" + QString(200, 'x') + ".xml";
    const QString saveAs = deep + "/" + QString(200, 's') + ".bin";
    QString tooLong = deep + "/" + QString(200, 't');
    while (tooLong.size() <= 4096)
        tooLong += "/" + QString(200, 'u');

    // Load and Save.
    dir.write(longBin.mid(dir.path().size() + 1), "Flag=5678&CheckSum=0&P1=a&end");
    ASSERT_TRUE(tpl.LoadTemplate(longBin));
    EXPECT_EQ(tpl.CurrentTemplatePath(), longBin);
    tpl.Parameters().Set(1, "edited");
    tpl.SaveTemplate();
    EXPECT_EQ(ReadFileBytes(longBin), "Flag=5678&CheckSum=0&P1=edited&end");

    ASSERT_TRUE(WriteXmlFile(longXml, MakeParams({{1, "a"}, {2, "b"}})));
    ASSERT_TRUE(tpl.LoadTemplate(longXml));
    tpl.Parameters().Set(2, "B");
    tpl.ChangedParams().insert(2);
    tpl.SaveTemplate();
    ParameterSet back;
    ASSERT_EQ(ReadXmlFile(longXml, back), XmlReadStatus::Ok);
    EXPECT_EQ(back, MakeParams({{1, "a"}, {2, "B"}}));

    // Save as, then Save to the same file.
    ASSERT_TRUE(tpl.LoadTemplate(longBin));
    tpl.SaveTemplateAs(saveAs);
    EXPECT_EQ(tpl.CurrentTemplatePath(), saveAs);
    tpl.Parameters().Set(1, "again");
    tpl.SaveTemplate();
    EXPECT_EQ(ReadFileBytes(saveAs), "Flag=5678&CheckSum=0&P1=again&end");
    EXPECT_TRUE(dialogs.messages().isEmpty());
    EXPECT_EQ(filesBelow(dir.path()), (QStringList{longBin, saveAs, longXml}));

    // A path the system cannot take: refused on load and on every save.
    EXPECT_FALSE(tpl.LoadTemplate(tooLong));
    EXPECT_EQ(dialogs.messages(), QStringList{"LCfgError1"});
    dialogs.clear();
    tpl.SaveTemplateAs(tooLong);
    tpl.SaveTemplate();
    EXPECT_EQ(dialogs.messages(), (QStringList{"LCfgError3", "LCfgError3"}));
    EXPECT_EQ(filesBelow(dir.path()), (QStringList{longBin, saveAs, longXml}));
}

}  // namespace
