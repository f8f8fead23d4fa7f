// Whether the local nftables rules let a device's answer in: an unsolicited UDP datagram to
// port 10669 arriving on the adapter (conntrack sees it as new: the request went to the
// broadcast address, the answer comes from the device's own).
#pragma once

#include <string>
#include <string_view>

#include "protocol/NetworkDoctor.h"

namespace valdrune {

// Judges the JSON form of "nft list ruleset" for a datagram arriving on adapter `iifname`.
// Expressions it does not know count as "may match"; malformed JSON gives Unread. The rule
// comes in nft's own words (or "policy drop"), its place as "family table chain" (and
// " handle N" when known), the fix as an accept rule inserted at the top of the dropping base
// chain.
RuleJudgement JudgeNftRuleset(std::string_view json, const std::string& iifname);

// The ruleset through libnftables, in JSON. False (and error) when it cannot be listed, which
// without CAP_NET_ADMIN is always the case.
bool ReadNftRuleset(std::string& json, std::string& error);

}  // namespace valdrune
