#include "app/SearchControl.h"

#include <QComboBox>
#include <QString>

#include "app/DeviceList.h"
#include "app/SettingsStore.h"
#include "protocol/Session.h"

namespace valdrune {

CSearchControl::CSearchControl(DeviceSession& session, CSettingsStore& store, CDeviceList& list)
    : session_(session), store_(store), list_(list) {}

void CSearchControl::EnumerateInterfaces() {
    interfaceCount_ = session_.Engine().EnumerateInterfaces(store_.ReadIfMac());
}

void CSearchControl::FillInterfaceCombo(QComboBox& combo) const {
    combo.clear();
    for (int i = 0; i < interfaceCount_; ++i)
        combo.addItem(QString::fromStdString(session_.Engine().InterfaceDisplayText(i)));
    combo.setCurrentIndex(session_.Engine().SelectedInterface());
}

void CSearchControl::RunSearch() {
    list_.Clear();
    session_.NewSearch();
}

void CSearchControl::OnInterfaceChoice(int index) {
    CProtocol& engine = session_.Engine();
    if (engine.SelectInterface(index)) store_.WriteIfMac(engine.LocalInterface().mac);
    RunSearch();
}

}  // namespace valdrune
