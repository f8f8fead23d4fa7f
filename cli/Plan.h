// A plan of many devices: CSV with a header row naming the columns (mac first or anywhere;
// mode, ip, mask, gateway, dns, dns1, dns2, port, pc-ip, pc-mask). Empty cells keep what the
// device has; blank lines and lines starting with '#' are skipped.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cli/SetRequest.h"

namespace valdrune::cli {

struct PlanRow {
    int line = 0;  // line number in the file, for messages
    SetRequest request;
};

struct PlanProblem {
    int line = 0;
    std::string mac;
    std::string message;
    int exitCode = 0;
    int messageId = 0;
};

struct Plan {
    std::vector<PlanRow> rows;
    std::vector<PlanProblem> problems;  // syntax errors; a plan with any is not used
};

// Splits one CSV line into cells (double quotes around a cell, "" inside one).
std::vector<std::string> SplitCsv(std::string_view line);

Plan ParsePlan(std::string_view text);

// The problems that make a plan unsafe once every device's change is prepared: two rows
// for one device, two rows giving one address, or a new address that another device found in
// the search already has (also a planned one: the plan's changes run side by side, so a device
// may take its new address while another still holds it).
// `prepared[i]` belongs to `rows[i]`; rows whose preparation failed are skipped.
std::vector<PlanProblem> CheckPlanConflicts(const std::vector<PlanRow>& rows,
                                            const std::vector<PreparedSettings>& prepared,
                                            const std::vector<_CommandDataTable>& others);

// New LAN addresses that would cut a device off or take over another host: the PC's own
// address, the PC's gateway or a gateway the plan gives, or an address outside the PC's
// subnet under the device's new mask.
std::vector<PlanProblem> CheckPlanAddresses(const std::vector<PlanRow>& rows,
                                            const std::vector<PreparedSettings>& prepared,
                                            const _NetInfo& pc);

}  // namespace valdrune::cli
