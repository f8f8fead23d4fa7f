// The paragraph a privilege report gives for the command-line tool and logs. Every host frames
// it the same way; only the sentences are its own.
#pragma once

#include <string>
#include <string_view>

namespace valdrune {

// One sentence when echo and flush are both available; else noEcho and/or noFlush, whichever
// is missing, followed by remedy.
std::string PrivilegeSummary(bool canProbe, bool canFlush, std::string_view noEcho,
                             std::string_view noFlush, std::string_view remedy);

}  // namespace valdrune
