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

// A console, not a file, pipe or the NUL device (which _isatty takes for a terminal). Consoles
// older than Windows 10 do not take the escape sequences: no progress line there.
bool ErrorStreamIsTerminal() {
    const HANDLE h = ::GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (h == nullptr || h == INVALID_HANDLE_VALUE || !::GetConsoleMode(h, &mode)) return false;
    constexpr DWORD kSequences = 0x0004;  // ENABLE_VIRTUAL_TERMINAL_PROCESSING
    return (mode & kSequences) != 0 || ::SetConsoleMode(h, mode | kSequences) != 0;
}

}  // namespace valdrune
