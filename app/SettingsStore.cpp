#include "app/SettingsStore.h"

#include <QByteArray>
#include <QSettings>
#include <QVariant>
#include <algorithm>
#include <memory>

namespace valdrune {
namespace {

constexpr const char* kBrowserKey = "BROWSER";
constexpr const char* kIfMacKey = "IFMAC";

std::unique_ptr<QSettings> Open(const QString& fileName) {
    auto settings =
        fileName.isEmpty()
            ? std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                          QString::fromLatin1(CSettingsStore::kOrganisation),
                                          QString::fromLatin1(CSettingsStore::kApplication))
            : std::make_unique<QSettings>(fileName, QSettings::IniFormat);
    settings->beginGroup(QString::fromLatin1(CSettingsStore::kGroup));
    return settings;
}

bool Write(const QString& fileName, const char* key, const QVariant& value) {
    auto settings = Open(fileName);
    if (!settings->isWritable()) return false;
    settings->setValue(QString::fromLatin1(key), value);
    settings->sync();
    return settings->status() == QSettings::NoError;
}

}  // namespace

CSettingsStore::CSettingsStore() = default;

CSettingsStore::CSettingsStore(const QString& fileName) : fileName_(fileName) {}

int CSettingsStore::ReadBrowser() const {
    const QVariant value = Open(fileName_)->value(QString::fromLatin1(kBrowserKey));
    bool ok = false;
    const int code = value.toInt(&ok);
    return ok ? code : 0;
}

MacAddress CSettingsStore::ReadIfMac() const {
    MacAddress mac{};
    const QVariant value = Open(fileName_)->value(QString::fromLatin1(kIfMacKey));
    if (!value.isValid()) return mac;
    const QByteArray bytes = value.toByteArray();
    if (bytes.size() > static_cast<qsizetype>(mac.size())) return mac;
    std::copy(bytes.begin(), bytes.end(), mac.begin());
    return mac;
}

bool CSettingsStore::WriteBrowser(int code) { return Write(fileName_, kBrowserKey, code); }

bool CSettingsStore::WriteIfMac(const MacAddress& mac) {
    const QByteArray bytes(reinterpret_cast<const char*>(mac.data()),
                           static_cast<qsizetype>(mac.size()));
    return Write(fileName_, kIfMacKey, bytes);
}

}  // namespace valdrune
