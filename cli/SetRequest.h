// One device's requested changes, from command-line options or a plan row, turned into what
// the settings dialog would hold after the same clicks and typing, then put through its Save.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/Record.h"
#include "settings/rules/SaveRules.h"

namespace valdrune::cli {

// Address modes as the user names them. PcDhcp: DHCP on the PC port of a two-port device.
enum class ModeChoice { Dhcp, Static, Auto, AutoIp, PcDhcp };

struct SetRequest {
    std::string macText;  // as given
    MacAddress mac{};
    std::optional<ModeChoice> mode;
    std::optional<DnsMode> dns;
    std::optional<std::uint32_t> ip, mask, gateway, dns1, dns2, pcIp, pcMask;
    std::optional<std::string> port;  // the port edit's text
    bool waitForRestart = true;
};

// Field names shared by options (--ip) and plan columns (ip).
// "mac", "mode", "ip", "mask", "gateway", "dns", "dns1", "dns2", "port", "pc-ip", "pc-mask".
// Returns false with a message for a malformed value or an unknown name; an empty value for
// anything but "mac" and "port" leaves the field as the device has it.
bool SetField(SetRequest& request, const std::string& name, const std::string& value,
              std::string& error);

struct PreparedSettings {
    bool ok = false;
    // When refused: string-table id and formatted text (id 0: a message of this tool).
    int messageId = 0;
    std::string message;
    _CommandDataTable before;  // the device's record
    _CommandDataTable after;   // what will be sent
    std::uint16_t command = 0;
    std::uint16_t mask = 0;
};

// The dialog's path for one device: refusal for a locked device (443), options the dialog
// would not let the user change for this device and mode, then the Save rules.
PreparedSettings PrepareSettings(const _CommandDataTable& current, const SetRequest& request);

// The addresses a prepared change gives the device and that the change itself introduces:
// what the probe before sending looks at (changed static addresses, the PC port).
std::vector<std::uint32_t> IntroducedAddresses(const _CommandDataTable& before,
                                               const _CommandDataTable& after);
// Every address the device will answer on after the change, as far as the change fixes it.
std::vector<std::uint32_t> TargetAddresses(const _CommandDataTable& after);

}  // namespace valdrune::cli
