// Sets of simulated devices: built-in scenarios and JSON descriptions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/SimDevice.h"

namespace valdrune::sim {

struct ScenarioOptions {
    // Network of the scenario's addresses (host order, host part zero), e.g. 192.168.0.0.
    // In JSON, an address written ".20" means host 20 of this network.
    std::uint32_t network = 0xC0A80000u;
    int count = 100;  // devices of the "many" scenario
};

// A device of the given kind with plausible values for every field it reports.
DeviceSpec MakeDevice(Kind kind, int number, const ScenarioOptions& options);

// "kinds", "demo", "many", "faults", "behaviours"; nullopt for an unknown name.
std::optional<std::vector<DeviceSpec>> BuiltInScenario(const std::string& name,
                                                       const ScenarioOptions& options);
std::vector<std::string> ScenarioNames();

// {"devices": [ {...}, ... ]} or a bare array. Fields not given keep MakeDevice's values.
// Returns nullopt and sets error on malformed input.
std::optional<std::vector<DeviceSpec>> LoadDevicesJson(const std::string& text,
                                                       const ScenarioOptions& options,
                                                       std::string& error);

}  // namespace valdrune::sim
