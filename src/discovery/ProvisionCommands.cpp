#include "discovery/ProvisionCommands.h"

#include "app/MyLog.h"
#include "discovery/CmdDevBySipThread.h"
#include "record/PhoneKey.h"
#include "record/ProvisioningRecord.h"

namespace {

QString selectionError(const std::vector<SelectedDevice>& selection) {
    if (selection.empty())
        return "LDDProError1";
    if (selection.front().address.isEmpty())
        return "LDDProError2";
    return {};
}

const char* logPrefix(bool mac, bool builtIn, ServerProtocol protocol) {
    const bool tftp = protocol == ServerProtocol::Tftp;
    if (mac)
        return !builtIn ? "Manual Prov: MAC MODE, EXTERNAL HTTP SERVER. "
               : tftp   ? "Manual Prov: MAC MODE, BUILT-IN TFTP SERVER. IP: "
                        : "Manual Prov: MAC MODE, BUILT-IN HTTP SERVER. IP: ";
    return !builtIn ? "Manual Prov: PIN MODE, EXTERNAL HTTP SERVER. "
           : tftp   ? "Manual Prov: PIN MODE, BUILT-IN TFTP SERVER. "
                    : "Manual Prov: PIN MODE, BUILT-IN HTTP SERVER. ";
}

void record(ProvisioningRecord* record, RecordEvent::Kind kind, const SelectedDevice& device,
            const QByteArray& url = {}) {
    if (!record)
        return;
    RecordEvent e;
    e.kind = kind;
    e.phone = PhoneOfMac(device.mac);
    e.address = device.address;
    e.url = url;
    record->Add(std::move(e));
}

}  // namespace

QString ProvisionDevices(const std::vector<SelectedDevice>& selection, const ProvisionOptions& o,
                         MyLog* log) {
    QString error = selectionError(selection);
    if (!error.isEmpty())
        return error;
    if (o.builtInServer && !o.builtInServerActive && o.storedHttpMode == "0")
        return o.protocol == ServerProtocol::Tftp ? "LDDProError5" : "LDDProError3";
    if (!o.builtInServer && o.externalUrl.isEmpty())
        return "LDDProError4";
    if (o.mode == ProvisionOptions::Mode::None)
        return {};
    const bool mac = o.mode == ProvisionOptions::Mode::Mac;
    const DeviceCommandKind kind =
        mac ? DeviceCommandKind::ProvisionMac : DeviceCommandKind::ProvisionPin;
    const QByteArray url =
        ConfigServerUrl(o.builtInServer ? ServerSource::BuiltIn : ServerSource::External,
                        o.interfaceText, o.portText, o.externalUrl, o.protocol, o.access);
    for (size_t i = 0; i < selection.size(); ++i) {
        const SelectedDevice& device = selection[i];
        auto* command =
            new CmdDevBySipThread(kind, static_cast<int32_t>(i), o.phonePort, device.address);
        const QByteArray user =
            ConvertMacText(device.mac, MacForm::Separated, MacForm::MacPrefixed);
        command->SetUser(user);
        command->SetBody(url);
        if (log)
            log->Write(logPrefix(mac, o.builtInServer, o.protocol) + LogSafeText(device.address) +
                       " " + LogSafeText(user) + ", content = " + UrlWithoutPassword(url));
        command->Start();
        record(o.record, o.recordKind, device, UrlWithoutPassword(DeviceCommandBody(kind, url)));
    }
    return {};
}

QString RefreshDevices(const std::vector<SelectedDevice>& selection,
                       std::shared_ptr<NoticeGate> notices, int phonePort,
                       ProvisioningRecord* recordTo) {
    QString error = selectionError(selection);
    if (!error.isEmpty())
        return error;
    for (const SelectedDevice& device : selection) {
        auto* command = new CmdDevBySipThread(DeviceCommandKind::OnlineCheck, device.row, phonePort,
                                              device.address, notices);
        command->SetUser(device.mac);
        command->SetIdentity(device.mac);
        command->Start();
        record(recordTo, RecordEvent::Kind::Refresh, device);
    }
    return {};
}
