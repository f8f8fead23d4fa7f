// The facts behind "valdrune-cli doctor" on Linux: getifaddrs and /sys for the adapter,
// /proc/net/udp and /proc/*/fd for who holds the port, libnftables and a looped broadcast for
// the firewall, /proc/sys for reverse-path filtering, rtnetlink for the routes, the probe
// helper's file for the rights.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/NetworkDoctor.h"

namespace valdrune {

struct UdpSocketRow {
    std::uint32_t address = 0;  // host order
    std::uint16_t port = 0;
    unsigned long long inode = 0;
};

// The rows of /proc/net/udp (IPv4 addresses) or /proc/net/udp6 (the IPv4-mapped and any
// address; others are skipped). Lines that do not parse are skipped.
std::vector<UdpSocketRow> ParseUdpTable(std::string_view text, bool ipv6);

// Whether an adapter of this ARPHRD type is a tunnel or point-to-point link; tun/tap devices
// also count (hasTunFlags: /sys/class/net/<name>/tun_flags exists).
bool IsTunnelType(int arphrdType, bool hasTunFlags);

class LinuxNetworkSurvey final : public INetworkSurvey {
  public:
    // helper: the probe helper whose rights the rights check judges.
    explicit LinuxNetworkSurvey(std::string helper) : helper_(std::move(helper)) {}
    NetworkFacts Gather(const std::string& adapter, std::int32_t fallbackIndex) override;

  private:
    std::string helper_;
};

}  // namespace valdrune
