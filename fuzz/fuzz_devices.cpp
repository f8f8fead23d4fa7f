// libFuzzer target over the simulator's JSON device files: the loader, then the answers and
// acceptances the loaded devices send, which must pass the tool's own validation unless the
// file asked for a fault.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "protocol/Datagram.h"
#include "sim/Scenario.h"

namespace {

using namespace valdrune;
using namespace valdrune::sim;

void Require(bool condition) {
    if (!condition) std::abort();
}

bool AnyFault(const Faults& f) {
    return f.badChecksum || f.foreignRequesterMac || f.oversizedLength || f.truncatedItems;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto devices = LoadDevicesJson(text, ScenarioOptions{}, error);
    if (!devices) {
        Require(!error.empty());
        return 0;
    }
    const MacAddress pcMac{0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
    const Requester requester{pcMac, 0xC0A80064u};
    std::size_t n = 0;
    for (const DeviceSpec& d : *devices) {
        if (++n > 16) break;
        const std::vector<std::uint8_t> answer = BuildAnswer(d, requester);
        const auto header = ValidateAnswer(answer, pcMac);
        if (!AnyFault(d.faults)) {
            Require(header.has_value());
            Require(header->deviceMac == d.record.primary.mac);
        }
        const std::uint16_t command = d.SettingsCommand();
        Require(ValidateAnswer(BuildAcceptance(d, command, requester, 7), pcMac).has_value() ||
                AnyFault(d.faults));
    }
    return 0;
}
