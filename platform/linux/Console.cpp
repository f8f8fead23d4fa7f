#include "platform/Platform.h"

namespace valdrune {

// Linux streams are bytes already.
void PrepareStandardStreams() {}

}  // namespace valdrune
