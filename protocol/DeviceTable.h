// The engine's device table: latest record per device, keyed by the binary MAC. Each device
// also keeps the number it was discovered with, so that every owner numbers devices alike.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <utility>

#include "protocol/Record.h"

namespace valdrune {

inline constexpr std::size_t MAX_DEVICES = 100;

struct DeviceEntry {
    _CommandDataTable record;
    int number = 0;  // discovery order since the table was last cleared, from 0
};

class DeviceTable {
public:
    // Inserts or replaces the device's record; a new device takes the next number.
    const DeviceEntry& Store(_CommandDataTable record) {
        auto [it, inserted] = devices_.try_emplace(record.primary.mac);
        if (inserted) it->second.number = nextNumber_++;
        it->second.record = std::move(record);
        return it->second;
    }
    // Store, except that a new device is refused (null) once the table holds `limit` devices.
    // Taken by reference so that the decoded record is moved once, into its entry; a refused
    // record is left as it was.
    const DeviceEntry* StoreIfRoom(_CommandDataTable&& record, std::size_t limit) {
        auto it = devices_.lower_bound(record.primary.mac);
        if (it == devices_.end() || it->first != record.primary.mac) {
            if (devices_.size() >= limit) return nullptr;
            it = devices_.emplace_hint(it, record.primary.mac, DeviceEntry{});
            it->second.number = nextNumber_++;
        }
        it->second.record = std::move(record);
        return &it->second;
    }
    const DeviceEntry* Entry(const MacAddress& mac) const {
        auto it = devices_.find(mac);
        return it == devices_.end() ? nullptr : &it->second;
    }
    std::optional<_CommandDataTable> Find(const MacAddress& mac) const {
        const DeviceEntry* e = Entry(mac);
        if (e == nullptr) return std::nullopt;
        return e->record;
    }
    bool Contains(const MacAddress& mac) const { return devices_.count(mac) != 0; }
    void Clear() {
        devices_.clear();
        nextNumber_ = 0;
    }
    std::size_t Size() const { return devices_.size(); }
    bool Empty() const { return devices_.empty(); }
    // Table order is the MAC order (that of the MAC texts too), the same on every run.
    void ForEach(const std::function<void(const DeviceEntry&)>& fn) const {
        for (const auto& [mac, entry] : devices_) fn(entry);
    }

private:
    std::map<MacAddress, DeviceEntry> devices_;
    int nextNumber_ = 0;
};

}  // namespace valdrune
