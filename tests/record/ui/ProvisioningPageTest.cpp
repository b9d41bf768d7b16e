// The Provisioning page in the window, offscreen: a batch to the built-in server, a
// plug-and-play answer on a loopback group and downloads by curl take each phone through its
// states, which the page shows by itself while it is open.
#include "app/Notices.h"
#include "app/ui/ShellFixture.h"
#include "batch/ui/CsvBatchPage.h"
#include "config/ui/ToolPage.h"
#include "record/ui/ProvisioningPage.h"
#include "record/ui/TextTableModel.h"
#include "servers/MyHttpServer.h"
#include "servers/ui/ServerPage.h"
#include "support/LoopbackMulticast.h"
#include "support/LoopbackPhone.h"
#include "support/Sqlite3Cli.h"

#include <QElapsedTimer>

#include <functional>

namespace {

bool WaitUntil(const std::function<bool()>& done, int ms = 10000) {
    QElapsedTimer clock;
    clock.start();
    WaitHandlingNotices([&] { return done() || clock.elapsed() > ms; }, 10);
    return done();
}

int Curl(const QString& url) {
    QByteArray out;
    RunProgram("curl", {"-s", "-o", "/dev/null", "-w", "%{http_code}", "-A", "Orvo X100 2.0", url},
               &out);
    return out.toInt();
}

const char* const kPhone1 = "0a1b2c000001";
const char* const kPhone2 = "0a1b2c000002";
const char* const kPhone3 = "0a1b2c000003";
const char* const kStranger = "0a1b2c0000ff";

class ProvisioningPageTest : public ShellFixture {
  protected:
    void SetUp() override {
        SupplyTree("server");
        SupplyLanguages();
        Supply("ini/$default.ini");
    }
    // The page's rows: phone and state as shown.
    QStringList Shown() const {
        QStringList out;
        for (const TextTableModel::Row& row : page->Phones().Rows())
            out << row.cells[0] + " " + row.cells[1];
        return out;
    }
    QString StateOf(const QString& phone) const {
        for (const TextTableModel::Row& row : page->Phones().Rows())
            if (row.key == phone)
                return row.cells[1];
        return {};
    }
    QColor ColourOf(const QString& phone) const {
        const int row = page->Phones().RowOf(phone);
        return row < 0 ? QColor()
                       : page->Phones()
                             .data(page->Phones().index(row, 1), Qt::BackgroundRole)
                             .value<QColor>();
    }

    ProvisioningPage* page = nullptr;
};

TEST_F(ProvisioningPageTest, FollowsEachPhoneFromItsFileToItsDownloadAsItHappens) {
    TForm1& w = Start();
    w.show();
    page = w.ProvisioningTab;
    EXPECT_EQ(w.PageControl1->indexOf(page), 5);
    EXPECT_EQ(w.PageControl1->indexOf(w.ToolTab), 4);
    EXPECT_EQ(w.PageControl1->tabText(5), "Provisioning");
    ASSERT_TRUE(w.Record().IsOn());
    const QString record = dir.file("db/provisioning.sqlite");
    EXPECT_EQ(w.Record().Path(), record);

    // The servers on loopback only.
    ServerPage& servers = *w.ServerTab;
    w.PageControl1->setCurrentWidget(w.ServerTab);
    servers.serverWaitMs = 20;
    servers.pnpLookMs = 30;
    servers.InterfaceForServerCB->clear();
    servers.InterfaceForServerCB->addItem("127.0.0.1");
    servers.HttpServer().Start(0, "127.0.0.1");
    const QString port = QString::number(servers.HttpServer().Port());
    servers.MyHttpServerPort->setText(port);
    const QString group = OwnMulticastGroup();
    const int pnpPort = FreeLoopbackPort();
    servers.MyPnpServerIpEdiit->setText(group);
    servers.MyPnpServerPortEdit->setText(QString::number(pnpPort));

    // A batch to the built-in server: three phones.
    w.PageControl1->setCurrentWidget(w.CsvBatchTab);
    CsvBatchPage& batch = *w.CsvBatchTab;
    batch.CsvModeRadioButton->setChecked(true);
    batch.BatchFileFormatBinRB->setChecked(true);
    dialogs.paths = {dir.write("phones.csv", QByteArray("MAC,{$admin_pass}\r\n") + kPhone1 +
                                                 ",a\r\n" + kPhone2 + ",b\r\n" + kPhone3 +
                                                 ",c\r\n")};
    batch.LoadCsvFileButton->click();
    batch.CfgBatchToServerButton->click();
    ASSERT_TRUE(dialogs.messages().isEmpty()) << dialogs.messages().join(", ").toStdString();

    w.PageControl1->setCurrentWidget(page);
    EXPECT_TRUE(WaitUntil([&] { return page->Phones().Rows().size() == 3; }));
    EXPECT_EQ(Shown(),
              (QStringList{QString(kPhone1) + " file ready", QString(kPhone2) + " file ready",
                           QString(kPhone3) + " file ready"}));
    EXPECT_EQ(page->Phones().Rows()[0].cells[3], QString("cfg/cfg") + kPhone1);
    EXPECT_EQ(ColourOf(kPhone1), QColor(225, 225, 225));

    // Plug-and-play tells phone 1 where its file is.
    servers.MyPnpServerControlBtn->click();
    ASSERT_TRUE(servers.PnpServerRunning()) << dialogs.messages().join(", ").toStdString();
    LoopbackPhone phone;
    SendToLoopbackGroup(
        group, pnpPort,
        LoopbackSubscribe(phone.port(),
                          QByteArray("MAC" + QByteArray(kPhone1)).toUpper().constData()));
    QByteArray notify;
    WaitUntil([&] {
        if (notify.isEmpty())
            notify = phone.receive({}, 0);
        return !notify.isEmpty();
    });
    EXPECT_TRUE(notify.contains("http://127.0.0.1:" + port.toUtf8() + "/cfg"))
        << notify.toStdString();
    EXPECT_TRUE(WaitUntil([&] { return StateOf(kPhone1) == "told"; }));
    EXPECT_EQ(ColourOf(kPhone1), QColor(190, 220, 255));

    // Downloads: phone 1 its file, phone 2 a file that is not there, a stranger its own.
    const QString base = "http://127.0.0.1:" + port + "/cfg/cfg";
    EXPECT_EQ(Curl(base + kPhone1), 200);
    EXPECT_EQ(Curl(base + kPhone2 + ".xml"), 404);
    EXPECT_EQ(Curl(base + kStranger), 404);
    EXPECT_TRUE(WaitUntil([&] { return page->Phones().Rows().size() == 4; }));
    EXPECT_TRUE(WaitUntil([&] { return StateOf(kPhone2) == "failed"; }));
    EXPECT_EQ(Shown(), (QStringList{QString(kPhone1) + " fetched", QString(kPhone2) + " failed",
                                    QString(kPhone3) + " file ready",
                                    QString(kStranger) + " unknown phone"}));
    EXPECT_EQ(ColourOf(kPhone1), QColor(170, 230, 170));
    EXPECT_EQ(ColourOf(kPhone2), QColor(255, 170, 170));
    EXPECT_EQ(ColourOf(kStranger), QColor(255, 210, 120));
    const QStringList phone1 = page->Phones().Rows()[0].cells;
    EXPECT_EQ(phone1[5], "pnp");
    EXPECT_EQ(phone1[6], "127.0.0.1");
    EXPECT_EQ(phone1[8], "200");
    EXPECT_EQ(phone1[10], "http");
    EXPECT_EQ(phone1[11], "Orvo X100 2.0");

    // The filters.
    const struct {
        QRadioButton* filter;
        QStringList phones;
    } filters[] = {
        {page->RecordFilterPendingRb, {kPhone3}},
        {page->RecordFilterFailedRb, {kPhone2}},
        {page->RecordFilterUnknownRb, {kStranger}},
        {page->RecordFilterAllRb, {kPhone1, kPhone2, kPhone3, kStranger}},
    };
    for (const auto& f : filters) {
        f.filter->click();
        QStringList phones;
        for (const TextTableModel::Row& row : page->Phones().Rows())
            phones << row.key;
        EXPECT_EQ(phones, f.phones) << f.filter->objectName().toStdString();
    }

    // The events of the selected phone, newest first.
    page->SelectPhone(kPhone1);
    QStringList kinds;
    for (const TextTableModel::Row& row : page->Events().Rows())
        kinds << row.cells[1];
    EXPECT_EQ(kinds, (QStringList{"download", "plug-and-play answer", "batch file written"}));

    // Export: the table as spreadsheets read it.
    dialogs.clear();
    dialogs.paths = {dir.file("export.csv")};
    page->RecordExportButton->click();
    const QByteArray csv = ReadFileBytes(dir.file("export.csv"));
    EXPECT_TRUE(
        csv.startsWith("\xEF\xBB\xBF"
                       "MAC / PIN,State,File written,"))
        << csv.toStdString();
    EXPECT_EQ(csv.count("\r\n"), 5);
    EXPECT_TRUE(csv.contains(QByteArray("\r\n") + kStranger + ",unknown phone,"));
    EXPECT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].kind, RecordingDialogs::Shown::SaveFile);

    // Clearing asks first.
    dialogs.clear();
    dialogs.answers = {false};
    page->RecordClearButton->click();
    EXPECT_EQ(page->Phones().Rows().size(), 4u);
    dialogs.answers = {true};
    page->RecordClearButton->click();
    ASSERT_EQ(dialogs.shown.size(), 2);
    for (const auto& shown : dialogs.shown) {
        EXPECT_EQ(shown.text.keys(), QStringList{"LRecordClearQ"});
        EXPECT_EQ(shown.caption.keys(), QStringList{"LContinueQ"});
    }
    EXPECT_TRUE(page->Phones().Rows().empty());
    EXPECT_EQ(Sqlite3Value(record, "SELECT count(*) FROM events"), "0");

    servers.MyPnpServerControlBtn->click();
}

TEST_F(ProvisioningPageTest, ARecordThatCannotBeOpenedIsReportedOnceAndTheWindowWorks) {
    dir.write("db", "a file where the folder should be");
    TForm1& w = Start();
    w.show();
    WaitUntil([&] { return !dialogs.messages().isEmpty(); }, 2000);
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].text.keys(), QStringList{"LRecordError1"});
    EXPECT_TRUE(dialogs.shown[0].text.raw().contains(dir.file("db/provisioning.sqlite")));
    EXPECT_FALSE(w.Record().IsOn());
    int lines = 0;
    for (const QString& line : LogMessages())
        lines += line.startsWith("RECORD: Recording is off. " + dir.file("db/provisioning.sqlite"));
    EXPECT_EQ(lines, 1);

    // A batch still writes its files; the page says that recording is off.
    w.PageControl1->setCurrentWidget(w.CsvBatchTab);
    dialogs.clear();
    dialogs.paths = {dir.write("phones.csv", "MAC,{$admin_pass}\r\n0a1b2c000001,a\r\n")};
    w.CsvBatchTab->LoadCsvFileButton->click();
    w.CsvBatchTab->CfgBatchToServerButton->click();
    EXPECT_TRUE(dialogs.messages().isEmpty()) << dialogs.messages().join(", ").toStdString();
    EXPECT_TRUE(QFile::exists(dir.file("server/htdocs/cfg/cfg0a1b2c000001")));
    w.PageControl1->setCurrentWidget(w.ProvisioningTab);
    EXPECT_EQ(w.ProvisioningTab->RecordFileText->text(), "Recording is off.");
    EXPECT_TRUE(w.ProvisioningTab->Phones().Rows().empty());
}

TEST_F(ProvisioningPageTest, KeepsEventsForTheDaysOfTheSetting) {
    // A record with an event of 100 days ago and one of 10 days ago.
    const QString record = dir.file("db/provisioning.sqlite");
    {
        ProvisioningRecord r;
        ASSERT_TRUE(r.Open(record));
        for (const int days : {100, 10}) {
            RecordEvent e;
            e.kind = RecordEvent::Kind::Batch;
            e.phone = QByteArray::number(days);
            e.time = std::time(nullptr) - days * 86400;
            r.Add(e);
        }
    }
    const struct {
        QByteArray line;
        QStringList kept;
    } cases[] = {
        {"keep_days=0", {"100", "10"}},
        {"keep_days=90", {"10"}},
        {"keep_days=5", {}},
    };
    for (const auto& c : cases) {
        dir.write("ini/setting.ini", DefaultSettings("keep_days=90", c.line));
        Start();
        ASSERT_TRUE(form->Record().Flush());
        EXPECT_EQ(Sqlite3Rows(record, "SELECT phone FROM events ORDER BY id"), c.kept) << c.line.toStdString();
        Stop();
    }
}

}  // namespace
