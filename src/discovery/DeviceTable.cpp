#include "discovery/DeviceTable.h"

#include <algorithm>

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

std::vector<int> DeviceTable::Filtered(const DeviceFilter& filter) const {
    std::vector<std::vector<int>> lists;
    if (filter.online)
        lists.push_back(NumbersByOnline(*filter.online));
    if (filter.vendor)
        lists.push_back(NumbersByVendor(*filter.vendor));
    if (filter.model)
        lists.push_back(NumbersByModel(*filter.model));
    if (filter.version)
        lists.push_back(NumbersByVersion(*filter.version));
    lists.erase(std::remove_if(lists.begin(), lists.end(),
                               [](const std::vector<int>& l) { return l.empty(); }),
                lists.end());
    if (lists.empty())
        return Numbers();
    std::stable_sort(lists.begin(), lists.end(),
                     [](const auto& a, const auto& b) { return a.size() < b.size(); });
    std::vector<int> result;
    for (const int number : lists[0]) {
        const bool everywhere =
            std::all_of(lists.begin() + 1, lists.end(), [number](const std::vector<int>& l) {
                return std::find(l.begin(), l.end(), number) != l.end();
            });
        if (everywhere)
            result.push_back(number);
    }
    return result;
}
