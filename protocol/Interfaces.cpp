// The host's adapters: which are offered, which hardware address each has, which is used.
#include <algorithm>

#include "protocol/Protocol.h"

namespace valdrune {

namespace {

// The all-ones value is what a failed dotted-text conversion yields on some hosts, so it is
// never taken for an adapter address either.
bool UsableAddress(const std::string& text, std::uint32_t& out) {
    std::uint32_t v = 0;
    if (!ParseIpv4(text, v) || v == 0 || v == 0xFFFFFFFFu) return false;
    out = v;
    return true;
}

}  // namespace

int CProtocol::EnumerateInterfaces(const MacAddress& preferredMac) {
    interfaces_.clear();
    for (const HostAdapter& adapter : env_.host.Adapters()) {
        _NetInfo entry;
        if (!UsableAddress(adapter.ipv4Text, entry.ipAddress)) continue;
        std::uint32_t gateway = 0;
        entry.gateway = UsableAddress(adapter.gatewayText, gateway) ? gateway : 0;
        entry.ifIndex = adapter.index;
        entry.description = adapter.description;
        interfaces_.push_back(std::move(entry));
    }

    std::vector<HostInterfaceRow> rows;
    if (!env_.host.InterfaceRows(rows)) {
        // The socket keeps its binding; the rebuilt table has no selection yet.
        selectedInterface_ = -1;
        return 0;
    }

    // A zero MAC is "nothing remembered": it must not pick an adapter without a hardware address.
    const bool havePreferred = !IsZeroMac(preferredMac);
    int preferred = -1;
    for (std::size_t pos = 0; pos < interfaces_.size(); ++pos) {
        _NetInfo& entry = interfaces_[pos];
        auto row = std::find_if(rows.begin(), rows.end(), [&](const HostInterfaceRow& r) {
            return r.index == entry.ifIndex && r.physicalAddress.size() == entry.mac.size();
        });
        if (row != rows.end())
            std::copy(row->physicalAddress.begin(), row->physicalAddress.end(), entry.mac.begin());
        if (havePreferred && entry.mac == preferredMac) preferred = static_cast<int>(pos);
    }

    // Whatever was selected before belongs to the old table.
    selectedInterface_ = -1;
    SelectInterface(preferred >= 0 ? preferred : 0);
    return static_cast<int>(interfaces_.size());
}

bool CProtocol::SelectInterface(int position) {
    if (socketReady_ && position == selectedInterface_) return true;
    socketReady_ = false;
    CancelTimer(searchTimer_);
    CancelTimer(secondRequestTimer_);

    if (position < 0 || position >= static_cast<int>(interfaces_.size())) {
        selectedInterface_ = -1;
        return false;
    }
    local_ = interfaces_[static_cast<std::size_t>(position)];
    if (env_.transport.CreateAndBind(Ipv4Text(local_.ipAddress), local_.ifIndex) != 0) {
        selectedInterface_ = -1;
        return false;
    }
    socketReady_ = true;
    selectedInterface_ = position;
    return true;
}

std::string CProtocol::InterfaceDisplayText(int position) const {
    if (position < 0 || position >= static_cast<int>(interfaces_.size())) return std::string();
    const _NetInfo& entry = interfaces_[static_cast<std::size_t>(position)];
    return Ipv4Text(entry.ipAddress) + " / " + entry.description;
}

}  // namespace valdrune
