// The Save sequences of the two settings dialogs as pure functions: the values read from the
// controls go in, either the changed record or the refusal (message, argument, focus) comes out.
// The widget dialogs and the command-line tool both go through these.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/Record.h"
#include "settings/rules/EntryRules.h"

namespace valdrune {

// Address mode of the single-port dialog. For legacy devices AutoAdvanced is their "Auto".
enum class AddressMode { AutoAdvanced, AutoIp, Dhcp, Static };
enum class DnsMode { Auto, Manual };
// Two-port devices: DHCP on at most one port.
enum class TwoPortMode { LanDhcp, PcDhcp, BothManual };

// The checked radio buttons, tested in the dialog's order (1024, 1023, 1013, 1022); when none
// is checked the result is Static, the dialog's fallback selection.
AddressMode AddressModeFromRadios(bool autoAdvanced1024, bool autoIp1023, bool dhcp1013,
                                  bool static1022);
// 1020 is tested first; neither checked reads as Manual.
DnsMode DnsModeFromRadios(bool auto1020, bool manual1021);
// Tested in the order 1053, 1063, 1052; anything else is both ports manual.
TwoPortMode TwoPortModeFromRadios(bool lanDhcp1053, bool pcDhcp1063, bool lanManual1052);

// What the single-port dialog's controls hold when Save is pressed. Addresses are the packed
// values of the IP-address controls (empty fields read as 0); the port is the edit's text.
struct SinglePortEntry {
    AddressMode mode = AddressMode::Static;
    DnsMode dns = DnsMode::Manual;
    std::string portText;
    std::uint32_t address = 0;   // 1015
    std::uint32_t mask = 0;      // 1016
    std::uint32_t gateway = 0;   // 1017
    std::uint32_t dns1 = 0;      // 1018
    std::uint32_t dns2 = 0;      // 1019
    bool waitForRestart = true;  // check box 1032
};

struct TwoPortEntry {
    TwoPortMode mode = TwoPortMode::BothManual;
    bool dnsAutoChecked = false;  // radio 1076
    std::string portText;
    std::uint32_t lanAddress = 0;  // 1055
    std::uint32_t lanMask = 0;     // 1057
    std::uint32_t pcAddress = 0;   // 1065
    std::uint32_t pcMask = 0;      // 1067
    std::uint32_t gateway = 0;     // 1072
    std::uint32_t dns1 = 0;        // 1079
    std::uint32_t dns2 = 0;        // 1081
};

// Which entry a refusal is about (for callers that do not think in control ids).
enum class EntryField {
    None,
    DnsMode,
    Port,
    Address,
    Mask,
    Gateway,
    Dns1,
    Dns2,
    PcAddress,
    PcMask,
    Combination,
};

enum class ArgumentKind { None, Number, Address };

struct SaveResult {
    bool ok = false;
    int messageId = 0;  // string-table id of the refusal; 0 when ok
    ArgumentKind argumentKind = ArgumentKind::None;
    std::uint32_t argument = 0;  // the port number, or the refused address value
    int focusControl = 0;        // control that takes the focus after the refusal
    EntryField field = EntryField::None;
    bool selectAll = false;  // the port edit's whole text is selected on refusal
    // When ok: the dialog's record with the accepted values written, and the wait choice.
    _CommandDataTable record;
    bool waitForRestart = true;
};

// `record` is the dialog's record, as prepared by PrepareRecordForDialog.
SaveResult ValidateSinglePortSave(const SinglePortEntry& entry, const _CommandDataTable& record);
// The two-port dialog carries the wait choice through unchanged.
SaveResult ValidateTwoPortSave(const TwoPortEntry& entry, const _CommandDataTable& record,
                               bool waitForRestart = true);

// The last step of each Save: writes exactly the fields that dialog writes from the accepted
// working copy into a copy of the record.
_CommandDataTable ApplySinglePortSave(const _CommandDataTable& record,
                                      const _CommandDataTable& working);
_CommandDataTable ApplyTwoPortSave(const _CommandDataTable& record,
                                   const _CommandDataTable& working);

// The copy a settings dialog receives: `flags` replaces `legacyAddressing` for kinds 48 and 12,
// and for kind 3 only when legacyAddressing is 0xFF or 0x7F.
_CommandDataTable PrepareRecordForDialog(const _CommandDataTable& record);

// What the controls hold when a dialog opens on a prepared record, before the user touches
// anything: the radios after the dialog's initial selection and its enable rule, the port
// edit's text and the address fields.
SinglePortEntry InitialSinglePortEntry(const _CommandDataTable& prepared, bool waitForRestart);
TwoPortEntry InitialTwoPortEntry(const _CommandDataTable& prepared);

// Fills a refusal text: "%s" takes the dotted address, "%d" the number. Other text unchanged.
std::string FormatRefusal(std::string_view text, const SaveResult& result);

}  // namespace valdrune
