#include "platform/qt/QtSettingsValues.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QVariant>

#include "platform/WriterLock.h"

namespace valdrune {
namespace {

// How long a write waits for another of the tool's writers before it goes on without tidying.
constexpr int kWriterWaitMs = 2000;

bool IsTemporarySuffix(const QString& suffix) {
    if (suffix.size() != 6) return false;
    for (const QChar c : suffix)
        if (!(c.isDigit() || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'))) return false;
    return true;
}

// QSettings saves through a temporary "<file>.XXXXXX" renamed over the file at the end, under
// its own lock file "<file>.lock" (with "<lock>.rmlock" guards while it takes over a stale one).
// A writer killed on the way leaves them behind: the temporary forever, the lock until it looks
// stale, which for one killed before it wrote its owner takes half a minute. Called under the
// writer lock, when no writer of the tool can be running and readers take no lock, so anything
// of that shape beside the file belongs to a writer that is gone.
void RemoveKilledWritersFiles(const QString& fileName) {
    const QFileInfo file(fileName);
    QDir dir = file.absoluteDir();
    const QString stem = file.fileName() + u'.';
    const auto filter = QDir::Files | QDir::Hidden | QDir::System;
    for (const QString& name : dir.entryList({stem + QStringLiteral("??????")}, filter))
        if (IsTemporarySuffix(name.mid(stem.size()))) dir.remove(name);
    for (const QString& name : dir.entryList({stem + QStringLiteral("lock"),
                                               stem + QStringLiteral("lock.rmlock*")},
                                              filter))
        dir.remove(name);
}

}  // namespace

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
    // Writers of the tool take turns here, so that whatever a killed one left can be removed.
    const CWriterLock writers(settings->fileName().toStdString(), kWriterWaitMs);
    if (writers.Held()) RemoveKilledWritersFiles(settings->fileName());
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
