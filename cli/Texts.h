// Texts the tool prints: string-table texts by id (always English), plus its own few.
#pragma once

#include <string>

namespace valdrune::cli {

// English text of a string-table id, line breaks as single spaces.
std::string Text(int id);

}  // namespace valdrune::cli
