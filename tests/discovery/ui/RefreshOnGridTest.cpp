// Refresh from the device grid: the online check goes to each selected phone (on loopback), and
// its answer comes back through RefreshResultNotice to the table and the row that shows it.
#include "app/Notices.h"
#include "discovery/DiscoveryDriver.h"
#include "discovery/ProvisionCommands.h"
#include "discovery/ui/DevicesOnlineView.h"
#include "discovery/ui/IpAddressGrid.h"
#include "support/LoopbackPhone.h"
#include "support/QtPrinters.h"
#include "support/RecordingDialogs.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <algorithm>

namespace {

class RefreshOnGrid : public ::testing::Test {
  protected:
    RefreshOnGrid()
        : view(nullptr, nullptr, nullptr, &grid, [](const QString& key) { return key; }),
          driver(transport, dialogs, nullptr, view) {
        grid.SetDeviceTable(&driver.Devices());
        grid.PrepareFirstShow();
        grid.ResetRows();
        Add("0a-1b-2c-00-00-01", "X100", "2.0.1", 1);
        Add("0a-1b-2c-00-00-02", "X200", "2.0.1", 0);
        Add("0a-1b-2c-00-00-03", "X100", "2.0.2", 1);
    }
    void Add(const char* mac, const char* model, const char* version, uint8_t online) {
        Tag_DevInfo d;
        d.online = online;
        d.vendor = "Orvo";
        d.model = model;
        d.version = version;
        d.address = "127.0.0.1";
        d.mac = mac;
        const int n = driver.Devices().Count() + 1;
        driver.Devices().Add(n, d);
        driver.Devices().SetVendor(n, d.vendor);
        driver.Devices().SetModel(n, d.model);
        driver.Devices().SetVersion(n, d.version);
        grid.ShowNewDevice(n, d);
    }
    // Refresh of one row; the phone answers with reply. Returns once the result was handled.
    void Refresh(int row, const QByteArray& reply) {
        bool handled = false;
        transport.SetHandler(RefreshResultNotice, [&](int, const void* record) {
            driver.OnRefreshResult(*static_cast<const RefreshResult*>(record));
            handled = true;
        });
        const QByteArray mac = grid.Cell(row, IpAddressGrid::kMacColumn).toLatin1();
        ASSERT_EQ(RefreshDevices({{row, "127.0.0.1", mac}}, driver.Gate(), phone.port()), "");
        request = phone.receive(reply);
        QElapsedTimer clock;
        clock.start();
        WaitHandlingNotices([&] { return handled || clock.elapsed() > 5000; });
        ASSERT_TRUE(handled);
    }
    QStringList Row(int row) const {
        QStringList out;
        for (int c = 1; c <= 6; ++c)
            out << grid.Cell(row, c);
        return out;
    }

    NoticeTransport transport;
    RecordingDialogs dialogs;
    IpAddressGrid grid;
    DevicesOnlineView view;
    DiscoveryDriver driver;
    LoopbackPhone phone;
    QByteArray request;
};

TEST_F(RefreshOnGrid, AnswersTurnRowsOnAndOffAndBringNewVersions) {
    const QByteArray noAgent = "SIP/2.0 200 OK\r\nContent-Length: 0\r\n\r\n";
    const struct {
        const char* what;
        int row;
        QByteArray reply;
        QStringList after;
        uint8_t online;
        QString version;
    } steps[] = {
        {"no User-Agent: offline",
         1,
         noAgent,
         {"0", "Orvo", "X100", "127.0.0.1", "0a-1b-2c-00-00-01", "2.0.1"},
         0,
         "2.0.1"},
        {"back online with a new version; the model stays",
         1,
         "SIP/2.0 200 OK\r\nUser-Agent: Orvo X900 2.0.7\r\n\r\n",
         {"1", "Orvo", "X100", "127.0.0.1", "0a-1b-2c-00-00-01", "2.0.7"},
         1,
         "2.0.7"},
        {"an offline device answers",
         2,
         "SIP/2.0 200 OK\r\nUser-Agent: Orvo X200 2.0.1\r\n\r\n",
         {"1", "Orvo", "X200", "127.0.0.1", "0a-1b-2c-00-00-02", "2.0.1"},
         1,
         "2.0.1"},
    };
    for (const auto& s : steps) {
        Refresh(s.row, s.reply);
        EXPECT_TRUE(request.startsWith(
            "NOTIFY sip:" + grid.Cell(s.row, IpAddressGrid::kMacColumn).toLatin1() +
            "@127.0.0.1:" + QByteArray::number(phone.port()) + " SIP/2.0 \r\n"))
            << s.what;
        EXPECT_EQ(Row(s.row), s.after) << s.what;
        const Tag_DevInfo* d = driver.Devices().Find(s.row);
        EXPECT_EQ(d->online, s.online) << s.what;
        EXPECT_EQ(d->version, s.version) << s.what;
        // Moved in the online index; found under its version.
        EXPECT_EQ(driver.Devices().NumbersByOnline(s.online).back(), s.row) << s.what;
        const std::vector<int> byVersion = driver.Devices().NumbersByVersion(s.version);
        EXPECT_NE(std::find(byVersion.begin(), byVersion.end(), s.row), byVersion.end()) << s.what;
    }
    EXPECT_EQ(Row(3),
              QStringList({"1", "Orvo", "X100", "127.0.0.1", "0a-1b-2c-00-00-03", "2.0.2"}));
}

TEST_F(RefreshOnGrid, NothingChangedOrAnUnknownMacLeavesEveryCell) {
    // A mark in the vendor cell shows whether the row was written again.
    grid.SetCell(3, 2, "mark");
    Refresh(3, "SIP/2.0 200 OK\r\nUser-Agent: Orvo X100 2.0.2\r\n\r\n");
    EXPECT_EQ(grid.Cell(3, 2), "mark");

    // The table was rebuilt meanwhile: the answer for a MAC it no longer has is dropped.
    grid.SetCell(2, 5, "0a-1b-2c-00-00-99");
    Refresh(2, "SIP/2.0 200 OK\r\n\r\n");
    EXPECT_EQ(grid.Cell(2, 1), "0");
    EXPECT_EQ(driver.Devices().Find(2)->online, 0);
    Refresh(2, "SIP/2.0 200 OK\r\nUser-Agent: Orvo X200 9.9\r\n\r\n");
    EXPECT_EQ(grid.Cell(2, 1), "0");
    EXPECT_EQ(driver.Devices().Find(2)->version, "2.0.1");
}

}  // namespace
