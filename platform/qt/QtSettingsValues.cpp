#include "platform/qt/QtSettingsValues.h"

#include <QByteArray>
#include <QVariant>

namespace valdrune {

QtSettingsValues::QtSettingsValues(std::function<std::unique_ptr<QSettings>()> open,
                                   std::string group)
    : open_(std::move(open)), group_(QString::fromStdString(group)) {}

std::unique_ptr<QSettings> QtSettingsValues::Open() const {
    auto settings = open_();
    settings->beginGroup(group_);
    return settings;
}

std::optional<std::int32_t> QtSettingsValues::ReadNumber(const std::string& name) const {
    const QVariant value = Open()->value(QString::fromStdString(name));
    bool ok = false;
    const int number = value.toInt(&ok);
    if (!ok) return std::nullopt;
    return number;
}

std::optional<std::vector<std::uint8_t>> QtSettingsValues::ReadBytes(const std::string& name,
                                                                     std::size_t capacity) const {
    const QVariant value = Open()->value(QString::fromStdString(name));
    if (!value.isValid()) return std::nullopt;
    const QByteArray bytes = value.toByteArray();
    if (static_cast<std::size_t>(bytes.size()) > capacity) return std::nullopt;
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

bool QtSettingsValues::Write(const std::string& name, const QVariant& value) {
    auto settings = Open();
    if (!settings->isWritable()) return false;
    settings->setValue(QString::fromStdString(name), value);
    settings->sync();
    return settings->status() == QSettings::NoError;
}

bool QtSettingsValues::WriteNumber(const std::string& name, std::int32_t value) {
    return Write(name, static_cast<int>(value));
}

bool QtSettingsValues::WriteBytes(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    return Write(name, QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                  static_cast<qsizetype>(bytes.size())));
}

std::unique_ptr<ISettingsValues> OpenSettingsFile(const std::string& fileName,
                                                  const std::string& group) {
    const QString file = QString::fromStdString(fileName);
    return std::make_unique<QtSettingsValues>(
        [file] { return std::make_unique<QSettings>(file, QSettings::IniFormat); }, group);
}

}  // namespace valdrune
