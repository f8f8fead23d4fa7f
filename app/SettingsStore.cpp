#include "app/SettingsStore.h"

#include <algorithm>

namespace valdrune {
namespace {

constexpr const char* kBrowserKey = "BROWSER";
constexpr const char* kIfMacKey = "IFMAC";
constexpr const char* kAllAdaptersKey = "ALLIF";

}  // namespace

CSettingsStore::CSettingsStore()
    : values_(OpenUserSettings(kOrganisation, kApplication, kGroup)) {}

CSettingsStore::CSettingsStore(const QString& fileName)
    : values_(OpenSettingsFile(fileName.toStdString(), kGroup)) {}

CSettingsStore::~CSettingsStore() = default;

int CSettingsStore::ReadBrowser() const { return values_->ReadNumber(kBrowserKey).value_or(0); }

MacAddress CSettingsStore::ReadIfMac() const {
    MacAddress mac{};
    const auto bytes = values_->ReadBytes(kIfMacKey, mac.size());
    if (bytes) std::copy(bytes->begin(), bytes->end(), mac.begin());
    return mac;
}

bool CSettingsStore::ReadAllAdapters() const {
    return values_->ReadNumber(kAllAdaptersKey).value_or(0) == 1;
}

bool CSettingsStore::WriteAllAdapters(bool all) {
    return values_->WriteNumber(kAllAdaptersKey, all ? 1 : 0);
}

bool CSettingsStore::WriteBrowser(int code) { return values_->WriteNumber(kBrowserKey, code); }

bool CSettingsStore::WriteIfMac(const MacAddress& mac) {
    return values_->WriteBytes(kIfMacKey, std::vector<std::uint8_t>(mac.begin(), mac.end()));
}

}  // namespace valdrune
