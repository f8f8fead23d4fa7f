#include "platform/SiteListFiles.h"

#include "platform/linux/browser/AtomicFile.h"

namespace valdrune {

bool SiteListFiles::Exists(const std::string& path) const { return IsRegularFile(path); }

std::optional<std::string> SiteListFiles::Read(const std::string& path) const {
    return ReadWholeFile(path);
}

bool SiteListFiles::WriteWhole(const std::string& path, const std::string& bytes) {
    return WriteFileAtomically(path, bytes);
}

}  // namespace valdrune
