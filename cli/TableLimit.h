// Answers the engine's device table has no room for. The engine drops a new device beyond
// the 100th silently, as the window's list does; the tool at least counts them (the session's
// BeyondTable).
#pragma once

#include <cstddef>
#include <string>

namespace valdrune::cli {

// "Note: ... 50 more devices answered ..." for a count above 0.
std::string BeyondTableText(std::size_t count);

}  // namespace valdrune::cli
