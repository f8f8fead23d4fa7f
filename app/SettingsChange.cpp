#include "app/SettingsChange.h"

namespace valdrune {

struct SettingsChange::State {};

SettingsChange::SettingsChange(CTallyrigDlg& dlg) : dlg_(dlg), state_(std::make_unique<State>()) {}

SettingsChange::~SettingsChange() = default;

void SettingsChange::OnNetworkSettings() {}

bool SettingsChange::OnMessage(WindowMessage, std::uintptr_t, std::intptr_t) { return false; }

}  // namespace valdrune
