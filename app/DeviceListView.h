// The device list's view: a tree view that can keep a strip inside its frame under the rows,
// for a note that must never cover a row.
#pragma once

#include <QTreeView>

namespace valdrune {

class CDeviceListView : public QTreeView {
  public:
    using QTreeView::QTreeView;

    // footer: a child of the view, placed under the rows at the height it needs for the
    // view's width while it is not hidden; null removes the strip.
    void SetFooter(QWidget* footer);

  protected:
    void updateGeometries() override;

  private:
    QWidget* footer_ = nullptr;
};

}  // namespace valdrune
