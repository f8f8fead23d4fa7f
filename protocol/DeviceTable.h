// The engine's device table: latest record per device, keyed by MAC text.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "protocol/Record.h"

namespace valdrune {

inline constexpr std::size_t MAX_DEVICES = 100;

class DeviceTable {
public:
    void Store(const std::string& macText, const _CommandDataTable& record) {
        devices_[macText] = record;
    }
    std::optional<_CommandDataTable> Find(const std::string& macText) const {
        auto it = devices_.find(macText);
        if (it == devices_.end()) return std::nullopt;
        return it->second;
    }
    bool Contains(const std::string& macText) const { return devices_.count(macText) != 0; }
    void Clear() { devices_.clear(); }
    std::size_t Size() const { return devices_.size(); }
    bool Empty() const { return devices_.empty(); }
    // Table order is the MAC text order, so iteration is the same on every run.
    void ForEach(const std::function<void(const std::string&, const _CommandDataTable&)>& fn) const {
        for (const auto& [key, rec] : devices_) fn(key, rec);
    }

private:
    std::map<std::string, _CommandDataTable> devices_;
};

}  // namespace valdrune
