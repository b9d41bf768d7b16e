#include "visual/TemplateActions.h"

#include "config/CfgTemplate.h"
#include "support//RecordingDialogs.h"
#include "support/QtPrinters.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace {

class TemplateActions : public ::testing::Test {
  protected:
    TemplateActions() : tpl(&dialogs, nullptr) {
        tpl.commitEditor = [this] { ++commits; };
    }
    TempDir dir;
    RecordingDialogs dialogs;
    CfgTemplate tpl;
    int commits = 0;
};

}  // namespace

TEST_F(TemplateActions, AModelsTemplateIsReadByThePathRule) {
    dir.write("models/X100/$devCfg.bin", "Flag=5678&CheckSum=0&P300={$cfg_srv_path}&end");
    dir.write("default/$cfg.bin", "Flag=5678&CheckSum=0&P1=default&end");
    EXPECT_TRUE(LoadModelTemplate(tpl, dir.path(), "X100"));
    EXPECT_EQ(tpl.Parameters().Value(300), "{$cfg_srv_path}");
    EXPECT_EQ(tpl.CurrentTemplatePath(), dir.file("models/X100/$devCfg.bin"));
    EXPECT_EQ(tpl.Kind(), TemplateKind::Bin);

    EXPECT_TRUE(LoadModelTemplate(tpl, dir.path(), " "));
    EXPECT_EQ(tpl.Parameters().Value(1), "default");
    EXPECT_EQ(tpl.CurrentTemplatePath(), dir.file("default/$cfg.bin"));
    EXPECT_TRUE(dialogs.shown.isEmpty());
}

TEST_F(TemplateActions, AMissingOrForeignModelTemplateStillBecomesTheCurrentPath) {
    tpl.Parameters().Set(5, "kept");
    EXPECT_FALSE(LoadModelTemplate(tpl, dir.path(), "X9"));
    EXPECT_EQ(dialogs.messages(), QStringList{"LCfgError1"});
    EXPECT_EQ(tpl.CurrentTemplatePath(), dir.file("models/X9/$devCfg.bin"));
    EXPECT_EQ(tpl.Parameters().Value(5), "kept");
    EXPECT_EQ(tpl.Kind(), TemplateKind::None);

    // Read as bin whatever it holds: an XML file is not bin text.
    const QString xml = dir.write("models/X8/$devCfg.bin", "<?xml version=\"1.0\"?><a/>");
    dialogs.clear();
    EXPECT_FALSE(LoadModelTemplate(tpl, dir.path(), "X8"));
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].text.raw(), "LCfgError2" + xml);
    EXPECT_TRUE(tpl.Parameters().IsEmpty());
    EXPECT_EQ(tpl.CurrentTemplatePath(), xml);
}

TEST_F(TemplateActions, DialogsUseTheirFiltersAndCancellingSaveAsIsReported) {
    EXPECT_FALSE(LoadChosenTemplate(tpl, dialogs));
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].filter,
              "Cfg bin files (*.bin)|*.bin|Cfg XML files (*.xml)|*.xml|All files (*.*)|*.*");

    dialogs.clear();
    tpl.SetCurrentTemplatePath("/old.bin");
    EXPECT_FALSE(SaveTemplateAsChosen(tpl, dialogs));
    ASSERT_EQ(dialogs.shown.size(), 2);
    EXPECT_EQ(dialogs.shown[0].kind, RecordingDialogs::Shown::SaveFile);
    EXPECT_EQ(dialogs.shown[0].filter, "All files (*.*)");
    EXPECT_EQ(dialogs.messages(), QStringList{"LCfgError4"});
    EXPECT_EQ(tpl.CurrentTemplatePath(), "/old.bin");
    EXPECT_EQ(commits, 1);
}

TEST_F(TemplateActions, LoadingAChosenFileGoesByItsKind) {
    // Refused files leave the configuration as it was: nothing to show anew.
    tpl.Parameters().Set(5, "kept");
    for (const QByteArray& bytes :
         {QByteArray("garbage"), QByteArray(""), QByteArray("<?xml version=\"1.0\"?><open>")}) {
        dialogs.clear();
        dialogs.paths << dir.write("t.bin", bytes);
        EXPECT_FALSE(LoadChosenTemplate(tpl, dialogs)) << bytes.constData();
        EXPECT_EQ(dialogs.messages(), QStringList{"LCfgError1"}) << bytes.constData();
        EXPECT_EQ(tpl.Parameters().Value(5), "kept");
    }
    // Opened but not a configuration: the set is emptied and the page must show that.
    dialogs.clear();
    dialogs.paths << dir.write("t.bin", "<?xml version=\"1.0\"?><zv_provision/>");
    EXPECT_TRUE(LoadChosenTemplate(tpl, dialogs));
    EXPECT_TRUE(tpl.Parameters().IsEmpty());

    const QString xml = dir.write(
        "t.xml", "<?xml version=\"1.0\"?><zv_provision><config><P7>v</P7></config></zv_provision>");
    dialogs.clear();
    dialogs.paths << xml;
    EXPECT_TRUE(LoadChosenTemplate(tpl, dialogs));
    EXPECT_TRUE(dialogs.messages().isEmpty());
    EXPECT_EQ(tpl.Kind(), TemplateKind::Xml);
    EXPECT_EQ(tpl.Parameters().Value(7), "v");
}
