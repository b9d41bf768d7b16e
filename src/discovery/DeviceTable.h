#pragma once

#include <QString>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

// One found device, as the grid shows it.
struct Tag_DevInfo {
    uint8_t online = 0;  // 1 online, 0 offline
    QString vendor;
    QString model;
    QString address;
    QString mac;
    QString version;
};

// Device numbers by value, the numbers of one value in the order they were entered. A device
// stands under at most one value; moving it to another value appends it there.
template <typename Value>
class DeviceValueIndex {
  public:
    void Set(int number, const Value& value) {
        const auto at = current_.find(number);
        if (at != current_.end()) {
            if (at->second == value)
                return;
            Erase(number);
        }
        byValue_.emplace(value, number);
        current_[number] = value;
    }
    void Erase(int number) {
        const auto at = current_.find(number);
        if (at == current_.end())
            return;
        const auto range = byValue_.equal_range(at->second);
        for (auto it = range.first; it != range.second; ++it) {
            if (it->second == number) {
                byValue_.erase(it);
                break;
            }
        }
        current_.erase(at);
    }
    std::vector<int> Numbers(const Value& value) const {
        std::vector<int> out;
        const auto range = byValue_.equal_range(value);
        for (auto it = range.first; it != range.second; ++it)
            out.push_back(it->second);
        return out;
    }
    void Clear() {
        byValue_.clear();
        current_.clear();
    }

  private:
    std::multimap<Value, int> byValue_;  // equal keys keep their insertion order
    std::map<int, Value> current_;
};

// The values chosen in the grid's column filters; an empty one filters nothing.
struct DeviceFilter {
    std::optional<uint8_t> online;
    std::optional<QString> vendor;
    std::optional<QString> model;
    std::optional<QString> version;
};

// The devices of the current discovery run, keyed by device number (1, 2, 3, ... in the order
// they were found), with the MAC index and the value indexes of the grid's column filters.
// Main thread only.
class DeviceTable {
  public:
    // Stores a newly found device; enters it in the MAC index and the online index.
    void Add(int number, const Tag_DevInfo& device);
    const Tag_DevInfo* Find(int number) const;
    bool Empty() const { return devices_.empty(); }
    int Count() const { return static_cast<int>(devices_.size()); }
    // Every device number in ascending order.
    std::vector<int> Numbers() const;
    const std::map<int, Tag_DevInfo>& Devices() const { return devices_; }

    // Change one value of a device and move it in that value's index. False for an unknown
    // number.
    bool SetOnline(int number, uint8_t online);
    bool SetVendor(int number, const QString& vendor);
    bool SetModel(int number, const QString& model);
    bool SetVersion(int number, const QString& version);

    // Device numbers by MAC text, in the order found.
    std::vector<int> NumbersByMac(const QString& mac) const { return macIndex_.Numbers(mac); }
    std::vector<int> NumbersByOnline(uint8_t online) const { return onlineIndex_.Numbers(online); }
    std::vector<int> NumbersByVendor(const QString& v) const { return vendorIndex_.Numbers(v); }
    std::vector<int> NumbersByModel(const QString& m) const { return modelIndex_.Numbers(m); }
    std::vector<int> NumbersByVersion(const QString& v) const { return versionIndex_.Numbers(v); }
    // The devices that hold every value chosen, in the order the fewest of them were entered
    // under theirs; every device (ascending) when none is chosen. A value that no device has
    // any more filters nothing.
    std::vector<int> Filtered(const DeviceFilter& filter) const;

    void Clear();

  private:
    template <typename Value>
    bool SetValue(int number, Value Tag_DevInfo::*field, DeviceValueIndex<Value>& index,
                  const Value& value);

    std::map<int, Tag_DevInfo> devices_;
    DeviceValueIndex<QString> macIndex_;
    DeviceValueIndex<uint8_t> onlineIndex_;
    DeviceValueIndex<QString> vendorIndex_;
    DeviceValueIndex<QString> modelIndex_;
    DeviceValueIndex<QString> versionIndex_;
};
