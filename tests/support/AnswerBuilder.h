// Builds what devices give the code under test: datagrams (header, TLV items, end tag and
// checksum, with knobs to break each part on purpose; the checksum is computed here, not taken
// from the code under test) and the device records the engine keeps of them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/Record.h"

namespace valdrune::test {

class AnswerBuilder {
public:
    // A valid search answer (command 14) from mac, protocol mode 2, capability 1.
    explicit AnswerBuilder(std::uint16_t command = 14, const MacAddress& mac = {});

    AnswerBuilder& Command(std::uint16_t command);
    AnswerBuilder& DeviceMac(const MacAddress& mac);
    // Bytes 12-21: requester MAC and IPv4 (host order).
    AnswerBuilder& Requester(const MacAddress& mac, std::uint32_t ipv4);
    AnswerBuilder& Sequence(std::uint16_t sequence);
    AnswerBuilder& Mode(std::uint8_t protocolMode);
    AnswerBuilder& Capability(std::uint8_t capability);

    // Items, in wire order.
    AnswerBuilder& Item(std::uint16_t tag, std::vector<std::uint8_t> value);
    AnswerBuilder& U8(std::uint16_t tag, std::uint8_t v);
    AnswerBuilder& U16(std::uint16_t tag, std::uint16_t v);
    AnswerBuilder& U32(std::uint16_t tag, std::uint32_t v);
    // Dotted text, e.g. Ipv4(32, "192.168.0.20"); invalid text writes 0.
    AnswerBuilder& Ipv4(std::uint16_t tag, std::string_view dotted);
    AnswerBuilder& Pair(std::uint16_t tag, std::uint32_t first, std::uint32_t second);
    // Text NUL-padded (or cut) to width bytes.
    AnswerBuilder& Text(std::uint16_t tag, std::string_view text, std::size_t width = 16);
    // Appends raw bytes to the item area (for truncated or malformed items).
    AnswerBuilder& Raw(std::vector<std::uint8_t> bytes);

    // Fault knobs.
    AnswerBuilder& LengthField(std::uint16_t payloadLength);  // bytes 2-3 instead of the real L
    AnswerBuilder& ChecksumDelta(int delta);                  // added to the right checksum
    AnswerBuilder& NoEndTag();                                // items run straight into the checksum
    AnswerBuilder& BadMagic();

    std::vector<std::uint8_t> Build() const;

    // Rewrites bytes [50+L, 52+L) with the checksum for the L in bytes 2-3.
    static void FixChecksum(std::vector<std::uint8_t>& datagram);
    static std::uint16_t ChecksumOf(const std::vector<std::uint8_t>& bytes, std::size_t count);

private:
    std::uint16_t command_;
    MacAddress mac_;
    MacAddress requesterMac_{};
    std::uint32_t requesterIp_ = 0;
    std::uint16_t sequence_ = 0;
    std::uint8_t mode_ = 2;
    std::uint8_t capability_ = 1;
    std::vector<std::uint8_t> items_;
    std::optional<std::uint16_t> lengthField_;
    int checksumDelta_ = 0;
    bool endTag_ = true;
    bool badMagic_ = false;
};

// A device record as the engine stores it, for tests that start after decoding: a default
// record with only what is asked for set. Addresses are dotted text; nullptr or "" leaves one.
class RecordBuilder {
public:
    explicit RecordBuilder(std::uint8_t kind = DEVICE_KIND_STANDARD) { r_.kind = kind; }
    explicit RecordBuilder(const _CommandDataTable& from) : r_(from) {}

    RecordBuilder& Kind(std::uint8_t kind) { return Set(r_.kind, kind); }
    RecordBuilder& DeviceMac(const MacAddress& mac) { return Set(r_.primary.mac, mac); }
    // The LAN (or only) port.
    RecordBuilder& Address(const char* ipv4, const char* mask = nullptr,
                           const char* gateway = nullptr) {
        return SetIp(r_.primary.ipAddress, ipv4).SetIp(r_.primary.subnetMask, mask)
            .SetIp(r_.primary.gateway, gateway);
    }
    RecordBuilder& PcAddress(const char* ipv4, const char* mask) {
        return SetIp(r_.primary.ipAddress2, ipv4).SetIp(r_.primary.subnetMask2, mask);
    }
    RecordBuilder& Dns(const char* dns1, const char* dns2 = nullptr) {
        return SetIp(r_.primary.dns1, dns1).SetIp(r_.primary.dns2, dns2);
    }
    RecordBuilder& Port(std::uint16_t port, std::uint8_t https = 0) {
        return Set(r_.primary.port, port).Set(r_.https, https);
    }
    RecordBuilder& Capability(std::uint8_t c) { return Set(r_.capabilityFlag, c); }
    RecordBuilder& Ipv4Mode(std::uint8_t mode) { return Set(r_.ipv4Mode, mode); }
    RecordBuilder& Flags(std::uint8_t flags) { return Set(r_.flags, flags); }
    RecordBuilder& Addressing(std::uint8_t legacy) { return Set(r_.legacyAddressing, legacy); }
    RecordBuilder& PortOptions(std::uint16_t portKind, std::uint16_t a, std::uint16_t b) {
        return Set(r_.portKind, portKind).Set(r_.portOptionA, a).Set(r_.portOptionB, b);
    }
    RecordBuilder& Name(std::string_view name) { return Text(r_.deviceName, name); }
    RecordBuilder& Model(std::string_view model, std::string_view version = {}) {
        return Text(r_.model, model).Text(r_.versionText, version);
    }
    RecordBuilder& Serial(std::string_view serial) { return Text(r_.serialNumber, serial); }

    const _CommandDataTable& Build() const { return r_; }
    operator _CommandDataTable() const { return r_; }  // NOLINT: reads as a record

private:
    template <class T, class V>
    RecordBuilder& Set(T& field, const V& value) {
        field = static_cast<T>(value);
        return *this;
    }
    RecordBuilder& SetIp(std::uint32_t& field, const char* dotted);
    RecordBuilder& Text(Text16& field, std::string_view text) {
        SetFieldText(field, text);
        return *this;
    }

    _CommandDataTable r_;
};

// A MAC from its last byte, 02-00-00-00-00-xx, for readable tests.
MacAddress Mac(std::uint8_t last, std::uint8_t fifth = 0);
// Dotted text to a host-order address; 0 for invalid text.
std::uint32_t Ip(std::string_view dotted);
// A block's address, mask, gateway and DNS servers as dotted texts, to compare blocks at once.
inline std::array<std::string, 5> Ipv4Settings(const _NetInfo& b) {
    return {Ipv4Text(b.ipAddress), Ipv4Text(b.subnetMask), Ipv4Text(b.gateway), Ipv4Text(b.dns1),
            Ipv4Text(b.dns2)};
}

}  // namespace valdrune::test
