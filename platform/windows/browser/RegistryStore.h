// The key/value store of the browser steps on the real registry: HKEY_CURRENT_USER and
// HKEY_LOCAL_MACHINE, always in the 64-bit view, where Edge and the Internet settings read
// their policy and zones. Writes under HKEY_LOCAL_MACHINE fail without administrator rights,
// and those failures are the caller's to ignore.
#pragma once

#include "browser/core/BrowserSeams.h"

namespace valdrune {

class RegistryStore final : public IKeyValueStore {
  public:
    bool KeyExists(Hive hive, const std::string& key) const override;
    bool CreateKey(Hive hive, const std::string& key) override;
    std::optional<std::uint32_t> QueryDword(Hive hive, const std::string& key,
                                            const std::string& name) const override;
    std::optional<std::string> QueryString(Hive hive, const std::string& key,
                                           const std::string& name) const override;
    bool SetDword(Hive hive, const std::string& key, const std::string& name,
                  std::uint32_t value) override;
    bool SetString(Hive hive, const std::string& key, const std::string& name,
                   const std::string& value) override;
    // A key without subkeys, as the zone ranges are.
    bool DeleteKey(Hive hive, const std::string& key) override;
};

// A text value (REG_SZ or REG_EXPAND_SZ, unexpanded) of any length; an empty name reads the
// key's default value.
std::optional<std::wstring> ReadRegistryText(Hive hive, const std::wstring& key,
                                             const std::wstring& name);

}  // namespace valdrune
