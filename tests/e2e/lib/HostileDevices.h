// Devices whose names and models are what a hostile or broken device may send: markup,
// terminal controls, a spreadsheet formula, CSV and shell syntax, and 16 bytes that end inside a
// UTF-8 character. A simulator --config file; addresses are hosts of the segment.
#pragma once

namespace valdrune::e2e {

inline const char* const kHostileDevices = R"json([
  {"mac": "02-00-44-00-00-01", "ip": ".31", "name": "<b>x</b><i>y", "model": "<img src=x>"},
  {"mac": "02-00-44-00-00-02", "ip": ".32", "name": "a\u0001b\u001b[31mc\u007f", "model": "$(touch x);"},
  {"mac": "02-00-44-00-00-03", "ip": ".33", "name": "=cmd|' /c x'!A1", "model": "@SUM(A1)"},
  {"mac": "02-00-44-00-00-04", "ip": ".34", "name": "\"q\",\nz\r\t", "model": "a,b\"c"},
  {"mac": "02-00-44-00-00-05", "ip": ".35", "name": "a\u00c4\u00c4\u00c4\u00c4\u00c4\u00c4\u00c4\u00c4", "model": "`id`"}
])json";

}  // namespace valdrune::e2e
