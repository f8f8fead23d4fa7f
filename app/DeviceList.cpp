// The device list of the main window: columns, rows written from the engine's table, the
// IPv4/IPv6 views, sorting and the overlap column.
#include <QHeaderView>
#include <QStringDecoder>
#include <QStyle>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <numeric>

#include "app/BrowserIntegration.h"
#include "app/TallyrigDlg.h"
#include "dialogkit/ControlText.h"

namespace valdrune {
namespace {

// strtol-like: leading blanks, an optional sign, decimal digits; no digits gives 0. Saturates
// instead of overflowing on absurdly long digit runs.
long ReadDecimal(const std::string& text, std::size_t& pos) {
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) {
        negative = text[pos] == '-';
        ++pos;
    }
    long value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        if (value < 100000000L) value = value * 10 + (text[pos] - '0');
        ++pos;
    }
    return negative ? -value : value;
}

unsigned long ReadHex(const std::string& text) {
    unsigned long value = 0;
    for (char c : text) {
        int d = -1;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        if (d < 0) break;
        if (value < 0x10000000UL) value = value * 16 + static_cast<unsigned long>(d);
    }
    return value;
}

std::vector<std::string> Split(const std::string& text, char separator, std::size_t limit) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (parts.size() < limit) {
        const std::size_t at = text.find(separator, start);
        parts.push_back(
            text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) break;
        start = at + 1;
    }
    return parts;
}

QString QText(const std::string& s) { return QString::fromStdString(s); }

// Device names come as UTF-8 from devices that say so, otherwise in the host's 8-bit encoding.
QString DecodeField(const Text16& field, bool utf8) {
    const std::string raw = FieldText(field);
    if (utf8) return QString::fromUtf8(raw.data(), static_cast<qsizetype>(raw.size()));
    QStringDecoder decoder(QStringDecoder::System);
    return decoder.decode(QByteArrayView(raw.data(), static_cast<qsizetype>(raw.size())));
}

int Sign(int v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

}  // namespace

std::string MakeSortKey(const std::string& text, int family) {
    char buffer[64];
    if (family == 4) {
        const auto parts = Split(text, '.', 4);
        long v[4] = {0, 0, 0, 0};
        for (std::size_t i = 0; i < parts.size() && i < 4; ++i) {
            std::size_t pos = 0;
            v[i] = ReadDecimal(parts[i], pos);
        }
        std::snprintf(buffer, sizeof buffer, "%03ld.%03ld.%03ld.%03ld", v[0], v[1], v[2], v[3]);
        return buffer;
    }
    if (family == 6) {
        if (text == "--------") return text;
        const auto parts = Split(text, ':', 8);
        unsigned long g[8] = {};
        for (std::size_t i = 0; i < parts.size() && i < 8; ++i) g[i] = ReadHex(parts[i]);
        std::snprintf(buffer, sizeof buffer, "%04lX:%04lX:%04lX:%04lX:%04lX:%04lX:%04lX:%04lX",
                      g[0], g[1], g[2], g[3], g[4], g[5], g[6], g[7]);
        return buffer;
    }
    return text;
}

std::string NumericSortKey(const std::string& text) {
    std::size_t pos = 0;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%06ld", ReadDecimal(text, pos));
    return buffer;
}

std::string OverlapText(const std::vector<std::uint16_t>& numbers) {
    std::string text;
    for (std::uint16_t index : numbers) {
        if (!text.empty()) text += " ,";
        text += std::to_string(index + 1);
    }
    return text;
}

// ---- Columns --------------------------------------------------------------------------------

int CTallyrigDlg::CreateColumns() {
    struct Column {
        int header;
        const char* sample;  // null: the header text itself
        bool half;
    };
    static constexpr Column kColumns[kDeviceColumns] = {
        {212, "100", false},
        {213, "DD-DD-DD-00-00-00", false},
        {214, "DDDD:DDDD:DDDD:DDDD:DDDD:DDDD:DDDD:DDDD", true},
        {216, nullptr, false},
        {217, "WWWWWWWWWWWWWWW", false},
        {218, "WWWWWWWWWWWWWWW", false},
        {228, "WWWWWWWWWWWWWWW", true},
        {219, nullptr, false},
    };
    QStringList headers;
    for (const Column& c : kColumns) headers << DialogText(c.header);
    list_->setColumnCount(kDeviceColumns);
    list_->setHeaderLabels(headers);
    QHeaderView* header = list_->header();
    // Measure with the font the header will draw with, style sheets included.
    header->ensurePolished();
    int total = 0;
    for (int i = 0; i < kDeviceColumns; ++i) {
        const Column& c = kColumns[i];
        const QString sample = c.sample != nullptr ? QString::fromLatin1(c.sample) : headers[i];
        int width = CalcControlTextWidth(header, sample);
        if (c.half) width /= 2;
        header->setSectionResizeMode(i, QHeaderView::Interactive);
        header->resizeSection(i, width);
        total += width;
    }
    const int v = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list_);
    columnTotal_ = total + v + 4;
    return columnTotal_;
}

int CTallyrigDlg::ColumnWidth(int column) const { return list_->header()->sectionSize(column); }

// ---- Rows -----------------------------------------------------------------------------------

int CTallyrigDlg::RowCount() const { return list_ == nullptr ? 0 : list_->topLevelItemCount(); }

QString CTallyrigDlg::RowText(int row, int column) const {
    const QTreeWidgetItem* item = list_ == nullptr ? nullptr : list_->topLevelItem(row);
    return item == nullptr ? QString() : item->text(column);
}

int CTallyrigDlg::FindRowByMac(const QString& macText) const {
    for (int p = 0; p < RowCount(); ++p)
        if (list_->topLevelItem(p)->text(COL_MAC) == macText) return p;
    return -1;
}

int CTallyrigDlg::SelectedRow() const {
    if (list_ == nullptr) return -1;
    const auto selected = list_->selectedItems();
    return selected.isEmpty() ? -1 : list_->indexOfTopLevelItem(selected.first());
}

std::optional<_CommandDataTable> CTallyrigDlg::SelectedRecord() const {
    const int row = SelectedRow();
    if (row < 0) return std::nullopt;
    return engine_.FindDevice(RowText(row, COL_MAC).toStdString());
}

void CTallyrigDlg::WriteAddressColumns(QTreeWidgetItem* item, const _CommandDataTable& record) {
    if (viewFamily == 6) {
        item->setText(COL_ADDRESS, QText(Ipv6Text(record)));
        item->setText(COL_PORT, QText(Ipv6PortText(record)));
    } else {
        item->setText(COL_ADDRESS, QText(Ipv4Text(record.primary.ipAddress)));
        item->setText(COL_PORT, QString::number(record.primary.port));
    }
}

QString CTallyrigDlg::CurrentOverlapText(const _CommandDataTable& record) const {
    if (record.primary.ipAddress == 0) return {};
    std::vector<std::uint16_t> overlaps;
    engine_.FindOverlaps(record, overlaps);
    return QText(OverlapText(overlaps));
}

void CTallyrigDlg::WriteDeviceRow(const MacAddress& mac) {
    if (list_ == nullptr) return;
    auto found = engine_.FindDevice(mac);
    if (!found) return;
    _CommandDataTable record = *found;
    const std::string macText = MacText(mac);

    // The engine numbers devices in the order they were first found since the last clear,
    // which is the order their rows were inserted in.
    int p = FindRowByMac(QText(macText));
    QTreeWidgetItem* item = nullptr;
    if (p < 0) {
        p = RowCount();
        item = new QTreeWidgetItem();
        item->setText(COL_NUMBER, QString::asprintf("%3d", engine_.DeviceNumber(mac) + 1));
        list_->insertTopLevelItem(p, item);
    } else {
        item = list_->topLevelItem(p);
    }

    item->setText(COL_MAC, QText(macText));
    WriteAddressColumns(item, record);
    if (record.capabilityFlag == 0 && ansiDecoder_) {
        item->setText(COL_NAME, QString::fromStdString(DeviceNameText(record, ansiDecoder_)));
    } else {
        item->setText(COL_NAME, DecodeField(record.deviceName, record.capabilityFlag != 0));
    }
    item->setText(COL_MODEL, DecodeField(record.model, false));

    browser_->TrackDevice(record);

    item->setText(COL_SERIAL, DecodeField(record.serialNumber, false));

    const QString before = item->text(COL_OVERLAP);
    const QString now = CurrentOverlapText(record);
    item->setText(COL_OVERLAP, now);
    if (now != before) PostMessage(WM_REFRESH_OVERLAPS, static_cast<std::uintptr_t>(p));
}

void CTallyrigDlg::RefreshOverlaps(int skip) {
    for (int q = 0; q < RowCount(); ++q) {
        if (q == skip) continue;
        QTreeWidgetItem* item = list_->topLevelItem(q);
        const auto record = engine_.FindDevice(item->text(COL_MAC).toStdString());
        if (!record) continue;
        const QString text = CurrentOverlapText(*record);
        if (text != item->text(COL_OVERLAP)) item->setText(COL_OVERLAP, text);
    }
}

void CTallyrigDlg::SwitchView(int selection) {
    if (selection != 0 && selection != 1) return;
    const int family = selection == 0 ? 4 : 6;
    if (family == viewFamily) return;
    viewFamily = family;
    list_->headerItem()->setText(COL_ADDRESS, DialogText(family == 4 ? 214 : 215));
    for (int p = 0; p < RowCount(); ++p) {
        QTreeWidgetItem* item = list_->topLevelItem(p);
        const auto record = engine_.FindDevice(item->text(COL_MAC).toStdString());
        if (record) WriteAddressColumns(item, *record);
    }
    if (sortColumn == COL_ADDRESS || sortColumn == COL_PORT) {
        sortKeyFamily = viewFamily;
        SortRows(sortColumn, sortOrder, sortColumn);
    }
}

void CTallyrigDlg::ClearList() {
    if (list_ == nullptr) return;
    list_->clear();
    if (sortColumn != -1) {
        arrowColumn_ = -1;
        arrowOrder_ = 0;
        list_->header()->setSortIndicatorShown(false);
    }
    sortColumn = -1;
    sortOrder = 0;
    sortKeyFamily = 4;
}

// ---- Sorting --------------------------------------------------------------------------------

void CTallyrigDlg::SortAgainAfterAddressChange() {
    if (sortColumn == COL_PORT || sortColumn == COL_OVERLAP ||
        (sortColumn == COL_ADDRESS && sortKeyFamily == 4)) {
        sortKeyFamily = viewFamily;
        SortRows(sortColumn, sortOrder, sortColumn);
    }
}

void CTallyrigDlg::OnColumnClick(int column) {
    int previous = column;
    if (column == sortColumn) {
        sortOrder = sortOrder == 1 ? 2 : 1;
    } else {
        previous = sortColumn;
        sortColumn = column;
        sortOrder = 1;
    }
    sortKeyFamily = viewFamily;
    SortRows(column, sortOrder, previous);
}

int CTallyrigDlg::HeaderArrow(int column) const { return column == arrowColumn_ ? arrowOrder_ : 0; }

void CTallyrigDlg::SortRows(int column, int order, int previous) {
    QHeaderView* header = list_->header();
    if (previous != -1 && previous != column && arrowColumn_ == previous) {
        arrowColumn_ = -1;
        arrowOrder_ = 0;
    }
    arrowColumn_ = column;
    arrowOrder_ = order == 2 ? 2 : 1;
    // The header draws Qt's descending indicator as an upward arrow and vice versa.
    header->setSortIndicatorShown(true);
    header->setSortIndicator(column, arrowOrder_ == 1 ? Qt::DescendingOrder : Qt::AscendingOrder);

    const int count = RowCount();
    for (int p = 0; p < count; ++p) list_->topLevelItem(p)->setData(0, Qt::UserRole, p);
    std::vector<int> order_(static_cast<std::size_t>(count));
    std::iota(order_.begin(), order_.end(), 0);
    std::stable_sort(order_.begin(), order_.end(),
                     [this](int a, int b) { return CompareRows(a, b) < 0; });

    QTreeWidgetItem* selected = nullptr;
    if (const int s = SelectedRow(); s >= 0) selected = list_->topLevelItem(s);
    QTreeWidgetItem* current = list_->currentItem();
    std::vector<QTreeWidgetItem*> items;
    items.reserve(order_.size());
    for (int index : order_) items.push_back(list_->topLevelItem(index));
    // Take every row out and put them back in the new order; each moves with all its texts.
    while (list_->topLevelItemCount() > 0) list_->takeTopLevelItem(0);
    for (QTreeWidgetItem* item : items) list_->addTopLevelItem(item);
    if (current != nullptr) list_->setCurrentItem(current, 0, QItemSelectionModel::NoUpdate);
    if (selected != nullptr) selected->setSelected(true);
}

int CTallyrigDlg::CompareRows(int a, int b) const {
    // Item data are the positions the rows had when the sort began.
    const auto rowOf = [this](int itemData) -> const QTreeWidgetItem* {
        const QTreeWidgetItem* byPosition = list_->topLevelItem(itemData);
        if (byPosition != nullptr && byPosition->data(0, Qt::UserRole).toInt() == itemData)
            return byPosition;
        for (int p = 0; p < RowCount(); ++p)
            if (list_->topLevelItem(p)->data(0, Qt::UserRole).toInt() == itemData)
                return list_->topLevelItem(p);
        return nullptr;
    };
    const QTreeWidgetItem* ia = rowOf(a);
    const QTreeWidgetItem* ib = rowOf(b);
    if (ia == nullptr || ib == nullptr || sortColumn < 0 || sortColumn >= kDeviceColumns) return 0;
    QString ka = ia->text(sortColumn);
    QString kb = ib->text(sortColumn);
    if (sortColumn == COL_NUMBER || sortColumn == COL_PORT) {
        ka = QText(NumericSortKey(ka.toStdString()));
        kb = QText(NumericSortKey(kb.toStdString()));
    } else if (sortColumn == COL_ADDRESS) {
        ka = QText(MakeSortKey(ka.toStdString(), sortKeyFamily));
        kb = QText(MakeSortKey(kb.toStdString(), sortKeyFamily));
    }
    if (sortOrder == 1) return Sign(QString::compare(ka, kb, Qt::CaseSensitive));
    if (sortOrder == 2) return Sign(QString::compare(kb, ka, Qt::CaseSensitive));
    return 0;
}

}  // namespace valdrune
