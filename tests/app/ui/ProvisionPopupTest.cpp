// The grid's Provision, Upgrade and Refresh read the servers page's controls: their refusals,
// in order. Nothing is sent in these cases (and the addresses are loopback ones).
#include "ShellFixture.h"
#include "discovery/ui/DevicesOnlinePage.h"
#include "servers/MyHttpServer.h"
#include "servers/ui/ServerPage.h"

#include <functional>

namespace {

using ProvisionPopupTest = ShellFixture;

TEST_F(ProvisionPopupTest, ChecksComeInOrderAndTheFirstFailureIsShown) {
    dir.write("ini/$default.ini", DefaultSettings());  // [HTTP SERVER] mode=0
    SupplyLanguages();
    TForm1& w = Start();
    DevicesOnlinePage& page = *w.DevicesOnlineTab;
    ServerPage& servers = *w.ServerTab;
    IpAddressGrid& grid = *page.IpAddressGrid;
    const auto device = [](const char* address) {
        Tag_DevInfo d;
        d.online = 1;
        d.address = address;
        d.mac = "0a-1b-2c-3d-4e-5f";
        return d;
    };
    struct Case {
        const char* what;
        std::function<void()> set;
        QString provisionKey, refreshKey;
    } cases[] = {
        {"no row selected", [] {}, "LDDProError1", "LDDProError1"},
        {"the first selected row has no address",
         [&] {
             grid.ShowNewDevice(1, device(""));
             grid.ShowNewDevice(2, device("127.0.0.1"));
             grid.RowSelection().Add(1);
             grid.RowSelection().Add(2);
         },
         "LDDProError2", "LDDProError2"},
        {"the built-in server chosen but stopped (only the first row needs an address)",
         [&] {
             grid.ShowNewDevice(1, device(""));
             grid.ShowNewDevice(2, device("127.0.0.1"));
             grid.RowSelection().Add(2);
             grid.RowSelection().Add(1);
             servers.HttpServerBuiltinRb->setChecked(true);
         },
         "LDDProError3", ""},
        {"the built-in TFTP server chosen but stopped (the HTTP server does not count)",
         [&] {
             grid.ShowNewDevice(1, device("127.0.0.1"));
             grid.RowSelection().Add(1);
             servers.HttpServerBuiltinRb->setChecked(true);
             servers.BuiltinProtocolCB->setCurrentIndex(1);
             servers.HttpServer().Start(0, "127.0.0.1");
         },
         "LDDProError5", ""},
        {"the external server chosen without a path",
         [&] {
             grid.ShowNewDevice(1, device("127.0.0.1"));
             grid.RowSelection().Add(1);
             servers.HttpServerExRb->setChecked(true);
             servers.ExHttpServerEdiit->clear();
         },
         "LDDProError4", ""},
    };
    for (const Case& c : cases) {
        grid.ResetRows();
        grid.RowSelection().Clear();
        servers.BuiltinProtocolCB->setCurrentIndex(0);
        servers.HttpServer().Stop();
        c.set();
        for (const auto& click : {std::function<void()>([&] { page.ProvisionPopupBtnClick(); }),
                                  std::function<void()>([&] { page.UpgradePopupBtnClick(); })}) {
            dialogs.clear();
            click();
            EXPECT_EQ(dialogs.messages(), QStringList{c.provisionKey}) << c.what;
        }
        if (c.refreshKey.isEmpty())
            continue;  // Refresh would send its online check here
        dialogs.clear();
        page.RefreshPopupBtnClick();
        EXPECT_EQ(dialogs.messages(), QStringList{c.refreshKey}) << c.what;
    }
    // No provision mode chosen: nothing happens and nothing is shown.
    grid.ResetRows();
    grid.ShowNewDevice(1, device("127.0.0.1"));
    grid.RowSelection().Add(1);
    servers.HttpServerExRb->setChecked(true);
    servers.ExHttpServerEdiit->setText("http://127.0.0.1/cfg");
    page.ProvisionModeMacRb->setAutoExclusive(false);
    page.ProvisionModeMacRb->setChecked(false);
    page.ProvisionModePinRb->setChecked(false);
    dialogs.clear();
    page.ProvisionPopupBtnClick();
    EXPECT_TRUE(dialogs.shown.isEmpty());
    EXPECT_FALSE(LogMessages().join('\n').contains("Manual Prov"));
}

}  // namespace
