#include "platform/windows/browser/WindowsSiteListFiles.h"

#include <windows.h>

#include "platform/windows/CodePage.h"

namespace valdrune {
namespace {

constexpr LONGLONG MAX_READ_BYTES = 16LL * 1024 * 1024;

class File {
  public:
    explicit File(HANDLE h) : h_(h) {}
    ~File() {
        if (ok()) ::CloseHandle(h_);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    bool ok() const { return h_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return h_; }

  private:
    HANDLE h_;
};

bool WriteAll(HANDLE h, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::size_t left = bytes.size() - done;
        const DWORD chunk = static_cast<DWORD>(left < (1u << 20) ? left : (1u << 20));
        DWORD written = 0;
        if (!::WriteFile(h, bytes.data() + done, chunk, &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return ::FlushFileBuffers(h) != 0;
}

}  // namespace

bool WindowsSiteListFiles::Exists(const std::string& path) const {
    const DWORD attributes = ::GetFileAttributesW(Utf8ToWide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::optional<std::string> WindowsSiteListFiles::Read(const std::string& path) const {
    const File f(::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!f.ok() || !::GetFileSizeEx(f.get(), &size) || size.QuadPart > MAX_READ_BYTES)
        return std::nullopt;
    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD read = 0;
        if (!::ReadFile(f.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done),
                        &read, nullptr))
            return std::nullopt;
        if (read == 0) break;  // shorter than it was a moment ago
        done += read;
    }
    bytes.resize(done);
    return bytes;
}

bool WindowsSiteListFiles::WriteWhole(const std::string& path, const std::string& bytes) {
    const std::wstring target = Utf8ToWide(path);
    // Beside the target, so the replacement stays on one volume; named after this process so
    // that two running copies never share one.
    const std::wstring temporary = target + L".tmp" + std::to_wstring(::GetCurrentProcessId());
    bool written = false;
    {
        const File f(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!f.ok()) return false;
        written = WriteAll(f.get(), bytes);
    }
    if (written && ::MoveFileExW(temporary.c_str(), target.c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    ::DeleteFileW(temporary.c_str());
    return false;
}

}  // namespace valdrune
