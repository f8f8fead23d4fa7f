#include "settings/rules/BatchPlan.h"

#include <algorithm>

#include "protocol/Protocol.h"

namespace valdrune {
namespace {

// A mask with at least two host addresses, its one bits contiguous from the top.
bool UsableMask(std::uint32_t mask) {
    const std::uint32_t hosts = ~mask;
    return mask != 0 && (hosts & (hosts + 1)) == 0 && hosts >= 3;
}

struct Subnet {
    std::uint32_t network = 0;
    std::uint32_t broadcast = 0;
    bool Host(std::uint32_t a) const { return a > network && a < broadcast; }
    bool Contains(std::uint32_t a) const { return a >= network && a <= broadcast; }
};

Subnet SubnetOf(const BatchSettings& s) {
    const std::uint32_t network = s.first & s.mask;
    return {network, network | ~s.mask};
}

bool IsGateway(std::uint32_t a, const BatchSettings& s, const BatchSurroundings& around) {
    return a != 0 && (a == s.gateway || a == around.pcGateway);
}

bool UsesAddress(const _CommandDataTable& d, std::uint32_t a) {
    return a != 0 && (d.primary.ipAddress == a ||
                      (d.kind == DEVICE_KIND_TWO_PORT && d.primary.ipAddress2 == a));
}

BatchCheck Problem(BatchProblem p, std::uint32_t a = 0) { return {p, a}; }

}  // namespace

std::vector<BatchRow> MakeBatchRows(const std::vector<_CommandDataTable>& selected) {
    std::vector<BatchRow> rows;
    rows.reserve(selected.size());
    for (const auto& d : selected) {
        BatchRow row;
        row.before = d;
        std::uint16_t command = 0;
        std::uint16_t mask = 0;
        if ((d.statusBits & 1) != 0) {
            row.included = false;
            row.reasonId = 443;
        } else if (!CProtocol::CommandForKind(d.kind, command, mask)) {
            row.included = false;
            row.reasonId = kBatchKindRefused;
        }
        rows.push_back(row);
    }
    return rows;
}

BatchCheck ProposeAddresses(std::vector<BatchRow>& rows, const BatchSettings& settings,
                            const BatchSurroundings& around) {
    if (!UsableMask(settings.mask)) return Problem(BatchProblem::BadMask, settings.mask);
    const Subnet net = SubnetOf(settings);
    if (!net.Host(settings.first)) return Problem(BatchProblem::FirstNotHost, settings.first);
    std::uint32_t end = net.broadcast - 1;
    const bool bounded = settings.last != 0;
    if (bounded) {
        if (!net.Contains(settings.last) || settings.last == net.broadcast)
            return Problem(BatchProblem::PastSubnet, settings.last);
        if (settings.last < settings.first) return Problem(BatchProblem::TooShort, settings.last);
        end = settings.last;
    }

    std::vector<std::uint32_t> proposed;
    std::uint32_t a = settings.first;
    for (const auto& row : rows) {
        if (!row.included) {
            proposed.push_back(0);
            continue;
        }
        while (a <= end && around.taken.count(a) != 0 && a != around.pcAddress &&
               !IsGateway(a, settings, around))
            ++a;
        if (a > end)
            return bounded ? Problem(BatchProblem::TooShort, settings.last)
                           : Problem(BatchProblem::PastSubnet, net.broadcast);
        if (a == around.pcAddress) return Problem(BatchProblem::HitsPc, a);
        if (IsGateway(a, settings, around)) return Problem(BatchProblem::HitsGateway, a);
        proposed.push_back(a++);
    }
    for (std::size_t i = 0; i < rows.size(); ++i) rows[i].address = proposed[i];
    return {};
}

BatchCheck CheckBatch(const std::vector<BatchRow>& rows, const BatchSettings& settings,
                      const BatchSurroundings& around,
                      const std::vector<_CommandDataTable>& listed) {
    if (!UsableMask(settings.mask)) return Problem(BatchProblem::BadMask, settings.mask);
    const Subnet net = SubnetOf(settings);
    std::set<std::uint32_t> seen;
    for (const auto& row : rows) {
        if (!row.included) continue;
        const std::uint32_t a = row.address;
        if (!net.Host(a)) return Problem(BatchProblem::PastSubnet, a);
        if (a == around.pcAddress) return Problem(BatchProblem::HitsPc, a);
        if (IsGateway(a, settings, around)) return Problem(BatchProblem::HitsGateway, a);
        if (!seen.insert(a).second) return Problem(BatchProblem::Duplicate, a);
        // A device may keep an address it already has; nobody else's.
        const bool own = UsesAddress(row.before, a);
        if (around.taken.count(a) != 0 && !own) return Problem(BatchProblem::Taken, a);
        for (const auto& d : listed) {
            if (!SameDevice(d, row.before) && UsesAddress(d, a))
                return Problem(BatchProblem::Taken, a);
        }
    }
    return {};
}

BatchChange PrepareBatchChange(BatchRow& row, const BatchSettings& settings) {
    BatchChange change;
    if (!row.included) return change;
    const _CommandDataTable prepared = PrepareRecordForDialog(row.before);
    // The batch's values go where the device's own dialog would take them.
    const auto fill = [&settings](auto& e, std::uint32_t& address, std::uint32_t& mask,
                                  std::uint32_t value) {
        address = value;
        mask = settings.mask;
        e.gateway = settings.gateway;
        e.dns1 = settings.dns1;
        e.dns2 = settings.dns2;
        if (!settings.portText.empty()) e.portText = settings.portText;
    };
    SaveResult result;
    if (prepared.kind == DEVICE_KIND_TWO_PORT) {
        TwoPortEntry e = InitialTwoPortEntry(prepared);
        // Only the LAN port changes: DHCP there gives way to a static address.
        if (e.mode == TwoPortMode::LanDhcp) e.mode = TwoPortMode::BothManual;
        e.dnsAutoChecked = false;
        fill(e, e.lanAddress, e.lanMask, row.address);
        result = ValidateTwoPortSave(e, prepared, true);
    } else {
        SinglePortEntry e = InitialSinglePortEntry(prepared, true);
        e.mode = AddressMode::Static;
        e.dns = DnsMode::Manual;
        fill(e, e.address, e.mask, row.address);
        result = ValidateSinglePortSave(e, prepared);
    }
    if (!result.ok || !CProtocol::CommandForKind(result.record.kind, change.command, change.mask)) {
        row.included = false;
        row.reasonId = result.ok ? kBatchKindRefused : result.messageId;
        row.refusal = result;
        return change;
    }
    change.ok = true;
    change.after = result.record;
    return change;
}

}  // namespace valdrune
