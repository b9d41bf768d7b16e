#include "discovery/DiscoveryDriver.h"

#include "app/MyLog.h"
#include "app/Notices.h"
#include "discovery/CmdDevBySipThread.h"
#include "discovery/IpMacListManageThread.h"
#include "discovery/NoticeWait.h"
#include "discovery/RecordingView.h"
#include "discovery/ScriptedArp.h"
#include "record/ProvisioningRecord.h"
#include "support/RecordingDialogs.h"
#include "support/Sqlite3Cli.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QTimer>
#include <map>
#include <thread>

namespace {

struct StartedQuery {
    int row;
    int port;
    QString address;
    std::shared_ptr<NoticeGate> gate;
    uint32_t run;
};

InterfaceRow Row(const char* address, const char* mask) {
    InterfaceRow row;
    row.address = Ip(address);
    row.mask = Ip(mask);
    return row;
}

// A driver with a scripted ARP layer and scripted probes, on a recording view and dialogs.
class Driver : public ::testing::Test {
  protected:
    Driver() : arp(std::make_shared<ScriptedArp>()), driver(transport, dialogs, &log, view) {
        log.SetDirectory(dir.path());
        log.Open();
        driver.SetArpResolver(arp);
        driver.SetQueryStarter([this](int row, int port, const QString& address,
                                      std::shared_ptr<NoticeGate> gate, uint32_t run) {
            queries.push_back({row, port, address, std::move(gate), run});
        });
        networks = driver.ReadNetworks([](std::vector<InterfaceRow>* rows) {
            *rows = {Row("10.1.0.5", "255.255.252.0"), Row("10.9.0.4", "255.255.255.254"),
                     Row("127.0.0.1", "255.0.0.0"), Row("192.168.1.7", "255.255.255.0")};
            return true;
        });
    }

    DiscoveryRequest Request(const char* network, const QString& entry = "Vendor(0a-1b-2c)") {
        DiscoveryRequest r;
        r.networkIndex = static_cast<int>(networks.indexOf(network));
        r.networkText = network;
        r.filter.mode = MacFilterChoice::Mode::Predefined;
        r.filter.predefinedEntry = entry;
        return r;
    }
    // Answers a probe the way a probe thread does: from another thread, through its gate.
    void Answer(const StartedQuery& q, const char* model, const char* version,
                bool hasInfo = true) {
        DeviceInfoRecord record;
        record.model = model;
        record.version = version;
        record.row = q.row;
        record.run = q.run;
        record.hasInfo = hasInfo;
        std::atomic<bool> sent{false};
        std::thread sender([&] {
            q.gate->Send(DeviceInfoNotice, &record);
            sent = true;
        });
        // The send returns once the driver has handled the record.
        WaitFor([&] { return sent.load(); });
        sender.join();
    }
    QStringList LogLines() {
        QStringList lines;
        for (const QByteArray& line : ReadFileBytes(log.FileName()).split('\n'))
            if (line.size() > 20)
                lines << QString::fromUtf8(line.mid(20).trimmed());
        return lines;
    }
    bool WaitForState(int state) {
        return WaitFor([&] { return driver.DiscoveryState() == state; });
    }
    void AddPhones() {
        arp->AddHost(Ip("192.168.1.20"), {0x0a, 0x1b, 0x2c, 0, 0, 0x20});
        arp->AddHost(Ip("192.168.1.21"), {0x0a, 0x1b, 0x2c, 0, 0, 0x21});
        arp->AddHost(Ip("192.168.1.30"), {0x0a, 0x1b, 0x2d, 0, 0, 0x30});  // other vendor
        arp->AddHost(Ip("192.168.1.200"), {0x0a, 0x1b, 0x2c, 0, 0, 0xc8});
    }

    TempDir dir;
    MyLog log;
    NoticeTransport transport;
    RecordingDialogs dialogs;
    RecordingView view;
    std::shared_ptr<ScriptedArp> arp;
    std::vector<StartedQuery> queries;
    DiscoveryDriver driver;
    QStringList networks;
};

TEST_F(Driver, NetworkListLeavesOutLoopbackInTableOrder) {
    EXPECT_EQ(networks, (QStringList{"10.1.0.5", "10.9.0.4", "192.168.1.7"}));
    RecordingDialogs d;
    RecordingView v;
    NoticeTransport t;
    DiscoveryDriver other(t, d, nullptr, v);
    EXPECT_TRUE(other.ReadNetworks([](std::vector<InterfaceRow>*) { return false; }).isEmpty());
    EXPECT_EQ(d.messages(), QStringList{"Sorry, can not get IP table!"});
    EXPECT_TRUE(other.InterfaceTable().empty());
}

TEST_F(Driver, MacFilterFromTheChosenControl) {
    using Mode = MacFilterChoice::Mode;
    const struct {
        Mode mode;
        const char* entry;
        const char* input;
        const char* filter;
        const char* vendor;
    } cases[] = {
        {Mode::Predefined, "Vendor(0a-1b-2c)", "", "0a-1b-2c", "Vendor"},
        {Mode::Predefined, "Orvo(0a-1b)x(y)", "", "0a-1b", "Orvo"},
        {Mode::Predefined, "", "", "", "before"},  // nothing selected: the name stays
        {Mode::Input, "Vendor(0a-1b-2c)", " 0A-1B-2C- ", "0a-1b-2c-", "before"},
        {Mode::None, "Vendor(0a-1b-2c)", "0a", "", "before"},
    };
    for (const auto& c : cases) {
        MacFilterChoice choice;
        choice.mode = c.mode;
        choice.predefinedEntry = c.entry;
        choice.input = c.input;
        QString vendor = "before";
        EXPECT_EQ(DiscoveryDriver::MacFilterOf(choice, &vendor), c.filter) << c.entry;
        EXPECT_EQ(vendor, c.vendor) << c.entry;
    }
}

TEST_F(Driver, ARunFindsDevicesProbesThemAndFinishesOnTheLastAnswer) {
    AddPhones();
    driver.DDButtonClick(Request("192.168.1.7"));
    EXPECT_TRUE(dialogs.shown.isEmpty());  // a /24 asks nothing
    EXPECT_EQ(driver.DiscoveryState(), DiscoverySearching);
    EXPECT_EQ(view.progress.last(), "LDDSearching");
    EXPECT_EQ(view.buttons.last(), "LDDStopSearching");
    EXPECT_EQ(driver.CurrentMacFilter(), "0a-1b-2c");
    EXPECT_EQ(driver.LastNetworkIndex(), 2);

    ASSERT_TRUE(WaitForState(DiscoveryQuerying));
    EXPECT_EQ(view.progress.last(), "LDDDoing");
    EXPECT_EQ(view.buttons.last(), "LDDBtnWait");
    EXPECT_FALSE(view.enabled);
    EXPECT_TRUE(view.timerOn);
    EXPECT_EQ(view.timerInterval, 12000);
    EXPECT_TRUE(view.sweepFinished);

    // Three devices match the filter: rows 1 to 3, a grid of four rows, one probe each.
    ASSERT_EQ(driver.FoundCount(), 3);
    EXPECT_EQ(view.rowCount, 4);
    ASSERT_EQ(queries.size(), 3u);
    std::set<QString> probed;
    for (const StartedQuery& q : queries) {
        EXPECT_EQ(q.port, 60000);
        EXPECT_EQ(view.rows[q.row].address, q.address);
        probed.insert(q.address);
    }
    EXPECT_EQ(probed, (std::set<QString>{"192.168.1.20", "192.168.1.21", "192.168.1.200"}));
    for (const auto& [number, row] : view.rows) {
        EXPECT_EQ(row.online, 1);
        EXPECT_EQ(row.vendor, "Vendor");
        EXPECT_EQ(row.model, "unknow");
        EXPECT_EQ(row.version, "unknow");
        EXPECT_TRUE(row.mac.startsWith("0a-1b-2c-"));
        EXPECT_EQ(driver.Devices().NumbersByMac(row.mac), std::vector<int>{number});
    }

    Answer(queries[0], "Orvo X100", "2.0.4.4.34");
    Answer(queries[1], "", "", false);
    EXPECT_EQ(driver.DiscoveryState(), DiscoveryQuerying);
    EXPECT_TRUE(dialogs.shown.isEmpty());
    Answer(queries[2], "Orvo X200", "2.0.4.4.34");

    EXPECT_EQ(driver.DiscoveryState(), DiscoveryIdle);
    EXPECT_EQ(driver.AnsweredCount(), 3);
    EXPECT_EQ(view.progress.last(), "DiscoverProgressLabel");
    EXPECT_EQ(view.buttons.last(), "DDButton");
    EXPECT_TRUE(view.enabled);
    EXPECT_FALSE(view.timerOn);
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].text.keys(), QStringList{"LDDMsgDDFinished"});
    EXPECT_EQ(dialogs.shown[0].caption.keys(), QStringList{"LDDMsgFinished"});

    const int first = queries[0].row;
    EXPECT_EQ(view.rows[first].model, "Orvo X100");
    EXPECT_EQ(view.rows[first].version, "2.0.4.4.34");
    EXPECT_EQ(view.rows[first].vendor, "Vendor");  // the probe's vendor is empty
    EXPECT_EQ(view.rows[queries[1].row].model, "unknow");
    EXPECT_EQ(driver.Devices().NumbersByVersion("2.0.4.4.34").size(), 2u);
    EXPECT_EQ(driver.Devices().NumbersByVendor("Vendor").size(), 2u);
    EXPECT_EQ(driver.Devices().NumbersByModel("Orvo X200"), std::vector<int>{queries[2].row});

    EXPECT_EQ(LogLines(),
              (QStringList{"DD: Net: 192.168.1.7 Mac filter:0a-1b-2c Will search 253 IPs",
                           "DD: Device list filled!", "DD: Query devices info finished!"}));

    // Answers after the end are ignored.
    Answer(queries[0], "Late", "9.9");
    EXPECT_EQ(driver.AnsweredCount(), 3);
    EXPECT_EQ(view.rows[first].model, "Orvo X100");
}

TEST_F(Driver, AnswersBeforeTheSweepEndLeaveTheFinishToTheTimer) {
    AddPhones();
    arp->HoldFrom(Ip("192.168.1.100"));
    driver.DDButtonClick(Request("192.168.1.7", "Other(0a-1b-2c)"));
    ASSERT_TRUE(WaitFor([&] { return queries.size() == 2; }));
    Answer(queries[0], "A", "1.0");
    Answer(queries[1], "B", "1.0");
    EXPECT_EQ(driver.AnsweredCount(), 2);
    arp->Release();
    ASSERT_TRUE(WaitForState(DiscoveryQuerying));
    ASSERT_TRUE(WaitFor([&] { return queries.size() == 3; }));
    EXPECT_TRUE(dialogs.shown.isEmpty());

    driver.DDStopTimerTimer();
    EXPECT_EQ(driver.DiscoveryState(), DiscoveryIdle);
    EXPECT_EQ(dialogs.messages(), QStringList{"LDDMsgDDFinished"});
    EXPECT_EQ(LogLines().last(), "DD: Query devices info finished cause of timeout!");
    // The timer does nothing in any other state.
    driver.DDStopTimerTimer();
    EXPECT_EQ(dialogs.shown.size(), 1);
}

TEST_F(Driver, ALargeNetworkAsksFirstAndCancelKeepsTheResetGrid) {
    view.rows[1] = Tag_DevInfo{};
    dialogs.answers = {false};
    driver.DDButtonClick(Request("10.1.0.5"));
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].kind, RecordingDialogs::Shown::Question);
    EXPECT_EQ(dialogs.shown[0].text.raw(), "LMsgTooMuchPart11021LMsgTooMuchPart2");
    EXPECT_EQ(dialogs.shown[0].text.keys(), (QStringList{"LMsgTooMuchPart1", "LMsgTooMuchPart2"}));
    EXPECT_EQ(dialogs.shown[0].caption.keys(), QStringList{"LContinueQ"});
    EXPECT_EQ(driver.DiscoveryState(), DiscoveryIdle);
    EXPECT_FALSE(driver.HasManager());
    EXPECT_TRUE(view.rows.empty());
    EXPECT_EQ(view.resets, 1);

    // OK starts it; a later run on it asks only whether to sweep the same network again.
    dialogs.answers = {true};
    driver.DDButtonClick(Request("10.1.0.5"));
    EXPECT_EQ(driver.DiscoveryState(), DiscoverySearching);
    ASSERT_TRUE(WaitForState(DiscoveryQuerying));
    driver.DDStopTimerTimer();
    dialogs.clear();
    dialogs.answers = {true};
    driver.DDButtonClick(Request("10.1.0.5"));
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].text.keys(), QStringList{"LMsgNetSame"});
    EXPECT_EQ(LogLines().last(), "DD: Net: 10.1.0.5 Mac filter:0a-1b-2c");
    EXPECT_EQ(driver.DiscoveryState(), DiscoverySearching);
}

TEST_F(Driver, ALaterRunOnTheSameNetworkAsksAndCancelChangesNothing) {
    AddPhones();
    driver.DDButtonClick(Request("192.168.1.7"));
    ASSERT_TRUE(WaitForState(DiscoveryQuerying));
    driver.DDStopTimerTimer();
    dialogs.clear();
    const auto rowsBefore = view.rows;

    dialogs.answers = {false};
    driver.DDButtonClick(Request("192.168.1.7"));
    EXPECT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(driver.DiscoveryState(), DiscoveryIdle);
    EXPECT_EQ(view.rows.size(), rowsBefore.size());
    EXPECT_EQ(driver.FoundCount(), 3);

    // Another network asks nothing; the old manager is cleared first, through Stopping.
    dialogs.clear();
    driver.DDButtonClick(Request("10.9.0.4"));
    EXPECT_TRUE(dialogs.shown.isEmpty());
    EXPECT_TRUE(view.progress.contains("LDDCleaning"));
    EXPECT_TRUE(view.buttons.contains("LDDWait"));
    EXPECT_EQ(driver.DiscoveryState(), DiscoverySearching);
    EXPECT_TRUE(view.enabled);
    EXPECT_EQ(driver.FoundCount(), 0);
    EXPECT_TRUE(view.rows.empty());
    EXPECT_EQ(driver.LastNetworkIndex(), 1);
}

TEST_F(Driver, AStopDuringTheSweepKeepsTheRowsFound) {
    AddPhones();
    arp->HoldFrom(Ip("192.168.1.100"));
    driver.DDButtonClick(Request("192.168.1.7"));
    ASSERT_TRUE(WaitFor([&] { return driver.FoundCount() == 2 && arp->Held() == 64; }));
    // The held requests return while the driver waits for the manager.
    QTimer::singleShot(50, [this] { arp->Release(); });
    driver.DDButtonClick(Request("192.168.1.7"));

    EXPECT_TRUE(view.progress.contains("LDDProStopping"));
    EXPECT_TRUE(view.buttons.contains("LDDStopping"));
    EXPECT_EQ(driver.DiscoveryState(), DiscoveryIdle);
    EXPECT_EQ(view.progress.last(), "DiscoverProgressLabel");
    EXPECT_TRUE(view.enabled);
    EXPECT_TRUE(driver.SweepFinished());
    EXPECT_TRUE(view.sweepFinished);
    EXPECT_FALSE(view.timerOn);
    EXPECT_GE(driver.FoundCount(), 2);
    EXPECT_EQ(view.rows.size(), static_cast<size_t>(driver.FoundCount()));
    EXPECT_FALSE(LogLines().contains("DD: Device list filled!"));
    EXPECT_EQ(LogLines().last(), "DD: Stop manually.");
    EXPECT_TRUE(driver.Manager()->HasEnded());

    // A probe answer of the stopped run is ignored in the next run.
    const StartedQuery old = queries[0];
    driver.DDButtonClick(Request("10.9.0.4"));
    Answer(old, "Old", "1.0");
    EXPECT_EQ(driver.AnsweredCount(), 0);
}

TEST_F(Driver, ATinyNetworkStaysSearchingUntilStopped) {
    driver.DDButtonClick(Request("10.9.0.4"));
    EXPECT_EQ(LogLines().last(), "DD: Net: 10.9.0.4 Mac filter:0a-1b-2c Will search -1 IPs");
    WaitFor([] { return false; }, 50);
    EXPECT_EQ(driver.DiscoveryState(), DiscoverySearching);
    EXPECT_TRUE(arp->Probes().empty());
    driver.DDButtonClick(Request("10.9.0.4"));
    EXPECT_EQ(driver.DiscoveryState(), DiscoveryIdle);
}

TEST_F(Driver, TheInputFilterShowsTheLastPredefinedVendor) {
    arp->AddHost(Ip("192.168.1.20"), {0x0a, 0x1b, 0x2c, 0, 0, 0x20});
    DiscoveryRequest r = Request("192.168.1.7");
    r.filter.mode = MacFilterChoice::Mode::Input;
    r.filter.input = "0A-1B-";
    driver.DDButtonClick(r);
    ASSERT_TRUE(WaitForState(DiscoveryQuerying));
    EXPECT_EQ(view.rows[1].vendor, "unknow");
    EXPECT_EQ(driver.CurrentMacFilter(), "0a-1b-");
    driver.DDStopTimerTimer();

    driver.DDButtonClick(Request("10.9.0.4", "Acme(0a-1b)"));
    driver.DDButtonClick(Request("10.9.0.4"));  // stop
    dialogs.answers = {true};
    driver.DDButtonClick(r);
    ASSERT_TRUE(WaitForState(DiscoveryQuerying));
    EXPECT_EQ(view.rows[1].vendor, "Acme");
}

// The probes' answers and the refresh results go into the record as the phones gave them.
TEST_F(Driver, RecordsWhatProbesAndRefreshesRead) {
    ProvisioningRecord record;
    const QString file = dir.file("record.sqlite");
    ASSERT_TRUE(record.Open(file));
    driver.SetRecord(&record);
    AddPhones();
    driver.DDButtonClick(Request("192.168.1.7"));
    ASSERT_TRUE(WaitForState(DiscoveryQuerying));
    ASSERT_EQ(queries.size(), 3u);
    std::map<QString, const StartedQuery*> byAddress;
    for (const StartedQuery& q : queries)
        byAddress[q.address] = &q;
    Answer(*byAddress["192.168.1.20"], "Orvo X100", "2.0.4.4");
    Answer(*byAddress["192.168.1.21"], "unknow", "1.0");
    Answer(*byAddress["192.168.1.200"], "", "", false);  // no answer: nothing to record

    RefreshResult off;
    off.online = 0;
    off.info.identity = "0a-1b-2c-00-00-20";
    driver.OnRefreshResult(off);
    RefreshResult on;
    on.online = 1;
    on.info.identity = "0a-1b-2c-00-00-21";
    on.info.version = "1.1";
    driver.OnRefreshResult(on);
    ASSERT_TRUE(record.Flush());
    EXPECT_EQ(Sqlite3Rows(file,
                          "SELECT kind, address, phone, model, version, online FROM "
                          "sightings"),
              (QStringList{"discovery|192.168.1.20|0a1b2c000020|Orvo X100|2.0.4.4|1",
                           "discovery|192.168.1.21|0a1b2c000021||1.0|1",
                           "refreshed|192.168.1.20|0a1b2c000020|||0",
                           "refreshed|192.168.1.21|0a1b2c000021||1.1|1"}));
}

}  // namespace
