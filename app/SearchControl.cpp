#include "app/SearchControl.h"

#include <QComboBox>
#include <QString>

#include "app/DeviceList.h"
#include "app/SettingsStore.h"
#include "protocol/Protocol.h"

namespace valdrune {

CSearchControl::CSearchControl(CProtocol& engine, CSettingsStore& store, CDeviceList& list)
    : engine_(engine), store_(store), list_(list) {}

void CSearchControl::EnumerateInterfaces() {
    interfaceCount_ = engine_.EnumerateInterfaces(store_.ReadIfMac());
}

void CSearchControl::FillInterfaceCombo(QComboBox& combo) const {
    combo.clear();
    for (int i = 0; i < interfaceCount_; ++i)
        combo.addItem(QString::fromStdString(engine_.InterfaceDisplayText(i)));
    combo.setCurrentIndex(engine_.SelectedInterface());
}

void CSearchControl::RunSearch() {
    engine_.ClearDevices();
    list_.Clear();
    engine_.StartSearch();
}

void CSearchControl::OnInterfaceChoice(int index) {
    if (engine_.SelectInterface(index)) store_.WriteIfMac(engine_.LocalInterface().mac);
    RunSearch();
}

}  // namespace valdrune
