#include "platform/windows/LibrarySearch.h"

#include <windows.h>

namespace valdrune {

bool RestrictLibrarySearchToSystem() {
    return ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) != 0;
}

}  // namespace valdrune
