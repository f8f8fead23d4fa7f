// Five devices for changing several at once, 02-00-00-30-01-01 to -05 at hosts .21 to .25 of
// the segment: the third never accepts a change, the fifth is restart-locked. A simulator
// --config file.
#pragma once

#include <string>

namespace valdrune::e2e {

inline const char* const kBatchDevices = R"json([
  {"mac": "02-00-00-30-01-01", "ip": ".21"},
  {"mac": "02-00-00-30-01-02", "ip": ".22"},
  {"mac": "02-00-00-30-01-03", "ip": ".23", "neverAccepts": true},
  {"mac": "02-00-00-30-01-04", "ip": ".24"},
  {"mac": "02-00-00-30-01-05", "ip": ".25", "restartLocked": true}
])json";

// The MAC of batch device i, 1 to 5.
inline std::string BatchMac(int i) { return "02-00-00-30-01-0" + std::to_string(i); }

}  // namespace valdrune::e2e
