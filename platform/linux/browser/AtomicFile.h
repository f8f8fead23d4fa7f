// Whole-file reads and writes. A write goes to a temporary file beside the target and is renamed
// over it, so a crash or a full disk never leaves a half-written file behind. The temporary file
// has no name until it is whole, and a name that a killed writer left is removed by the next
// writer in the directory.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace valdrune {

// False when anything failed; the previous file is then untouched.
bool WriteFileAtomically(const std::string& path, const std::string& bytes);
// The file's bytes, or nothing when it cannot be read or is larger than maxBytes.
std::optional<std::string> ReadWholeFile(const std::string& path,
                                         std::size_t maxBytes = 16u * 1024u * 1024u);
bool IsRegularFile(const std::string& path);
bool IsDirectory(const std::string& path);
// Creates a directory and its parents (mode 0700 for new ones); true when it exists afterwards.
bool MakeDirectories(const std::string& path);
// The directory part of a path: "." without a slash, "/" for a file in the root.
std::string ParentDirectory(const std::string& path);

}  // namespace valdrune
