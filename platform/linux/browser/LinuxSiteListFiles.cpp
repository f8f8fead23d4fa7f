#include "platform/linux/browser/LinuxSiteListFiles.h"

#include "platform/linux/browser/AtomicFile.h"

namespace valdrune {

bool LinuxSiteListFiles::Exists(const std::string& path) const { return IsRegularFile(path); }

std::optional<std::string> LinuxSiteListFiles::Read(const std::string& path) const {
    return ReadWholeFile(path);
}

bool LinuxSiteListFiles::WriteWhole(const std::string& path, const std::string& bytes) {
    return WriteFileAtomically(path, bytes);
}

}  // namespace valdrune
