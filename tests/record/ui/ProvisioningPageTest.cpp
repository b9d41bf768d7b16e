// The Provisioning page in the window, offscreen: a batch to the built-in server, a
// plug-and-play answer on a loopback group and downloads by curl take each phone through its
// states, which the page shows by itself while it is open.
#include "app/Notices.h"
#include "app/ui/QtDialogs.h"
#include "app/ui/ShellFixture.h"
#include "batch/ui/CsvBatchPage.h"
#include "config/ui/ToolPage.h"
#include "record/RecordSchema.h"
#include "record/ui/ProvisioningPage.h"
#include "record/ui/TextTableModel.h"
#include "servers/MyHttpServer.h"
#include "servers/ui/ServerPage.h"
#include "support/LoopbackMulticast.h"
#include "support/LoopbackPhone.h"
#include "support/Sqlite3Cli.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

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
    // The batch page says what it wrote.
    EXPECT_TRUE(batch.CfgBatchResultLabel->text().startsWith("3 files written at "))
        << batch.CfgBatchResultLabel->text().toStdString();

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
    EXPECT_EQ(phone1[ProvisioningPage::ColToldBy], "plug-and-play answer");  // in its words
    EXPECT_EQ(phone1[ProvisioningPage::ColAddress], "127.0.0.1");
    EXPECT_EQ(phone1[ProvisioningPage::ColStatus], "200");
    EXPECT_EQ(phone1[ProvisioningPage::ColSource], "http");
    EXPECT_EQ(phone1[ProvisioningPage::ColUserAgent], "Orvo X100 2.0");
    // Model and version from the User-Agent of its download.
    EXPECT_EQ(phone1[ProvisioningPage::ColModel], "Orvo X100");
    EXPECT_EQ(phone1[ProvisioningPage::ColVersion], "2.0");
    // Times of today as the time of day.
    EXPECT_TRUE(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d$")
                    .match(phone1[ProvisioningPage::ColFetchTime])
                    .hasMatch())
        << phone1[ProvisioningPage::ColFetchTime].toStdString();
    EXPECT_EQ(page->RecordSummaryLabel->text(),
              QString::fromUtf8("3 phones \xe2\x80\x94 1 fetched, 1 failed, 0 told, 1 file ready; "
                                "1 unknown"));

    // The filters.
    const struct {
        QRadioButton* filter;
        QStringList phones;
    } filters[] = {
        {page->RecordFilterPendingRb, {kPhone3}},
        {page->RecordFilterFailedRb, {kPhone2}},
        {page->RecordFilterUnknownRb, {kStranger}},
        {page->RecordFilterSeenRb, {}},
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

    // Clearing asks first, Enter answering No.
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
        EXPECT_EQ(shown.buttons, Dialogs::Buttons::YesNoDefaultNo);
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
    // Which file and why, and nothing to clear.
    const QString text = w.ProvisioningTab->RecordFileText->text();
    EXPECT_TRUE(text.startsWith("Recording is off. " + dir.file("db/provisioning.sqlite") + ": "))
        << text.toStdString();
    EXPECT_TRUE(text.contains("cannot be made")) << text.toStdString();
    EXPECT_FALSE(w.ProvisioningTab->RecordClearButton->isEnabled());
    EXPECT_TRUE(w.ProvisioningTab->Phones().Rows().empty());
}

// Pruning at start keeps each phone's latest event of each kind: its state stays.
TEST_F(ProvisioningPageTest, KeepsEventsForTheDaysOfTheSettingButEachPhonesLatest) {
    const QString record = dir.file("db/provisioning.sqlite");
    {
        ProvisioningRecord r;
        ASSERT_TRUE(r.Open(record));
        const struct {
            const char* phone;
            int days;
        } batches[] = {{"0a0000000001", 100}, {"0a0000000001", 95}, {"0a0000000002", 10}};
        for (const auto& b : batches) {
            RecordEvent e;
            e.kind = RecordEvent::Kind::Batch;
            e.phone = b.phone;
            e.path = "cfg/cfg" + e.phone;
            e.timeMs = RecordNowMs() - qint64(b.days) * 86400 * 1000;
            r.Add(e);
        }
    }
    const QStringList all = Sqlite3Rows(record, "SELECT id FROM events ORDER BY id");
    ASSERT_EQ(all.size(), 3);
    const struct {
        QByteArray line;
        QStringList kept;
    } cases[] = {
        {"keep_days=0", all},
        {"keep_days=90", {all[1], all[2]}},
        {"keep_days=5", {all[1], all[2]}},
    };
    for (const auto& c : cases) {
        dir.write("ini/setting.ini", DefaultSettings("keep_days=90", c.line));
        Start();
        ASSERT_TRUE(form->Record().Flush());
        EXPECT_EQ(Sqlite3Rows(record, "SELECT id FROM events ORDER BY id"), c.kept)
            << c.line.toStdString();
        EXPECT_EQ(Sqlite3Rows(record, "SELECT state FROM phone_status"),
                  (QStringList{"file ready", "file ready"}));
        Stop();
    }
}

// Every kind of road, as the program's parts record them.
void FillRecord(ProvisioningRecord& r) {
    const qint64 now = RecordNowMs();
    const auto batch = [&](const char* phone, quint64 inode, qint64 ago = 60000) {
        RecordEvent e;
        e.kind = RecordEvent::Kind::Batch;
        e.phone = phone;
        e.path = "cfg/cfg" + e.phone;
        e.format = "bin";
        e.protection = "plain";
        e.fileSize = 729;
        e.fileInode = inode;
        e.fileMtimeNs = qint64(inode) * 1000;
        e.timeMs = now - ago;
        r.Add(e);
    };
    const auto told = [&](RecordEvent::Kind kind, const char* phone, const char* address) {
        RecordEvent e;
        e.kind = kind;
        e.phone = phone;
        e.address = address;
        e.url = "http://10.0.0.1:6000/cfg";
        e.model = "Orvo X100";
        e.version = "2.0.4.3";
        e.timeMs = now - 50000;
        r.Add(e);
    };
    const auto fetch = [&](const char* phone, int status, bool complete, quint64 inode,
                           const char* agent = "Orvo X100 2.0.4.4") {
        FetchEvent f;
        f.time = std::time(nullptr);
        f.peer = "10.0.0.2" + QByteArray(phone).right(1);
        f.path = "cfg/cfg" + QByteArray(phone);
        f.status = status;
        f.complete = complete;
        f.bytes = complete ? 729 : 200;
        f.userAgent = agent;
        f.fileSize = inode ? 729 : -1;
        f.fileInode = inode;
        f.fileMtimeNs = qint64(inode) * 1000;
        r.Add(f);
    };
    batch("0a1b2c000001", 1);
    told(RecordEvent::Kind::Pnp, "0a1b2c000001", "10.0.0.21");
    fetch("0a1b2c000001", 200, true, 1);
    batch("0a1b2c000002", 2);
    told(RecordEvent::Kind::Pnp, "0a1b2c000002", "10.0.0.22");
    fetch("0a1b2c000002", 200, false, 2);  // cut off
    batch("0a1b2c000003", 3);
    told(RecordEvent::Kind::Provision, "0a1b2c000003", "10.0.0.23");
    batch("0a1b2c000004", 4, 3 * 86400 * 1000);  // three days ago
    batch("0a1b2c000005", 5);
    FetchEvent external;
    external.time = std::time(nullptr);
    external.protocol = "external";
    external.peer = "10.0.0.25";
    external.path = "cfg0a1b2c000005";
    external.status = 200;
    external.bytes = 729;
    r.Add(external, "/var/log/nginx/access.log");
    fetch("0a1b2c0000ff", 404, false, 0, "=1+2");
    r.Add(RecordLeaseEvent("0a:1b:2c:00:00:aa", "10.0.0.50", "reception-desk-phone", "Orvo",
                           now + 3600000));
    RecordEvent seen;
    seen.kind = RecordEvent::Kind::Discovery;
    seen.phone = "0a1b2c0000bb";
    seen.address = "10.0.0.51";
    seen.model = "Orvo X200";
    seen.version = "3.1";
    seen.online = 1;
    r.Add(seen);
    ASSERT_TRUE(r.Flush());
}

// The phones in the order the view shows them.
QStringList ViewOrder(const QTableView& view) {
    QStringList phones;
    for (int r = 0; r < view.model()->rowCount(); ++r)
        phones << view.model()->index(r, 0).data().toString();
    return phones;
}

// Every header and cell of a table shows whole in its column.
void ExpectColumnsFit(QTableView& view, const QString& language) {
    QHeaderView* header = view.horizontalHeader();
    const QAbstractItemView& items = view;
    for (int c = 0; c < view.model()->columnCount(); ++c) {
        const QString caption = view.model()->headerData(c, Qt::Horizontal).toString();
        EXPECT_GE(header->sectionSize(c), header->sectionSizeHint(c))
            << language.toStdString() << ": " << view.objectName().toStdString() << " \""
            << caption.toStdString() << "\"";
        EXPECT_GE(header->sectionSize(c), items.sizeHintForColumn(c))
            << language.toStdString() << ": " << view.objectName().toStdString() << " cells of \""
            << caption.toStdString() << "\"";
    }
}

// Downloads another program records into the window's record (an access log's follower, a
// server of orvo-cli) show up while the page is open, though the window itself records nothing.
TEST_F(ProvisioningPageTest, ShowsWhatAnotherProgramRecords) {
    TForm1& w = Start();
    w.show();
    ASSERT_TRUE(w.Record().IsOn());
    page = w.ProvisioningTab;
    w.PageControl1->setCurrentWidget(page);
    ASSERT_TRUE(WaitUntil([&] { return page->RecordSummaryLabel->text().startsWith("0 phones"); }))
        << page->RecordSummaryLabel->text().toStdString();
    const QString log =
        dir.write("access.log", "10.0.0.9 - - [10/Dec/2026:14:03:07 +0100] \"GET /cfg/cfg" +
                                    QByteArray(kStranger) + " HTTP/1.1\" 404 153 \"-\" \"X100\"\n");
    QByteArray err;
    ASSERT_EQ(
        RunProgram(BuiltProgram("orvo-cli"),
                   {"record", "import", "--record", w.Record().Path(), "--strip", "/cfg", log},
                   nullptr, &err),
        0)
        << err.toStdString();
    EXPECT_TRUE(WaitUntil([&] { return StateOf(kStranger) == "unknown phone"; }))
        << Shown().join(", ").toStdString();
}

TEST_F(ProvisioningPageTest, AFilledRecordReadsAtAGlance) {
    TForm1& w = Start();
    w.show();
    ASSERT_TRUE(w.Record().IsOn());
    FillRecord(w.Record());
    page = w.ProvisioningTab;
    w.PageControl1->setCurrentWidget(page);
    page->Refresh(true);

    EXPECT_EQ(page->RecordSummaryLabel->text(),
              QString::fromUtf8("5 phones \xe2\x80\x94 2 fetched, 1 failed, 1 told, 1 file ready; "
                                "1 unknown; 2 seen"));
    EXPECT_EQ(Shown(),
              (QStringList{"0a1b2c000001 fetched", "0a1b2c000002 failed", "0a1b2c000003 told",
                           "0a1b2c000004 file ready", "0a1b2c000005 fetched", "0a1b2c0000aa seen",
                           "0a1b2c0000bb seen", "0a1b2c0000ff unknown phone"}));
    const auto cells = [&](const char* phone) {
        return page->Phones().Rows()[size_t(page->Phones().RowOf(phone))].cells;
    };
    EXPECT_EQ(cells("0a1b2c000002")[ProvisioningPage::ColStatus], "200 cut off");
    EXPECT_EQ(cells("0a1b2c000005")[ProvisioningPage::ColSource], "external (access.log)");
    EXPECT_EQ(cells("0a1b2c000003")[ProvisioningPage::ColToldBy], "Provision");
    EXPECT_EQ(cells("0a1b2c0000aa")[ProvisioningPage::ColAddress], "10.0.0.50");
    EXPECT_EQ(cells("0a1b2c0000aa")[ProvisioningPage::ColHostName], "reception-desk-phone");
    EXPECT_EQ(cells("0a1b2c0000bb")[ProvisioningPage::ColModel], "Orvo X200");
    EXPECT_EQ(cells("0a1b2c000001")[ProvisioningPage::ColModel] + " " +
                  cells("0a1b2c000001")[ProvisioningPage::ColVersion],
              "Orvo X100 2.0.4.4");  // the download came after the SUBSCRIBE
    // Today's times as the time of day, older ones with their date.
    EXPECT_TRUE(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d$")
                    .match(cells("0a1b2c000001")[ProvisioningPage::ColFileTime])
                    .hasMatch());
    EXPECT_TRUE(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d$")
                    .match(cells("0a1b2c000004")[ProvisioningPage::ColFileTime])
                    .hasMatch());

    // Sorting by a column: states in the order of the road, bytes by size.
    QTableView& grid = *page->RecordPhoneGrid;
    grid.sortByColumn(ProvisioningPage::ColState, Qt::AscendingOrder);
    EXPECT_EQ(ViewOrder(grid),
              (QStringList{"0a1b2c000004", "0a1b2c000003", "0a1b2c000001", "0a1b2c000005",
                           "0a1b2c000002", "0a1b2c0000ff", "0a1b2c0000aa", "0a1b2c0000bb"}));
    grid.sortByColumn(ProvisioningPage::ColBytes, Qt::DescendingOrder);
    EXPECT_EQ(ViewOrder(grid).mid(0, 3),
              (QStringList{"0a1b2c000001", "0a1b2c000005", "0a1b2c000002"}));
    grid.sortByColumn(ProvisioningPage::ColPhone, Qt::AscendingOrder);

    // The state colour stays in sight on the selected row.
    page->SelectPhone("0a1b2c000001");
    ASSERT_EQ(page->SelectedPhone(), "0a1b2c000001");
    QApplication::processEvents();
    const QModelIndex state = grid.model()->index(0, ProvisioningPage::ColState);
    const QRect cell = grid.visualRect(state);
    const QImage image = grid.viewport()->grab().toImage();
    int green = 0;
    for (int x = cell.left(); x <= cell.right(); ++x)
        for (int y = cell.top(); y <= cell.bottom(); ++y)
            green += QColor(image.pixel(x, y)) == QColor(170, 230, 170);
    EXPECT_GT(green, cell.width() * cell.height() / 3);

    // The search: a MAC in any spelling, a host name.
    const struct {
        const char* text;
        QStringList phones;
    } searches[] = {
        {"0A:1B:2C:00:00:0",
         {"0a1b2c000001", "0a1b2c000002", "0a1b2c000003", "0a1b2c000004", "0a1b2c000005"}},
        {"reception", {"0a1b2c0000aa"}},
        {"",
         {"0a1b2c000001", "0a1b2c000002", "0a1b2c000003", "0a1b2c000004", "0a1b2c000005",
          "0a1b2c0000aa", "0a1b2c0000bb", "0a1b2c0000ff"}},
    };
    for (const auto& s : searches) {
        page->RecordSearchEdit->setText(s.text);
        EXPECT_EQ(ViewOrder(grid), s.phones) << s.text;
    }
    page->RecordFilterSeenRb->click();
    EXPECT_EQ(ViewOrder(grid), (QStringList{"0a1b2c0000aa", "0a1b2c0000bb"}));
    page->RecordFilterAllRb->click();

    // In German: the words, and every caption and cell whole in its column.
    for (const char* language : {"Deutsch", "English"}) {
        ASSERT_TRUE(w.Language().LoadLanguage(language));
        page->Refresh();
        page->SelectPhone("0a1b2c000001");
        page->Refresh(true);
        QApplication::processEvents();
        ExpectColumnsFit(grid, language);
        ExpectColumnsFit(*page->RecordEventGrid, language);
    }
    ASSERT_TRUE(w.Language().LoadLanguage("Deutsch"));
    page->Refresh();
    EXPECT_EQ(cells("0a1b2c000001")[ProvisioningPage::ColState], "geladen");
    EXPECT_EQ(cells("0a1b2c000001")[ProvisioningPage::ColToldBy], "Plug-and-Play-Antwort");
    EXPECT_EQ(cells("0a1b2c0000ff")[ProvisioningPage::ColState], "unbekanntes Telefon");
    EXPECT_TRUE(page->RecordSummaryLabel->text().startsWith(
        QString::fromUtf8("5 Telefone \xe2\x80\x94 2 geladen")));
    ASSERT_TRUE(w.Language().LoadLanguage("English"));
    page->Refresh();

    // The export: whole local times, and no cell a spreadsheet would run.
    dialogs.clear();
    dialogs.paths = {dir.file("export.csv")};
    page->RecordExportButton->click();
    const QString csv = QString::fromUtf8(ReadFileBytes(dir.file("export.csv")));
    EXPECT_TRUE(csv.contains(",'=1+2,")) << csv.toStdString();
    EXPECT_FALSE(csv.contains(",=1+2,"));
    EXPECT_TRUE(
        QRegularExpression("\r\n0a1b2c000001,fetched,\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d,")
            .match(csv)
            .hasMatch())
        << csv.toStdString();
}

// Clearing deletes everything at once: Enter answers No.
TEST_F(ProvisioningPageTest, TheClearingQuestionAnswersNoToEnter) {
    QtDialogs real(nullptr);
    bool noIsDefault = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        noIsDefault = box->defaultButton() == box->button(QMessageBox::No);
        box->defaultButton()->click();  // what Enter does
    });
    EXPECT_FALSE(real.question(UiText::key("LRecordClearQ"), UiText::key("LContinueQ"),
                               Dialogs::Buttons::YesNoDefaultNo));
    EXPECT_TRUE(noIsDefault);
}

}  // namespace
