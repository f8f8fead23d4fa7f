#include "platform/SiteListFiles.h"

#include <windows.h>

#include <algorithm>
#include <vector>

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

bool SiteListFiles::Exists(const std::string& path) const {
    const DWORD attributes = ::GetFileAttributesW(Utf8ToWide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::optional<std::string> SiteListFiles::Read(const std::string& path) const {
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

bool SiteListFiles::WriteWhole(const std::string& path, const std::string& bytes) {
    const std::wstring target = Utf8ToWide(path);
    // Beside the target, so the replacement stays on one volume. One name for every writer,
    // held open without sharing from its creation to its rename: a second writer waits for the
    // first, and what a killed writer left behind is overwritten by the next one instead of
    // piling up.
    const std::wstring temporary = target + L".tmp-valdrune";
    HANDLE h = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100; ++attempt) {
        h = ::CreateFileW(temporary.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_SHARING_VIOLATION) break;
        ::Sleep(20);
    }
    const File f(h);
    if (!f.ok()) return false;
    if (WriteAll(f.get(), bytes)) {
        // Renamed through the open handle, so no other writer can take the name in between.
        std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
        auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
        rename->ReplaceIfExists = TRUE;
        rename->RootDirectory = nullptr;
        rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
        std::copy(target.begin(), target.end(), rename->FileName);
        rename->FileName[target.size()] = L'\0';
        if (::SetFileInformationByHandle(f.get(), FileRenameInfo, rename,
                                         static_cast<DWORD>(buffer.size()))) {
            ::FlushFileBuffers(f.get());
            return true;
        }
    }
    FILE_DISPOSITION_INFO gone{};
    gone.DeleteFile = TRUE;
    ::SetFileInformationByHandle(f.get(), FileDispositionInfo, &gone, sizeof gone);
    return false;
}

}  // namespace valdrune
