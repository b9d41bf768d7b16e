#include "discovery/DiscoveryDriver.h"

#include "app/Dialogs.h"
#include "app/MyLog.h"
#include "app/Notices.h"
#include "discovery/CmdDevBySipThread.h"
#include "discovery/DiscoveryView.h"
#include "discovery/IpMacListManageThread.h"
#include "discovery/QueryDevInfoBySipThread.h"
#include "record/PhoneKey.h"
#include "record/ProvisioningRecord.h"

namespace {

void StartSipQuery(int row, int port, const QString& address, std::shared_ptr<NoticeGate> notices,
                   uint32_t run) {
    auto query = QueryDevInfoBySipThread::Create(row, port, address, std::move(notices));
    query->SetRun(run);
    query->Start();
}

}  // namespace

DiscoveryDriver::DiscoveryDriver(NoticeTransport& notices, Dialogs& dialogs, MyLog* log,
                                 DiscoveryView& view)
    : transport_(notices),
      dialogs_(dialogs),
      log_(log),
      view_(view),
      gate_(std::make_shared<NoticeGate>(&notices)),
      startQuery_(StartSipQuery) {
    transport_.SetHandler(DeviceFoundNotice, [this](int, const void* record) {
        if (record)
            OnDeviceFound(*static_cast<const DeviceFoundRecord*>(record));
    });
    transport_.SetHandler(SweepDoneNotice, [this](int, const void*) { OnSweepDone(); });
    transport_.SetHandler(DeviceInfoNotice, [this](int, const void* record) {
        OnDeviceInfo(static_cast<const DeviceInfoRecord*>(record));
    });
    transport_.SetHandler(RefreshResultNotice, [this](int, const void* record) {
        if (record)
            OnRefreshResult(*static_cast<const RefreshResult*>(record));
    });
}

DiscoveryDriver::~DiscoveryDriver() {
    transport_.RemoveHandler(DeviceFoundNotice);
    transport_.RemoveHandler(SweepDoneNotice);
    transport_.RemoveHandler(DeviceInfoNotice);
    transport_.RemoveHandler(RefreshResultNotice);
    gate_->Close();
    manager_.reset();
}

QStringList DiscoveryDriver::ReadNetworks(const InterfaceReader& reader) {
    if (!reader(&table_)) {
        table_.clear();
        dialogs_.messageText("Sorry, can not get IP table!");
    }
    QStringList networks;
    for (const InterfaceRow& row : table_) {
        const QString text = row.AddressText();
        if (text != "127.0.0.1")
            networks << text;
    }
    return networks;
}

SweepRange DiscoveryDriver::RangeOf(const QString& networkText) const {
    const InterfaceRow* row = FindInterfaceRow(table_, networkText);
    return row ? SweepRangeOf(row->address, row->mask) : SweepRange{};
}

QString DiscoveryDriver::MacFilterOf(const MacFilterChoice& choice, QString* vendorName) {
    switch (choice.mode) {
        case MacFilterChoice::Mode::Predefined: {
            const QString& entry = choice.predefinedEntry;
            if (entry.isEmpty())
                return {};
            const qsizetype open = entry.indexOf('(');
            *vendorName = open < 0 ? entry : entry.left(open);
            if (open < 0)
                return {};
            const qsizetype close = entry.indexOf(')', open + 1);
            return entry.mid(open + 1, close < 0 ? -1 : close - open - 1);
        }
        case MacFilterChoice::Mode::Input:
            return choice.input.trimmed().toLower();
        case MacFilterChoice::Mode::None:
            break;
    }
    return {};
}

void DiscoveryDriver::SetState(int state, const QString& progressKey, const QString& buttonKey) {
    view_.ShowCaptions(progressKey, buttonKey);
    state_ = state;
}

void DiscoveryDriver::SetStopTimer(bool on) {
    stopTimerOn_ = on;
    view_.SetStopTimer(on, kStopTimerMs);
}

void DiscoveryDriver::Log(const QString& line) {
    if (log_)
        log_->Write(line);
}

void DiscoveryDriver::Record(RecordEvent::Kind kind, const Tag_DevInfo& device, int online) {
    if (!record_)
        return;
    RecordEvent e;
    e.kind = kind;
    e.phone = PhoneOfMac(device.mac.toLatin1());
    e.address = device.address.toLatin1();
    e.model = device.model == kUnknown ? QByteArray() : device.model.toUtf8();
    e.version = device.version == kUnknown ? QByteArray() : device.version.toUtf8();
    e.online = online;
    record_->Add(std::move(e));
}

void DiscoveryDriver::ResetRun() {
    ++run_;
    sweepFinished_ = false;
    view_.SetSweepFinished(false);
    devices_.Clear();
    foundCount_ = 0;
    answeredCount_ = 0;
    SetStopTimer(false);
    view_.ResetDevices();
}

void DiscoveryDriver::StartManager(const DiscoveryRequest& request) {
    macFilter_ = MacFilterOf(request.filter, &vendorName_);
    if (!arp_)
        arp_ = MakeSystemArpResolver();
    manager_ = std::make_unique<IpMacListManageThread>(request.networkText, table_, arp_, gate_);
    manager_->SetFilter(macFilter_);
    manager_->Start();
}

void DiscoveryDriver::DDButtonClick(const DiscoveryRequest& request) {
    if (state_ == DiscoveryIdle && !manager_) {
        ResetRun();
        const int64_t n = RangeOf(request.networkText).ShownSize();
        if (n > kTooManyAddresses) {
            UiText text = UiText::key("LMsgTooMuchPart1");
            text.addLiteral(QString::number(n)).addKey("LMsgTooMuchPart2");
            if (!dialogs_.question(text, UiText::key("LContinueQ"), Dialogs::Buttons::OkCancel))
                return;
        }
        StartManager(request);
        SetState(DiscoverySearching, "LDDSearching", "LDDStopSearching");
        Log("DD: Net: " + request.networkText + " Mac filter:" + macFilter_ + " Will search " +
            QString::number(n) + " IPs");
        lastNetworkIndex_ = request.networkIndex;
    } else if (state_ == DiscoveryIdle) {
        if (request.networkIndex == lastNetworkIndex_ &&
            !dialogs_.question(UiText::key("LMsgNetSame"), UiText::key("LContinueQ"),
                               Dialogs::Buttons::OkCancel))
            return;
        ResetRun();
        SetState(DiscoveryStopping, "LDDCleaning", "LDDWait");
        view_.SetButtonEnabled(false);
        manager_->RequestStop();
        manager_->Terminate();
        manager_->WaitFor();
        manager_.reset();
        StartManager(request);
        SetState(DiscoverySearching, "LDDSearching", "LDDStopSearching");
        view_.SetButtonEnabled(true);
        Log("DD: Net: " + request.networkText + " Mac filter:" + macFilter_);
        lastNetworkIndex_ = request.networkIndex;
    } else if (state_ == DiscoverySearching) {
        SetState(DiscoveryStopping, "LDDProStopping", "LDDStopping");
        manager_->RequestStop();
        view_.SetButtonEnabled(false);
        if (manager_->WaitFor() == 1) {
            SetState(DiscoveryIdle, "DiscoverProgressLabel", "DDButton");
            view_.SetButtonEnabled(true);
            sweepFinished_ = true;
            view_.SetSweepFinished(true);
            view_.RepaintDevices();
        }
        SetStopTimer(false);
        Log("DD: Stop manually.");
    }
}

void DiscoveryDriver::OnDeviceFound(const DeviceFoundRecord& record) {
    const int r = ++foundCount_;
    Tag_DevInfo device;
    device.online = 1;
    device.vendor = vendorName_;
    device.model = kUnknown;
    device.address = Ipv4Text(record.address);
    device.mac = record.mac;
    device.version = kUnknown;
    devices_.Add(r, device);
    view_.DeviceAdded(r, device);
    startQuery_(r, kSipPort, device.address, gate_, run_);
}

void DiscoveryDriver::OnSweepDone() {
    SetState(DiscoveryQuerying, "LDDDoing", "LDDBtnWait");
    view_.SetButtonEnabled(false);
    sweepFinished_ = true;
    view_.SetSweepFinished(true);
    SetStopTimer(true);
    Log("DD: Device list filled!");
}

void DiscoveryDriver::OnDeviceInfo(const DeviceInfoRecord* record) {
    if (state_ == DiscoveryIdle || (sweepFinished_ && !stopTimerOn_))
        return;
    // An answer to a probe of an earlier run says nothing about this run's rows.
    if (record && record->run != run_)
        return;
    ++answeredCount_;
    if (record && record->hasInfo && devices_.Find(record->row)) {
        const int r = record->row;
        devices_.SetVendor(r, record->vendor.isEmpty() ? vendorName_ : record->vendor);
        devices_.SetModel(r, record->model);
        devices_.SetVersion(r, record->version);
        view_.DeviceChanged(r, *devices_.Find(r));
        Record(RecordEvent::Kind::Discovery, *devices_.Find(r), 1);
    }
    if (sweepFinished_ && answeredCount_ >= foundCount_)
        FinishRun("DD: Query devices info finished!");
}

void DiscoveryDriver::DDStopTimerTimer() {
    if (state_ == DiscoveryQuerying)
        FinishRun("DD: Query devices info finished cause of timeout!");
}

void DiscoveryDriver::FinishRun(const char* logLine) {
    SetState(DiscoveryIdle, "DiscoverProgressLabel", "DDButton");
    view_.SetButtonEnabled(true);
    dialogs_.message(UiText::key("LDDMsgDDFinished"), UiText::key("LDDMsgFinished"));
    SetStopTimer(false);
    view_.RepaintDevices();
    Log(logLine);
}

void DiscoveryDriver::OnRefreshResult(const RefreshResult& result) {
    const std::vector<int> numbers = devices_.NumbersByMac(result.info.identity);
    if (numbers.empty())
        return;  // the table was rebuilt meanwhile
    const int number = numbers.front();
    const Tag_DevInfo* device = devices_.Find(number);
    bool changed = false;
    if (result.online) {
        if (device->online != 1)
            changed = devices_.SetOnline(number, 1);
        if (!result.info.version.isEmpty() && result.info.version != device->version)
            changed = devices_.SetVersion(number, result.info.version) || changed;
    } else if (device->online) {
        changed = devices_.SetOnline(number, 0);
    }
    // The model column is never changed by a refresh; the row shows the table's values.
    if (changed)
        view_.DeviceChanged(number, *devices_.Find(number));
    // The answer as the phone gave it: its version, not the one the table may keep.
    Tag_DevInfo answered = *devices_.Find(number);
    answered.model = kUnknown;
    answered.version = result.online ? result.info.version : QString();
    Record(RecordEvent::Kind::Refreshed, answered, result.online);
}
