// Used only while the real settings change is missing from the tree: the window still links.
#include "app/SettingsChange.h"

namespace valdrune {

struct SettingsChange::State {};
SettingsChange::SettingsChange(CTallyrigDlg& dlg) : dlg_(dlg), state_(std::make_unique<State>()) {}
SettingsChange::~SettingsChange() = default;
void SettingsChange::OnNetworkSettings() {}
bool SettingsChange::OnMessage(WindowMessage, std::uintptr_t, std::intptr_t) { return false; }

}  // namespace valdrune
