// The browser sandbox of this host (CMake puts this folder on the tests' include path).
#pragma once

#include "tests/support/BrowserSandbox.h"
