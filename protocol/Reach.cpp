#include "protocol/Reach.h"

#include <sstream>

#include "protocol/Record.h"

namespace valdrune {
namespace {

std::uint32_t Mask(int prefix) {
    return prefix <= 0 ? 0 : prefix >= 32 ? 0xFFFFFFFFu : ~((1u << (32 - prefix)) - 1u);
}

bool Contiguous(std::uint32_t mask) { return (~mask & (~mask + 1u)) == 0; }

}  // namespace

bool InsideAny(std::uint32_t address, const std::vector<Ipv4Network>& networks) {
    for (const auto& n : networks) {
        if (n.address == 0) continue;
        const std::uint32_t m = Mask(n.prefixLength);
        if ((n.address & m) == (address & m)) return true;
    }
    return false;
}

std::vector<std::uint32_t> BorrowCandidates(std::uint32_t device, std::uint32_t mask,
                                            std::size_t count) {
    // A /31 or /32 leaves no other host; a gap in the mask is not a subnet.
    if (mask == 0 || !Contiguous(mask) || (~mask) < 3u) mask = 0xFFFFFF00u;
    const std::uint32_t network = device & mask;
    const std::uint32_t broadcast = network | ~mask;
    std::vector<std::uint32_t> out;
    for (std::uint32_t a = broadcast - 1; a > network && out.size() < count; --a) {
        if (a != device) out.push_back(a);
    }
    return out;
}

std::string FormatReachEntries(const std::vector<ReachEntry>& entries) {
    std::string s;
    for (const auto& e : entries) {
        s += "netns=" + std::to_string(e.netns) + " if=" + std::to_string(e.ifIndex) +
             " source=" + Ipv4Text(e.source) + " device=" + Ipv4Text(e.device) +
             " pid=" + std::to_string(e.pid) + "\n";
    }
    return s;
}

std::vector<ReachEntry> ParseReachEntries(std::string_view text) {
    std::vector<ReachEntry> out;
    std::istringstream lines{std::string(text)};
    for (std::string line; std::getline(lines, line);) {
        std::istringstream f(line);
        ReachEntry e;
        int seen = 0;
        for (std::string field; f >> field;) {
            const auto eq = field.find('=');
            if (eq == std::string::npos) break;
            const std::string key = field.substr(0, eq), value = field.substr(eq + 1);
            try {
                if (key == "netns")
                    e.netns = std::stoull(value), seen |= 1;
                else if (key == "if")
                    e.ifIndex = std::stoi(value), seen |= 2;
                else if (key == "source" && ParseIpv4(value, e.source))
                    seen |= 4;
                else if (key == "device" && ParseIpv4(value, e.device))
                    seen |= 8;
                else if (key == "pid")
                    e.pid = std::stoi(value), seen |= 16;
            } catch (...) {
                break;
            }
        }
        if (seen == 31 && e.ifIndex > 0) out.push_back(e);
    }
    return out;
}

}  // namespace valdrune
