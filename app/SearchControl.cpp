#include "app/SearchControl.h"

#include <QComboBox>
#include <QString>
#include <QTreeView>

#include "app/AdapterSessions.h"
#include "app/DeviceList.h"
#include "app/SettingsStore.h"
#include "dialogkit/ControlText.h"
#include "dialogkit/MessageBox.h"
#include "protocol/Session.h"

namespace valdrune {

CSearchControl::CSearchControl(CAdapterSessions& sessions, CSettingsStore& store,
                               CDeviceList& list)
    : sessions_(sessions), store_(store), list_(list) {}

void CSearchControl::EnumerateInterfaces() {
    interfaceCount_ = sessions_.At(0).Engine().EnumerateInterfaces(store_.ReadIfMac());
}

int CSearchControl::AllAdaptersItem() const {
    return sessions_.CanSearchAll() ? interfaceCount_ : -1;
}

void CSearchControl::FillInterfaceCombo(QComboBox& combo) const {
    const CProtocol& engine = sessions_.At(0).Engine();
    combo.clear();
    for (int i = 0; i < interfaceCount_; ++i)
        combo.addItem(QString::fromStdString(engine.InterfaceDisplayText(i)));
    if (AllAdaptersItem() >= 0) combo.addItem(DialogText(1180));
    combo.setCurrentIndex(AllAdapters() ? AllAdaptersItem() : engine.SelectedInterface());
}

void CSearchControl::RestoreAllAdapters() {
    if (AllAdaptersItem() >= 0 && store_.ReadAllAdapters()) SearchAll();
}

bool CSearchControl::AllAdapters() const { return sessions_.AllOpen(); }

void CSearchControl::RunSearch() {
    list_.Clear();
    for (int source = 0; source < sessions_.Count(); ++source) sessions_.At(source).NewSearch();
}

void CSearchControl::SearchAll() {
    const std::vector<std::string> failed = sessions_.OpenAll();
    list_.Clear();
    list_.SetSources(sessions_.Engines());
    if (hooks_.sourcesChanged) hooks_.sourcesChanged();
    if (!failed.empty()) {
        QStringList names;
        for (const std::string& name : failed) names << QString::fromStdString(name);
        ShowMessageBox({list_.View() != nullptr ? list_.View()->window() : nullptr, 1183,
                        MB_OK_ | MB_ICONEXCLAMATION_,
                        FormatString(DialogText(1183), names.join(QStringLiteral(", ")))
                            .toStdString()});
    }
}

void CSearchControl::OnInterfaceChoice(int index, QComboBox* combo) {
    if (index >= 0 && index == AllAdaptersItem()) {
        if (!AllAdapters()) {
            SearchAll();
            store_.WriteAllAdapters(true);
        }
        RunSearch();
        return;
    }
    if (AllAdapters()) {
        if (hooks_.mayCloseOthers && !hooks_.mayCloseOthers()) {
            if (combo != nullptr) combo->setCurrentIndex(AllAdaptersItem());
            return;
        }
        sessions_.CloseAll();
        list_.Clear();
        list_.SetSources(sessions_.Engines());
        store_.WriteAllAdapters(false);
        if (hooks_.sourcesChanged) hooks_.sourcesChanged();
    }
    CProtocol& engine = sessions_.At(0).Engine();
    if (engine.SelectInterface(index)) store_.WriteIfMac(engine.LocalInterface().mac);
    RunSearch();
}

}  // namespace valdrune
