// The pages of the real window reach their flows: a user's clicks on the Tools, Cfg Batch and
// Phone Configuration pages, with the dialogs answered by the test.
#include "ShellFixture.h"
#include "batch/ui/CsvBatchPage.h"
#include "config/BinFile.h"
#include "config/ui/ToolPage.h"
#include "servers/ui/ServerPage.h"
#include "support/LoopbackMulticast.h"
#include "visual/ui/PhoneCfgPage.h"
#include "visual/ui/TemplateBar.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTableWidget>
#include <QTest>
#include <QTreeWidget>

namespace {

using PageWiring = ShellFixture;

TEST_F(PageWiring, ToolsEncryptTheChosenFilesIntoTheChosenFolder) {
    SupplyLanguages();
    Supply("ini/$default.ini");
    TForm1& w = Start();
    w.show();
    w.PageControl1->setCurrentWidget(w.ToolTab);
    const QString bin = dir.write("in/a.bin", "Flag=5678&CheckSum=0&P1=x&end");
    QDir().mkpath(dir.file("out"));
    dialogs.multiPaths = {{bin}};
    dialogs.paths = {dir.file("out")};
    w.ToolTab->ToolInputFileBtn->click();
    w.ToolTab->ToolOutputDirBtn->click();
    EXPECT_EQ(w.ToolTab->ToolOutputDirEdit->text(), dir.file("out"));
    w.ToolTab->ToolXmlEncryptKeyEdit->setText("abc");
    w.ToolTab->ToolEncryptBtn->click();
    QElapsedTimer t;
    t.start();
    WaitHandlingNotices(
        [&] { return w.ToolTab->ToolInputFileBtn->isEnabled() || t.elapsed() > 10000; });
    EXPECT_EQ(ReadFileBytes(dir.file("out/a.bin")).size(), 29 + 14);
    EXPECT_TRUE(dialogs.messages().isEmpty());
}

TEST_F(PageWiring, CfgBatchLoadsTheModelTemplateAndBatchesToTheServerFolder) {
    SupplyLanguages();
    Supply("ini/$default.ini");
    QDir().mkpath(dir.file("server/htdocs/cfg"));
    TForm1& w = Start();
    w.show();
    w.PageControl1->setCurrentWidget(w.CsvBatchTab);
    EXPECT_EQ(w.Template().CurrentTemplatePath(), dir.file("models/X100/$devCfg.bin"));
    dialogs.paths = {dir.write("phones.csv", "MAC,{$username.line.1}\r\n02E5D2AABBCC,alice\r\n")};
    w.CsvBatchTab->LoadCsvFileButton->click();
    w.CsvBatchTab->CfgBatchToServerButton->click();
    ParameterSet written;
    ASSERT_EQ(ReadBinFile(dir.file("server/htdocs/cfg/cfg02e5d2aabbcc"), written),
              BinReadStatus::Ok);
    EXPECT_EQ(written.Value(1004), "alice");
    EXPECT_TRUE(dialogs.messages().isEmpty()) << dialogs.messages().join(',').toStdString();
}

// A first run with what is supplied: the sample CSV on the model's template, autofilled for the
// TFTP server chosen on the servers page, leaves no placeholder unfilled; a CSV that fills
// fewer has them named on the page.
TEST_F(PageWiring, CfgBatchOfTheSuppliedDataAutofillsForTheChosenProtocol) {
    SupplyLanguages();
    Supply("ini/$default.ini");
    Supply("examples/phones.csv");
    QDir().mkpath(dir.file("server/htdocs/cfg"));
    TForm1& w = Start();
    w.show();
    ServerPage& servers = *w.ServerTab;
    w.PageControl1->setCurrentWidget(&servers);
    servers.serverBindAddress = "127.0.0.1";
    servers.InterfaceForServerCB->clear();
    servers.InterfaceForServerCB->addItem("127.0.0.1");
    servers.BuiltinProtocolCB->setCurrentIndex(1);
    const QString port = QString::number(FreeLoopbackPort(SOCK_DGRAM));
    servers.MyTftpServerPort->setText(port);
    servers.TftpServerControlButton->click();
    ASSERT_TRUE(servers.TftpServerActive());

    CsvBatchPage& batch = *w.CsvBatchTab;
    w.PageControl1->setCurrentWidget(&batch);
    batch.AutofillServerPathChkbox->resize(200, 20);
    QTest::mouseClick(batch.AutofillServerPathChkbox, Qt::LeftButton, {}, QPoint(5, 10));
    QApplication::processEvents();
    ASSERT_TRUE(batch.AutofillServerPathChkbox->isChecked())
        << dialogs.messages().join(',').toStdString();
    dialogs.paths = {dir.file("examples/phones.csv")};
    batch.LoadCsvFileButton->click();
    batch.CfgBatchToServerButton->click();
    ParameterSet written;
    ASSERT_EQ(ReadBinFile(dir.file("server/htdocs/cfg/cfg02e5d2000001"), written),
              BinReadStatus::Ok);
    EXPECT_EQ(written.Value(400), "tftp://127.0.0.1:" + port.toUtf8() + "/cfg");
    EXPECT_EQ(written.Value(403), "tftp://127.0.0.1:" + port.toUtf8() + "/fw");
    EXPECT_EQ(written.Value(1004), "201");
    EXPECT_FALSE(written.Contains(0));
    EXPECT_TRUE(batch.BatchUnfilledNote->isHidden());
    EXPECT_TRUE(dialogs.messages().isEmpty()) << dialogs.messages().join(',').toStdString();

    dialogs.paths = {dir.write("phones.csv", "MAC,{$username.line.1}\r\n02E5D2AABBCC,alice\r\n")};
    batch.LoadCsvFileButton->click();
    batch.CfgBatchToServerButton->click();
    EXPECT_TRUE(batch.BatchUnfilledNote->isVisible());
    EXPECT_TRUE(batch.BatchUnfilledNote->toPlainText().startsWith(
        w.Language().Translate("LBatchUnfilled") + "P410={$admin_pass} "));
    servers.TftpServerControlButton->click();
}

TEST_F(PageWiring, PhoneConfigurationShowsTheModelAndSavesAnEdit) {
    SupplyLanguages();
    Supply("ini/$default.ini");
    TForm1& w = Start();
    w.show();
    PhoneCfgPage* page = w.PhoneCfgTab;
    ASSERT_GT(page->CfgOutlineTreeView->topLevelItemCount(), 0);
    EXPECT_FALSE(page->visualDevImg->pixmap().isNull());
    QTreeWidgetItem* network =
        page->CfgOutlineTreeView->findItems("Network", Qt::MatchExactly).value(0);
    ASSERT_NE(network, nullptr);
    page->CfgOutlineTreeView->setCurrentItem(network);
    QLineEdit* first = page->ConfigScrollBox->widget()->findChild<QLineEdit*>();
    ASSERT_NE(first, nullptr);
    first->selectAll();
    QTest::keyClicks(first, "edited-by-test");  // typed: an edit of the user
    EXPECT_TRUE(w.TemplateBar1->saveTemplateButton->isEnabled());
    w.TemplateBar1->saveTemplateButton->click();
    EXPECT_TRUE(ReadFileBytes(dir.file("models/X100/$devCfg.bin")).contains("=edited-by-test&"));
    EXPECT_FALSE(w.TemplateBar1->saveTemplateButton->isEnabled());
    EXPECT_TRUE(dialogs.messages().isEmpty()) << dialogs.messages().join(',').toStdString();
}

}  // namespace
