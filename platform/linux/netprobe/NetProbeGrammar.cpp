#include "platform/linux/netprobe/NetProbeGrammar.h"

#include <cstring>

namespace valdrune {
namespace {

// A decimal number of 1..digits digits, no sign, no leading zero; false on anything else.
bool Decimal(const char*& p, int digits, std::uint64_t& value) {
    if (*p < '0' || *p > '9') return false;
    if (*p == '0' && p[1] >= '0' && p[1] <= '9') return false;
    value = 0;
    int n = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (++n > digits) return false;
        value = value * 10 + static_cast<std::uint64_t>(*p - '0');
    }
    return true;
}

std::optional<std::uint32_t> Address(const char* text) {
    std::uint32_t address = 0;
    const char* p = text;
    for (int octet = 0; octet < 4; ++octet) {
        std::uint64_t v = 0;
        if (!Decimal(p, 3, v) || v > 255) return std::nullopt;
        address = (address << 8) | static_cast<std::uint32_t>(v);
        if (octet < 3 && *p++ != '.') return std::nullopt;
    }
    if (*p != '\0') return std::nullopt;
    const std::uint32_t first = address >> 24;
    if (first == 0 || first >= 224) return std::nullopt;
    return address;
}

std::optional<std::int32_t> Index(const char* text) {
    std::uint64_t v = 0;
    const char* p = text;
    if (!Decimal(p, 10, v) || *p != '\0' || v > 2147483647u) return std::nullopt;
    return static_cast<std::int32_t>(v);
}

}  // namespace

std::optional<NetProbeRequest> ParseNetProbeArguments(int argc, const char* const* argv) {
    if (argc != 4 || argv == nullptr || argv[1] == nullptr || argv[2] == nullptr ||
        argv[3] == nullptr || argv[4] != nullptr)
        return std::nullopt;
    NetProbeRequest r;
    if (std::strcmp(argv[1], "echo") == 0)
        r.operation = NetProbeOperation::Echo;
    else if (std::strcmp(argv[1], "flush") == 0)
        r.operation = NetProbeOperation::Flush;
    else
        return std::nullopt;
    const auto address = Address(argv[2]);
    const auto index = Index(argv[3]);
    if (!address || !index) return std::nullopt;
    if (r.operation == NetProbeOperation::Flush && *index == 0) return std::nullopt;
    r.address = *address;
    r.ifIndex = *index;
    return r;
}

}  // namespace valdrune
