// The values of one settings group (the window keeps BROWSER and IFMAC there). Reads never
// create anything; every failure is an empty result or false, never an error to show.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace valdrune {

class ISettingsValues {
  public:
    virtual ~ISettingsValues() = default;
    // Empty when absent or not a number.
    virtual std::optional<std::int32_t> ReadNumber(const std::string& name) const = 0;
    // The stored bytes when they fit in capacity; empty when absent, unreadable or longer.
    virtual std::optional<std::vector<std::uint8_t>> ReadBytes(const std::string& name,
                                                               std::size_t capacity) const = 0;
    // True when the value reached the store; the group is made when it is missing.
    virtual bool WriteNumber(const std::string& name, std::int32_t value) = 0;
    virtual bool WriteBytes(const std::string& name, const std::vector<std::uint8_t>& bytes) = 0;
};

// The user's own settings of organisation and application, in group: where the host keeps
// them (Linux: QSettings' native place; Windows: the current user's registry key
// Software\<organisation>\<application>\<group>, numbers as REG_DWORD, bytes as REG_BINARY).
std::unique_ptr<ISettingsValues> OpenUserSettings(const std::string& organisation,
                                                  const std::string& application,
                                                  const std::string& group);

// A settings file of its own (INI) on every host: tests, or a portable set-up.
std::unique_ptr<ISettingsValues> OpenSettingsFile(const std::string& fileName,
                                                  const std::string& group);

}  // namespace valdrune
