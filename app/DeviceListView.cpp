#include "app/DeviceListView.h"

namespace valdrune {

void CDeviceListView::SetFooter(QWidget* footer) {
    footer_ = footer;
    updateGeometries();
}

void CDeviceListView::updateGeometries() {
    // The tree view sets the top margin for its header; the bottom one is the strip's.
    QTreeView::updateGeometries();
    const bool shown = footer_ != nullptr && !footer_->isHidden();
    const int height = shown ? footer_->heightForWidth(viewport()->width()) : 0;
    QMargins margins = viewportMargins();
    if (margins.bottom() != height) {
        margins.setBottom(height);
        setViewportMargins(margins);
    }
    if (shown) {
        const QRect rows = viewport()->geometry();
        footer_->setGeometry(rows.left(), rows.bottom() + 1, rows.width(), height);
    }
}

}  // namespace valdrune
