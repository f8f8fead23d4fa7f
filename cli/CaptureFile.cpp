#include "cli/CaptureFile.h"

namespace valdrune::cli {
namespace {

constexpr std::uint32_t PCAPNG_SECTION = 0x0A0D0D0A;
constexpr std::uint32_t PCAPNG_INTERFACE = 1;
constexpr std::uint32_t PCAPNG_OBSOLETE_PACKET = 2;
constexpr std::uint32_t PCAPNG_SIMPLE_PACKET = 3;
constexpr std::uint32_t PCAPNG_ENHANCED_PACKET = 6;
constexpr std::uint32_t BYTE_ORDER_MAGIC = 0x1A2B3C4D;
// Non-packet blocks (name resolution, statistics, custom) are skipped; none needs to be big.
constexpr std::uint32_t LARGEST_BLOCK = CaptureReader::LARGEST_FRAME + 1024 * 1024;

std::uint32_t Le32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

// The smallest body of the blocks read; 0 for the blocks without packet data, which are skipped.
std::size_t LeastBody(std::uint32_t type) {
    switch (type) {
        case PCAPNG_INTERFACE:
            return 8;
        case PCAPNG_SIMPLE_PACKET:
            return 4;
        case PCAPNG_ENHANCED_PACKET:
        case PCAPNG_OBSOLETE_PACKET:
            return 20;
        default:
            return 0;
    }
}

}  // namespace

bool CaptureReader::ReadExact(std::uint8_t* to, std::size_t size) {
    in_.read(reinterpret_cast<char*>(to), static_cast<std::streamsize>(size));
    return static_cast<std::size_t>(in_.gcount()) == size;
}

std::uint32_t CaptureReader::U32(const std::uint8_t* p) const {
    const std::uint32_t v = Le32(p);
    return swapped_ ? (v >> 24 | (v >> 8 & 0xFF00) | (v << 8 & 0xFF0000) | v << 24) : v;
}

std::uint16_t CaptureReader::U16(const std::uint8_t* p) const {
    const auto v = static_cast<std::uint16_t>(p[0] | p[1] << 8);
    return swapped_ ? static_cast<std::uint16_t>(v >> 8 | v << 8) : v;
}

bool CaptureReader::Open(std::string& error) {
    std::uint8_t head[24];
    if (!ReadExact(head, 4)) {
        error = "not a pcap or pcapng file (too short)";
        return false;
    }
    const std::uint32_t magic = Le32(head);
    if (magic == PCAPNG_SECTION) {
        pcapng_ = true;
        if (!ReadExact(head + 4, 4)) {
            error = "truncated pcapng section header";
            return false;
        }
        return ReadSectionHeader(head + 4, error);
    }
    if (magic == 0xA1B2C3D4u || magic == 0xA1B23C4Du) {
        swapped_ = false;
    } else if (magic == 0xD4C3B2A1u || magic == 0x4D3CB2A1u) {
        swapped_ = true;
    } else {
        error = "not a pcap or pcapng file (unknown magic number)";
        return false;
    }
    if (!ReadExact(head + 4, 20)) {
        error = "truncated pcap file header";
        return false;
    }
    if (U16(head + 4) != 2) {
        error = "unsupported pcap version " + std::to_string(U16(head + 4));
        return false;
    }
    pcapLinkType_ = static_cast<int>(U32(head + 20) & 0x0FFFFFFF);  // upper bits: FCS length
    return true;
}

bool CaptureReader::ReadBlockRest(std::uint32_t total, std::uint32_t least, std::uint32_t done,
                                  const char* what, std::vector<std::uint8_t>& rest,
                                  std::string& error) {
    if (total < least || total % 4 != 0 || total > LARGEST_BLOCK) {
        error = std::string("corrupt pcapng ") + what + " (length " + std::to_string(total) + ")";
        return false;
    }
    rest.resize(total - done);
    if (!ReadExact(rest.data(), rest.size())) {
        error = std::string("truncated pcapng ") + what;
        return false;
    }
    if (U32(rest.data() + rest.size() - 4) != total) {
        error = std::string("corrupt pcapng ") + what + " (trailing length)";
        return false;
    }
    return true;
}

// rawLength: the section header's length field as read, before its byte order is known.
bool CaptureReader::ReadSectionHeader(const std::uint8_t* rawLength, std::string& error) {
    std::uint8_t order[4];
    if (!ReadExact(order, sizeof order)) {
        error = "truncated pcapng section header";
        return false;
    }
    if (Le32(order) == BYTE_ORDER_MAGIC) {
        swapped_ = false;
    } else if (Le32(order) == 0x4D3C2B1Au) {
        swapped_ = true;
    } else {
        error = "corrupt pcapng section header (byte-order magic)";
        return false;
    }
    // Version, section length, options and the trailing length: not needed.
    std::vector<std::uint8_t> rest;
    if (!ReadBlockRest(U32(rawLength), 28, 12, "section header", rest, error)) return false;
    interfaces_.clear();
    return true;
}

bool CaptureReader::Next(CapturedFrame& frame, std::string& error) {
    error.clear();
    return pcapng_ ? NextPcapng(frame, error) : NextPcap(frame, error);
}

bool CaptureReader::NextPcap(CapturedFrame& frame, std::string& error) {
    std::uint8_t record[16];
    in_.read(reinterpret_cast<char*>(record), sizeof record);
    if (in_.gcount() == 0) return false;  // the end
    if (in_.gcount() != sizeof record) {
        error = "truncated pcap record header";
        return false;
    }
    const std::uint32_t captured = U32(record + 8);
    if (captured > LARGEST_FRAME) {
        error = "corrupt pcap record (captured length " + std::to_string(captured) + ")";
        return false;
    }
    frame.linkType = pcapLinkType_;
    frame.data.resize(captured);
    if (!ReadExact(frame.data.data(), captured)) {
        error = "truncated pcap record (" + std::to_string(captured) + " bytes announced)";
        return false;
    }
    return true;
}

bool CaptureReader::NextPcapng(CapturedFrame& frame, std::string& error) {
    for (;;) {
        std::uint8_t head[8];
        in_.read(reinterpret_cast<char*>(head), sizeof head);
        if (in_.gcount() == 0) return false;
        if (in_.gcount() != sizeof head) {
            error = "truncated pcapng block header";
            return false;
        }
        if (Le32(head) == PCAPNG_SECTION) {
            // A new section, perhaps of the other byte order.
            if (!ReadSectionHeader(head + 4, error)) return false;
            continue;
        }
        const std::uint32_t type = U32(head);
        std::vector<std::uint8_t> body;  // body and trailing length
        if (!ReadBlockRest(U32(head + 4), 12, 8, "block", body, error)) return false;
        const std::size_t bodySize = body.size() - 4;
        const std::uint8_t* b = body.data();

        const std::size_t least = LeastBody(type);
        if (least == 0) continue;  // a block without packet data
        if (bodySize < least) {
            error = type == PCAPNG_INTERFACE ? "corrupt pcapng interface block"
                                             : "corrupt pcapng packet block";
            return false;
        }
        if (type == PCAPNG_INTERFACE) {
            interfaces_.push_back(U16(b));
            continue;
        }

        std::uint32_t interfaceId = 0;
        std::size_t dataOffset = 20;
        std::uint32_t captured = 0;
        if (type == PCAPNG_SIMPLE_PACKET) {
            // Its captured length is what the block holds, at most the original length.
            const std::uint32_t original = U32(b);
            captured = static_cast<std::uint32_t>(bodySize - 4);
            if (original < captured) captured = original;
            dataOffset = 4;
        } else {
            // The obsolete block has a 16-bit interface id, then a 16-bit drop count.
            interfaceId = type == PCAPNG_ENHANCED_PACKET ? U32(b) : U16(b);
            captured = U32(b + 12);
        }
        if (interfaceId >= interfaces_.size()) {
            error = "pcapng packet of undeclared interface " + std::to_string(interfaceId);
            return false;
        }
        if (captured > LARGEST_FRAME || captured > bodySize - dataOffset) {
            error = "corrupt pcapng packet block (captured length " + std::to_string(captured) +
                    ")";
            return false;
        }
        frame.linkType = interfaces_[interfaceId];
        frame.data.assign(b + dataOffset, b + dataOffset + captured);
        return true;
    }
}

}  // namespace valdrune::cli
