// Texts the tool prints: string-table texts by id (always English), plus its own few.
#pragma once

#include <string>

namespace valdrune::cli {

// English text of a string-table id, line breaks as single spaces.
std::string Text(int id);

// The outcome of a change that failed (string-table id 439: no acceptance in time, 440: not
// seen after its restart), saying what happened and what to try. The table's own texts are the
// same for both.
std::string SetupFailedText(int id);

// Said after a refusal or conflict found before sending.
inline constexpr const char* kNothingSent = "Nothing was sent.";

}  // namespace valdrune::cli
