// What a user may type into the network-settings dialogs: digit filter, octet ranges, the
// HTTP-port rule by device kind, the per-address rule and how one device's addresses combine.
// Pure functions over integers and strings; the dialogs and the command-line tool share them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/Record.h"

namespace valdrune {

// Control identifiers of the two settings dialogs. Refusals name the control to focus.
namespace ctl {
namespace single {
inline constexpr int kDhcp = 1013;
inline constexpr int kPort = 1014;
inline constexpr int kAddress = 1015;
inline constexpr int kMask = 1016;
inline constexpr int kGateway = 1017;
inline constexpr int kDns1 = 1018;
inline constexpr int kDns2 = 1019;
inline constexpr int kDnsAuto = 1020;
inline constexpr int kDnsManual = 1021;
inline constexpr int kStatic = 1022;
inline constexpr int kAutoIp = 1023;
inline constexpr int kAutoAdvanced = 1024;  // "Auto" for legacy devices
inline constexpr int kWaitForRestart = 1032;
}  // namespace single
namespace two {
inline constexpr int kLanManual = 1052;
inline constexpr int kLanDhcp = 1053;
inline constexpr int kLanAddress = 1055;
inline constexpr int kLanMask = 1057;
inline constexpr int kPcManual = 1062;
inline constexpr int kPcDhcp = 1063;
inline constexpr int kPcAddress = 1065;
inline constexpr int kPcMask = 1067;
inline constexpr int kGateway = 1072;
inline constexpr int kPort = 1074;
inline constexpr int kDnsAuto = 1076;
inline constexpr int kDnsManual = 1077;
inline constexpr int kDns1 = 1079;
inline constexpr int kDns2 = 1081;
}  // namespace two
}  // namespace ctl

// String-table ids of the refusals raised by the rules.
namespace txt {
inline constexpr int kAddressRefused = 422;  // "%s"
inline constexpr int kMaskRefused = 423;     // "%s"
inline constexpr int kGatewayRefused = 424;  // "%s"
inline constexpr int kDns1Refused = 425;     // "%s"
inline constexpr int kDns2Refused = 426;     // "%s"
inline constexpr int kCombination = 427;
inline constexpr int kPortRefused = 428;  // "%d"
inline constexpr int kPortEmpty = 429;
inline constexpr int kOctet1To223 = 430;  // "%d"
inline constexpr int kOctet1To223Empty = 431;
inline constexpr int kOctet0To255 = 432;  // "%d"
inline constexpr int kOctet0To255Empty = 433;
inline constexpr int kOctet0To223 = 434;  // "%d"
inline constexpr int kOctet0To223Empty = 435;
inline constexpr int kStaticNeedsManualDns = 437;
}  // namespace txt

// Keeps only the characters 0-9, in order. No length limit.
std::string KeepDigits(std::string_view text);

// Live range check of one octet field of an IP-address control.
struct OctetRule {
    int lowest = 0;
    int highest = 255;
    int emptiedValue = 0;  // put in when the field was emptied
    int outOfRangeValue = 255;
    int emptiedMessage = txt::kOctet0To255Empty;
    int outOfRangeMessage = txt::kOctet0To255;
};

struct OctetCheck {
    bool accepted = true;
    int putIn = 0;                 // value the field receives when refused
    int messageId = 0;             // 0 when accepted
    bool formatWithValue = false;  // the out-of-range texts hold "%d"
};

// value < 0 means the field was emptied.
OctetCheck CheckOctet(const OctetRule& rule, int value);

// The rule for octet 0-3 of an IP-address control of either dialog; nullopt for a control
// that has no octet rule or an octet index outside 0-3.
std::optional<OctetRule> OctetRuleFor(int controlId, int octetIndex);

// What a dialog keeps between a refused octet and its posted notice. All zero: nothing pending.
struct OctetNotice {
    int octetIndex = 0;
    int value = 0;
    int messageId = 0;
    int controlId = 0;
    bool Pending() const { return messageId != 0; }
};

// The whole reaction to one field notification: accepted (nullopt) or the notice to post,
// the value to hand back into the field and the wParam of the posted message (1 out of range,
// 0 emptied). Unknown controls are accepted.
struct OctetRefusal {
    OctetNotice notice;
    int putIn = 0;
    int wParam = 0;
};
std::optional<OctetRefusal> CheckOctetField(int controlId, int octetIndex, int value);

// HTTP-port rule. `https` matters for two-port devices only. Any other kind refuses all.
bool IsPortAllowed(std::uint32_t port, std::uint8_t kind, std::uint8_t https);
// The port a dialog shows when it opens: the record's port when allowed, else 80.
std::uint16_t InitialPort(const _CommandDataTable& record);

// Address flags of CheckAddress, tested in this order.
inline constexpr unsigned ADDR_NOT_ZERO = 1;
inline constexpr unsigned ADDR_NOT_LOOPBACK = 2;  // exactly 127.0.0.1
inline constexpr unsigned ADDR_NOT_ALL_ONES = 4;
inline constexpr unsigned ADDR_MASK_FORM = 8;  // one unbroken run of ones from the top bit

bool CheckAddress(std::uint32_t address, unsigned flags);

// How the addresses of one device combine. Returns 0 when they do, otherwise the control to
// focus; the refusal's message is always 427 (txt::kCombination). Inputs are the `primary`
// fields of the working copy.
int CheckCombination(const _NetInfo& working, bool staticLan);
// Two-port devices: LAN port plus PC port (ipAddress2, subnetMask2).
int CheckCombinationTwoPort(const _NetInfo& working, bool staticLan);

}  // namespace valdrune
