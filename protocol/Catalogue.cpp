#include "protocol/Catalogue.h"

namespace valdrune {

namespace {
constexpr _CommandCodeTable Row(std::uint16_t tag, std::uint16_t length, std::uint16_t mask) {
    return _CommandCodeTable{static_cast<std::uint32_t>(tag) |
                                 (static_cast<std::uint32_t>(length) << 16),
                             mask};
}
}  // namespace

// Position order matters: requests carry their items in this order. Mask bits 4 and 16 are
// part of the devices' catalogue but no request of ours uses them.
const std::array<_CommandCodeTable, CATALOGUE_SIZE> kCatalogue = {{
    Row(0, 1, 0x3C),     // ipv4Mode
    Row(1, 1, 0x3C),     // ipv6Mode
    Row(32, 4, 0x3F),    // primary.ipAddress
    Row(33, 4, 0x3F),    // primary.subnetMask
    Row(34, 4, 0x3F),    // primary.gateway
    Row(35, 8, 0x3F),    // primary.dns1, primary.dns2
    Row(37, 2, 0x3F),    // primary.port
    Row(40, 1, 0x01),    // https
    Row(48, 4, 0x0C),    // primary.ipAddress2
    Row(49, 4, 0x0C),    // primary.subnetMask2
    Row(64, 16, 0x3D),   // ipv6Address
    Row(65, 16, 0x3D),   // ipv6Address2
    Row(66, 32, 0x3D),   // ipv6AddressPair
    Row(68, 2, 0x31),    // ipv6Port
    Row(160, 4, 0x30),   // secondary.ipAddress
    Row(161, 4, 0x30),   // secondary.subnetMask
    Row(162, 4, 0x30),   // secondary.gateway
    Row(163, 8, 0x30),   // secondary.dns1, secondary.dns2
    Row(165, 1, 0x03),   // legacyAddressing
    Row(166, 1, 0x3F),   // flags
    Row(167, 16, 0x11),  // deviceName
    Row(168, 16, 0x15),  // model
    Row(173, 2, 0x03),   // legacyWord
    Row(179, 16, 0x01),  // second legacy model code (byte 1)
    Row(180, 2, 0x15),   // statusBits
    Row(183, 1, 0x01),   // legacy model source
    Row(184, 16, 0x01),  // first legacy model code (byte 1)
    Row(192, 2, 0x04),   // portKind
    Row(209, 16, 0x14),  // serialNumber
}};

}  // namespace valdrune
