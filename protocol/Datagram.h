// The datagram layout shared by requests and answers: 48-byte header, TLV items, end tag
// and checksum. Builders for every request, the answer validator and the item walk.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "protocol/Record.h"

namespace valdrune {

struct _CommandCodeTable;

inline constexpr std::uint16_t LOCAL_PORT = 10669;
inline constexpr std::uint16_t DEVICE_PORT = 10670;
inline constexpr std::size_t HEADER_SIZE = 48;
inline constexpr std::size_t MAX_PAYLOAD = 1470;
inline constexpr std::size_t RECEIVE_BUFFER_SIZE = 1000;

enum Command : std::uint16_t {
    CMD_INFO = 1,
    CMD_SETUP_V2 = 2,
    CMD_SETUP_V2_REPLY = 3,
    CMD_SETUP_V2_CONFIRM = 4,
    CMD_SEARCH = 13,
    CMD_SEARCH_REPLY = 14,
    CMD_SETUP = 15,
    CMD_SETUP_REPLY = 16,
    CMD_SETUP_CONFIRM = 17,
};

inline constexpr std::uint16_t TAG_END = 0xFFFF;
inline constexpr std::uint16_t TAG_REQUEST_LIST = 0xFFF0;

inline constexpr std::array<std::uint8_t, 8> MAGIC = {0x20, 0x11, 0x1E, 0x11,
                                                      0x23, 0x1F, 0x1E, 0x19};

// Usage masks of the catalogue.
inline constexpr std::uint16_t MASK_SEARCH = 0x01;
inline constexpr std::uint16_t MASK_LEGACY = 0x02;
inline constexpr std::uint16_t MASK_TWO_PORT = 0x08;
inline constexpr std::uint16_t MASK_STANDARD = 0x20;

// The PC's side of every request header (bytes 12-21).
struct Requester {
    MacAddress mac{};
    std::uint32_t ipAddress = 0;  // host order
};

// Header fields of a datagram that passed validation.
struct AnswerHeader {
    std::uint16_t payloadLength = 0;
    std::uint16_t command = 0;
    MacAddress deviceMac{};
    MacAddress requesterMac{};
    std::uint32_t requesterIp = 0;
    std::uint16_t sequence = 0;
    std::uint8_t protocolMode = 0;
    std::uint8_t capability = 0;
};

// True when a request built for mask carries this catalogue row (the row has every bit of mask).
bool CatalogueRowInMask(const _CommandCodeTable& row, std::uint16_t mask);

// The tags a search request asks for, in catalogue order (the rows of mask 1).
std::vector<std::uint16_t> SearchRequestTags();

std::vector<std::uint8_t> BuildSearchRequest(std::uint8_t protocolMode, const Requester& pc);

// command 15 with mask 2 or 8, or command 2 with mask 32. For command 2 the sequence written
// is record.sequence + 1, returned through writtenSequence (0 for command 15), and a record
// whose hasIpv6Mode is 0 is sent without tags 1, 64, 65, 66 and 68. Byte 35 is 0 only for
// command 15 with mask 2. Mask 0 gives a datagram without items.
std::vector<std::uint8_t> BuildSettingsRequest(const _CommandDataTable& record,
                                               std::uint16_t command, std::uint16_t mask,
                                               const Requester& pc,
                                               std::uint16_t* writtenSequence = nullptr);

// command 17 (sequence 0, mode 0) or 4 (rememberedSequence + 1, mode 2).
std::vector<std::uint8_t> BuildConfirmation(std::uint16_t command, const MacAddress& target,
                                            std::uint8_t capability,
                                            std::uint16_t rememberedSequence,
                                            const Requester& pc);

// Sum of bytes [0, 50+L) plus 1, modulo 65536.
std::uint16_t Checksum(std::span<const std::uint8_t> bytesUpToEndTag);

// The six checks; nullopt is a silent drop. selectedMac is the PC's selected-interface MAC.
std::optional<AnswerHeader> ValidateAnswer(std::span<const std::uint8_t> datagram,
                                           const MacAddress& selectedMac);

struct TlvItem {
    std::uint16_t tag = 0;
    std::span<const std::uint8_t> value;  // always inside the walked bytes
};

// Calls back per item in wire order, from offset 48 up to the end tag. Reads only inside
// `datagram` and inside offsets [48, 48+L+2); a truncated item ends the walk.
// Returns true when the end tag was reached.
bool WalkItems(std::span<const std::uint8_t> datagram, std::uint16_t payloadLength,
               const std::function<void(const TlvItem&)>& onItem);

// The same walk for any callable, without the cost of a std::function (the decoder runs it for
// every answer).
//
// Bounds: items must lie wholly inside both the received bytes and the declared payload
// [48, 48+L); the end tag may sit at 48+L (or earlier, at the first 0xFFFF). An item whose
// header or value would cross either limit is truncated and ends the walk; the items before
// it have already been delivered. The walk never reads outside `datagram`.
template <typename OnItem>
bool ForEachItem(std::span<const std::uint8_t> datagram, std::uint16_t payloadLength,
                 OnItem&& onItem) {
    const std::size_t size = datagram.size();
    if (size < HEADER_SIZE) return false;
    const std::size_t itemLimit = std::min<std::size_t>(size, HEADER_SIZE + payloadLength);
    const std::size_t endTagLimit = std::min<std::size_t>(size, HEADER_SIZE + payloadLength + 2);
    const auto get16 = [&](std::size_t at) {
        return static_cast<std::uint16_t>((datagram[at] << 8) | datagram[at + 1]);
    };
    std::size_t p = HEADER_SIZE;
    while (p + 2 <= endTagLimit) {
        const std::uint16_t tag = get16(p);
        if (tag == TAG_END) return true;
        if (p + 4 > itemLimit) return false;
        const std::size_t length = get16(p + 2);
        if (length > itemLimit - (p + 4)) return false;
        onItem(TlvItem{tag, datagram.subspan(p + 4, length)});
        p += 4 + length;
    }
    return false;
}

}  // namespace valdrune
