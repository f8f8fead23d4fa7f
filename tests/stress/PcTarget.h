// The PC that the stress senders aim at, from their first three arguments: PC_IP PC_MAC SUBNET
// (SUBNET as A.B.C, the simulator's --subnet).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdio>
#include <optional>
#include <string>

#include "protocol/Datagram.h"
#include "sim/Scenario.h"

namespace valdrune::sim {

struct PcTarget {
    sockaddr_in to{};  // the PC's answer port
    Requester requester;
    ScenarioOptions options;  // the segment's network
};

inline std::optional<PcTarget> ParsePcTarget(const char* ip, const char* mac, const char* subnet) {
    in_addr pc{}, net{};
    unsigned m[6];
    if (inet_pton(AF_INET, ip, &pc) != 1 ||
        std::sscanf(mac, "%x:%x:%x:%x:%x:%x", &m[0], &m[1], &m[2], &m[3], &m[4], &m[5]) != 6 ||
        inet_pton(AF_INET, (std::string(subnet) + ".0").c_str(), &net) != 1)
        return std::nullopt;
    PcTarget t;
    for (int i = 0; i < 6; ++i) t.requester.mac[i] = static_cast<std::uint8_t>(m[i]);
    t.requester.ipAddress = ntohl(pc.s_addr);
    t.options.network = ntohl(net.s_addr);
    t.to.sin_family = AF_INET;
    t.to.sin_port = htons(LOCAL_PORT);
    t.to.sin_addr = pc;
    return t;
}

}  // namespace valdrune::sim
