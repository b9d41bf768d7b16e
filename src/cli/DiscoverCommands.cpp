// orvo-cli discover: a discovery run of the Devices Online page without the window, its rows
// printed when the run has finished.
#include "cli/Cli.h"
#include "cli/CliRecord.h"

#include "app/Dialogs.h"
#include "app/Notices.h"
#include "discovery/DiscoveryDriver.h"
#include "discovery/DiscoveryView.h"

#include <QElapsedTimer>
#include <QTimer>
#include <map>
#include <optional>

namespace {

// Messages go to stderr; the finish message is the summary line instead. Questions are
// answered by the command line (--yes).
class ConsoleDialogs : public Dialogs {
  public:
    explicit ConsoleDialogs(bool yes) : yes_(yes) {}
    void message(const UiText& text, const UiText&) override {
        if (text.keys() != QStringList{"LDDMsgDDFinished"})
            CliFail("discover", text.raw());
    }
    bool question(const UiText&, const UiText&, Buttons) override { return yes_; }
    QString openFile(const QString&) override { return {}; }
    QStringList openFiles(const QString&) override { return {}; }
    QString saveFile(const QString&, const QString&) override { return {}; }
    QString chooseFolder(const UiText&) override { return {}; }

  private:
    bool yes_;
};

// The grid's rows in memory, DDStopTimer as a timer of the event loop, and the sweep's end.
class ConsoleView : public DiscoveryView {
  public:
    explicit ConsoleView(std::function<void()> onTimer) {
        timer_.setSingleShot(false);
        QObject::connect(&timer_, &QTimer::timeout, std::move(onTimer));
        clock_.start();
    }
    void ShowCaptions(const QString&, const QString&) override {}
    void SetButtonEnabled(bool) override {}
    void SetStopTimer(bool on, int ms) override {
        if (on)
            timer_.start(ms);
        else
            timer_.stop();
    }
    void ResetDevices() override { rows.clear(); }
    void DeviceAdded(int number, const Tag_DevInfo& device) override { rows[number] = device; }
    void DeviceChanged(int number, const Tag_DevInfo& device) override { rows[number] = device; }
    void RepaintDevices() override {}
    void SetSweepFinished(bool finished) override {
        if (finished && sweepMs < 0)
            sweepMs = clock_.elapsed();
    }

    std::map<int, Tag_DevInfo> rows;
    qint64 sweepMs = -1;

  private:
    QTimer timer_;
    QElapsedTimer clock_;
};

QString Seconds(qint64 ms) {
    return QString::number(static_cast<double>(ms) / 1000.0, 'f', 2) + " s";
}

int discover(const CliArgs& args) {
    const QString iface = args.value("iface");

    QElapsedTimer run;
    run.start();
    NoticeTransport transport;
    ConsoleDialogs dialogs(args.has("yes"));
    DiscoveryDriver* driverRef = nullptr;
    ConsoleView view([&] { driverRef->DDStopTimerTimer(); });
    std::optional<CliRecord> record;  // made once the arguments hold
    DiscoveryDriver driver(transport, dialogs, nullptr, view);
    driverRef = &driver;

    const QStringList networks = driver.ReadNetworks();
    const int index = static_cast<int>(networks.indexOf(iface));
    if (index < 0)
        return CliFail("discover", iface + " is not an address of this computer's networks");
    const SweepRange range = driver.RangeOf(iface);
    if (!range.Sweepable())
        return CliFail("discover", "the network of " + iface + " has no addresses to sweep");
    if (range.ShownSize() > DiscoveryDriver::kTooManyAddresses && !args.has("yes"))
        return CliFail("discover", "the network of " + iface + " has " +
                                       QString::number(range.Count()) +
                                       " addresses; add --yes to sweep them");

    record.emplace(args);
    driver.SetRecord(record->get());
    DiscoveryRequest request;
    request.networkIndex = index;
    request.networkText = iface;
    if (args.has("filter")) {
        request.filter.mode = MacFilterChoice::Mode::Input;
        request.filter.input = args.value("filter");
    }
    std::shared_ptr<ArpResolver> arp = MakeSystemArpResolver();
    if (arp->Name() != "raw")
        CliFail("discover",
                "no packet socket (CAP_NET_RAW): ARP through the kernel's neighbour "
                "table, which is slower");
    driver.SetArpResolver(arp);
    driver.DDButtonClick(request);
    // Done when the run has finished, or as soon as the sweep has ended and every probe has
    // answered (the page's run waits for its timer then; a script need not).
    WaitHandlingNotices(
        [&] {
            return driver.DiscoveryState() == DiscoveryIdle ||
                   (driver.SweepFinished() && driver.AnsweredCount() >= driver.FoundCount());
        },
        5);

    for (const auto& [number, d] : view.rows)
        CliPrint(QStringList{QString::number(number), d.online ? "ON" : "OFF", d.vendor, d.model,
                             d.address, d.mac, d.version}
                     .join('\t'));
    CliPrint("hosts found: " + QString::number(view.rows.size()) +
             ", sweep: " + Seconds(view.sweepMs) + ", run: " + Seconds(run.elapsed()));
    return 0;
}

const CliRegistration discoverCommand(
    "discover",
    {"Find the phones on the network of a local address, as the Devices Online page does; sends "
     "packets: run it on a network of your own.",
     {{"iface", "ADDR", "one of this computer's addresses (not 127.0.0.1)", true},
      {"filter", "PREFIX", "the MAC filter, as typed on the page (0a-1b-2c-)"},
      {"yes", {}, "sweep a network of more than 1000 addresses"},
      {"record", "FILE", "record the events in this provisioning record (SQLite)"}},
     {},
     discover});

}  // namespace
