// Answers the engine's device table has no room for. The engine drops a new device beyond
// the 100th silently, as the window's list does; the tool at least counts them.
#pragma once

#include <cstddef>
#include <optional>
#include <span>

#include "protocol/Protocol.h"

namespace valdrune::cli {

// The answering device's MAC when datagram is a valid device answer with an address that the
// engine's full table will not store; nullopt otherwise. Call before the engine handles it.
std::optional<MacAddress> AnswerBeyondTable(const CProtocol& engine,
                                            std::span<const std::uint8_t> datagram);

// "Note: ... 50 more devices answered ..." for a count above 0.
std::string BeyondTableText(std::size_t count);

}  // namespace valdrune::cli
