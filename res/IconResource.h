// The application icons compiled into the binary under ":/icons".
#pragma once

namespace valdrune {

// Registers the icon resource; safe to call more than once.
void InitIconResource();

}  // namespace valdrune
