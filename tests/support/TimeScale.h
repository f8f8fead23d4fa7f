// The time scale of end-to-end runs: VALDRUNE_TIME_SCALE, read only by test drivers and tests.
#pragma once

#include <cstdlib>

namespace valdrune::test {

// An integer from 1 to 100000 that divides every protocol interval; anything missing,
// unparsable or out of range gives 1 (real time).
inline int TimeScaleFromEnvironment() {
    const char* text = std::getenv("VALDRUNE_TIME_SCALE");
    if (text == nullptr || *text == '\0') return 1;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 1 || value > 100000) return 1;
    return static_cast<int>(value);
}

}  // namespace valdrune::test
