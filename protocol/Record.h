// The device record and the text forms of addresses. Pure C++: no Qt, no OS headers.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace valdrune {

using MacAddress = std::array<std::uint8_t, 6>;

// A record's `kind`: the protocol generation a device speaks.
inline constexpr std::uint8_t DEVICE_KIND_LEGACY = 3;
inline constexpr std::uint8_t DEVICE_KIND_TWO_PORT = 12;
inline constexpr std::uint8_t DEVICE_KIND_STANDARD = 48;

// A local adapter, or one address block of a device. IPv4 values are host order:
// the first dotted octet is the most significant byte.
struct _NetInfo {
    MacAddress mac{};
    std::uint32_t ipAddress = 0;
    std::uint32_t subnetMask = 0;
    std::uint32_t gateway = 0;
    std::uint32_t dns1 = 0;
    std::uint32_t dns2 = 0;
    std::uint16_t port = 0;
    std::uint32_t ipAddress2 = 0;   // PC port of a two-port device
    std::uint32_t subnetMask2 = 0;  // PC port of a two-port device
    std::int32_t ifIndex = -1;
    std::string description;  // UTF-8; empty in device records
};

// Fixed-width text fields have no terminator when all 16 bytes are used.
using Text16 = std::array<char, 16>;

// Everything known about one device. A value type, copied whole; identity is the MAC text.
struct _CommandDataTable {
    _NetInfo primary;
    _NetInfo secondary;
    std::uint16_t legacyWord = 0;
    std::uint8_t legacyAddressing = 255;
    std::uint8_t flags = 255;
    std::uint8_t ipv4Mode = 0;
    std::uint8_t ipv6Mode = 0;
    std::uint8_t kind = 0;
    std::uint16_t portKind = 0;
    std::uint16_t sequence = 0;
    std::uint8_t https = 0;
    std::uint16_t ipv6Port = 0;
    Text16 model{};
    Text16 versionText{};
    Text16 deviceName{};
    std::array<std::uint8_t, 16> ipv6Address{};
    std::array<std::uint8_t, 16> ipv6Address2{};
    std::array<std::uint8_t, 32> ipv6AddressPair{};
    std::uint8_t hasIpv6 = 0;
    std::uint8_t hasIpv6Mode = 0;
    std::uint8_t capabilityFlag = 0;
    std::uint16_t statusBits = 0;
    Text16 serialNumber{};
    std::uint8_t hasBrowserBits = 0;
    std::uint16_t browserBits = 0;
    std::uint16_t portOptionA = 255;
    std::uint16_t portOptionB = 255;
    std::uint16_t legacyPrefix = 0;
};

// "%02X-%02X-%02X-%02X-%02X-%02X"
std::string MacText(const MacAddress& mac);
// All six bytes zero: no MAC (nothing remembered, no device awaited, no hardware address).
bool IsZeroMac(const MacAddress& mac);
// "%d.%d.%d.%d", most significant octet first.
std::string Ipv4Text(std::uint32_t hostOrder);
// Eight upper-case groups without compression, or "--------" when the record has no tag 64.
std::string Ipv6Text(const _CommandDataTable& record);
// "%d" of ipv6Port, or "--" when the record has no tag 64.
std::string Ipv6PortText(const _CommandDataTable& record);
// A 16-byte text field up to its first NUL (at most 16 characters).
std::string FieldText(const Text16& field);
// Copies text into a field, cut to 16 bytes, the rest NUL.
void SetFieldText(Text16& field, std::string_view text);

// Strict dotted-quad parse ("a.b.c.d", each 0-255, decimal). False on anything else.
bool ParseIpv4(std::string_view text, std::uint32_t& hostOrder);
// "AA-BB-CC-DD-EE-FF" or "aa:bb:cc:dd:ee:ff". False on anything else.
bool ParseMac(std::string_view text, MacAddress& mac);

inline bool SameDevice(const _CommandDataTable& a, const _CommandDataTable& b) {
    return a.primary.mac == b.primary.mac;
}

}  // namespace valdrune
