// Searching from the main window: the interface combo (1023) and the Search button (1001).
// A search empties the list and the session's table, then starts the engine's search cycle.
#pragma once

class QComboBox;

namespace valdrune {

class CDeviceList;
class DeviceSession;
class CSettingsStore;

class CSearchControl {
  public:
    CSearchControl(DeviceSession& session, CSettingsStore& store, CDeviceList& list);
    CSearchControl(const CSearchControl&) = delete;
    CSearchControl& operator=(const CSearchControl&) = delete;

    // Set-up: the host's adapters, the stored one selected when it is still there.
    void EnumerateInterfaces();
    void FillInterfaceCombo(QComboBox& combo) const;
    int InterfaceCount() const { return interfaceCount_; }

    // Button 1001.
    void RunSearch();
    // Combo 1023: the stored adapter follows a choice the engine accepted; the list is searched
    // again either way.
    void OnInterfaceChoice(int index);

  private:
    DeviceSession& session_;
    CSettingsStore& store_;
    CDeviceList& list_;
    int interfaceCount_ = 0;
};

}  // namespace valdrune
