#include "visual/ui/EditorFixture.h"

#include "config/XmlFile.h"
#include "visual/ui/ConfigEditorPanel.h"

#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QTest>

namespace {

class TemplateButtons : public EditorTest {
  protected:
    TemplateButtons() {
        editor->PhoneCfgTabShow();
        dialogs.clear();
    }
    QByteArray show(const QString& path) {
        QByteArray out;
        EXPECT_EQ(RunProgram(BuiltProgram("orvo-cli"), {"show", path}, &out), 0);
        return out;
    }
    void typeInto(int x, int y, const char* text) {
        QLineEdit* edit = controlAt<QLineEdit>(x, y);
        ASSERT_NE(edit, nullptr);
        edit->selectAll();
        QTest::keyClicks(edit, text);
    }
};

}  // namespace

TEST_F(TemplateButtons, SaveWritesTheEditIntoTheModelTemplate) {
    selectNode(2);
    typeInto(300, 62, "alice");
    selectNode(4);  // visiting a page adds its parameters
    ui.saveButton->click();
    EXPECT_TRUE(dialogs.shown.isEmpty());
    EXPECT_FALSE(ui.saveButton->isEnabled());
    const QByteArray shown = show(dir.file("models/T1/$devCfg.bin"));
    EXPECT_TRUE(shown.startsWith("kind: bin\n"));
    EXPECT_TRUE(shown.contains("\nP1004=alice\n"));
    EXPECT_TRUE(shown.contains("\nP1003=sip.example.test\n"));
    EXPECT_TRUE(shown.contains("\nP200=1\n"));
}

TEST_F(TemplateButtons, AnXmlTemplateGetsOnlyItsEditedElementsRewritten) {
    const QByteArray original =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<zv_provision version=\"1\">\n"
        "  <config version=\"1\">\n    <P1003>xml.server</P1003>\n"
        "    <P1004>bob</P1004>\n    <P1008>30</P1008>\n  </config>\n</zv_provision>\n";
    const QString xml = dir.write("mine.xml", original);
    selectNode(2);
    dialogs.paths << xml;
    ui.loadButton->click();
    EXPECT_TRUE(dialogs.messages().isEmpty());
    EXPECT_EQ(tpl.Kind(), TemplateKind::Xml);
    // The page shows the loaded values.
    EXPECT_EQ(controlAt<QLineEdit>(300, 62)->text(), "bob");
    EXPECT_EQ(controlAt<QComboBox>(300, 152)->currentIndex(), 2);

    typeInto(300, 62, "carol");
    ui.saveButton->click();
    QByteArray expected = original;
    expected.replace("<P1004>bob</P1004>", "<P1004>carol</P1004>");
    ParameterSet reread;
    ASSERT_EQ(ReadXmlFile(xml, reread), XmlReadStatus::Ok);
    EXPECT_EQ(reread.Value(1004), "carol");
    EXPECT_EQ(reread.Value(1003), "xml.server");
    // Untouched parameters of the page (P1001 is not in the file) are not added.
    EXPECT_FALSE(reread.Contains(1001));
    // The same elements in the same order; only the edited value differs.
    EXPECT_EQ(ReadFileBytes(xml).replace(" ", "").replace("\n", ""),
              expected.replace(" ", "").replace("\n", ""));
    EXPECT_TRUE(tpl.ChangedParams().empty());
    EXPECT_FALSE(ui.saveButton->isEnabled());

    // A second Save without edits leaves the file alone.
    const QDateTime written = QFileInfo(xml).lastModified();
    const QByteArray bytes = ReadFileBytes(xml);
    QTest::qWait(20);
    editor->saveTemplateButtonClick();
    EXPECT_EQ(ReadFileBytes(xml), bytes);
    EXPECT_EQ(QFileInfo(xml).lastModified(), written);
    EXPECT_TRUE(dialogs.messages().isEmpty());
}

TEST_F(TemplateButtons, SaveAsWritesANewFileThatLaterSavesGoTo) {
    const QString modelTemplate = dir.file("models/T1/$devCfg.bin");
    const QByteArray before = ReadFileBytes(modelTemplate);
    selectNode(2);
    typeInto(300, 62, "dave");
    const QString copy = dir.file("copy.bin");
    dialogs.paths << copy;
    ui.saveAsButton->click();
    EXPECT_TRUE(dialogs.messages().isEmpty());
    EXPECT_EQ(dialogs.shown[0].filter, "All files (*.*)");
    EXPECT_TRUE(show(copy).contains("\nP1004=dave\n"));
    EXPECT_EQ(ReadFileBytes(modelTemplate), before);
    EXPECT_EQ(tpl.CurrentTemplatePath(), copy);

    typeInto(300, 62, "erin");
    ui.saveButton->click();
    EXPECT_TRUE(show(copy).contains("\nP1004=erin\n"));
    EXPECT_EQ(ReadFileBytes(modelTemplate), before);

    // Cancelled: nothing written, the path stays.
    dialogs.clear();
    ui.saveAsButton->click();
    EXPECT_EQ(dialogs.messages(), QStringList{"LCfgError4"});
    EXPECT_EQ(tpl.CurrentTemplatePath(), copy);
}

TEST_F(TemplateButtons, ARefusedLoadKeepsThePageAndWhatWasTyped) {
    selectNode(2);
    typeInto(300, 62, "frank");
    EXPECT_TRUE(ui.saveButton->isEnabled());
    QWidget* content = ui.box->widget();

    // Files that leave the configuration as it was: the page and its typed value stay.
    const struct {
        const char* file;
        QByteArray bytes;
    } refused[] = {
        {"other.txt", "hello"},                           // neither bin nor XML
        {"empty.bin", ""},                                // nothing to read
        {"broken.xml", "<?xml version=\"1.0\"?><open>"},  // not well-formed
    };
    for (const auto& r : refused) {
        dialogs.clear();
        dialogs.paths << dir.write(r.file, r.bytes);
        ui.loadButton->click();
        EXPECT_EQ(dialogs.messages(), QStringList{"LCfgError1"}) << r.file;
        EXPECT_EQ(ui.box->widget(), content) << r.file;
        EXPECT_EQ(controlAt<QLineEdit>(300, 62)->text(), "frank") << r.file;
        EXPECT_TRUE(ui.saveButton->isEnabled()) << r.file;
    }
    // Save still writes what was typed.
    dialogs.clear();
    ui.saveButton->click();
    EXPECT_TRUE(dialogs.messages().isEmpty());
    EXPECT_TRUE(show(dir.file("models/T1/$devCfg.bin")).contains("\nP1004=frank\n"));
}

TEST_F(TemplateButtons, ALoadThatEmptiesTheConfigurationRebuildsThePage) {
    selectNode(2);
    typeInto(300, 62, "frank");
    // Sniffed as XML but without a config element: the set is emptied and the page shows it.
    dialogs.paths << dir.write("noflag.bin", "<?xml version=\"1.0\"?><zv_provision/>");
    ui.loadButton->click();
    EXPECT_EQ(dialogs.messages(), QStringList{"LCfgError1"});
    EXPECT_TRUE(tpl.Parameters().IsEmpty());
    EXPECT_EQ(controlAt<QLineEdit>(300, 62)->text(), "");
    EXPECT_EQ(controlAt<QComboBox>(300, 32)->currentIndex(), 0);
    EXPECT_TRUE(ui.saveButton->isEnabled());  // loads keep the Save state

    // Cancelled dialog: nothing at all.
    dialogs.clear();
    QWidget* content = ui.box->widget();
    ui.loadButton->click();
    EXPECT_EQ(ui.box->widget(), content);
    EXPECT_EQ(dialogs.shown.size(), 1);
}

TEST_F(TemplateButtons, AWriteFailureKeepsSaveEnabled) {
    selectNode(2);
    typeInto(300, 62, "gina");
    tpl.SetCurrentTemplatePath(dir.file("no/such/dir/t.bin"));
    ui.saveButton->click();
    EXPECT_EQ(dialogs.messages(), QStringList{"LCfgError3"});
    EXPECT_TRUE(ui.saveButton->isEnabled());
}
