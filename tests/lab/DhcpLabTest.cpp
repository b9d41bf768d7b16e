// The DHCP server on the phone lab's bench mode: phones without an address take a lease with a
// real DHCP client (dhclient) in their own namespaces and fetch from the URL it gave them. Every
// packet stays in the lab; the DHCP server runs only in its workstation namespace.
#include "app/InterfaceTable.h"
#include "app/LanguageTable.h"
#include "app/Localization.h"
#include "app/MyLog.h"
#include "app/Notices.h"
#include "app/ServerUrl.h"
#include "app/ui/Unit1.h"
#include "dhcp/DhcpProbe.h"
#include "dhcp/DhcpServer.h"
#include "dhcp/ui/DhcpGroup.h"
#include "lab/LabCli.h"
#include "lab/LabManifest.h"
#include "servers/MyHttpServer.h"
#include "servers/ui/ServerPage.h"
#include "support/EventLoopWait.h"
#include "support/RecordingDialogs.h"
#include "support/Sqlite3Cli.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <signal.h>
#include <functional>
#include <map>
#include <mutex>

namespace {

QString LabWork() {
    return qEnvironmentVariable("ORVO_LAB_WORK");
}

// What dhcp_phone.sh gave: its exit code and the lease's NAME=VALUE lines.
struct PhoneLease {
    int code = -1;
    std::map<QString, QString> values;
    QByteArray err;
    QString operator[](const QString& name) const {
        const auto it = values.find(name);
        return it == values.end() ? QString() : it->second;
    }
};

PhoneLease LeasePhone(int index, const QStringList& extra = {}) {
    PhoneLease lease;
    QByteArray out;
    lease.code = RunProgram(
        "/bin/bash",
        QStringList{qEnvironmentVariable("ORVO_LAB_DHCP"), "lease", QString::number(index)} + extra,
        &out, &lease.err);
    for (const QByteArray& line : out.split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0)
            lease.values[QString::fromUtf8(line.left(eq))] = QString::fromUtf8(line.mid(eq + 1));
    }
    return lease;
}

int ReleasePhone(int index) {
    QByteArray err;
    return RunProgram("/bin/bash",
                      {qEnvironmentVariable("ORVO_LAB_DHCP"), "release", QString::number(index)},
                      nullptr, &err);
}

class DhcpLab : public ::testing::Test {
  protected:
    void SetUp() override {
        iface = qEnvironmentVariable("ORVO_LAB_IFACE");
        hosts = ReadLabManifest(qEnvironmentVariable("ORVO_LAB_MANIFEST"));
        if (iface.isEmpty() || hosts.empty() || LabWork().isEmpty() || hosts[0].address != "dhcp")
            GTEST_SKIP() << "not inside the phone lab's bench mode (tests/lab/lab.sh --bench N)";
        net = iface.section('.', 0, 2) + ".";
        range = net + "100-" + net + "150";
        // A configuration file per bench phone, its content naming the test.
        const QString name =
            QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name());
        for (const LabHost& h : hosts)
            if (h.address == "dhcp")
                root.write("cfg/cfg" + h.PlainMac(), (name + " " + h.PlainMac()).toUtf8());
        env.insert("XDG_DATA_HOME", state.path());
    }
    QString LeaseFile() const { return state.file("orvo-provision-tool/dhcp/leases"); }
    QByteArray Fetched(const LabHost& h) const {
        return ReadFileBytes(LabWork() + "/fetched/" + h.PlainMac());
    }
    QByteArray Expected(const LabHost& h) const {
        return ReadFileBytes(root.file("cfg/cfg" + h.PlainMac()));
    }
    QStringList Serve(const QStringList& extra) const {
        return QStringList{"serve", "--root", root.path(), "--bind", iface} + extra;
    }
    static QRegularExpression Line(const QString& pattern) { return QRegularExpression(pattern); }
    // The port a started server printed.
    static QString PortOf(CliProcess& p, const char* server) {
        return p.WaitForLine(Line(QString("Built-in %1 Server started! Port: ").arg(server)))
            .section(' ', -1);
    }

    QString iface, net, range;
    std::vector<LabHost> hosts;
    TempDir root, state;
    QProcessEnvironment env;
};

TEST_F(DhcpLab, APhoneLeasesAndFetchesFromTheHttpUrlWithTheOptionsGiven) {
    CliProcess serve(Serve({"--port", "0", "--dhcp-range", range, "--dhcp-lease", "600",
                            "--dhcp-router", iface, "--dhcp-dns", "9.9.9.9,1.1.1.1"}),
                     env);
    const QString port = PortOf(serve, "HTTP");
    ASSERT_FALSE(serve
                     .WaitForLine(Line("DHCP Server started! Interface: eth0 Range: " + range +
                                       " Lease: 600 s URL: http://" + iface + ":" + port + "/cfg$"))
                     .isEmpty())
        << serve.Output().toStdString() << serve.ErrorOutput().toStdString();

    const PhoneLease lease =
        LeasePhone(0, {"--vendor-class", "Orvo X100 2.0.4", "--host-name", "desk-0"});
    ASSERT_EQ(lease.code, 0) << lease.err.toStdString();
    uint32_t address = 0, first = 0, last = 0;
    ASSERT_TRUE(ParseIpv4(lease["address"], &address));
    ParseIpv4(net + "100", &first);
    ParseIpv4(net + "150", &last);
    EXPECT_TRUE(address >= first && address <= last) << lease["address"].toStdString();
    const QString url = "http://" + iface + ":" + port + "/cfg";
    EXPECT_EQ(lease["option66"], url);
    EXPECT_EQ(lease["option160"], url);
    EXPECT_EQ(lease["option150"], "");  // no TFTP server
    EXPECT_EQ(lease["mask"], "255.255.255.0");
    EXPECT_EQ(lease["router"], iface);
    EXPECT_EQ(lease["dns"], "9.9.9.9 1.1.1.1");
    EXPECT_EQ(lease["server"], iface);
    EXPECT_EQ(lease["lease"], "600");
    EXPECT_EQ(Fetched(hosts[0]), Expected(hosts[0]));
    // The lease and the download, from the leased address.
    EXPECT_FALSE(serve
                     .WaitForLine(Line("DHCP Server: add " + lease["address"] +
                                       " Mac: " + hosts[0].PlainMac() +
                                       " Host: desk-0 Vendor: Orvo X100 2.0.4 Until: "))
                     .isEmpty())
        << serve.Output().toStdString();
    EXPECT_FALSE(serve
                     .WaitForLine(Line("BUILT-IN HTTP SERVER responses to " + lease["address"] +
                                       " with File .*cfg" + hosts[0].PlainMac()))
                     .isEmpty());
    EXPECT_TRUE(ReadFileBytes(LeaseFile()).contains(lease["address"].toLatin1()));

    // A release ends the lease.
    ASSERT_EQ(ReleasePhone(0), 0);
    EXPECT_FALSE(serve
                     .WaitForLine(Line("DHCP Server: release " + lease["address"] +
                                       " Mac: " + hosts[0].PlainMac()))
                     .isEmpty())
        << serve.Output().toStdString();
    EXPECT_TRUE(RunEventsUntil(
        [&] { return !ReadFileBytes(LeaseFile()).contains(lease["address"].toLatin1()); }, 5000));
    EXPECT_EQ(serve.Stop(), 0);
    EXPECT_TRUE(serve.Output().contains("DHCP Server stopped!\n"));
}

// Each lease is an event of its phone: a batched phone that leased and fetched is fetched at its
// leased address; a phone that only leased is seen there.
TEST_F(DhcpLab, TheRecordShowsLeasedPhonesFetchedOrSeenAtTheirAddress) {
    const QString record = state.file("provisioning.sqlite");
    const QString tpl = state.write("template.bin", "Flag=5678&CheckSum=0&P410={$pw}&end");
    const QString csv =
        state.write("phones.csv", "MAC,{$pw}\r\n" + hosts[0].PlainMac().toLatin1() + ",a\r\n");
    QByteArray err;
    ASSERT_EQ(RunProgram(BuiltProgram("orvo-cli"),
                         {"batch", "--template", tpl, "--csv", csv, "--mode", "mac", "--format",
                          "bin", "--out", root.file("cfg"), "--record", record},
                         nullptr, &err),
              0)
        << err.toStdString();
    CliProcess serve(Serve({"--port", "0", "--dhcp-range", range, "--record", record}), env);
    PortOf(serve, "HTTP");
    ASSERT_FALSE(serve.WaitForLine(Line("DHCP Server started! ")).isEmpty())
        << serve.ErrorOutput().toStdString();
    const PhoneLease fetched = LeasePhone(0, {"--host-name", "desk-0"});
    ASSERT_EQ(fetched.code, 0) << fetched.err.toStdString();
    EXPECT_EQ(Fetched(hosts[0]), Expected(hosts[0]));
    const PhoneLease seen = LeasePhone(1, {"--no-fetch", "--vendor-class", "Orvo X300 2.0.4.4"});
    ASSERT_EQ(seen.code, 0) << seen.err.toStdString();
    ASSERT_FALSE(serve.WaitForLine(Line("DHCP Server: add " + seen["address"])).isEmpty());
    EXPECT_EQ(serve.Stop(), 0);

    QStringList expected{
        hosts[0].PlainMac() + "|fetched|" + fetched["address"] + "|lease|" + fetched["address"] +
            "|desk-0",
        hosts[1].PlainMac() + "|seen||lease|" + seen["address"] + "|",
    };
    expected.sort();
    EXPECT_EQ(Sqlite3Rows(record,
                          "SELECT phone, state, fetch_peer, seen_by, seen_address, "
                          "host_name FROM phone_status ORDER BY phone"),
              expected);
    EXPECT_EQ(Sqlite3Rows(record, "SELECT vendor_class FROM leases WHERE phone = '" +
                                      hosts[1].PlainMac() + "'"),
              QStringList{"Orvo X300 2.0.4.4"});
}

TEST_F(DhcpLab, WithTheTftpServerOnlyPhonesAreToldItsUrlAndOption150) {
    CliProcess serve(Serve({"--tftp-port", "0", "--dhcp-range", range}), env);
    const QString port = PortOf(serve, "TFTP");
    ASSERT_FALSE(serve.WaitForLine(Line("DHCP Server started!.* TFTP: " + iface + "$")).isEmpty())
        << serve.Output().toStdString() << serve.ErrorOutput().toStdString();
    const PhoneLease lease = LeasePhone(1);
    ASSERT_EQ(lease.code, 0) << lease.err.toStdString();
    EXPECT_EQ(lease["option66"], "tftp://" + iface + ":" + port + "/cfg");
    EXPECT_EQ(lease["option160"], lease["option66"]);
    EXPECT_EQ(lease["option150"], iface);
    EXPECT_EQ(lease["router"], "");  // none unless given
    EXPECT_EQ(lease["dns"], "");
    EXPECT_EQ(Fetched(hosts[1]), Expected(hosts[1]));
}

TEST_F(DhcpLab, OverHttpsWithCredentialsTheUrlCarriesThemAsPlugAndPlayDoes) {
    TempDir tls;
    ASSERT_EQ(
        RunProgram(BuiltProgram("orvo-cli"), {"cert", "--address", iface, "--out", tls.path()}), 0);
    CliProcess serve(
        Serve({"--port", "0", "--tls-cert", tls.file("server.crt"), "--tls-key",
               tls.file("server.key"), "--auth", "desk:p@ss,w#rd", "--dhcp-range", range}),
        env);
    const QString port = PortOf(serve, "HTTP");
    const QString url =
        QString::fromUtf8(ConfigServerUrl(ServerSource::BuiltIn, iface.toLatin1(), port.toLatin1(),
                                          {}, ServerProtocol::Http, {true, "desk", "p@ss,w#rd"}));
    // The log shows the URL without its password.
    ASSERT_FALSE(serve
                     .WaitForLine(Line("DHCP Server started!.* URL: https://desk:\\*\\*\\*@" +
                                       iface + ":" + port + "/cfg$"))
                     .isEmpty())
        << serve.Output().toStdString() << serve.ErrorOutput().toStdString();
    const PhoneLease lease = LeasePhone(2, {"--cafile", tls.file("server.crt")});
    ASSERT_EQ(lease.code, 0) << lease.err.toStdString();
    EXPECT_EQ(lease["option66"], url);
    EXPECT_EQ(lease["option160"], url);
    EXPECT_EQ(Fetched(hosts[2]), Expected(hosts[2]));
}

TEST_F(DhcpLab, RangesThatDoNotFitTheLinkExitTwoAndStartNothing) {
    const QStringList bad = {net + "150-" + net + "100",     // reversed
                             "10.255.255.10-10.255.255.20",  // another network
                             net + "1-" + net + "20",        // holds the server
                             net + "250-" + net + "255",     // the broadcast address
                             net + "100"};
    for (const QString& r : bad) {
        SCOPED_TRACE(r.toStdString());
        QByteArray out, err;
        QProcess p;
        EXPECT_EQ(RunProgram(BuiltProgram("orvo-cli"), Serve({"--port", "0", "--dhcp-range", r}),
                             &out, &err),
                  2);
        EXPECT_EQ(err.count('\n'), 1) << err.toStdString();
        EXPECT_TRUE(err.contains("LDhcpError")) << err.toStdString();
        EXPECT_TRUE(out.isEmpty()) << out.toStdString();  // not even the HTTP server
    }
}

TEST_F(DhcpLab, AfterARestartAPhoneGetsTheSameAddress) {
    const QString wanted = net + "140";
    {
        CliProcess serve(Serve({"--port", "0", "--dhcp-range", range}), env);
        ASSERT_FALSE(serve.WaitForLine(Line("DHCP Server started!")).isEmpty())
            << serve.ErrorOutput().toStdString();
        const PhoneLease lease = LeasePhone(3, {"--request", wanted, "--forget", "--no-fetch"});
        ASSERT_EQ(lease.code, 0) << lease.err.toStdString();
        ASSERT_EQ(lease["address"], wanted);
        EXPECT_EQ(serve.Stop(), 0);
    }
    CliProcess serve(Serve({"--port", "0", "--dhcp-range", range}), env);
    // The lease file is read back: the lease is reported again.
    ASSERT_FALSE(
        serve.WaitForLine(Line("DHCP Server: renew " + wanted + " Mac: " + hosts[3].PlainMac()))
            .isEmpty())
        << serve.Output().toStdString() << serve.ErrorOutput().toStdString();
    // A phone that remembers nothing (a factory reset) asks for no address, and gets its own.
    const PhoneLease again = LeasePhone(3, {"--forget"});
    ASSERT_EQ(again.code, 0) << again.err.toStdString();
    EXPECT_EQ(again["address"], wanted);
    EXPECT_EQ(Fetched(hosts[3]), Expected(hosts[3]));
}

// Another DHCP server on the link: a dnsmasq in the silent host's namespace, for as long as it
// lives.
class OtherDhcpServer {
  public:
    OtherDhcpServer(const std::vector<LabHost>& hosts, const QString& net, const QString& leases) {
        for (size_t i = 0; i < hosts.size(); ++i)
            if (hosts[i].kind == "silent")
                index_ = int(i), address = hosts[i].address;
        if (index_ < 0)
            return;
        const QString ns =
            QString("orvo-%1-h%2").arg(qEnvironmentVariable("ORVO_LAB_RUN")).arg(index_);
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start(
            "ip", {"netns", "exec", ns, "dnsmasq", "--keep-in-foreground", "--conf-file=/dev/null",
                   "--pid-file", "--port=0", "--interface=eth0", "--log-facility=-",
                   "--dhcp-range=" + net + "200," + net + "210,600", "--dhcp-leasefile=" + leases});
        process_.waitForStarted();
        RunEventsUntil(
            [&] {
                out_ += process_.readAll();
                return out_.contains("DHCP, IP range") || process_.state() == QProcess::NotRunning;
            },
            10000);
    }
    ~OtherDhcpServer() {
        process_.terminate();
        if (!process_.waitForFinished(5000))
            process_.kill();
        process_.waitForFinished(2000);
    }
    bool Serving() const { return out_.contains("DHCP, IP range"); }
    QString address;

  private:
    int index_ = -1;
    QProcess process_;
    QByteArray out_;
};

TEST_F(DhcpLab, AnotherServerIsFoundAndServeRefusesNamingIt) {
    OtherDhcpServer other(hosts, net, state.file("other.leases"));
    ASSERT_TRUE(other.Serving()) << "the lab needs a silent host";
    DhcpProbeOptions probe;
    probe.interfaceName = "eth0";
    const DhcpProbeResult found = ProbeDhcpServers(probe);
    ASSERT_EQ(found.error, 0);
    ASSERT_EQ(found.servers.size(), 1u);
    EXPECT_EQ(Ipv4Text(found.servers[0]), other.address);

    CliProcess refused(Serve({"--port", "0", "--dhcp-range", range}), env);
    EXPECT_EQ(refused.WaitForLine(Line("DHCP Server started!"), 8000), QString());
    EXPECT_EQ(refused.Stop(), 1);
    const QByteArray err = refused.ErrorOutput();
    EXPECT_TRUE(err.contains("another DHCP server answers on eth0: " + other.address.toLatin1()))
        << err.toStdString();
    EXPECT_EQ(err.count('\n'), 1);
    EXPECT_FALSE(QFile::exists(LeaseFile()));

    // Told to go on, it serves, and says whom it serves beside.
    CliProcess beside(Serve({"--port", "0", "--dhcp-range", range, "--dhcp-ignore-other"}), env);
    EXPECT_FALSE(
        beside
            .WaitForLine(Line("DHCP Server: another DHCP server answers on eth0: " + other.address))
            .isEmpty());
    EXPECT_FALSE(beside.WaitForLine(Line("DHCP Server started!")).isEmpty())
        << beside.ErrorOutput().toStdString();
}

// The window's group, with the language files and dialogs of a test.
class WindowLab : public DhcpLab {
  protected:
    void SetUp() override {
        DhcpLab::SetUp();
        if (IsSkipped())
            return;
        ctx.localization = &localization;
        ctx.dialogs = &dialogs;
        ctx.log = &log;
        table.LoadFile(SourcePath("data/ini/lang/English"));
        log.SetLineObserver([this](const QByteArray& line) {
            std::lock_guard<std::mutex> lock(mutex);
            lines.push_back(line);
        });
    }
    bool Logged(const QString& pattern) {
        const QRegularExpression re(pattern);
        std::lock_guard<std::mutex> lock(mutex);
        for (const QByteArray& l : lines)
            if (re.match(QString::fromUtf8(l)).hasMatch())
                return true;
        return false;
    }
    LanguageTable table;
    RecordingDialogs dialogs;
    Localization localization{&table, &dialogs};
    MyLog log;
    std::mutex mutex;
    std::vector<QByteArray> lines;
    AppContext ctx;
};

TEST_F(WindowLab, TheGroupHandsOutAnExternalUrlAsGivenAndTellsEachLease) {
    // The external server: a built-in one below a folder whose name needs quoting.
    root.write("ext,1 #x/cfg" + hosts[4].PlainMac(), "external " + hosts[4].PlainMac().toUtf8());
    MyHttpServer external(root.path());
    external.Start(0, iface);
    const QByteArray url =
        ConfigServerUrl(ServerSource::External, {}, {},
                        " http://" + iface.toLatin1() + ":" + QByteArray::number(external.Port()) +
                            "/ext,1%20%23x/ ");
    DhcpServer server(state.file("dhcp"), &log);
    DhcpGroup group(ctx, server, nullptr);
    group.serving = [&] { return DhcpServing{iface, url, false, {}}; };
    std::vector<bool> states;
    group.stateChanged = [&](bool running) { states.push_back(running); };
    std::mutex m;
    std::vector<DhcpLease> leases;
    server.SetLeaseObserver([&](const DhcpLease& l) {
        std::lock_guard<std::mutex> lock(m);
        leases.push_back(l);
    });
    group.DhcpRangeEdit->setText(range);
    group.DhcpServerControlButton->click();
    EXPECT_TRUE(group.IsProbing());
    EXPECT_FALSE(group.DhcpRangeEdit->isEnabled());
    ASSERT_TRUE(RunEventsUntil([&] { return !group.IsProbing(); }, 10000));
    ASSERT_TRUE(group.IsRunning()) << dialogs.messages().join(' ').toStdString();
    EXPECT_EQ(states, std::vector<bool>{true});
    EXPECT_EQ(group.DhcpServerStateLabel->text(), "Running");

    const PhoneLease lease = LeasePhone(4, {"--vendor-class", "Orvo X300 2.0.4.4"});
    ASSERT_EQ(lease.code, 0) << lease.err.toStdString();
    EXPECT_EQ(lease["option160"].toUtf8(), url.trimmed());
    EXPECT_EQ(Fetched(hosts[4]), "external " + hosts[4].PlainMac().toUtf8());
    ASSERT_TRUE(RunEventsUntil(
        [&] {
            std::lock_guard<std::mutex> lock(m);
            return !leases.empty();
        },
        5000));
    EXPECT_EQ(leases[0].kind, DhcpLease::Kind::Add);
    EXPECT_EQ(leases[0].mac, hosts[4].PlainMac().toLatin1());
    EXPECT_EQ(leases[0].address, lease["address"].toLatin1());
    EXPECT_EQ(leases[0].vendorClass, "Orvo X300 2.0.4.4");
    EXPECT_GT(leases[0].leaseEnd, std::time(nullptr) + 3000);

    // dnsmasq ending by itself shows in the state, once.
    ASSERT_GT(group.Server().ProcessId(), 0);
    ::kill(pid_t(group.Server().ProcessId()), SIGTERM);
    ASSERT_TRUE(RunEventsUntil([&] { return states.size() == 2; }, 10000));
    EXPECT_EQ(states, (std::vector<bool>{true, false}));
    EXPECT_TRUE(group.DhcpServerStateLabel->text().startsWith("Ended: "))
        << group.DhcpServerStateLabel->text().toStdString();
    EXPECT_TRUE(Logged("^DHCP Server stopped: "));
    EXPECT_TRUE(group.DhcpRangeEdit->isEnabled());
    external.Stop();
}

TEST_F(WindowLab, AnotherServerIsAQuestionNamingIt) {
    OtherDhcpServer other(hosts, net, state.file("other.leases"));
    ASSERT_TRUE(other.Serving());
    DhcpServer server(state.file("dhcp"), &log);
    DhcpGroup group(ctx, server, nullptr);
    group.serving = [&] {
        return DhcpServing{iface, "http://" + iface.toLatin1() + ":6000/cfg", false, {}};
    };
    group.DhcpRangeEdit->setText(range);
    dialogs.answers = {false, true};
    for (const bool goOn : {false, true}) {
        SCOPED_TRACE(goOn);
        dialogs.clear();
        group.DhcpServerControlButton->click();
        ASSERT_TRUE(RunEventsUntil([&] { return !group.IsProbing(); }, 10000));
        ASSERT_EQ(dialogs.shown.size(), 1);
        EXPECT_EQ(dialogs.shown[0].kind, RecordingDialogs::Shown::Question);
        EXPECT_EQ(dialogs.shown[0].text.raw(), "LDhcpError10 " + other.address);
        EXPECT_EQ(group.IsRunning(), goOn);
        EXPECT_EQ(group.DhcpRangeEdit->isEnabled(), !goOn);
    }
    EXPECT_TRUE(Logged("^DHCP Server: another DHCP server answers on eth0: " + other.address));
}

// The main window: the DHCP group on its Servers page hands out the URL of the built-in server
// chosen there, shows its state in the top bar too, and ends with the window.
TEST_F(DhcpLab, TheWindowsServersPageHandsOutItsUrlAndEndsTheServerWithTheWindow) {
    TempDir work;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(work.path());
    work.write("ini/lang/English", ReadFileBytes(SourcePath("data/ini/lang/English")));
    work.write("ini/setting.ini", ReadFileBytes(SourcePath("data/ini/$default.ini")));
    for (const LabHost& h : hosts)
        if (h.address == "dhcp")
            work.write("server/htdocs/cfg/cfg" + h.PlainMac(), Expected(h));
    RecordingDialogs dialogs;
    auto w = std::make_unique<TForm1>(&dialogs);
    w->show();
    w->PageControl1->setCurrentWidget(w->ServerTab);
    ServerPage& page = *w->ServerTab;
    page.serverBindAddress = iface;
    page.InterfaceForServerCB->setCurrentIndex(page.InterfaceForServerCB->findText(iface));
    ASSERT_EQ(page.InterfaceForServerCB->currentText(), iface);
    DhcpGroup& dhcp = *page.DhcpServerGB;
    dhcp.DhcpRangeEdit->setText(range);

    // Nothing to hand out until the built-in server runs.
    dialogs.clear();  // the first page's, without models
    dhcp.DhcpServerControlButton->click();
    EXPECT_EQ(dialogs.messages(), QStringList{"LDhcpError11"});
    EXPECT_FALSE(dhcp.IsProbing());
    page.MyHttpServerPort->setText("6000");
    page.HttpServerControlButton->click();
    ASSERT_TRUE(page.HttpServerActive()) << dialogs.messages().join(", ").toStdString();
    dhcp.DhcpServerControlButton->click();
    ASSERT_TRUE(RunEventsUntil([&] { return !dhcp.IsProbing(); }, 10000));
    ASSERT_TRUE(dhcp.IsRunning()) << dialogs.messages().join(", ").toStdString();
    EXPECT_EQ(w->DhcpServerStatusLabel->text(), "Running");
    EXPECT_EQ(w->DhcpServerStatusLabel->palette().color(QPalette::WindowText), QColor(0, 128, 0));

    const PhoneLease lease = LeasePhone(0, {"--forget"});
    ASSERT_EQ(lease.code, 0) << lease.err.toStdString();
    EXPECT_EQ(lease["option160"], "http://" + iface + ":6000/cfg");
    EXPECT_EQ(lease["option150"], "");
    EXPECT_EQ(Fetched(hosts[0]), Expected(hosts[0]));
    ASSERT_EQ(ReleasePhone(0), 0);

    // Stopped from the group: the top bar says so.
    dhcp.DhcpServerControlButton->click();
    EXPECT_FALSE(dhcp.IsRunning());
    EXPECT_EQ(w->DhcpServerStatusLabel->text(), "Stop");
    dhcp.DhcpServerControlButton->click();
    ASSERT_TRUE(RunEventsUntil([&] { return !dhcp.IsProbing(); }, 10000));
    ASSERT_TRUE(dhcp.IsRunning()) << dialogs.messages().join(", ").toStdString();
    const qint64 engine = dhcp.Server().ProcessId();
    ASSERT_GT(engine, 0);
    // Closing the window ends the server and its engine.
    w.reset();
    EXPECT_NE(::kill(pid_t(engine), 0), 0);
    QDir::setCurrent(previous);
    EXPECT_TRUE(ReadFileBytes(work.file("ini/setting.ini"))
                    .contains("[DHCP SERVER]\r\nrange=" + range.toLatin1() + "\r\n"));
}

// Without root, the capabilities given to the program file pass on to dnsmasq; without them
// the refusal says so.
TEST_F(DhcpLab, ThePrivilegesComeFromRootOrTheProgramsCapabilities) {
    TempDir bin;
    ASSERT_TRUE(QFile::setPermissions(bin.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                      QFile::ExeOwner | QFile::ReadOther |
                                                      QFile::ExeOther));
    for (const TempDir* d : {&root, &state})
        ASSERT_EQ(QProcess::execute("chmod", {"-R", "a+rwX", d->path()}), 0);
    const QString copy = bin.file("orvo-cli");
    ASSERT_TRUE(QFile::copy(BuiltProgram("orvo-cli"), copy));
    auto run = [&](QByteArray* out, QByteArray* err) {
        out->clear();
        QProcess p;
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert("XDG_DATA_HOME", state.path());
        p.setProcessEnvironment(e);
        p.start("setpriv", QStringList{"--reuid=65534", "--regid=65534", "--clear-groups",
                                       "--inh-caps=-all", copy} +
                               Serve({"--port", "0", "--dhcp-range", range}));
        p.waitForStarted();
        RunEventsUntil(
            [&] {
                *out += p.readAllStandardOutput();
                return out->contains("DHCP Server started!") || p.state() == QProcess::NotRunning;
            },
            15000);
        p.terminate();
        p.waitForFinished(10000);
        *out += p.readAllStandardOutput();
        *err = p.readAllStandardError();
        return p.exitCode();
    };
    QByteArray out, err;
    EXPECT_EQ(run(&out, &err), 1);
    EXPECT_TRUE(err.contains("LDhcpError8")) << err.toStdString();
    EXPECT_TRUE(out.contains("DHCP Server not started: it needs root or the capabilities"))
        << out.toStdString();

    ASSERT_EQ(
        QProcess::execute("setcap", {"cap_net_bind_service,cap_net_raw,cap_net_admin+ep", copy}),
        0);
    EXPECT_EQ(run(&out, &err), 0) << err.toStdString() << out.toStdString();
    EXPECT_TRUE(out.contains("DHCP Server started!")) << out.toStdString();
    EXPECT_TRUE(out.contains("DHCP Server stopped!")) << out.toStdString();
}

// 200 phones asking at once (one generator of distinct MACs in the silent host's namespace):
// every one is leased, and every lease reaches the log.
TEST(DhcpLoad, TwoHundredPhonesAskingAtOnceAreAllLeased) {
    const QString iface = qEnvironmentVariable("ORVO_LAB_IFACE");
    const std::vector<LabHost> hosts = ReadLabManifest(qEnvironmentVariable("ORVO_LAB_MANIFEST"));
    if (iface.isEmpty() || hosts.size() != 1 || hosts[0].kind != "silent")
        GTEST_SKIP() << "needs a lab of one silent host (tests/lab/lab.sh --phones 0 --others 0 "
                        "--silent 1)";
    const QString net = iface.section('.', 0, 2) + ".";
    TempDir root, state;
    QProcessEnvironment env;
    env.insert("XDG_DATA_HOME", state.path());
    CliProcess serve({"serve", "--root", root.path(), "--port", "0", "--bind", iface,
                      "--dhcp-range", net + "10-" + net + "250"},
                     env);
    ASSERT_FALSE(serve.WaitForLine(QRegularExpression("DHCP Server started!")).isEmpty())
        << serve.ErrorOutput().toStdString();
    QByteArray out, err;
    const int code = RunProgram(
        "ip",
        {"netns", "exec", QString("orvo-%1-h0").arg(qEnvironmentVariable("ORVO_LAB_RUN")),
         "/usr/bin/python3", SourcePath("tests/lab/dhcp_flood.py"), "--count", "200", "--limit",
         "120"},
        &out, &err);
    EXPECT_EQ(code, 0) << out.toStdString() << err.toStdString();
    EXPECT_TRUE(out.contains("\"leased\": 200, \"distinct\": 200, \"naks\": 0"))
        << out.toStdString();
    // Every lease is told (the script's records arrive after the ACKs).
    EXPECT_TRUE(RunEventsUntil(
        [&] {
            serve.WaitForLine(QRegularExpression("^$"), 50);
            return serve.Output().count("DHCP Server: add ") >= 200;
        },
        20000))
        << serve.Output().count("DHCP Server: add ");
    EXPECT_EQ(serve.Stop(), 0);
    EXPECT_EQ(serve.Output().count("DHCP Server: add "), 200);
}

}  // namespace
