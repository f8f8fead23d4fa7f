// Libraries loaded after start-up come from the system directory only, so a DLL of a common
// name planted in the current or a PATH folder is never picked up. Qt's own DLLs are linked
// and loaded before main; its plugins are loaded by full path.
#pragma once

namespace valdrune {

// False when the system refuses (the default search order stays).
bool RestrictLibrarySearchToSystem();

}  // namespace valdrune
