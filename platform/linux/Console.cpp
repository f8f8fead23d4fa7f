#include "platform/Platform.h"

#include <unistd.h>

namespace valdrune {

// Linux streams are bytes already.
void PrepareStandardStreams() {}

bool ErrorStreamIsTerminal() { return ::isatty(STDERR_FILENO) != 0; }

}  // namespace valdrune
