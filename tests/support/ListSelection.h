// Selecting a device list row as a click would: the row becomes current and selected.
#pragma once

#include <QAbstractItemModel>
#include <QString>
#include <QTreeView>

#include "app/DeviceList.h"

namespace valdrune::test {

inline void SelectRow(const CDeviceList& list, int row) {
    QTreeView* view = list.View();
    view->setCurrentIndex(view->model()->index(row, 0));
}

// False when no row shows that MAC text.
inline bool SelectMacRow(const CDeviceList& list, const QString& macText) {
    const int row = list.Model().FindRowByMac(macText);
    if (row >= 0) SelectRow(list, row);
    return row >= 0;
}

}  // namespace valdrune::test
