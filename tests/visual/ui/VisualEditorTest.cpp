#include "visual/ui/EditorFixture.h"

#include "app/KeyHash.h"
#include "visual/ui/ConfigEditorPanel.h"

#include <QComboBox>
#include <QLineEdit>
#include <QTest>

TEST_F(EditorTest, TheFirstShowingLoadsTheSelectedModel) {
    EXPECT_EQ(ui.models->count(), 2);
    EXPECT_EQ(ui.models->currentText(), "T1");
    EXPECT_EQ(ui.tree->topLevelItemCount(), 0);

    editor->PhoneCfgTabShow();
    EXPECT_TRUE(dialogs.shown.isEmpty()) << dialogs.messages().join(";").toStdString();
    // Picture, outline and template.
    EXPECT_FALSE(ui.visualDevImg->pixmap().isNull());
    EXPECT_EQ(ui.visualDevImg->pixmap().size(), QSize(500, 550));
    ASSERT_EQ(ui.tree->topLevelItemCount(), 4);
    EXPECT_EQ(ui.tree->topLevelItem(1)->text(0), "Accounts");
    EXPECT_EQ(ui.tree->topLevelItem(1)->child(1)->text(0), "Account 2");
    EXPECT_EQ(editor->NodeItem(3), ui.tree->topLevelItem(1)->child(1));
    EXPECT_EQ(tpl.Kind(), TemplateKind::Bin);
    EXPECT_EQ(tpl.CurrentTemplatePath(), dir.file("models/T1/$devCfg.bin"));
    EXPECT_EQ(tpl.Parameters().Value(1004), "{$username.line.1}");
    EXPECT_EQ(editor->SelectedNode(), -1);
    EXPECT_EQ(ui.box->widget(), nullptr);

    // Later showings do nothing.
    tpl.Parameters().Set(1, "kept");
    editor->PhoneCfgTabShow();
    EXPECT_EQ(tpl.Parameters().Value(1), "kept");
}

TEST_F(EditorTest, SelectingNodesCommitsAndRebuildsReadingEachFileOnce) {
    editor->PhoneCfgTabShow();
    selectNode(2);
    ASSERT_NE(ui.box->widget(), nullptr);
    auto* user = controlAt<QLineEdit>(300, 62);
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(user->text(), "{$username.line.1}");
    EXPECT_EQ(controlAt<QComboBox>(300, 152)->currentIndex(), 1);  // 20 is listed second
    QTest::keyClicks(user, "X");
    EXPECT_TRUE(ui.saveButton->isEnabled());

    selectNode(3);  // the other section of the same file
    EXPECT_EQ(tpl.Parameters().Value(1004), "{$username.line.1}X");
    EXPECT_EQ(tpl.ChangedParams(), std::set<PNumber>{1004});
    EXPECT_EQ(editor->Panel()->Node(), 3);
    EXPECT_EQ(editor->Panel()->Items().size(), 1u);
    selectNode(4);
    selectNode(2);
    EXPECT_EQ(controlAt<QLineEdit>(300, 62)->text(), "{$username.line.1}X");
    EXPECT_EQ(editor->Cache().DiskReads(), 2);
    EXPECT_TRUE(ui.saveButton->isEnabled());

    // A group node shows no page; a page that cannot be read leaves the panel empty.
    selectNode(1);
    EXPECT_EQ(ui.box->widget(), nullptr);
    selectNode(5);
    EXPECT_EQ(ui.box->widget(), nullptr);
    EXPECT_EQ(
        dialogs.messages(),
        (QStringList{dir.file("models/T1/json/missing.json") + " not exist!", "LJsonError4"}));
}

TEST_F(EditorTest, SwitchingModelWithUnsavedEditsAsksFirst) {
    editor->PhoneCfgTabShow();
    selectNode(2);
    QTest::keyClicks(controlAt<QLineEdit>(300, 62), "X");
    QWidget* content = ui.box->widget();

    // Declined: everything stays as it was, the list shows the previous model again.
    ui.models->setCurrentIndex(1);
    emit ui.models->activated(1);
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].kind, RecordingDialogs::Shown::Question);
    EXPECT_EQ(dialogs.shown[0].text.keys(), QStringList{"LMsgChangeNotSaved"});
    EXPECT_EQ(dialogs.shown[0].caption.keys(), QStringList{"LContinueQ"});
    EXPECT_EQ(ui.models->currentIndex(), 0);
    EXPECT_EQ(ui.box->widget(), content);
    EXPECT_EQ(controlAt<QLineEdit>(300, 62)->text(), "{$username.line.1}X");
    EXPECT_EQ(editor->SelectedNode(), 2);
    EXPECT_EQ(tpl.ChangedParams(), std::set<PNumber>{1004});
    EXPECT_TRUE(ui.saveButton->isEnabled());

    // Confirmed: the edits are dropped and the other model is loaded.
    dialogs.clear();
    dialogs.answers << true;
    ui.models->setCurrentIndex(1);
    emit ui.models->activated(1);
    EXPECT_EQ(dialogs.messages(), QStringList{});
    EXPECT_FALSE(ui.saveButton->isEnabled());
    EXPECT_EQ(ui.box->widget(), nullptr);
    EXPECT_EQ(editor->SelectedNode(), -1);
    EXPECT_TRUE(tpl.ChangedParams().empty());
    EXPECT_EQ(tpl.Parameters().Value(1004), "second");
    EXPECT_EQ(tpl.CurrentTemplatePath(), dir.file("models/T2/$devCfg.bin"));
    EXPECT_EQ(ui.tree->topLevelItemCount(), 4);

    // Without edits no question; back on T1 its files are read again.
    dialogs.clear();
    ui.models->setCurrentIndex(0);
    emit ui.models->activated(0);
    EXPECT_TRUE(dialogs.shown.isEmpty());
    EXPECT_EQ(editor->Cache().DiskReads(), 0);
    selectNode(2);
    EXPECT_EQ(editor->Cache().DiskReads(), 1);
    EXPECT_EQ(controlAt<QLineEdit>(300, 62)->text(), "{$username.line.1}");
}

TEST_F(EditorTest, BrokenModelFilesShowTheirMessagesAndLoadTheRest) {
    QFile::remove(dir.file("models/T1/json/$outline.json"));
    QFile::remove(dir.file("models/T1/dev/bg.png"));
    editor->PhoneCfgTabShow();
    EXPECT_EQ(
        dialogs.messages(),
        (QStringList{"LVisualDevError1", dir.file("models/T1/json/$outline.json") + " not exist!",
                     "LJsonError2"}));
    EXPECT_EQ(ui.tree->topLevelItemCount(), 0);
    EXPECT_TRUE(ui.visualDevImg->pixmap().isNull());
    EXPECT_EQ(tpl.Parameters().Value(1004), "{$username.line.1}");

    // A map that is not a "Device" document, a missing template.
    dir.write("models/T2/dev/map.xml", "<Phone/>");
    QFile::remove(dir.file("models/T2/$devCfg.bin"));
    dialogs.clear();
    ui.models->setCurrentIndex(1);
    emit ui.models->activated(1);
    EXPECT_EQ(dialogs.messages(),
              (QStringList{"LVisualDevError3", "LVisualDevError1", "LCfgError1"}));
    EXPECT_EQ(editor->Mapper()->KeyCount(), -1);
    EXPECT_EQ(ui.tree->topLevelItemCount(), 4);
    EXPECT_TRUE(tpl.Parameters().IsEmpty());
    EXPECT_EQ(tpl.CurrentTemplatePath(), dir.file("models/T2/$devCfg.bin"));
}

TEST_F(EditorTest, WithoutModelsTheDefaultSetIsUsed) {
    QDir(dir.file("models")).removeRecursively();
    editor->FillModelList();
    EXPECT_EQ(ui.models->count(), 0);
    editor->PhoneCfgTabShow();
    // There is no default picture map.
    EXPECT_EQ(dialogs.messages(), (QStringList{"LVisualDevError3", "LVisualDevError1"}));
    ASSERT_EQ(ui.tree->topLevelItemCount(), 1);
    EXPECT_EQ(tpl.Parameters().Value(210), "default");
    EXPECT_EQ(tpl.CurrentTemplatePath(), dir.file("default/$cfg.bin"));
    selectNode(0);
    EXPECT_EQ(controlAt<QLineEdit>(300, 92)->text(), "default");
}

TEST_F(EditorTest, TheCommitHookCopiesWhatTheEditorShows) {
    editor->PhoneCfgTabShow();
    selectNode(4);
    QTest::keyClicks(controlAt<QLineEdit>(300, 92), "-2");
    ASSERT_TRUE(tpl.commitEditor);
    tpl.commitEditor();
    EXPECT_EQ(tpl.Parameters().Value(210), "phone-2");
    EXPECT_EQ(tpl.Parameters().Value(200), "1");

    // Every load empties the editor's tables, so nothing stale is committed afterwards.
    tpl.LoadBinTemplate(dir.file("models/T2/$devCfg.bin"));
    EXPECT_TRUE(editor->Panel()->Items().empty());
    tpl.commitEditor();
    EXPECT_FALSE(tpl.Parameters().Contains(210));
    tpl.setSaveEnabled(true);
    EXPECT_TRUE(ui.saveButton->isEnabled());
}
