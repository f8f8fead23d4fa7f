// Used only while the real browser steps are missing from the tree: the window still links.
#include "app/BrowserIntegration.h"

namespace valdrune {

struct BrowserIntegration::State {};
BrowserIntegration::BrowserIntegration(CTallyrigDlg& dlg)
    : dlg_(dlg), state_(std::make_unique<State>()) {}
BrowserIntegration::~BrowserIntegration() = default;
void BrowserIntegration::DetectWindows11() {}
void BrowserIntegration::InitSiteListPath() {}
void BrowserIntegration::DetectBrowsers() {}
void BrowserIntegration::LoadModelLists() {}
void BrowserIntegration::LoadSiteListState() {}
std::vector<std::pair<std::string, int>> BrowserIntegration::BrowserComboEntries() const {
    return {{"Auto", 0}};
}
void BrowserIntegration::ClassifyAndTrack(_CommandDataTable& record) { record.browserClass = -1; }
void BrowserIntegration::OnBrowserChoiceChanged(int, int) {}
void BrowserIntegration::OnOpenDeviceWindow() {}
void BrowserIntegration::OnTimer(int) {}
bool BrowserIntegration::OnMessage(WindowMessage, std::uintptr_t, std::intptr_t) { return false; }

}  // namespace valdrune
