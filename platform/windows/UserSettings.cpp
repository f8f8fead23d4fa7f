// The user's settings in HKEY_CURRENT_USER\Software\<organisation>\<application>\<group>.
// Reads open the key for querying only and never create it; the stored type is not checked,
// a value is read into a zeroed buffer of the expected size and one that does not fit counts
// as absent. Writes create the key when it is missing.
#include <windows.h>

#include "platform/SettingsValues.h"
#include "platform/windows/CodePage.h"

namespace valdrune {
namespace {

class RegistrySettings final : public ISettingsValues {
  public:
    explicit RegistrySettings(std::wstring key) : key_(std::move(key)) {}

    std::optional<std::int32_t> ReadNumber(const std::string& name) const override {
        std::uint32_t value = 0;
        if (!Query(name, &value, sizeof value)) return std::nullopt;
        return static_cast<std::int32_t>(value);
    }

    std::optional<std::vector<std::uint8_t>> ReadBytes(const std::string& name,
                                                       std::size_t capacity) const override {
        std::vector<std::uint8_t> bytes(capacity, 0);
        DWORD size = static_cast<DWORD>(capacity);
        if (!Query(name, bytes.data(), capacity, &size)) return std::nullopt;
        bytes.resize(size);
        return bytes;
    }

    bool WriteNumber(const std::string& name, std::int32_t value) override {
        const auto dword = static_cast<std::uint32_t>(value);
        return Set(name, REG_DWORD, &dword, sizeof dword);
    }

    bool WriteBytes(const std::string& name, const std::vector<std::uint8_t>& bytes) override {
        return Set(name, REG_BINARY, bytes.data(), bytes.size());
    }

  private:
    bool Query(const std::string& name, void* buffer, std::size_t capacity,
               DWORD* got = nullptr) const {
        HKEY key = nullptr;
        if (::RegOpenKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, KEY_QUERY_VALUE, &key) !=
            ERROR_SUCCESS)
            return false;
        DWORD size = static_cast<DWORD>(capacity);
        // ERROR_MORE_DATA: longer than the buffer, which leaves the default.
        const LSTATUS status = ::RegQueryValueExW(key, Utf8ToWide(name).c_str(), nullptr, nullptr,
                                                  static_cast<BYTE*>(buffer), &size);
        ::RegCloseKey(key);
        if (status != ERROR_SUCCESS) return false;
        if (got != nullptr) *got = size;
        return true;
    }

    bool Set(const std::string& name, DWORD type, const void* data, std::size_t size) {
        HKEY key = nullptr;
        if (::RegCreateKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr,
                              REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key,
                              nullptr) != ERROR_SUCCESS)
            return false;
        const LSTATUS status =
            ::RegSetValueExW(key, Utf8ToWide(name).c_str(), 0, type,
                             static_cast<const BYTE*>(data), static_cast<DWORD>(size));
        ::RegCloseKey(key);
        return status == ERROR_SUCCESS;
    }

    std::wstring key_;
};

}  // namespace

std::unique_ptr<ISettingsValues> OpenUserSettings(const std::string& organisation,
                                                  const std::string& application,
                                                  const std::string& group) {
    return std::make_unique<RegistrySettings>(
        Utf8ToWide("Software\\" + organisation + "\\" + application + "\\" + group));
}

}  // namespace valdrune
