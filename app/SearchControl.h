// Searching from the main window: the interface combo (1023) and the Search button (1001).
// A search empties the list and the sessions' tables, then starts their search cycles. After
// the adapters the combo offers "All adapters" when there is more than one to search: every
// adapter is then searched at once, each by a session of its own.
#pragma once

#include <functional>

class QComboBox;

namespace valdrune {

class CAdapterSessions;
class CDeviceList;
class CSettingsStore;

class CSearchControl {
  public:
    struct Hooks {
        // The sessions searching changed (one adapter or all of them).
        std::function<void()> sourcesChanged;
        // Leaving "All adapters" ends the further sessions: false keeps them.
        std::function<bool()> mayCloseOthers;
    };

    CSearchControl(CAdapterSessions& sessions, CSettingsStore& store, CDeviceList& list);
    CSearchControl(const CSearchControl&) = delete;
    CSearchControl& operator=(const CSearchControl&) = delete;

    void SetHooks(Hooks hooks) { hooks_ = std::move(hooks); }

    // Set-up: the host's adapters, the stored one selected when it is still there.
    void EnumerateInterfaces();
    void FillInterfaceCombo(QComboBox& combo) const;
    int InterfaceCount() const { return interfaceCount_; }
    // The combo's position of "All adapters", -1 when it is not offered.
    int AllAdaptersItem() const;
    // Set-up: every adapter is searched again when that was the stored choice.
    void RestoreAllAdapters();

    // Button 1001.
    void RunSearch();
    // Combo 1023: the stored adapter follows a choice the engine accepted; the list is searched
    // again either way. The combo shows what is searched afterwards.
    void OnInterfaceChoice(int index, QComboBox* combo = nullptr);
    bool AllAdapters() const;

  private:
    void SearchAll();

    CAdapterSessions& sessions_;
    CSettingsStore& store_;
    CDeviceList& list_;
    Hooks hooks_;
    int interfaceCount_ = 0;
};

}  // namespace valdrune
