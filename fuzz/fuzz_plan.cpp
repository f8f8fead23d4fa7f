// libFuzzer target over batch plan files: the CSV splitter, the plan parser, each row's
// preparation against a device of every kind and the conflict check.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "cli/Plan.h"
#include "cli/SetRequest.h"

namespace {

using namespace valdrune;
using namespace valdrune::cli;

void Require(bool condition) {
    if (!condition) std::abort();
}

_CommandDataTable Device(std::uint8_t kind, std::uint8_t last) {
    _CommandDataTable r;
    r.kind = kind;
    r.primary.mac = {0x02, 0x00, 0x00, 0x00, 0x00, last};
    r.primary.ipAddress = 0xC0A80000u | last;
    r.primary.subnetMask = 0xFFFFFF00u;
    r.primary.gateway = 0xC0A80001u;
    r.primary.port = 80;
    r.capabilityFlag = 1;
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const Plan plan = ParsePlan(text);
    if (plan.rows.empty() && plan.problems.empty()) return 0;  // only a header
    for (const PlanProblem& p : plan.problems) {
        Require(!p.message.empty());
        Require(p.exitCode != 0);
    }
    int lastLine = 0;
    for (const PlanRow& row : plan.rows) {
        Require(row.line > lastLine);
        lastLine = row.line;
        Require(!row.request.macText.empty());
    }
    if (!plan.problems.empty() || plan.rows.size() > 64) return 0;

    static const _CommandDataTable kDevices[] = {Device(DEVICE_KIND_STANDARD, 10),
                                                 Device(DEVICE_KIND_LEGACY, 11),
                                                 Device(DEVICE_KIND_TWO_PORT, 12)};
    std::vector<PreparedSettings> prepared;
    for (std::size_t i = 0; i < plan.rows.size(); ++i) {
        _CommandDataTable current = kDevices[i % std::size(kDevices)];
        current.primary.mac = plan.rows[i].request.mac;
        PreparedSettings p = PrepareSettings(current, plan.rows[i].request);
        if (!p.ok) Require(p.messageId != 0 || !p.message.empty());
        if (p.ok) Require(p.after.primary.mac == current.primary.mac);
        prepared.push_back(std::move(p));
    }
    for (const PlanProblem& p : CheckPlanConflicts(plan.rows, prepared, {std::begin(kDevices),
                                                                         std::end(kDevices)}))
        Require(!p.message.empty());
    _NetInfo pc;
    pc.ipAddress = kDevices[0].primary.ipAddress + 1;
    pc.gateway = kDevices[0].primary.gateway;
    for (const PlanProblem& p : CheckPlanAddresses(plan.rows, prepared, pc))
        Require(!p.message.empty());
    return 0;
}
