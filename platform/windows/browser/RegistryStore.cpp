#include "platform/windows/browser/RegistryStore.h"

#include <windows.h>

#include <vector>

#include "platform/windows/CodePage.h"

namespace valdrune {
namespace {

HKEY Root(Hive hive) { return hive == Hive::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

// Opened with the rights asked for, closed when it goes.
class Key {
  public:
    Key(Hive hive, const std::wstring& path, REGSAM access) {
        if (::RegOpenKeyExW(Root(hive), path.c_str(), 0, access | KEY_WOW64_64KEY, &key_) !=
            ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~Key() {
        if (key_ != nullptr) ::RegCloseKey(key_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    explicit operator bool() const { return key_ != nullptr; }
    HKEY get() const { return key_; }

  private:
    HKEY key_ = nullptr;
};

bool SetValue(Hive hive, const std::string& key, const std::string& name, DWORD type,
              const void* data, DWORD size) {
    const Key k(hive, Utf8ToWide(key), KEY_SET_VALUE);
    return k && ::RegSetValueExW(k.get(), Utf8ToWide(name).c_str(), 0, type,
                                 static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
}

}  // namespace

std::optional<std::wstring> ReadRegistryText(Hive hive, const std::wstring& key,
                                             const std::wstring& name) {
    const Key k(hive, key, KEY_QUERY_VALUE);
    if (!k) return std::nullopt;
    // The value may grow between the size query and the read; ask again then.
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD type = 0;
        DWORD size = 0;
        if (::RegQueryValueExW(k.get(), name.c_str(), nullptr, &type, nullptr, &size) !=
                ERROR_SUCCESS ||
            (type != REG_SZ && type != REG_EXPAND_SZ))
            return std::nullopt;
        std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
        const LSTATUS status = ::RegQueryValueExW(k.get(), name.c_str(), nullptr, &type,
                                                  reinterpret_cast<BYTE*>(buffer.data()), &size);
        if (status == ERROR_MORE_DATA) continue;
        if (status != ERROR_SUCCESS) return std::nullopt;
        // Stored texts need not end with their terminator; the buffer has one more.
        std::wstring text(buffer.data(), size / sizeof(wchar_t));
        while (!text.empty() && text.back() == L'\0') text.pop_back();
        return text;
    }
    return std::nullopt;
}

bool RegistryStore::KeyExists(Hive hive, const std::string& key) const {
    return static_cast<bool>(Key(hive, Utf8ToWide(key), KEY_QUERY_VALUE));
}

bool RegistryStore::CreateKey(Hive hive, const std::string& key) {
    HKEY created = nullptr;
    if (::RegCreateKeyExW(Root(hive), Utf8ToWide(key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_WRITE | KEY_WOW64_64KEY, nullptr, &created, nullptr) != ERROR_SUCCESS)
        return false;
    ::RegCloseKey(created);
    return true;
}

std::optional<std::uint32_t> RegistryStore::QueryDword(Hive hive, const std::string& key,
                                                       const std::string& name) const {
    const Key k(hive, Utf8ToWide(key), KEY_QUERY_VALUE);
    if (!k) return std::nullopt;
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (::RegQueryValueExW(k.get(), Utf8ToWide(name).c_str(), nullptr, &type,
                           reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(value))
        return std::nullopt;
    return value;
}

std::optional<std::string> RegistryStore::QueryString(Hive hive, const std::string& key,
                                                      const std::string& name) const {
    const auto text = ReadRegistryText(hive, Utf8ToWide(key), Utf8ToWide(name));
    if (!text) return std::nullopt;
    return WideToUtf8(*text);
}

bool RegistryStore::SetDword(Hive hive, const std::string& key, const std::string& name,
                             std::uint32_t value) {
    const DWORD data = value;
    return SetValue(hive, key, name, REG_DWORD, &data, sizeof(data));
}

bool RegistryStore::SetString(Hive hive, const std::string& key, const std::string& name,
                              const std::string& value) {
    const std::wstring text = Utf8ToWide(value);
    const auto bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    return SetValue(hive, key, name, REG_SZ, text.c_str(), bytes);
}

bool RegistryStore::DeleteKey(Hive hive, const std::string& key) {
    return ::RegDeleteKeyExW(Root(hive), Utf8ToWide(key).c_str(), KEY_WOW64_64KEY, 0) ==
           ERROR_SUCCESS;
}

}  // namespace valdrune
