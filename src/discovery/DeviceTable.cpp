#include "discovery/DeviceTable.h"

void DeviceTable::Add(int number, const Tag_DevInfo& device) {
    devices_[number] = device;
    macIndex_.Set(number, device.mac);
    onlineIndex_.Set(number, device.online);
}

const Tag_DevInfo* DeviceTable::Find(int number) const {
    const auto it = devices_.find(number);
    return it == devices_.end() ? nullptr : &it->second;
}

std::vector<int> DeviceTable::Numbers() const {
    std::vector<int> out;
    out.reserve(devices_.size());
    for (const auto& entry : devices_)
        out.push_back(entry.first);
    return out;
}

bool DeviceTable::SetOnline(int number, uint8_t online) {
    const auto it = devices_.find(number);
    if (it == devices_.end())
        return false;
    it->second.online = online;
    onlineIndex_.Set(number, online);
    return true;
}

bool DeviceTable::SetVendor(int number, const QString& vendor) {
    const auto it = devices_.find(number);
    if (it == devices_.end())
        return false;
    it->second.vendor = vendor;
    vendorIndex_.Set(number, vendor);
    return true;
}

bool DeviceTable::SetModel(int number, const QString& model) {
    const auto it = devices_.find(number);
    if (it == devices_.end())
        return false;
    it->second.model = model;
    modelIndex_.Set(number, model);
    return true;
}

bool DeviceTable::SetVersion(int number, const QString& version) {
    const auto it = devices_.find(number);
    if (it == devices_.end())
        return false;
    it->second.version = version;
    versionIndex_.Set(number, version);
    return true;
}

void DeviceTable::Clear() {
    devices_.clear();
    macIndex_.Clear();
    onlineIndex_.Clear();
    vendorIndex_.Clear();
    modelIndex_.Clear();
    versionIndex_.Clear();
}
