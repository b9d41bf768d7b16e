#include "discovery/ProvisionCommands.h"

#include "app/MyLog.h"
#include "discovery/DeviceCommand.h"
#include "record/ProvisioningRecord.h"
#include "support/LoopbackPhone.h"
#include "support/Sqlite3Cli.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace {

ProvisionOptions builtIn(int port) {
    ProvisionOptions o;
    o.builtInServerActive = true;
    o.storedHttpMode = "0";
    o.interfaceText = "127.0.0.1";
    o.portText = " 6000 ";
    o.externalUrl = "  http://ext.example/cfg  ";
    o.phonePort = port;
    return o;
}

TEST(Provision, ChecksInOrderAndSendsNothingOnRefusal) {
    LoopbackPhone phone;
    const std::vector<SelectedDevice> one = {{1, "127.0.0.1", "0a-1b-2c-3d-4e-5f"}};
    const std::vector<SelectedDevice> noAddress = {{1, "", "0a-1b-2c-3d-4e-5f"}};
    ProvisionOptions stopped = builtIn(phone.port());
    stopped.builtInServerActive = false;
    ProvisionOptions stoppedButExternalMode = stopped;
    stoppedButExternalMode.storedHttpMode = "1";
    ProvisionOptions external = builtIn(phone.port());
    external.builtInServer = false;
    external.externalUrl.clear();
    ProvisionOptions none = builtIn(phone.port());
    none.mode = ProvisionOptions::Mode::None;
    const struct {
        const char* what;
        std::vector<SelectedDevice> selection;
        ProvisionOptions options;
        QString error;
        bool sends;
    } cases[] = {
        {"no selection", {}, builtIn(phone.port()), "LDDProError1", false},
        {"no address", noAddress, builtIn(phone.port()), "LDDProError2", false},
        {"server stopped", one, stopped, "LDDProError3", false},
        {"server stopped, stored mode 1", one, stoppedButExternalMode, "", true},
        {"external without URL", one, external, "LDDProError4", false},
        {"no mode", one, none, "", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProvisionDevices(c.selection, c.options, nullptr), c.error) << c.what;
        EXPECT_EQ(!phone.receive({}, c.sends ? 5000 : 200).isEmpty(), c.sends) << c.what;
    }
}

TEST(Provision, SendsOneNotifyPerSelectedRowAndLogsIt) {
    LoopbackPhone phone;
    TempDir dir;
    MyLog log;
    log.SetDirectory(dir.path());
    ASSERT_EQ(log.Open(), 0);
    const std::vector<SelectedDevice> rows = {{1, "127.0.0.1", "0a-1b-2c-3d-4e-5f"},
                                              {3, "127.0.0.1", "aa-bb-cc-dd-ee-ff"}};
    const struct {
        ProvisionOptions::Mode mode;
        bool builtInServer;
        DeviceCommandKind kind;
        QByteArray url;
        QByteArray prefix;
    } cases[] = {
        {ProvisionOptions::Mode::Mac, true, DeviceCommandKind::ProvisionMac,
         "http://127.0.0.1:6000/cfg", "Manual Prov: MAC MODE, BUILT-IN HTTP SERVER. IP: "},
        {ProvisionOptions::Mode::Pin, true, DeviceCommandKind::ProvisionPin,
         "http://127.0.0.1:6000/cfg", "Manual Prov: PIN MODE, BUILT-IN HTTP SERVER. "},
        {ProvisionOptions::Mode::Mac, false, DeviceCommandKind::ProvisionMac,
         "http://ext.example/cfg", "Manual Prov: MAC MODE, EXTERNAL HTTP SERVER. "},
        {ProvisionOptions::Mode::Pin, false, DeviceCommandKind::ProvisionPin,
         "http://ext.example/cfg", "Manual Prov: PIN MODE, EXTERNAL HTTP SERVER. "},
    };
    QByteArray expectedLog;
    for (const auto& c : cases) {
        ProvisionOptions o = builtIn(phone.port());
        o.mode = c.mode;
        o.builtInServer = c.builtInServer;
        ASSERT_EQ(ProvisionDevices(rows, o, &log), "");
        QList<QByteArray> got = {phone.receive(), phone.receive()};
        for (const char* user : {"MAC0a1b2c3d4e5f", "MACaabbccddeeff"}) {
            DeviceCommandFields f;
            f.kind = c.kind;
            f.user = user;
            f.address = "127.0.0.1";
            f.port = phone.port();
            f.body = c.url;
            EXPECT_TRUE(got.contains(ComposeDeviceCommand(f))) << user;
            expectedLog += c.prefix + "127.0.0.1 " + user + ", content = " + c.url + "\r\n";
        }
    }
    log.Close();
    QByteArray text;
    for (const QByteArray& line : ReadFileBytes(log.FileName()).split('\n'))
        if (!line.isEmpty())
            text += line.mid(20) + "\n";  // drop "yyyy-MM-dd hh:mm:ss "
    EXPECT_EQ(text, expectedLog);
}

TEST(Refresh, ChecksTheSelectionThenSendsTheOnlineCheck) {
    LoopbackPhone phone;
    EXPECT_EQ(RefreshDevices({}, nullptr, phone.port()), "LDDProError1");
    EXPECT_EQ(RefreshDevices({{2, "", "x"}}, nullptr, phone.port()), "LDDProError2");
    ASSERT_EQ(RefreshDevices({{2, "127.0.0.1", "0a-1b-2c-3d-4e-5f"}}, nullptr, phone.port()), "");
    EXPECT_TRUE(phone.receive("SIP/2.0 200 OK\r\n\r\n")
                    .startsWith("NOTIFY sip:0a-1b-2c-3d-4e-5f@127.0.0.1:" +
                                QByteArray::number(phone.port()) + " SIP/2.0 \r\n"));
}

// Each NOTIFY sent is recorded with the phone, its address and the URL it carried; a refused
// action records nothing.
TEST(Provision, RecordsEveryPhoneToldAndEveryRefreshSent) {
    LoopbackPhone phone;
    TempDir dir;
    ProvisioningRecord record;
    ASSERT_TRUE(record.Open(dir.file("record.sqlite")));
    const std::vector<SelectedDevice> two = {{1, "127.0.0.1", "0a-1b-2c-3d-4e-5f"},
                                             {2, "127.0.0.1", "0a-1b-2c-3d-4e-60"}};
    ProvisionOptions o = builtIn(phone.port());
    o.record = &record;
    o.mode = ProvisionOptions::Mode::Pin;
    o.recordKind = RecordEvent::Kind::Upgrade;
    ASSERT_EQ(ProvisionDevices(two, o, nullptr), "");
    ASSERT_EQ(ProvisionDevices({}, o, nullptr), "LDDProError1");
    ASSERT_EQ(RefreshDevices({two[0]}, nullptr, phone.port(), &record), "");
    for (int i = 0; i < 3; ++i)  // the refresh gets its answer at once
        EXPECT_FALSE(phone.receive("SIP/2.0 200 OK\r\n\r\n").isEmpty());
    ASSERT_TRUE(record.Flush());
    EXPECT_EQ(
        Sqlite3Rows(dir.file("record.sqlite"), "SELECT kind, address, phone, url FROM commands"),
        (QStringList{"upgrade|127.0.0.1|0a1b2c3d4e5f|http://127.0.0.1:6000/cfg$input.cfg",
                     "upgrade|127.0.0.1|0a1b2c3d4e60|http://127.0.0.1:6000/cfg$input.cfg",
                     "refresh|127.0.0.1|0a1b2c3d4e5f|"}));
}

}  // namespace
