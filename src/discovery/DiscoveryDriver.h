#pragma once

#include "app/InterfaceTable.h"
#include "discovery/ArpResolver.h"
#include "discovery/DeviceTable.h"
#include "discovery/DiscoveryRecords.h"
#include "discovery/SweepRange.h"
#include "record/RecordEvents.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class Dialogs;
class DiscoveryView;
class IpMacListManageThread;
class MyLog;
class NoticeGate;
class NoticeTransport;
class ProvisioningRecord;
struct RefreshResult;

// DiscoveryState values.
enum DiscoveryStateValue : int {
    DiscoveryIdle = 0,
    DiscoverySearching = 1,
    DiscoveryQuerying = 2,
    DiscoveryStopping = -1,
};

// The MAC filter controls of the page at the moment of a click.
struct MacFilterChoice {
    enum class Mode { None, Predefined, Input };
    Mode mode = Mode::None;
    // The selected entry of MacFilterPredefinedCb ("Vendor(0a-1b-2c)"); empty when none is.
    QString predefinedEntry;
    // The text of MacFilterInputEdit.
    QString input;
};

// What DDButtonClick reads from the page.
struct DiscoveryRequest {
    int networkIndex = -1;  // selected index of SelfAddressComboBox
    QString networkText;    // its text, the own address on the network
    MacFilterChoice filter;
};

// The discovery run of the Devices Online page, without the window: the run's state, the
// device table behind the grid, the sweep manager, and the handlers of the page's button and
// timer and of the notices DeviceFoundNotice, SweepDoneNotice and DeviceInfoNotice. It lives
// on the main thread, the thread of the notice transport.
class DiscoveryDriver {
  public:
    static constexpr int kSipPort = 60000;
    static constexpr int kStopTimerMs = 12000;
    static constexpr int kTooManyAddresses = 1000;

    // Starts a probe: (row, port, address, notices, run).
    using QueryStarter = std::function<void(int row, int port, const QString& address,
                                            std::shared_ptr<NoticeGate> notices, uint32_t run)>;
    using InterfaceReader = std::function<bool(std::vector<InterfaceRow>*)>;

    // log may be null. Registers the three notice handlers on the transport.
    DiscoveryDriver(NoticeTransport& notices, Dialogs& dialogs, MyLog* log, DiscoveryView& view);
    // Removes the handlers, lets no later notice through, stops a sweep that still runs.
    ~DiscoveryDriver();
    DiscoveryDriver(const DiscoveryDriver&) = delete;
    DiscoveryDriver& operator=(const DiscoveryDriver&) = delete;

    // The ARP layer of the sweeps (default: the system's, made at the first run).
    void SetArpResolver(std::shared_ptr<ArpResolver> arp) { arp_ = std::move(arp); }
    // The probe of each found device (default: a QueryDevInfoBySipThread).
    void SetQueryStarter(QueryStarter starter) { startQuery_ = std::move(starter); }
    // Where probe and refresh answers are recorded (none: not recorded).
    void SetRecord(ProvisioningRecord* record) { record_ = record; }

    // The first showing of the page: reads the interface table (a failure shows "Sorry, can
    // not get IP table!" and leaves it empty) and gives the network list for
    // SelfAddressComboBox: every address in table order except 127.0.0.1.
    QStringList ReadNetworks(const InterfaceReader& reader = ReadInterfaceTable);
    const std::vector<InterfaceRow>& InterfaceTable() const { return table_; }
    // The range of a network of the list (empty when the text is not in the table).
    SweepRange RangeOf(const QString& networkText) const;

    void DDButtonClick(const DiscoveryRequest& request);
    void DDStopTimerTimer();

    // The notice handlers (also reached through the transport).
    void OnDeviceFound(const DeviceFoundRecord& record);
    void OnSweepDone();
    void OnDeviceInfo(const DeviceInfoRecord* record);
    // The answer of a refresh command: online state and version of the device with that MAC.
    void OnRefreshResult(const RefreshResult& result);

    // The way workers of this driver (probes, refresh commands) report to the main thread.
    std::shared_ptr<NoticeGate> Gate() const { return gate_; }

    // The filter of a run and the vendor name it leaves (kept when no entry gives one).
    static QString MacFilterOf(const MacFilterChoice& choice, QString* vendorName);

    int DiscoveryState() const { return state_; }
    int FoundCount() const { return foundCount_; }
    int AnsweredCount() const { return answeredCount_; }
    bool SweepFinished() const { return sweepFinished_; }
    QString CurrentMacFilter() const { return macFilter_; }
    int LastNetworkIndex() const { return lastNetworkIndex_; }
    bool HasManager() const { return manager_ != nullptr; }
    const IpMacListManageThread* Manager() const { return manager_.get(); }
    uint32_t Run() const { return run_; }
    const DeviceTable& Devices() const { return devices_; }
    DeviceTable& Devices() { return devices_; }

  private:
    void SetState(int state, const QString& progressKey, const QString& buttonKey);
    void SetStopTimer(bool on);
    void ResetRun();
    void StartManager(const DiscoveryRequest& request);
    void FinishRun(const char* logLine);
    void Log(const QString& line);
    void Record(RecordEvent::Kind kind, const Tag_DevInfo& device, int online);

    NoticeTransport& transport_;
    Dialogs& dialogs_;
    MyLog* log_;
    DiscoveryView& view_;
    std::shared_ptr<NoticeGate> gate_;
    std::shared_ptr<ArpResolver> arp_;
    QueryStarter startQuery_;
    ProvisioningRecord* record_ = nullptr;
    std::vector<InterfaceRow> table_;

    int state_ = DiscoveryIdle;
    int foundCount_ = 0;
    int answeredCount_ = 0;
    bool sweepFinished_ = false;
    bool stopTimerOn_ = false;
    QString vendorName_ = kUnknown;
    QString macFilter_;
    int lastNetworkIndex_ = 0;
    uint32_t run_ = 0;
    std::unique_ptr<IpMacListManageThread> manager_;
    DeviceTable devices_;
};
