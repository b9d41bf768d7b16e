#include "ShellFixture.h"
#include "app/InterfaceTable.h"
#include "batch/ui/CsvBatchPage.h"
#include "config/ui/ToolPage.h"
#include "dhcp/ui/DhcpGroup.h"
#include "discovery/ui/DevicesOnlinePage.h"
#include "servers/ui/ServerPage.h"
#include "visual/ui/PhoneCfgPage.h"
#include "visual/ui/TemplateBar.h"

#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QThread>
#include <atomic>
#include <functional>

namespace {

QStringList Items(const QComboBox* box) {
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out << box->itemText(i);
    return out;
}

using StartTest = ShellFixture;

TEST_F(StartTest, WindowHasItsTitleSizeBarAndPages) {
    SupplyLanguages();
    TForm1& w = Start();
    w.show();
    EXPECT_EQ(w.windowTitle(), "Orvo Provision Tool 1.3.3beta");
    EXPECT_EQ(QApplication::applicationDisplayName(), "Orvo Provision Tool 1.3.3beta");
    EXPECT_EQ(w.size(), QSize(1240, 619));
    EXPECT_EQ(w.minimumSize(), w.maximumSize());
    EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(w.Panel5->geometry(), QRect(0, 0, 1240, 30));
    EXPECT_EQ(w.PageControl1->geometry(), QRect(0, 32, 1250, 588));
    for (QLabel* status :
         {w.HttpServerStatusLabel, w.PnpServerStatusLabel, w.TftpServerStatusLabel}) {
        EXPECT_EQ(status->text(), "Stop");
        EXPECT_EQ(status->palette().color(QPalette::WindowText), QColor(128, 0, 0));
    }
    // The server states side by side, left of the template buttons.
    int right = 0;
    for (QLabel* label : {w.HttpServerLabel, w.HttpServerStatusLabel, w.PnpServerLabel,
                          w.PnpServerStatusLabel, w.TftpServerLabel, w.TftpServerStatusLabel}) {
        EXPECT_EQ(label->parentWidget(), w.Panel5);
        EXPECT_GT(label->x(), right) << label->objectName().toStdString();
        right = label->geometry().right();
    }
    EXPECT_LT(right, 752);
    EXPECT_EQ(w.TftpServerLabel->text(), "TFTP Server:");
    // The five pages in their places, then the Provisioning page.
    const QStringList pages = {"PhoneCfgTab", "CsvBatchTab", "DevicesOnlineTab",
                               "ServerTab",   "ToolTab",     "ProvisioningTab"};
    ASSERT_EQ(w.PageControl1->count(), pages.size());
    for (int i = 0; i < pages.size(); ++i)
        EXPECT_EQ(w.PageControl1->widget(i)->objectName(), pages[i]);
    EXPECT_EQ(w.PageControl1->currentWidget(), w.PhoneCfgTab);
    // Captions from the language file; the bar's controls in their places.
    EXPECT_EQ(w.PageControl1->tabText(3), "Servers");
    QWidget* load = w.findChild<QWidget*>("loadTemplateButton");
    ASSERT_NE(load, nullptr);
    EXPECT_EQ(load->mapTo(w.Panel5, QPoint(0, 0)), QPoint(832, 6));
    EXPECT_FALSE(w.findChild<QWidget*>("saveTemplateButton")->isEnabled());
    EXPECT_FALSE(w.findChild<QWidget*>("ToolEncryptBtn")->isEnabled());
    // The device grid's header row and first row number.
    const IpAddressGrid* grid = w.DevicesOnlineTab->IpAddressGrid;
    EXPECT_EQ(grid->Cell(0, 1), "Online[+]");
    EXPECT_EQ(grid->Cell(0, 6), "Version[+]");
    EXPECT_EQ(grid->Cell(1, 0), "1");
    EXPECT_TRUE(dialogs.shown.isEmpty());
}

// The three ways to start: setting.ini, only $default.ini, neither.
TEST_F(StartTest, SettingsComeFromSettingIniThenDefaultIniElseTheControlsKeepTheirDefaults) {
    struct Case {
        const char* name;
        bool settingIni;
        bool defaultIni;
        QString port;  // MyHttpServerPort after the first showing of the server page
        bool settingIniAfterExit;
    } cases[] = {
        {"setting.ini", true, true, "7001", true},
        {"$default.ini only", false, true, "6000", true},
        {"neither", false, false, "6000", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(SettingsFile());
        QFile::remove(dir.file("ini/$default.ini"));
        SupplyLanguages();
        if (c.defaultIni)
            Supply("ini/$default.ini");
        if (c.settingIni)
            dir.write("ini/setting.ini",
                      DefaultSettings("built_in_port=6000", "built_in_port=7001"));
        const QByteArray defaultBefore = ReadFileBytes(dir.file("ini/$default.ini"));

        TForm1& w = Start();
        w.show();
        EXPECT_EQ(w.Settings().HasList(), c.settingIni || c.defaultIni);
        w.PageControl1->setCurrentWidget(w.ServerTab);
        EXPECT_EQ(w.ServerTab->MyHttpServerPort->text(), c.port);
        w.ServerTab->MyHttpServerPort->setText("7002");
        Stop();

        EXPECT_EQ(QFileInfo::exists(SettingsFile()), c.settingIniAfterExit);
        if (c.settingIniAfterExit) {
            EXPECT_TRUE(ReadFileBytes(SettingsFile()).contains("built_in_port=7002\r\n"));
        }
        EXPECT_EQ(ReadFileBytes(dir.file("ini/$default.ini")), defaultBefore);
        EXPECT_EQ(LogMessages().last(), "QRV Closed!");
        EXPECT_TRUE(dialogs.shown.isEmpty());
    }
}

TEST_F(StartTest, LogCountSevenGivesItsOwnItemAndKeepsSevenFiles) {
    SupplyLanguages();
    dir.write("ini/setting.ini", DefaultSettings("total_count=10", "total_count=7"));
    for (int i = 0; i < 9; ++i)
        dir.write(QString("log/log-2020010100000%1.log").arg(i), "old\r\n");
    dir.write("log/log-old.txt", "old\r\n");  // counts too, sorts among the others

    TForm1& w = Start();
    QComboBox* box = w.ServerTab->LogSettingCB;
    EXPECT_EQ(Items(box), QStringList({"0", "3", "5", "10", "7"}));
    EXPECT_EQ(box->currentText(), "7");
    const QStringList files = LogFiles();
    ASSERT_EQ(files.size(), 7);
    EXPECT_EQ(files.first(), "log-20200101000004.log");
    EXPECT_TRUE(files.contains(QFileInfo(w.Log().FileName()).fileName()));
    EXPECT_TRUE(files.contains("log-old.txt"));
    EXPECT_EQ(LogMessages(),
              QStringList({"QRV Opened!", "LOGGER: Tide up. Only keep 7 log files."}));
}

TEST_F(StartTest, LogCountMissingOrNotANumberSelectsZeroAndKeepsEveryFile) {
    struct Case {
        QByteArray line;
        QString selected;
        QStringList items;
    } cases[] = {
        {"total_count=", "0", {"0", "3", "5", "10"}},
        {"total_count=abc", "0", {"0", "3", "5", "10"}},
        {"other_key=1", "0", {"0", "3", "5", "10"}},
        {"total_count=5", "5", {"0", "3", "5", "10"}},
    };
    SupplyLanguages();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line.constData());
        QDir(dir.file("log")).removeRecursively();
        for (int i = 0; i < 6; ++i)
            dir.write(QString("log/log-2020010100000%1.log").arg(i), "old\r\n");
        dir.write("ini/setting.ini", DefaultSettings("total_count=10", c.line));
        TForm1& w = Start();
        EXPECT_EQ(Items(w.ServerTab->LogSettingCB), c.items);
        EXPECT_EQ(w.ServerTab->LogSettingCB->currentText(), c.selected);
        EXPECT_EQ(LogFiles().size(), c.selected == "5" ? 5 : 7);
        Stop();
    }
}

TEST_F(StartTest, ModelListHoldsThePlainModelFolders) {
    SupplyLanguages();
    QDir(dir.file("models")).removeRecursively();
    for (const char* name : {"P20", "A10", ".cache", "locked"})
        QDir(dir.path()).mkpath(QString("models/") + name);
    dir.write("models/readme.txt", "x");
    QFile(dir.file("models/locked")).setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    TForm1& w = Start();
    QComboBox* models = w.TemplateBar1->ModelsCombox;
    EXPECT_EQ(Items(models), QStringList({"A10", "P20"}));
    EXPECT_EQ(models->currentIndex(), 0);
}

TEST_F(StartTest, PagesListTheLocalAddressesAndTheLanguagesAtTheirFirstShowing) {
    SupplyLanguages();
    Supply("ini/$default.ini");
    TForm1& w = Start();
    w.show();
    EXPECT_EQ(w.ServerTab->LangOptCB->count(), 0);
    w.PageControl1->setCurrentWidget(w.ServerTab);

    std::vector<InterfaceRow> rows;
    ReadInterfaceTable(&rows);
    QStringList expected;
    for (const InterfaceRow& row : rows)
        if (row.AddressText() != "127.0.0.1")
            expected << row.AddressText();
    EXPECT_EQ(Items(w.ServerTab->InterfaceForServerCB), expected);
    EXPECT_EQ(w.ServerTab->InterfaceForServerCB->currentIndex(), expected.isEmpty() ? -1 : 0);
    EXPECT_EQ(Items(w.ServerTab->LangOptCB), QStringList({"Deutsch", "English"}));
    EXPECT_EQ(w.ServerTab->LangOptCB->currentText(), "English");
    EXPECT_FALSE(w.ServerTab->ReservedLogFileAmountLabel->toolTip().isEmpty());

    // The device page lists the same networks at its first showing.
    w.PageControl1->setCurrentWidget(w.DevicesOnlineTab);
    EXPECT_EQ(Items(w.DevicesOnlineTab->SelfAddressComboBox), expected);

    // Once only: a later showing does not fill the lists again.
    w.PageControl1->setCurrentWidget(w.ToolTab);
    w.PageControl1->setCurrentWidget(w.ServerTab);
    EXPECT_EQ(w.ServerTab->LangOptCB->count(), 2);
    w.PageControl1->setCurrentWidget(w.DevicesOnlineTab);
    EXPECT_EQ(w.DevicesOnlineTab->SelfAddressComboBox->count(), expected.size());
    EXPECT_TRUE(dialogs.shown.isEmpty());
}

// The server page and the device page read their sections in one pass: a key that stands twice
// takes its last value there; the Cfg Batch page takes the first.
TEST_F(StartTest, PagesReadTheirSettingsAtTheirFirstShowing) {
    SupplyLanguages();
    QByteArray text = DefaultSettings("port=5060", "port=5061\r\nport=5062");
    text.replace("filter=Orvo(02-e5-d2)", "filter=Orvo(02-e5-d2)\nfilter=Acme(0a-1b-2c)");
    text.replace("[HTTP SERVER]\nmode=0", "[http server]\nmode=2");
    text.replace("[PROVISION MODE]\nmode=0", "[PROVISION MODE]\nmode=1");
    text.replace("[BATCH]\ncfg_encrypt=0\nmode=0\nformat=0\nxml_encrpyt=0",
                 "[BATCH]\ncfg_encrypt=1\nmode=1\nformat=1\nxml_encrpyt=1");
    text.replace("xml_encrypt_key=", "xml_encrypt_key=00112233");
    text.replace("[TFTP SERVER]\nport=69\nprotocol=0", "[TFTP SERVER]\nport=6969\nprotocol=1");
    dir.write("ini/setting.ini", text);
    TForm1& w = Start();
    w.show();

    w.PageControl1->setCurrentWidget(w.ServerTab);
    EXPECT_TRUE(w.ServerTab->HttpServerExRb->isChecked());
    EXPECT_EQ(w.ServerTab->MyPnpServerPortEdit->text(), "5062");
    EXPECT_EQ(w.ServerTab->MyPnpServerIpEdiit->text(), "224.0.1.75");
    EXPECT_TRUE(w.ServerTab->PnpModeMacRb->isChecked());
    EXPECT_EQ(w.ServerTab->MyTftpServerPort->text(), "6969");
    EXPECT_EQ(w.ServerTab->BuiltinProtocolCB->currentText(), "TFTP");

    w.PageControl1->setCurrentWidget(w.DevicesOnlineTab);
    EXPECT_EQ(Items(w.DevicesOnlineTab->MacFilterPredefinedCb),
              QStringList({"Orvo(02-e5-d2)", "Acme(0a-1b-2c)"}));
    EXPECT_EQ(w.DevicesOnlineTab->MacFilterPredefinedCb->currentIndex(), 0);
    EXPECT_TRUE(w.DevicesOnlineTab->MacFilterPredefinedRb->isChecked());
    EXPECT_TRUE(w.DevicesOnlineTab->ProvisionModePinRb->isChecked());

    w.PageControl1->setCurrentWidget(w.CsvBatchTab);
    CsvBatchPage* batch = w.CsvBatchTab;
    EXPECT_TRUE(batch->PinModeRadioButton->isChecked());
    EXPECT_TRUE(batch->BatchFileFormatXmlRB->isChecked());
    EXPECT_TRUE(batch->XmlCfgEncryptChkB->isChecked());
    EXPECT_EQ(batch->XmlCfgEncryptKeyEdit->text(), "00112233");
    EXPECT_EQ(Items(batch->CfgToEncryptCB),
              QStringList({"Not encrypted", "Encrypted with the default key"}));
    EXPECT_EQ(batch->CfgToEncryptCB->currentIndex(), 1);
    EXPECT_FALSE(batch->XmlCfgEncryptChkB->toolTip().isEmpty());
}

// Each page's values are taken into the settings when the window closes on that page; closing
// on the Tools page takes none of them.
TEST_F(StartTest, ClosingTakesTheActivePagesSettings) {
    struct Case {
        const char* name;
        std::function<QWidget*(TForm1&)> page;
        std::function<void(TForm1&)> edit;
        QStringList expected;  // lines of setting.ini
        QStringList unchanged;
    };
    const auto editAll = [](TForm1& w) {
        w.CsvBatchTab->PinModeRadioButton->setChecked(true);
        w.CsvBatchTab->BatchFileFormatXmlRB->setChecked(true);
        w.CsvBatchTab->XmlCfgEncryptChkB->setChecked(true);
        w.CsvBatchTab->XmlCfgEncryptKeyEdit->setText("  0a0b  ");
        w.CsvBatchTab->CfgToEncryptCB->setCurrentIndex(1);
        w.DevicesOnlineTab->MacFilterInputRb->setChecked(true);
        w.DevicesOnlineTab->MacFilterInputEdit->setText("0a-1b-");
        w.DevicesOnlineTab->ProvisionModePinRb->setChecked(true);
        w.ServerTab->HttpServerExRb->setChecked(true);
        w.ServerTab->MyHttpServerPort->setText("8080");
        w.ServerTab->ExHttpServerEdiit->setText("http://cfg.example/p");
        w.ServerTab->PnpModePinRb->setChecked(true);
        w.ServerTab->MyPnpServerIpEdiit->setText("224.0.1.76");
        w.ServerTab->MyPnpServerPortEdit->setText("5070");
        w.ServerTab->LogSettingCB->setEditText("4");
        w.ServerTab->MyTftpServerPort->setText("1069");
        w.ServerTab->BuiltinProtocolCB->setCurrentIndex(1);
    };
    const QStringList batchLines = {
        "[BATCH]\r\ncfg_encrypt=1\r\nmode=1\r\nformat=1\r\nxml_encrpyt=1\r\nxml_encrypt_key=0a0b"};
    const QStringList deviceLines = {"[MAC FILTER]\r\nmode=1", "input=0a-1b-",
                                     "[PROVISION MODE]\r\nmode=1"};
    const QStringList serverLines = {"[HTTP SERVER]\r\nmode=1",
                                     "built_in_port=8080",
                                     "ex_path=http://cfg.example/p",
                                     "[PNP SERVER]\r\nmode=1",
                                     "group=224.0.1.76",
                                     "port=5070",
                                     "total_count=4",
                                     "[TFTP SERVER]\r\nport=1069\r\nprotocol=1"};
    const Case cases[] = {
        {"Cfg Batch", [](TForm1& w) { return w.CsvBatchTab; }, editAll, batchLines,
         deviceLines + serverLines},
        {"Devices Online", [](TForm1& w) { return w.DevicesOnlineTab; }, editAll, deviceLines,
         batchLines + serverLines},
        {"Servers", [](TForm1& w) { return w.ServerTab; }, editAll, serverLines,
         batchLines + deviceLines},
        {"Tools",
         [](TForm1& w) { return w.ToolTab; },
         editAll,
         {},
         batchLines + deviceLines + serverLines},
    };
    SupplyLanguages();
    Supply("ini/$default.ini");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(SettingsFile());
        TForm1& w = Start();
        w.show();
        // Every page shown once, so that each has read its settings.
        for (QWidget* page :
             {static_cast<QWidget*>(w.CsvBatchTab), static_cast<QWidget*>(w.DevicesOnlineTab),
              static_cast<QWidget*>(w.ServerTab), c.page(w)})
            w.PageControl1->setCurrentWidget(page);
        c.edit(w);
        Stop();
        const QString written = QString::fromUtf8(ReadFileBytes(SettingsFile()));
        ASSERT_FALSE(written.isEmpty());
        for (const QString& line : c.expected)
            EXPECT_TRUE(written.contains(line + "\r\n")) << line.toStdString();
        for (const QString& line : c.unchanged)
            EXPECT_FALSE(written.contains(line + "\r\n")) << line.toStdString();
        // The rest of the list is written as it was.
        EXPECT_TRUE(written.contains("[PNO]\r\np_upgrade_mode=0\r\n"));
    }
}

TEST_F(StartTest, LeavingAPageStoresItsValuesInTheSettingsList) {
    SupplyLanguages();
    Supply("ini/$default.ini");
    TForm1& w = Start();
    w.show();
    w.PageControl1->setCurrentWidget(w.ServerTab);
    w.ServerTab->MyHttpServerPort->setText("9000");
    EXPECT_EQ(w.Settings().Read("[HTTP SERVER]", "built_in_port"), "6000");
    w.PageControl1->setCurrentWidget(w.PhoneCfgTab);
    EXPECT_EQ(w.Settings().Read("[HTTP SERVER]", "built_in_port"), "9000");
    EXPECT_FALSE(QFileInfo::exists(SettingsFile()));  // only the exit writes the file
}

// A settings file written before the TFTP server existed gains its section, so that its
// values are kept; the other lines stay as they were.
TEST_F(StartTest, ASettingsFileWithoutTheTftpSectionGainsIt) {
    SupplyLanguages();
    const QByteArray old = DefaultSettings("[TFTP SERVER]\nport=69\nprotocol=0\n\n", "");
    ASSERT_FALSE(old.contains("TFTP"));
    dir.write("ini/setting.ini", old);
    TForm1& w = Start();
    w.show();
    w.PageControl1->setCurrentWidget(w.ServerTab);
    EXPECT_EQ(w.ServerTab->MyTftpServerPort->text(), "69");
    EXPECT_EQ(w.ServerTab->BuiltinProtocolCB->currentText(), "HTTP");
    w.ServerTab->MyTftpServerPort->setText("1069");
    w.PageControl1->setCurrentWidget(w.PhoneCfgTab);
    Stop();
    const QByteArray written = ReadFileBytes(SettingsFile());
    EXPECT_TRUE(written.endsWith("\r\n[TFTP SERVER]\r\nport=1069\r\nprotocol=0\r\n"))
        << written.toStdString();
    QByteArray before = old;
    before.replace("\n", "\r\n");
    EXPECT_TRUE(written.startsWith(before)) << written.toStdString();
}

// The DHCP group's settings are kept in a section of their own, which a settings file of an
// earlier version gains when the Servers page is left; the next start shows them again.
TEST_F(StartTest, TheDhcpSettingsAreKeptInTheirSection) {
    SupplyLanguages();
    const QByteArray old =
        DefaultSettings("[DHCP SERVER]\nrange=\nlease=3600\nrouter=\ndns=\nignore_other=0\n\n", "");
    ASSERT_FALSE(old.contains("DHCP"));
    dir.write("ini/setting.ini", old);
    {
        TForm1& w = Start();
        w.show();
        w.PageControl1->setCurrentWidget(w.ServerTab);
        DhcpGroup& dhcp = *w.ServerTab->DhcpServerGB;
        EXPECT_EQ(dhcp.DhcpLeaseEdit->text(), "3600");
        EXPECT_FALSE(dhcp.DhcpIgnoreOtherChkB->isChecked());
        dhcp.DhcpRangeEdit->setText("10.1.2.50-10.1.2.60");
        dhcp.DhcpLeaseEdit->setText("600");
        dhcp.DhcpDnsEdit->setText("10.1.2.1");
        dhcp.DhcpIgnoreOtherChkB->setChecked(true);
        w.PageControl1->setCurrentWidget(w.PhoneCfgTab);
        Stop();
    }
    const QByteArray written = ReadFileBytes(SettingsFile());
    EXPECT_TRUE(
        written.endsWith("\r\n[DHCP SERVER]\r\nrange=10.1.2.50-10.1.2.60\r\nlease=600\r\n"
                         "router=\r\ndns=10.1.2.1\r\nignore_other=1\r\n"))
        << written.toStdString();
    TForm1& again = Start();
    again.show();
    again.PageControl1->setCurrentWidget(again.ServerTab);
    const DhcpSettings shown = again.ServerTab->DhcpServerGB->Settings();
    EXPECT_EQ(shown.range, "10.1.2.50-10.1.2.60");
    EXPECT_EQ(shown.leaseSeconds, "600");
    EXPECT_EQ(shown.router, "");
    EXPECT_EQ(shown.dns, "10.1.2.1");
    EXPECT_TRUE(shown.ignoreOther);
}

TEST_F(StartTest, VanishedWorkingDirectoryRunsWithoutLogOrSettings) {
    TempDir gone;
    const QString path = gone.path();
    QDir().mkpath(path + "/doomed");
    ASSERT_TRUE(QDir::setCurrent(path + "/doomed"));
    ASSERT_TRUE(QDir(path).rmdir("doomed"));

    TForm1& w = Start();
    w.show();
    EXPECT_EQ(dialogs.messages().first(), "LAppError3");
    EXPECT_TRUE(w.Context().workDir.isEmpty());
    EXPECT_FALSE(w.Log().IsOpen());
    w.PageControl1->setCurrentWidget(w.ServerTab);
    w.PageControl1->setCurrentWidget(w.ToolTab);
    Stop();
    EXPECT_TRUE(QDir(path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(dir.file("log")));
}

}  // namespace
