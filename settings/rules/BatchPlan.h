// Address assignment for several devices at once: consecutive static addresses from a first
// one, skipping what is taken, checked as a whole before anything is sent, and every device's
// settings put through the same Save rules as its own settings dialog.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "protocol/Record.h"
#include "settings/rules/SaveRules.h"

namespace valdrune {

// What the user gives for the whole batch. last 0: up to the subnet's last host address.
// An empty port text keeps each device's own port.
struct BatchSettings {
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    std::uint32_t mask = 0;
    std::uint32_t gateway = 0;
    std::uint32_t dns1 = 0;
    std::uint32_t dns2 = 0;
    std::string portText;
};

// What the batch must stay clear of. taken: addresses used by any listed device (both ports)
// or found answering; they are skipped, never refused.
struct BatchSurroundings {
    std::uint32_t pcAddress = 0;
    std::uint32_t pcGateway = 0;
    std::set<std::uint32_t> taken;
};

// Why a batch is refused as a whole; address says which one where it applies.
enum class BatchProblem : std::uint8_t {
    None,
    BadMask,        // not a contiguous subnet mask
    FirstNotHost,   // first (or last) is the subnet's network or broadcast address, or zero
    PastSubnet,     // the range leaves the first address's subnet
    HitsPc,         // an address of the batch is the PC's own
    HitsGateway,    // an address of the batch is the PC's or the batch's gateway
    TooShort,       // fewer free addresses in the range than devices to change
    Duplicate,      // two devices would get the same address
    Taken,          // an edited address is used by another listed device
};

struct BatchCheck {
    BatchProblem problem = BatchProblem::None;
    std::uint32_t address = 0;
    bool ok() const { return problem == BatchProblem::None; }
};

// One selected device. included false: left out, reasonId says why (a text id: 443 for a
// device restarted too long ago, the Save rules' refusal, or kBatchKindRefused).
struct BatchRow {
    _CommandDataTable before;
    std::uint32_t address = 0;  // proposed, then possibly edited by the user
    bool included = true;
    int reasonId = 0;
    SaveResult refusal;  // the rules' refusal, for its argument
};

// Text id for a device whose kind cannot be set at all.
inline constexpr int kBatchKindRefused = 1140;

// Rows for the selected devices, in their order; locked devices and kinds that cannot be set
// are left out at once. Addresses are filled by ProposeAddresses.
std::vector<BatchRow> MakeBatchRows(const std::vector<_CommandDataTable>& selected);

// Gives every included row the next free address from settings.first on (skipping
// surroundings.taken); refuses a range that leaves the subnet, holds the PC's address or a
// gateway, or has too few free addresses. Rows keep their addresses only when it succeeds.
BatchCheck ProposeAddresses(std::vector<BatchRow>& rows, const BatchSettings& settings,
                            const BatchSurroundings& surroundings);

// The rows as they stand (edited or not): every included address a host of the first
// address's subnet, none the PC's or a gateway, none twice, none used by another listed device.
BatchCheck CheckBatch(const std::vector<BatchRow>& rows, const BatchSettings& settings,
                      const BatchSurroundings& surroundings,
                      const std::vector<_CommandDataTable>& listed);

// The settings one row sends: the device's own Save rules with a static address (two-port
// devices: the LAN port; their PC port keeps its values). A refusal leaves the row out.
struct BatchChange {
    bool ok = false;
    _CommandDataTable after;
    std::uint16_t command = 0;
    std::uint16_t mask = 0;
};
BatchChange PrepareBatchChange(BatchRow& row, const BatchSettings& settings);

}  // namespace valdrune
