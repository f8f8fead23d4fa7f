#include "protocol/Record.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace valdrune {

std::string MacText(const MacAddress& mac) {
    char buf[18];
    std::snprintf(buf, sizeof buf, "%02X-%02X-%02X-%02X-%02X-%02X", mac[0], mac[1], mac[2], mac[3],
                  mac[4], mac[5]);
    return buf;
}

bool IsZeroMac(const MacAddress& mac) { return mac == MacAddress{}; }

std::string Ipv4Text(std::uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", (v >> 24) & 0xFFu, (v >> 16) & 0xFFu,
                  (v >> 8) & 0xFFu, v & 0xFFu);
    return buf;
}

std::string Ipv6Text(const _CommandDataTable& r) {
    if (!r.hasIpv6) return "--------";
    std::string out;
    for (int i = 0; i < 8; ++i) {
        char buf[6];
        unsigned group = r.ipv6Address[2 * i] * 256u + r.ipv6Address[2 * i + 1];
        std::snprintf(buf, sizeof buf, "%X", group);
        if (i) out += ':';
        out += buf;
    }
    return out;
}

std::string Ipv6PortText(const _CommandDataTable& r) {
    if (!r.hasIpv6) return "--";
    return std::to_string(r.ipv6Port);
}

std::string FieldText(const Text16& field) {
    const void* nul = std::memchr(field.data(), 0, field.size());
    std::size_t n = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - field.data())
                        : field.size();
    return std::string(field.data(), n);
}

void SetFieldText(Text16& field, std::string_view text) {
    field.fill(0);
    // An empty view may carry a null pointer, which memcpy must not be given even for 0 bytes.
    if (!text.empty()) std::memcpy(field.data(), text.data(), std::min(text.size(), field.size()));
}

bool ParseIpv4(std::string_view text, std::uint32_t& out) {
    std::uint32_t value = 0;
    int octets = 0;
    std::size_t i = 0;
    while (octets < 4) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
        unsigned octet = 0;
        int digits = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            octet = octet * 10 + static_cast<unsigned>(text[i] - '0');
            if (++digits > 3 || octet > 255) return false;
            ++i;
        }
        value = (value << 8) | octet;
        ++octets;
        if (octets < 4) {
            if (i >= text.size() || text[i] != '.') return false;
            ++i;
        }
    }
    if (i != text.size()) return false;
    out = value;
    return true;
}

bool ParseMac(std::string_view text, MacAddress& mac) {
    if (text.size() != 17) return false;
    const char sep = text[2];
    if (sep != '-' && sep != ':') return false;
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    MacAddress parsed{};
    for (int i = 0; i < 6; ++i) {
        int hi = hex(text[3 * i]);
        int lo = hex(text[3 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        if (i < 5 && text[3 * i + 2] != sep) return false;
        parsed[i] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
    mac = parsed;
    return true;
}

}  // namespace valdrune
