// The TLV catalogue: which record field travels in which tag, and which requests carry it.
#pragma once

#include <array>
#include <cstdint>

namespace valdrune {

struct _CommandCodeTable {
    std::uint32_t code;       // tag in the low 16 bits, value length in the high 16 bits
    std::uint16_t usageMask;  // a request built for mask M carries rows containing all of M

    constexpr std::uint16_t Tag() const { return static_cast<std::uint16_t>(code & 0xFFFFu); }
    constexpr std::uint16_t Length() const { return static_cast<std::uint16_t>(code >> 16); }
};

inline constexpr std::size_t CATALOGUE_SIZE = 29;
extern const std::array<_CommandCodeTable, CATALOGUE_SIZE> kCatalogue;

}  // namespace valdrune
