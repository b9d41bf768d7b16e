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

template <typename Value>
bool DeviceTable::SetValue(int number, Value Tag_DevInfo::*field, DeviceValueIndex<Value>& index,
                           const Value& value) {
    const auto it = devices_.find(number);
    if (it == devices_.end())
        return false;
    it->second.*field = value;
    index.Set(number, value);
    return true;
}

bool DeviceTable::SetOnline(int number, uint8_t online) {
    return SetValue(number, &Tag_DevInfo::online, onlineIndex_, online);
}

bool DeviceTable::SetVendor(int number, const QString& vendor) {
    return SetValue(number, &Tag_DevInfo::vendor, vendorIndex_, vendor);
}

bool DeviceTable::SetModel(int number, const QString& model) {
    return SetValue(number, &Tag_DevInfo::model, modelIndex_, model);
}

bool DeviceTable::SetVersion(int number, const QString& version) {
    return SetValue(number, &Tag_DevInfo::version, versionIndex_, version);
}

void DeviceTable::Clear() {
    devices_.clear();
    macIndex_.Clear();
    onlineIndex_.Clear();
    vendorIndex_.Clear();
    modelIndex_.Clear();
    versionIndex_.Clear();
}
