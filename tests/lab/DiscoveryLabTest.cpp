// Discovery on the phone lab: run inside its workstation namespace by lab.sh.
#include "app/Notices.h"
#include "discovery/DiscoveryDriver.h"
#include "discovery/IpMacListManageThread.h"
#include "discovery/ui/DevicesOnlineView.h"
#include "discovery/ui/IpAddressGrid.h"
#include "lab/LabManifest.h"
#include "support/RecordingDialogs.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <algorithm>
#include <map>

namespace {

struct Row {
    QString online, vendor, model, mac, version;
};

// The rows orvo-cli prints, by address, and its summary line.
struct CliRun {
    int exitCode = -1;
    std::map<QString, Row> rows;
    QString summary;
    QByteArray err;
};

CliRun RunCli(const QStringList& prefix, const QStringList& args) {
    CliRun run;
    QByteArray out;
    QStringList all = prefix;
    all << BuiltProgram("orvo-cli") << "discover" << args;
    const QString program = all.takeFirst();
    run.exitCode = RunProgram(program, all, &out, &run.err);
    for (const QByteArray& line : out.split('\n')) {
        const QList<QByteArray> f = line.split('\t');
        if (f.size() == 7)
            run.rows[QString(f[4])] = {f[1], f[2], f[3], f[5], f[6]};
        else if (line.startsWith("hosts found: "))
            run.summary = QString::fromUtf8(line);
    }
    return run;
}

class Lab : public ::testing::Test {
  protected:
    void SetUp() override {
        iface = qEnvironmentVariable("ORVO_LAB_IFACE");
        hosts = ReadLabManifest(qEnvironmentVariable("ORVO_LAB_MANIFEST"));
        if (iface.isEmpty() || hosts.empty())
            GTEST_SKIP() << "not inside the phone lab (run it through tests/lab/lab.sh)";
    }
    std::vector<LabHost> Hosts(const QString& kind) const {
        std::vector<LabHost> out;
        for (const LabHost& h : hosts)
            if (kind.isEmpty() || h.kind == kind)
                out.push_back(h);
        return out;
    }
    void ExpectRows(const std::map<QString, Row>& rows, const std::vector<LabHost>& expected) {
        EXPECT_EQ(rows.size(), expected.size());
        for (const LabHost& h : expected) {
            SCOPED_TRACE(h.address.toStdString());
            const auto it = rows.find(h.address);
            ASSERT_NE(it, rows.end());
            EXPECT_EQ(it->second.online, "ON");
            EXPECT_EQ(it->second.mac, h.mac);
            EXPECT_EQ(it->second.model, h.Model());
            EXPECT_EQ(it->second.version, h.Version());
        }
    }

    QString iface;
    std::vector<LabHost> hosts;
};

TEST_F(Lab, TheCliListsEveryHostWithModelAndVersion) {
    const CliRun run = RunCli({}, {"--iface", iface});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    ExpectRows(run.rows, Hosts({}));
    EXPECT_TRUE(run.summary.startsWith(QString("hosts found: %1, sweep: ").arg(hosts.size())))
        << run.summary.toStdString();
}

TEST_F(Lab, TheFilterLeavesOutTheOthers) {
    const CliRun run = RunCli({}, {"--iface", iface, "--filter", "0A-1b-2c-"});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    ExpectRows(run.rows, Hosts("phone"));
}

TEST_F(Lab, WithoutRawSocketsTheKernelTableFindsThePhones) {
    // Forget what earlier runs taught the kernel, then sweep without CAP_NET_RAW.
    ASSERT_EQ(RunProgram("ip", {"neigh", "flush", "all"}), 0);
    const CliRun run = RunCli({"setpriv", "--bounding-set", "-net_raw"},
                              {"--iface", iface, "--filter", "0a-1b-2c-"});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("neighbour table")) << run.err.toStdString();
    ExpectRows(run.rows, Hosts("phone"));
}

// A lab with hosts that answer ARP 150 ms late or sit on a link that drops 10% of the packets
// each way (lab.sh --late, --lossy; ctest lab.discovery.links, a /22).
class LabLinks : public Lab {
  protected:
    void SetUp() override {
        Lab::SetUp();
        if (IsSkipped())
            return;
        if (std::none_of(hosts.begin(), hosts.end(),
                         [](const LabHost& h) { return !h.link.isEmpty(); }))
            GTEST_SKIP() << "the lab has no late or lossy host";
    }
    // How often each host was found in the given number of sweeps.
    std::map<QString, int> Sweeps(int count, const QStringList& prefix = {}) {
        std::map<QString, int> found;
        for (int i = 0; i < count; ++i) {
            const CliRun run = RunCli(prefix, {"--iface", iface, "--yes"});
            EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
            for (const auto& [address, row] : run.rows) {
                const auto h = std::find_if(hosts.begin(), hosts.end(),
                                            [&](const LabHost& h) { return h.address == address; });
                EXPECT_NE(h, hosts.end()) << address.toStdString();
                if (h != hosts.end() && h->mac == row.mac)
                    ++found[address];
            }
        }
        return found;
    }
};

TEST_F(LabLinks, LateHostsAreFoundEveryTimeAndLossyOnesNineTimesInTen) {
    std::map<QString, int> found = Sweeps(10);
    for (const LabHost& h : hosts) {
        SCOPED_TRACE((h.address + " " + h.link).toStdString());
        EXPECT_GE(found[h.address], h.link == "lossy" ? 9 : 10);
    }
}

TEST_F(LabLinks, WithoutRawSocketsLateHostsAreFoundToo) {
    ASSERT_EQ(RunProgram("ip", {"neigh", "flush", "all"}), 0);
    std::map<QString, int> found = Sweeps(1, {"setpriv", "--bounding-set", "-net_raw"});
    // The kernel asks a lossy host twice within the time waited: it may be missed.
    for (const LabHost& h : hosts)
        if (h.link != "lossy")
            EXPECT_EQ(found[h.address], 1) << (h.address + " " + h.link).toStdString();
}

// The controls of the Devices Online page that discovery drives, offscreen.
class LabPage : public Lab {
  protected:
    void SetUp() override {
        Lab::SetUp();
        if (IsSkipped())
            return;
        page.resize(1240, 600);
        grid = new IpAddressGrid(&page);
        label = new QLabel(&page);
        button = new QPushButton(&page);
        timer = new QTimer(&page);
        view = std::make_unique<DevicesOnlineView>(label, button, timer, grid,
                                                   [](const QString& key) { return key; });
        driver = std::make_unique<DiscoveryDriver>(transport, dialogs, nullptr, *view);
        grid->SetDeviceTable(&driver->Devices());
        QObject::connect(timer, &QTimer::timeout, [this] { driver->DDStopTimerTimer(); });
        QObject::connect(button, &QPushButton::clicked,
                         [this] { driver->DDButtonClick(Request()); });
        networks = driver->ReadNetworks();
        page.show();
        grid->PrepareFirstShow();
    }
    void TearDown() override {
        driver.reset();
        view.reset();
    }
    DiscoveryRequest Request() {
        DiscoveryRequest r;
        r.networkIndex = static_cast<int>(networks.indexOf(iface));
        r.networkText = iface;
        r.filter.mode = MacFilterChoice::Mode::Predefined;
        r.filter.predefinedEntry = "Orvo(0a-1b-2c-)";
        return r;
    }
    bool WaitUntil(const std::function<bool()>& done, int ms = 30000) {
        QElapsedTimer clock;
        clock.start();
        WaitHandlingNotices([&] { return done() || clock.elapsed() > ms; });
        return done();
    }
    std::map<QString, Row> GridRows() {
        std::map<QString, Row> rows;
        for (int r = 1; r < grid->RowCount(); ++r)
            rows[grid->Cell(r, 4)] = {grid->Cell(r, 1) == "1" ? "ON" : "OFF", grid->Cell(r, 2),
                                      grid->Cell(r, 3), grid->Cell(r, 5), grid->Cell(r, 6)};
        return rows;
    }

    QWidget page;
    IpAddressGrid* grid = nullptr;
    QLabel* label = nullptr;
    QPushButton* button = nullptr;
    QTimer* timer = nullptr;
    NoticeTransport transport;
    RecordingDialogs dialogs;
    std::unique_ptr<DevicesOnlineView> view;
    std::unique_ptr<DiscoveryDriver> driver;
    QStringList networks;
};

TEST_F(LabPage, ThePageListsEveryPhoneAndItsFiltersNarrowTheList) {
    ASSERT_TRUE(networks.contains(iface));
    button->click();
    EXPECT_EQ(label->text(), "LDDSearching");
    EXPECT_EQ(button->text(), "LDDStopSearching");
    ASSERT_TRUE(WaitUntil([&] { return driver->DiscoveryState() == DiscoveryQuerying; }));
    EXPECT_FALSE(button->isEnabled());
    EXPECT_TRUE(timer->isActive());
    ASSERT_TRUE(WaitUntil([&] { return driver->AnsweredCount() >= driver->FoundCount(); }));
    // The answers came before the sweep's end, so the run ends by DDStopTimer: fire it now.
    timer->setInterval(1);
    ASSERT_TRUE(WaitUntil([&] { return driver->DiscoveryState() == DiscoveryIdle; }));
    EXPECT_EQ(dialogs.messages(), QStringList{"LDDMsgDDFinished"});
    EXPECT_EQ(button->text(), "DDButton");
    EXPECT_TRUE(button->isEnabled());

    const std::map<QString, Row> shown = GridRows();
    ExpectRows(shown, Hosts("phone"));
    for (const auto& [address, row] : shown)
        EXPECT_EQ(row.vendor, "Orvo");

    // The CLI prints the same rows (its vendor column has no predefined name).
    CliRun cli = RunCli({}, {"--iface", iface, "--filter", "0a-1b-2c-"});
    ASSERT_EQ(cli.rows.size(), shown.size());
    for (const auto& [address, row] : shown) {
        const Row& c = cli.rows[address];
        EXPECT_EQ(std::tie(c.online, c.model, c.mac, c.version),
                  std::tie(row.online, row.model, row.mac, row.version));
    }

    // The filter boxes appear over the headers and narrow the list.
    grid->Table()->horizontalHeader()->viewport()->repaint();
    ASSERT_TRUE(WaitUntil([&] { return grid->FilterBox(3) != nullptr; }, 5000));
    QComboBox* model = grid->FilterBox(3);
    grid->RefreshFilterBox(3);
    EXPECT_EQ(model->count(), 4);  // the header and three models
    const int x200 = model->findText("Orvo X200");
    ASSERT_GT(x200, 0);
    model->setCurrentIndex(x200);
    emit model->activated(x200);
    size_t expected = 0;
    for (const LabHost& h : Hosts("phone"))
        expected += h.Model() == "Orvo X200";
    const std::map<QString, Row> narrowed = GridRows();
    EXPECT_EQ(narrowed.size(), expected);
    for (const auto& [address, row] : narrowed)
        EXPECT_EQ(row.model, "Orvo X200");
}

TEST_F(LabPage, AStopDuringTheSweepKeepsTheRowsFound) {
    button->click();
    // Live hosts answer within milliseconds; the silent addresses hold the sweep for seconds.
    ASSERT_TRUE(WaitUntil([&] { return driver->FoundCount() >= 10; }));
    ASSERT_EQ(driver->DiscoveryState(), DiscoverySearching);
    button->click();
    EXPECT_EQ(driver->DiscoveryState(), DiscoveryIdle);
    EXPECT_TRUE(driver->Manager()->HasEnded());
    EXPECT_EQ(label->text(), "DiscoverProgressLabel");
    EXPECT_TRUE(button->isEnabled());
    EXPECT_FALSE(timer->isActive());
    EXPECT_TRUE(dialogs.shown.isEmpty());
    const int found = driver->FoundCount();
    EXPECT_GE(found, 10);
    EXPECT_EQ(grid->RowCount(), found + 1);
    for (int r = 1; r <= found; ++r)
        EXPECT_TRUE(grid->Cell(r, 5).startsWith("0a-1b-2c-")) << r;
}

}  // namespace
