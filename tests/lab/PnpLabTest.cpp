// Plug-and-play and provisioning on the phone lab: run inside its workstation namespace by
// lab.sh. Phones announce themselves to the group, get a NOTIFY with the configuration URL and
// fetch their own file from the built-in HTTP server, or by TFTP from the built-in TFTP server.
#include "app/Notices.h"
#include "app/ui/ShellFixture.h"
#include "batch/ui/CsvBatchPage.h"
#include "discovery/DiscoveryDriver.h"
#include "discovery/ui/DevicesOnlinePage.h"
#include "lab/LabCli.h"
#include "lab/LabManifest.h"
#include "protection/ui/ProtectionGroup.h"
#include "record/ui/ProvisioningPage.h"
#include "record/ui/TextTableModel.h"
#include "servers/MyIPMCastClient.h"
#include "servers/ui/ServerPage.h"
#include "support/LoopbackMulticast.h"
#include "support/Sqlite3Cli.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include <poll.h>
#include <functional>
#include <map>

namespace {

bool WaitUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    WaitHandlingNotices([&] { return done() || clock.elapsed() > ms; }, 10);
    return done();
}

QString LabWork() {
    return qEnvironmentVariable("ORVO_LAB_WORK");
}

// The phone namespaces by plain MAC, from the lab's phones file.
std::map<QString, QString> PhoneNamespaces() {
    std::map<QString, QString> out;
    for (const QByteArray& line : ReadFileBytes(LabWork() + "/phones").split('\n')) {
        const QList<QByteArray> f = line.split('\t');
        if (f.size() >= 4)
            out[QString(f[2]).remove(':')] = QString(f[0]);
    }
    return out;
}

// A second simulator on the lab's phones: each phone binds phonePort in its namespace, sends
// one SUBSCRIBE to the group at start and keeps what the NOTIFY's URL gave it in fetched.
class AnnouncingPhones {
  public:
    AnnouncingPhones(const QString& fetched, int phonePort, const QString& group,
                     const QStringList& extra = {}) {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start("/usr/bin/python3",
                       QStringList{SourcePath("tests/lab/phone_sim.py"), "--phones",
                                   LabWork() + "/phones", "--port", QString::number(phonePort),
                                   "--subscribe", group, "--fetched", fetched} +
                           extra);
        process_.waitForStarted();
    }
    ~AnnouncingPhones() {
        process_.terminate();
        if (!process_.waitForFinished(5000))
            process_.kill();
        process_.waitForFinished(2000);
    }

  private:
    QProcess process_;
};

class PnpLab : public ShellFixture {
  protected:
    void SetUp() override {
        iface = qEnvironmentVariable("ORVO_LAB_IFACE");
        for (const LabHost& h : ReadLabManifest(qEnvironmentVariable("ORVO_LAB_MANIFEST")))
            if (h.kind != "silent")
                phones.push_back(h);
        if (iface.isEmpty() || phones.empty() || LabWork().isEmpty())
            GTEST_SKIP() << "not inside the phone lab (run it through tests/lab/lab.sh)";
    }
    // A CSV of the phones (every one unless a list is given): its identifier (MAC or PIN, here
    // both the plain MAC) and a password.
    QString WriteCsv(const char* key, const std::vector<LabHost>* list = nullptr) {
        QByteArray csv = QByteArray(key) + ",{$admin_pass}\r\n";
        for (const LabHost& h : list ? *list : phones)
            csv += h.PlainMac().toLatin1() + ",pw-" + h.PlainMac().toLatin1() + "\r\n";
        return dir.write(QString("phones-%1.csv").arg(key), csv);
    }
    // Every phone of the list has fetched the file the batch wrote for it into folder.
    bool AllFetched(const std::vector<LabHost>& list, const QString& fetched, const QString& folder,
                    const std::function<QString(const LabHost&)>& name) {
        for (const LabHost& h : list) {
            const QByteArray got = ReadFileBytes(fetched + "/" + h.PlainMac());
            if (got.isEmpty() || got != ReadFileBytes(folder + "/" + name(h)))
                return false;
        }
        return true;
    }
    // The state of each phone as orvo-cli status prints it from a record.
    static std::map<QString, QString> StatusStates(const QString& record) {
        QByteArray out;
        RunProgram(BuiltProgram("orvo-cli"), {"status", "--record", record}, &out);
        std::map<QString, QString> states;
        for (const QByteArray& line : out.split('\n')) {
            const QList<QByteArray> f = line.split('\t');
            if (f.size() > 1)
                states[QString(f[0])] = QString(f[1]);
        }
        return states;
    }
    // The window on its servers page, with short waits; the lab's interface first in its list.
    ServerPage& ShowServersPage() {
        SupplyTree("server");
        SupplyLanguages();
        TForm1& w = Start();
        w.show();
        ServerPage& servers = *w.ServerTab;
        servers.serverWaitMs = 20;
        servers.pnpLookMs = 50;
        w.PageControl1->setCurrentWidget(w.ServerTab);
        EXPECT_EQ(servers.InterfaceForServerCB->itemText(0), iface);
        return servers;
    }
    // orvo-cli batch of a bin template with the phones' passwords into folder (extra: --record).
    void BatchBin(const char* mode, const QString& folder, const QStringList& extra = {}) {
        const QString tpl = dir.write(
            "template.bin", "Flag=5678&CheckSum=0&P237=x&P410={$admin_pass}&P411=user&end");
        QByteArray err;
        ASSERT_EQ(RunProgram(BuiltProgram("orvo-cli"),
                             QStringList{"batch", "--template", tpl, "--csv",
                                         WriteCsv(QByteArray(mode).toUpper()), "--mode", mode,
                                         "--format", "bin", "--out", folder} +
                                 extra,
                             nullptr, &err),
                  0)
            << err.toStdString();
    }
    static void ForgetFetched(const std::vector<LabHost>& list) {
        for (const LabHost& h : list)
            QFile::remove(LabWork() + "/fetched/" + h.PlainMac());
    }

    QString iface;
    std::vector<LabHost> phones;
};

QString MacFile(const LabHost& h) {
    return "cfg" + h.PlainMac();
}
QString PinFile(const LabHost& h) {
    return h.PlainMac() + ".cfg";
}

// The listener joins the group on the lab interface: a phone's datagram to the group comes in,
// one that reaches this computer's group through another interface (loopback, where another
// socket joined it) does not.
TEST_F(PnpLab, TheListenerHearsItsGroupThroughItsInterfaceOnly) {
    const QString group = "224.0.1.75";
    const int port = 5064;
    NoticeTransport transport;
    QList<QByteArray> heard;
    transport.SetHandler(PnpPacketNotice, [&](int, const void* record) {
        heard << static_cast<const PnpPacket*>(record)->text;
    });
    MyIPMCastClient listener(port, group.toLatin1(), iface.toLatin1(), &transport);
    listener.Start();
    ASSERT_TRUE(WaitUntil([&] { return listener.IsRunning(); }, 5000));

    // Another socket makes the group's loopback datagrams welcome on this computer.
    const int other = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int on = 1;
    ::setsockopt(other, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    ip_mreq membership{};
    inet_pton(AF_INET, "224.0.1.75", &membership.imr_multiaddr);
    membership.imr_interface.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::setsockopt(other, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership),
              0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr = membership.imr_multiaddr;
    ASSERT_EQ(::bind(other, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    SendToLoopbackGroup(group, port, "SIP/2.0 through loopback");
    char buffer[64] = {};
    pollfd p{other, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 5000), 1);
    EXPECT_EQ(::recv(other, buffer, sizeof buffer - 1, 0), 24);  // the computer took it in
    ::close(other);

    const QString ns = PhoneNamespaces().begin()->second;
    ASSERT_EQ(RunProgram("ip", {"netns", "exec", ns, "/usr/bin/python3", "-c",
                                "import socket; socket.socket(socket.AF_INET, socket.SOCK_DGRAM)"
                                ".sendto(b'SIP/2.0 from a phone', ('224.0.1.75', 5064))"}),
              0);
    EXPECT_TRUE(WaitUntil([&] { return !heard.isEmpty(); }, 5000));
    WaitUntil([] { return false; }, 300);
    EXPECT_EQ(heard, QList<QByteArray>{"SIP/2.0 from a phone"});
}

TEST_F(PnpLab, TheCliServesEveryAnnouncingPhoneItsOwnFileAndProvisionsByHand) {
    const QString record = dir.file("record.sqlite");
    const QString root = dir.file("htdocs");
    const QString cfg = root + "/cfg";
    QDir().mkpath(cfg);
    for (const char* mode : {"mac", "pin"}) {
        BatchBin(mode, cfg, {"--record", record});
        if (HasFatalFailure())
            return;
    }
    ASSERT_TRUE(ReadFileBytes(cfg + "/" + PinFile(phones[0])).contains("P410=pw-"));

    CliProcess serve({"serve", "--root", root, "--port", "0", "--bind", iface, "--record", record});
    const QString started = serve.WaitForLine(QRegularExpression("HTTP Server started! Port: "));
    ASSERT_FALSE(started.isEmpty());
    const QString url = "http://" + iface + ":" + started.section("Port: ", 1) + "/cfg";

    // PIN mode: each phone fetches its PIN (here its plain MAC) + ".cfg".
    CliProcess pnp({"pnp", "--iface", iface, "--url", url, "--group", "224.0.1.75", "--port",
                    "5062", "--pin", "--record", record});
    ASSERT_FALSE(pnp.WaitForLine(QRegularExpression("PNP Server started! Listen to: 224.0.1.75 "
                                                    "Port: 5062$"))
                     .isEmpty());
    TempDir fetched;
    {
        AnnouncingPhones announcing(fetched.path(), 5070, "224.0.1.75:5062");
        EXPECT_TRUE(
            WaitUntil([&] { return AllFetched(phones, fetched.path(), cfg, PinFile); }, 30000));
    }
    EXPECT_EQ(pnp.Stop(), 0);
    const QByteArray pnpOut = pnp.Output();
    for (const LabHost& h : phones)
        EXPECT_TRUE(
            pnpOut.contains(("PNP: PIN MODE, EXTERNAL HTTP SERVER. To: " + h.address +
                             ":5070 Mac: MAC" + h.PlainMac() + " with content = " + url + "\n")
                                .toUtf8()))
            << h.address.toStdString();
    EXPECT_TRUE(pnpOut.endsWith(" PNP Server Stopped!\n")) << pnpOut.toStdString();

    // Provision by hand, MAC mode: only the phones named fetch, by the lab's own simulator.
    const std::vector<LabHost> two = {phones[1], phones[2]};
    ForgetFetched(phones);
    QByteArray out, err;
    ASSERT_EQ(RunProgram(
                  BuiltProgram("orvo-cli"),
                  {"provision", "--url", url, "--record", record, two[0].address + "=" + two[0].mac,
                   two[1].address + "=" + QString(two[1].mac).replace('-', ':')},
                  &out, &err),
              0)
        << err.toStdString();
    for (const LabHost& h : two)
        EXPECT_TRUE(out.contains(("Manual Prov: MAC MODE, EXTERNAL HTTP SERVER. " + h.address +
                                  " MAC" + h.PlainMac() + ", content = " + url + "\n")
                                     .toUtf8()));
    EXPECT_TRUE(
        WaitUntil([&] { return AllFetched(two, LabWork() + "/fetched", cfg, MacFile); }, 15000));
    EXPECT_FALSE(QFile::exists(LabWork() + "/fetched/" + phones[0].PlainMac()));

    EXPECT_EQ(serve.Stop(), 0);
    for (const LabHost& h : phones)
        EXPECT_TRUE(serve.Output().contains(("BUILT-IN HTTP SERVER responses to " + h.address +
                                             " with File " + cfg + "/" + PinFile(h))
                                                .toUtf8()))
            << h.address.toStdString();

    // The record: every phone fetched its file, from its own address, with its User-Agent.
    const std::map<QString, QString> states = StatusStates(record);
    EXPECT_EQ(states.size(), phones.size());
    for (const LabHost& h : phones) {
        SCOPED_TRACE(h.address.toStdString());
        EXPECT_EQ(states.count(h.PlainMac()) ? states.at(h.PlainMac()) : QString(), "fetched");
        EXPECT_EQ(Sqlite3Value(record, "SELECT count(*) FROM fetches WHERE phone = '" +
                                           h.PlainMac() + "' AND status = 200 AND peer = '" +
                                           h.address + "' AND user_agent = '" + h.userAgent + "'"),
                  Sqlite3Value(
                      record, "SELECT count(*) FROM fetches WHERE phone = '" + h.PlainMac() + "'"));
        EXPECT_EQ(Sqlite3Value(record,
                               "SELECT count(*) FROM commands WHERE kind = 'pnp' AND "
                               "phone = '" +
                                   h.PlainMac() + "' AND address = '" + h.address + "'"),
                  "1");
    }
    EXPECT_EQ(Sqlite3Value(record, "SELECT count(*) FROM commands WHERE kind = 'provision'"), "2");
}

// The record tells a download its client cut off (curl --max-filesize leaves after the head of
// a large file) from a whole one, each made from its phone's own namespace.
TEST_F(PnpLab, TheRecordTellsACutOffDownloadFromAWholeOne) {
    const QString record = dir.file("record.sqlite");
    const QString root = dir.file("htdocs");
    const QString cfg = root + "/cfg";
    QDir().mkpath(cfg);
    const LabHost cut = phones[0], whole = phones[1];
    const QString tpl = dir.write("big.bin", "Flag=5678&CheckSum=0&P410={$admin_pass}&end");
    const QString csv = dir.write("two.csv", "MAC,{$admin_pass}\r\n" + cut.PlainMac().toLatin1() +
                                                 "," + QByteArray(6 << 20, 'x') + "\r\n" +
                                                 whole.PlainMac().toLatin1() + ",pw\r\n");
    QByteArray err;
    ASSERT_EQ(RunProgram(BuiltProgram("orvo-cli"),
                         {"batch", "--template", tpl, "--csv", csv, "--mode", "mac", "--format",
                          "bin", "--out", cfg, "--record", record},
                         nullptr, &err),
              0)
        << err.toStdString();

    CliProcess serve({"serve", "--root", root, "--port", "0", "--bind", iface, "--record", record});
    const QString started = serve.WaitForLine(QRegularExpression("HTTP Server started! Port: "));
    ASSERT_FALSE(started.isEmpty());
    const QString base = "http://" + iface + ":" + started.section("Port: ", 1) + "/cfg/cfg";
    const std::map<QString, QString> ns = PhoneNamespaces();
    ASSERT_TRUE(ns.count(cut.PlainMac()) && ns.count(whole.PlainMac()));
    const auto curl = [&](const LabHost& h, const QStringList& extra) {
        return RunProgram("ip", QStringList{"netns", "exec", ns.at(h.PlainMac()), "curl", "-s",
                                            "-A", h.userAgent, base + h.PlainMac()} +
                                    extra);
    };
    EXPECT_EQ(curl(cut, {"-o", "/dev/null", "--max-filesize", "1000"}), 63);  // too large
    const QString got = dir.file("whole");
    EXPECT_EQ(curl(whole, {"-o", got}), 0);
    EXPECT_EQ(ReadFileBytes(got), ReadFileBytes(cfg + "/cfg" + whole.PlainMac()));
    EXPECT_EQ(serve.Stop(), 0);

    const std::map<QString, QString> states = StatusStates(record);
    EXPECT_EQ(states.count(cut.PlainMac()) ? states.at(cut.PlainMac()) : QString(), "failed");
    EXPECT_EQ(states.count(whole.PlainMac()) ? states.at(whole.PlainMac()) : QString(), "fetched");
    const qint64 size = QFileInfo(cfg + "/cfg" + cut.PlainMac()).size();
    EXPECT_EQ(Sqlite3Value(record, "SELECT status || ' ' || complete || ' ' || (bytes < " +
                                       QString::number(size) + ") FROM fetches WHERE phone = '" +
                                       cut.PlainMac() + "'"),
              "200 0 1");
    EXPECT_EQ(Sqlite3Value(record,
                           "SELECT status || ' ' || complete || ' ' || bytes FROM fetches "
                           "WHERE phone = '" +
                               whole.PlainMac() + "'"),
              "200 1 " + QString::number(QFileInfo(got).size()));
}

// TFTP as the built-in server's protocol: the page's TFTP server on port 69 and plug-and-play
// hand every announcing phone a tftp:// URL, and each phone reads its own file by TFTP; then
// the same with orvo-cli serve --tftp-port and orvo-cli pnp.
TEST_F(PnpLab, PhonesToldATftpUrlReadTheirFilesByTftp) {
    ServerPage& servers = ShowServersPage();
    TForm1& w = *form;
    const QString root = dir.path() + "/server/htdocs";
    const QString cfg = root + "/cfg";
    BatchBin("mac", cfg);
    if (HasFatalFailure())
        return;

    servers.BuiltinProtocolCB->setCurrentIndex(servers.BuiltinProtocolCB->findText("TFTP"));
    servers.MyTftpServerPort->setText("69");
    servers.TftpServerControlButton->click();
    ASSERT_TRUE(servers.TftpServerActive()) << dialogs.messages().join(", ").toStdString();
    servers.MyPnpServerPortEdit->setText("5060");
    servers.PnpModeMacRb->setChecked(true);
    servers.MyPnpServerControlBtn->click();
    ASSERT_TRUE(servers.PnpServerRunning()) << dialogs.messages().join(", ").toStdString();
    EXPECT_FALSE(servers.HttpServerActive());
    const QString url = "tftp://" + iface + ":69/cfg";
    TempDir fetched;
    {
        AnnouncingPhones announcing(fetched.path(), 5060, "224.0.1.75:5060");
        EXPECT_TRUE(
            WaitUntil([&] { return AllFetched(phones, fetched.path(), cfg, MacFile); }, 30000));
    }
    const QStringList log = LogMessages();
    for (const LabHost& h : phones) {
        SCOPED_TRACE(h.address.toStdString());
        EXPECT_TRUE(log.contains("PNP: MAC MODE, BUILT-IN TFTP SERVER. To: " + h.address +
                                 ":5060 Mac: MAC" + h.PlainMac() + " with content = " + url));
        EXPECT_TRUE(log.contains("BUILT-IN TFTP SERVER responses to " + h.address + " with File " +
                                 cfg + "/" + MacFile(h)));
    }
    servers.MyPnpServerControlBtn->click();
    servers.TftpServerControlButton->click();
    EXPECT_FALSE(servers.TftpServerActive());
    // The window's record has every phone's TFTP download, whole, from its own address (a
    // client that asked twice under load may add a refused second transfer).
    ASSERT_TRUE(w.Record().Flush());
    for (const LabHost& h : phones)
        EXPECT_NE(
            Sqlite3Value(
                w.Record().Path(),
                "SELECT count(*) FROM fetches WHERE protocol = 'tftp' AND phone = '" +
                    h.PlainMac() + "' AND status = 200 AND peer = '" + h.address +
                    "' AND bytes = " + QString::number(QFileInfo(cfg + "/" + MacFile(h)).size())),
            "0")
            << h.address.toStdString();

    // orvo-cli: serve by TFTP only, plug-and-play in PIN mode, both recording.
    const QString record = dir.file("record.sqlite");
    BatchBin("pin", cfg, {"--record", record});
    if (HasFatalFailure())
        return;
    CliProcess serve(
        {"serve", "--root", root, "--tftp-port", "0", "--bind", iface, "--record", record});
    const QString started = serve.WaitForLine(QRegularExpression("TFTP Server started! Port: "));
    ASSERT_FALSE(started.isEmpty());
    const QString cliUrl = "tftp://" + iface + ":" + started.section("Port: ", 1) + "/cfg";
    CliProcess pnp({"pnp", "--iface", iface, "--url", cliUrl, "--group", "224.0.1.75", "--port",
                    "5062", "--pin", "--record", record});
    ASSERT_FALSE(pnp.WaitForLine(QRegularExpression("PNP Server started!")).isEmpty());
    TempDir fetchedByPin;
    {
        AnnouncingPhones announcing(fetchedByPin.path(), 5070, "224.0.1.75:5062");
        EXPECT_TRUE(WaitUntil([&] { return AllFetched(phones, fetchedByPin.path(), cfg, PinFile); },
                              30000));
    }
    EXPECT_EQ(pnp.Stop(), 0);
    EXPECT_EQ(serve.Stop(), 0);
    for (const LabHost& h : phones)
        EXPECT_TRUE(serve.Output().contains(("BUILT-IN TFTP SERVER responses to " + h.address +
                                             " with File " + cfg + "/" + PinFile(h))
                                                .toUtf8()))
            << h.address.toStdString();
    EXPECT_TRUE(serve.Output().endsWith(" Built-in TFTP Server stopped!\n"));
    const std::map<QString, QString> states = StatusStates(record);
    for (const LabHost& h : phones) {
        SCOPED_TRACE(h.address.toStdString());
        EXPECT_EQ(states.count(h.PlainMac()) ? states.at(h.PlainMac()) : QString(), "fetched");
        EXPECT_NE(Sqlite3Value(record,
                               "SELECT count(*) FROM fetches WHERE protocol = 'tftp' AND "
                               "status = 200 AND phone = '" +
                                   h.PlainMac() + "' AND peer = '" + h.address + "'"),
                  "0");
    }
}

// HTTPS with credentials and an allow-list on the servers page: plug-and-play hands every
// announcing phone an https:// URL with the credentials; the phones trust the certificate the
// window made and fetch their files, but for the one phone left off the list, which gets 403.
TEST_F(PnpLab, PhonesToldAnHttpsUrlWithCredentialsFetchTheirFiles) {
    ServerPage& servers = ShowServersPage();
    TForm1& w = *form;
    const QString cfg = dir.path() + "/server/htdocs/cfg";
    BatchBin("mac", cfg);
    if (HasFatalFailure())
        return;
    std::vector<LabHost> allowed(phones.begin(), phones.end() - 1);
    const LabHost refused = phones.back();
    QStringList addresses;
    for (const LabHost& h : allowed)
        addresses << h.address;

    servers.ProtectionGB->SetProtection({true, {}, {}, addresses.join(", "), "phone", "p@ss word"});
    servers.MyHttpServerPort->setText("6000");
    servers.HttpServerControlButton->click();
    ASSERT_TRUE(servers.HttpServerActive()) << dialogs.messages().join(", ").toStdString();
    servers.MyPnpServerPortEdit->setText("5060");
    servers.PnpModeMacRb->setChecked(true);
    servers.MyPnpServerControlBtn->click();
    ASSERT_TRUE(servers.PnpServerRunning()) << dialogs.messages().join(", ").toStdString();
    const QString cert = dir.file("ini/tls/server.crt");
    const QString url = "https://phone:p%40ss%20word@" + iface + ":6000/cfg";
    TempDir fetched;
    {
        AnnouncingPhones announcing(fetched.path(), 5060, "224.0.1.75:5060", {"--cafile", cert});
        EXPECT_TRUE(WaitUntil(
            [&] {
                return AllFetched(allowed, fetched.path(), cfg, MacFile) &&
                       ReadFileBytes(fetched.path() + "/fetches.log")
                           .contains(refused.PlainMac().toLatin1());
            },
            30000));
    }
    servers.MyPnpServerControlBtn->click();
    servers.HttpServerControlButton->click();
    const QByteArray fetches = ReadFileBytes(fetched.path() + "/fetches.log");
    EXPECT_TRUE(fetches.contains(
        (refused.PlainMac() + "\t" + url + "/" + MacFile(refused) + "\t403").toLatin1()))
        << fetches.constData();
    EXPECT_FALSE(QFile::exists(fetched.path() + "/" + refused.PlainMac()));
    const QStringList log = LogMessages();
    for (const LabHost& h : allowed)
        EXPECT_TRUE(log.contains("PNP: MAC MODE, BUILT-IN HTTP SERVER. To: " + h.address +
                                 ":5060 Mac: MAC" + h.PlainMac() + " with content = https://" +
                                 "phone:***@" + iface + ":6000/cfg"))
            << h.address.toStdString();
    EXPECT_TRUE(log.join('\n').contains("BUILT-IN HTTP SERVER refuses " + refused.address +
                                        " with 403. File " + cfg + "/" + MacFile(refused) +
                                        ": address not allowed"));
    EXPECT_FALSE(log.join('\n').contains("p@ss") || log.join('\n').contains("p%40ss"));
    ASSERT_TRUE(w.Record().Flush());
    for (const LabHost& h : allowed)
        EXPECT_NE(Sqlite3Value(w.Record().Path(),
                               "SELECT count(*) FROM fetches WHERE protocol = 'https' AND "
                               "status = 200 AND phone = '" +
                                   h.PlainMac() + "' AND peer = '" + h.address + "'"),
                  "0")
            << h.address.toStdString();
    EXPECT_EQ(Sqlite3Value(w.Record().Path(),
                           "SELECT status FROM fetches WHERE peer = '" + refused.address + "'"),
              "403");
}

// The window: a batch to the built-in server, both servers started on the servers page, every
// phone announcing itself; then Provision and Refresh from the device grid.
TEST_F(PnpLab, TheWindowProvisionsAnnouncingAndSelectedPhones) {
    ServerPage& servers = ShowServersPage();
    TForm1& w = *form;

    // Batch to the built-in server, plain bin files in MAC mode, for every phone but one.
    const LabHost stranger = phones.back();
    const std::vector<LabHost> listed(phones.begin(), phones.end() - 1);
    w.PageControl1->setCurrentWidget(w.CsvBatchTab);
    CsvBatchPage& batch = *w.CsvBatchTab;
    batch.CsvModeRadioButton->setChecked(true);
    batch.BatchFileFormatBinRB->setChecked(true);
    batch.CfgToEncryptCB->setCurrentIndex(0);
    dialogs.paths = {WriteCsv("MAC", &listed)};
    batch.LoadCsvFileButton->click();
    batch.CfgBatchToServerButton->click();
    ASSERT_TRUE(dialogs.messages().isEmpty()) << dialogs.messages().join(", ").toStdString();
    const QString cfg = dir.path() + "/server/htdocs/cfg";
    for (const LabHost& h : listed)
        ASSERT_TRUE(
            ReadFileBytes(cfg + "/" + MacFile(h)).contains("P410=pw-" + h.PlainMac().toUtf8()))
            << h.address.toStdString();

    // Both servers.
    w.PageControl1->setCurrentWidget(w.ServerTab);
    servers.MyHttpServerPort->setText("6000");
    servers.HttpServerControlButton->click();
    ASSERT_TRUE(servers.HttpServerActive());
    servers.MyPnpServerPortEdit->setText("5060");
    servers.PnpModeMacRb->setChecked(true);
    servers.MyPnpServerControlBtn->click();
    ASSERT_TRUE(servers.PnpServerRunning()) << dialogs.messages().join(", ").toStdString();
    const QString url = "http://" + iface + ":6000/cfg";

    // The Provisioning page follows them while they announce themselves and fetch.
    w.PageControl1->setCurrentWidget(w.ProvisioningTab);
    ProvisioningPage& page = *w.ProvisioningTab;
    const auto stateOf = [&page](const LabHost& h) {
        const int row = page.Phones().RowOf(h.PlainMac());
        return row < 0 ? QString() : page.Phones().Rows()[size_t(row)].cells[1];
    };
    TempDir fetched;
    {
        AnnouncingPhones announcing(fetched.path(), 5060, "224.0.1.75:5060");
        EXPECT_TRUE(
            WaitUntil([&] { return AllFetched(listed, fetched.path(), cfg, MacFile); }, 30000));
        EXPECT_TRUE(WaitUntil(
            [&] {
                for (const LabHost& h : listed)
                    if (stateOf(h) != "fetched")
                        return false;
                return stateOf(stranger) == "unknown phone";
            },
            15000));
    }
    for (const LabHost& h : listed)
        EXPECT_EQ(stateOf(h), "fetched") << h.address.toStdString();
    EXPECT_EQ(stateOf(stranger), "unknown phone");
    EXPECT_EQ(page.Phones().Rows().size(), phones.size());
    std::map<QString, QString> states = StatusStates(dir.file("db/provisioning.sqlite"));
    for (const LabHost& h : listed)
        EXPECT_EQ(states[h.PlainMac()], "fetched") << h.address.toStdString();
    EXPECT_EQ(states[stranger.PlainMac()], "unknown phone");

    QStringList log = LogMessages();
    for (const LabHost& h : listed) {
        SCOPED_TRACE(h.address.toStdString());
        EXPECT_TRUE(log.contains("PNP: MAC MODE, BUILT-IN HTTP SERVER. To: " + h.address +
                                 ":5060 Mac: MAC" + h.PlainMac() + " with content = " + url));
        EXPECT_TRUE(log.contains("BUILT-IN HTTP SERVER responses to " + h.address + " with File " +
                                 cfg + "/" + MacFile(h)));
    }

    // Discovery fills the grid with the phones of the Orvo prefix.
    w.PageControl1->setCurrentWidget(w.DevicesOnlineTab);
    DevicesOnlinePage& devices = *w.DevicesOnlineTab;
    const int network = devices.SelfAddressComboBox->findText(iface);
    ASSERT_GE(network, 0);
    devices.SelfAddressComboBox->setCurrentIndex(network);
    devices.MacFilterInputRb->setChecked(true);
    devices.MacFilterInputEdit->setText("0a-1b-2c-");
    devices.ProvisionModeMacRb->setChecked(true);
    dialogs.clear();
    devices.DDButtonClick();
    DiscoveryDriver& driver = devices.Driver();
    ASSERT_TRUE(WaitUntil(
        [&] { return driver.SweepFinished() && driver.AnsweredCount() >= driver.FoundCount(); },
        60000));
    devices.DDStopTimer->setInterval(1);
    ASSERT_TRUE(WaitUntil([&] { return driver.DiscoveryState() == DiscoveryIdle; }, 10000));
    EXPECT_EQ(dialogs.messages(), QStringList{"LDDMsgDDFinished"});
    IpAddressGrid& grid = *devices.IpAddressGrid;
    ASSERT_GE(grid.RowCount(), 4);
    // The record has the model and version of each phone the discovery found (those of the
    // filter's prefix).
    ASSERT_TRUE(w.Record().Flush());
    page.Refresh(true);
    for (const LabHost& h : listed) {
        if (h.kind != "phone")
            continue;
        const int row = page.Phones().RowOf(h.PlainMac());
        ASSERT_GE(row, 0);
        EXPECT_EQ(page.Phones().Rows()[size_t(row)].cells[13], h.Model());
        EXPECT_EQ(page.Phones().Rows()[size_t(row)].cells[14], h.Version());
    }

    // Provision the rows 1 and 3: those two phones fetch their files, no other does.
    std::map<QString, LabHost> byMac;
    for (const LabHost& h : phones)
        byMac[h.mac] = h;
    const std::vector<LabHost> chosen = {byMac[grid.Cell(1, 5)], byMac[grid.Cell(3, 5)]};
    const LabHost other = byMac[grid.Cell(2, 5)];
    ASSERT_FALSE(chosen[0].address.isEmpty() || chosen[1].address.isEmpty());
    ForgetFetched(phones);
    grid.RowSelection().Clear();
    grid.RowSelection().Add(1);
    grid.RowSelection().Add(3);
    devices.ProvisionPopupBtnClick();
    EXPECT_TRUE(dialogs.messages() == QStringList{"LDDMsgDDFinished"});
    EXPECT_TRUE(
        WaitUntil([&] { return AllFetched(chosen, LabWork() + "/fetched", cfg, MacFile); }, 15000));
    EXPECT_FALSE(QFile::exists(LabWork() + "/fetched/" + other.PlainMac()));
    // Upgrade does exactly what Provision does.
    ForgetFetched(phones);
    devices.UpgradePopupBtnClick();
    EXPECT_TRUE(
        WaitUntil([&] { return AllFetched(chosen, LabWork() + "/fetched", cfg, MacFile); }, 15000));
    EXPECT_FALSE(QFile::exists(LabWork() + "/fetched/" + other.PlainMac()));
    log = LogMessages();
    for (const LabHost& h : chosen)
        EXPECT_EQ(log.count("Manual Prov: MAC MODE, BUILT-IN HTTP SERVER. IP: " + h.address +
                            " MAC" + h.PlainMac() + ", content = " + url),
                  2)
            << h.address.toStdString();

    // Refresh: a stopped phone turns OFF, and ON again once it answers.
    const QString ns = PhoneNamespaces()[chosen[0].PlainMac()];
    ASSERT_FALSE(ns.isEmpty());
    grid.RowSelection().Clear();
    grid.RowSelection().Add(1);
    ASSERT_EQ(grid.Cell(1, 1), "1");
    ASSERT_EQ(RunProgram("ip", {"-n", ns, "link", "set", "eth0", "down"}), 0);
    devices.RefreshPopupBtnClick();
    EXPECT_TRUE(WaitUntil([&] { return grid.Cell(1, 1) == "0"; }, 15000));
    ASSERT_EQ(RunProgram("ip", {"-n", ns, "link", "set", "eth0", "up"}), 0);
    // Taking the link down dropped its routes; the group's route comes back by hand.
    RunProgram("ip", {"-n", ns, "route", "replace", "224.0.0.0/4", "dev", "eth0"});
    devices.RefreshPopupBtnClick();
    EXPECT_TRUE(WaitUntil([&] { return grid.Cell(1, 1) == "1"; }, 15000));
    EXPECT_EQ(grid.Cell(1, 6), chosen[0].Version());

    // Stopping the plug-and-play server leaves the interface list to the running HTTP server.
    servers.MyPnpServerControlBtn->click();
    EXPECT_FALSE(servers.PnpServerRunning());
    EXPECT_FALSE(servers.InterfaceForServerCB->isEnabled());
    EXPECT_TRUE(servers.HttpServerActive());
    EXPECT_TRUE(LogMessages().contains("PNP Server Stopped!"));
}

}  // namespace
