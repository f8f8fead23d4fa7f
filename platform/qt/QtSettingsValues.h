// ISettingsValues over QSettings: a file of its own, or (Linux) the user's native settings.
#pragma once

#include <QSettings>
#include <functional>
#include <memory>

#include "platform/SettingsValues.h"

namespace valdrune {

class QtSettingsValues final : public ISettingsValues {
  public:
    // open makes a fresh QSettings for each access, so that every read sees the stored state.
    QtSettingsValues(std::function<std::unique_ptr<QSettings>()> open, std::string group);

    std::optional<std::int32_t> ReadNumber(const std::string& name) const override;
    std::optional<std::vector<std::uint8_t>> ReadBytes(const std::string& name,
                                                       std::size_t capacity) const override;
    bool WriteNumber(const std::string& name, std::int32_t value) override;
    bool WriteBytes(const std::string& name, const std::vector<std::uint8_t>& bytes) override;

  private:
    std::unique_ptr<QSettings> Open() const;
    bool Write(const std::string& name, const QVariant& value);

    std::function<std::unique_ptr<QSettings>()> open_;
    QString group_;
};

}  // namespace valdrune
