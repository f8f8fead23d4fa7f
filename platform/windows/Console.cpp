#include "platform/Platform.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

namespace valdrune {

// Output is UTF-8 with bare line feeds, byte for byte what the Linux build writes, so scripts
// and captures compare across hosts; the console shows UTF-8 device names as such.
void PrepareStandardStreams() {
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
    ::SetConsoleOutputCP(CP_UTF8);
}

}  // namespace valdrune
