// The values the window keeps between runs: the browser choice, the search interface and
// whether every adapter is searched.
// Reads never create anything; a failed write is silent and the in-memory choice still applies.
#pragma once

#include <QString>
#include <memory>

#include "platform/SettingsValues.h"
#include "protocol/Record.h"

namespace valdrune {

class CSettingsStore {
  public:
    // The user's settings of organisation "Morvane", application "networkcamera" (on
    // Windows the registry key HKEY_CURRENT_USER\Software\Morvane\networkcamera\Setup_5).
    CSettingsStore();
    // A settings file of its own (tests, or a portable set-up).
    explicit CSettingsStore(const QString& fileName);
    ~CSettingsStore();
    CSettingsStore(const CSettingsStore&) = delete;
    CSettingsStore& operator=(const CSettingsStore&) = delete;

    // BROWSER: 0 (Auto) when absent or not a number.
    int ReadBrowser() const;
    // IFMAC: six zero bytes when absent; a stored value is copied into a zeroed 6-byte buffer
    // and one longer than six bytes does not fit and reads as absent.
    MacAddress ReadIfMac() const;
    // ALLIF: 1 while every adapter is searched. IFMAC keeps the adapter last chosen on its
    // own meanwhile, which is what readers that do not know ALLIF open.
    bool ReadAllAdapters() const;
    // True when the value reached the store.
    bool WriteBrowser(int code);
    bool WriteIfMac(const MacAddress& mac);
    bool WriteAllAdapters(bool all);

    static constexpr const char* kOrganisation = "Morvane";
    static constexpr const char* kApplication = "networkcamera";
    static constexpr const char* kGroup = "Setup_5";

  private:
    std::unique_ptr<ISettingsValues> values_;
};

}  // namespace valdrune
