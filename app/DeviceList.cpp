#include "app/DeviceList.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QProxyStyle>
#include <QStringDecoder>
#include <QStyle>
#include <QStyleOptionHeader>
#include <QTreeView>
#include <algorithm>
#include <cstdio>

#include "dialogkit/ControlText.h"
#include "protocol/Protocol.h"
#include "protocol/Session.h"

namespace valdrune {
namespace {

// Styles disagree on which way a header's sort indicator points (Fusion draws Qt's descending
// order upwards, the Windows styles downwards), so the header draws a plain arrow itself:
// SortUp, which Qt sets for a descending indicator, always points up.
class HeaderArrowStyle final : public QProxyStyle {
  public:
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        const auto* header = qstyleoption_cast<const QStyleOptionHeader*>(option);
        if (element == PE_IndicatorHeaderArrow && header != nullptr) {
            const QStyleOption arrow(*option);
            QProxyStyle::drawPrimitive(header->sortIndicator == QStyleOptionHeader::SortUp
                                           ? PE_IndicatorArrowUp
                                           : PE_IndicatorArrowDown,
                                       &arrow, painter, widget);
            return;
        }
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }
};

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

int HeaderTextWidth(const QHeaderView& header, const QString& text) {
    const int margin = header.style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, &header);
    return header.fontMetrics().horizontalAdvance(text) + 2 * margin;
}

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

CDeviceList::CDeviceList(const CProtocol& engine, Hooks hooks)
    : engines_{&engine}, hooks_(std::move(hooks)) {}

void CDeviceList::SetSources(std::vector<const CProtocol*> engines) {
    if (engines.empty()) return;
    engines_ = std::move(engines);
}

const CProtocol& CDeviceList::EngineOf(int source) const {
    return source >= 0 && source < SourceCount() ? *engines_[static_cast<std::size_t>(source)]
                                                 : *engines_.front();
}

void CDeviceList::ShowAdapterColumn(bool shown) {
    if (view_ == nullptr || shown == model_.AdapterColumnShown()) return;
    if (sortColumn_ == COL_ADAPTER && !shown) Clear();
    model_.SetHeaderText(COL_ADAPTER, DialogText(1181));
    model_.ShowAdapterColumn(shown);
    QHeaderView* header = view_->header();
    if (!shown) {
        columnTotal_ -= adapterWidth_;
        adapterWidth_ = 0;
        return;
    }
    // As wide as the longest name, within the width of the other text columns.
    int names = 0;
    for (const CProtocol* engine : engines_)
        names = std::max(names, HeaderTextWidth(*header, QText(AdapterName(*engine))));
    adapterWidth_ = std::max(HeaderTextWidth(*header, model_.HeaderText(COL_ADAPTER)),
                             std::min(names, CalcControlTextWidth(header, QStringLiteral(
                                                                              "WWWWWWWWWWWWWWW"))));
    header->setSectionResizeMode(COL_ADAPTER, QHeaderView::Interactive);
    header->resizeSection(COL_ADAPTER, adapterWidth_);
    columnTotal_ += adapterWidth_;
}

CDeviceListView* CDeviceList::CreateView(QWidget* parent) {
    view_ = new CDeviceListView(parent);
    view_->setModel(&model_);
    view_->setRootIsDecorated(false);
    view_->setItemsExpandable(false);
    view_->setUniformRowHeights(true);
    // Several rows can be picked for a batch; single-device actions take the current one.
    view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setAllColumnsShowFocus(true);
    view_->setSortingEnabled(false);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    QHeaderView* header = view_->header();
    header->setStretchLastSection(false);
    header->setSectionsClickable(true);
    header->setSectionsMovable(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    auto* arrows = new HeaderArrowStyle;
    arrows->setParent(header);
    header->setStyle(arrows);
    QObject::connect(header, &QHeaderView::sectionClicked, view_,
                     [this](int column) { OnColumnClick(column); });
    const auto refilter = [this] {
        if (!filter_.isEmpty()) ApplyFilter();
    };
    QObject::connect(&model_, &QAbstractItemModel::rowsInserted, view_, refilter);
    QObject::connect(&model_, &QAbstractItemModel::dataChanged, view_, refilter);
    QObject::connect(&model_, &QAbstractItemModel::layoutChanged, view_, refilter);
    return view_;
}

int CDeviceList::CreateColumns() {
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
    for (int i = 0; i < kDeviceColumns; ++i)
        model_.SetHeaderText(i, DialogText(kColumns[i].header));
    QHeaderView* header = view_->header();
    // Measure with the font the header will draw with, style sheets included.
    header->ensurePolished();
    int total = 0;
    for (int i = 0; i < kDeviceColumns; ++i) {
        const Column& c = kColumns[i];
        const QString sample =
            c.sample != nullptr ? QString::fromLatin1(c.sample) : model_.HeaderText(i);
        int width = CalcControlTextWidth(header, sample);
        // Half of a sample can be narrower than a long translation of the header itself,
        // which then needs its text and the header's margins.
        if (c.half) width = std::max(width / 2, HeaderTextWidth(*header, model_.HeaderText(i)));
        header->setSectionResizeMode(i, QHeaderView::Interactive);
        header->resizeSection(i, width);
        total += width;
    }
    const int v = view_->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, view_);
    columnTotal_ = total + v + 4;
    return columnTotal_;
}

int CDeviceList::ColumnWidth(int column) const {
    return view_ == nullptr ? 0 : view_->header()->sectionSize(column);
}

// ---- Rows -----------------------------------------------------------------------------------

int CDeviceList::SelectedRow() const {
    const std::vector<int> rows = SelectedRows();
    if (rows.empty()) return -1;
    const int current = view_->currentIndex().row();
    return std::find(rows.begin(), rows.end(), current) != rows.end() ? current : rows.front();
}

std::vector<int> CDeviceList::SelectedRows() const {
    std::vector<int> rows;
    if (view_ == nullptr || view_->selectionModel() == nullptr) return rows;
    for (const QModelIndex& index : view_->selectionModel()->selectedRows())
        if (RowShown(index.row())) rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

std::vector<_CommandDataTable> CDeviceList::SelectedRecords() const {
    std::vector<_CommandDataTable> records;
    for (int row : SelectedRows())
        if (auto record = RecordAt(row)) records.push_back(*record);
    return records;
}

std::optional<_CommandDataTable> CDeviceList::RecordAt(int row) const {
    if (row < 0 || row >= RowCount()) return std::nullopt;
    return EngineOf(SourceOf(row)).FindDevice(RowText(row, COL_MAC).toStdString());
}

// ---- Filter ---------------------------------------------------------------------------------

void CDeviceList::SetFilter(const QString& text) {
    filter_ = text.trimmed();
    ApplyFilter();
}

bool CDeviceList::RowShown(int row) const {
    if (row < 0 || row >= RowCount()) return false;
    if (filter_.isEmpty()) return true;
    for (int c = 0; c < model_.columnCount(); ++c)
        if (RowText(row, c).contains(filter_, Qt::CaseInsensitive)) return true;
    return false;
}

std::vector<int> CDeviceList::ShownRows() const {
    std::vector<int> rows;
    for (int p = 0; p < RowCount(); ++p)
        if (RowShown(p)) rows.push_back(p);
    return rows;
}

void CDeviceList::ApplyFilter() {
    if (view_ == nullptr) return;
    QItemSelectionModel* selection = view_->selectionModel();
    for (int p = 0; p < RowCount(); ++p) {
        const bool shown = RowShown(p);
        if (view_->isRowHidden(p, {}) == !shown) continue;
        view_->setRowHidden(p, {}, !shown);
        if (!shown && selection != nullptr)
            selection->select(model_.index(p, 0),
                              QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
    }
}

std::optional<_CommandDataTable> CDeviceList::SelectedRecord() const {
    return RecordAt(SelectedRow());
}

void CDeviceList::WriteAddressColumns(int row, const _CommandDataTable& record) {
    if (viewFamily_ == 6) {
        model_.SetText(row, COL_ADDRESS, QText(Ipv6Text(record)));
        model_.SetText(row, COL_PORT, QText(Ipv6PortText(record)));
    } else {
        model_.SetText(row, COL_ADDRESS, QText(Ipv4Text(record.primary.ipAddress)));
        model_.SetText(row, COL_PORT, QString::number(record.primary.port));
    }
}

QString CDeviceList::CurrentOverlapText(const _CommandDataTable& record, int source) const {
    if (record.primary.ipAddress == 0) return {};
    const CProtocol& engine = EngineOf(source);
    std::vector<std::uint16_t> overlaps;
    engine.FindOverlaps(record, overlaps);
    if (SourceCount() > 1) {
        // An engine numbers its own devices; the list's numbers are those of its rows.
        std::vector<std::uint16_t> numbers;
        engine.ForEachDevice([&](const DeviceEntry& e) {
            if (std::find(overlaps.begin(), overlaps.end(), e.number) == overlaps.end()) return;
            const int row = model_.FindRowByMac(QText(MacText(e.record.primary.mac)), source);
            if (row >= 0)
                numbers.push_back(static_cast<std::uint16_t>(RowText(row, COL_NUMBER).toInt() - 1));
        });
        std::sort(numbers.begin(), numbers.end());
        overlaps = std::move(numbers);
    }
    return QText(OverlapText(overlaps));
}

void CDeviceList::WriteDeviceRow(const MacAddress& mac, int source) {
    if (view_ == nullptr) return;
    const CProtocol& engine = EngineOf(source);
    auto found = engine.FindDevice(mac);
    if (!found) return;
    const _CommandDataTable& record = *found;
    const QString macText = QText(MacText(mac));

    // The engine numbers devices in the order they were first found since the last clear,
    // which is the order their rows were appended in. Rows of several engines are numbered
    // in the order they were appended.
    int p = model_.FindRowByMac(macText, source);
    if (p < 0) {
        p = model_.AppendRow(source);
        const int number = SourceCount() > 1 ? p : engine.DeviceNumber(mac);
        model_.SetText(p, COL_NUMBER, QString::asprintf("%3d", number + 1));
        // Kept while the column is hidden, so that it is there whenever it is shown.
        model_.SetText(p, COL_ADAPTER, QText(AdapterName(engine)));
    }

    model_.SetText(p, COL_MAC, macText);
    WriteAddressColumns(p, record);
    if (record.capabilityFlag == 0 && ansiDecoder_)
        model_.SetText(p, COL_NAME, QString::fromStdString(DeviceNameText(record, ansiDecoder_)));
    else
        model_.SetText(p, COL_NAME, DecodeField(record.deviceName, record.capabilityFlag != 0));
    model_.SetText(p, COL_MODEL, DecodeField(record.model, false));

    if (hooks_.track) hooks_.track(record);

    model_.SetText(p, COL_SERIAL, DecodeField(record.serialNumber, false));

    const QString before = model_.Text(p, COL_OVERLAP);
    const QString now = CurrentOverlapText(record, source);
    model_.SetText(p, COL_OVERLAP, now);
    if (now != before && hooks_.postRefresh) hooks_.postRefresh(p);
}

void CDeviceList::RefreshOverlaps(int skip) {
    for (int q = 0; q < RowCount(); ++q) {
        if (q == skip) continue;
        const auto record = RecordAt(q);
        if (record) model_.SetText(q, COL_OVERLAP, CurrentOverlapText(*record, SourceOf(q)));
    }
}

void CDeviceList::SwitchView(int selection) {
    if (selection != 0 && selection != 1) return;
    const int family = selection == 0 ? 4 : 6;
    if (family == viewFamily_) return;
    viewFamily_ = family;
    model_.SetHeaderText(COL_ADDRESS, DialogText(family == 4 ? 214 : 215));
    for (int p = 0; p < RowCount(); ++p) {
        const auto record = RecordAt(p);
        if (record) WriteAddressColumns(p, *record);
    }
    if (sortColumn_ == COL_ADDRESS || sortColumn_ == COL_PORT) {
        sortKeyFamily_ = viewFamily_;
        SortRows(sortColumn_, sortOrder_, sortColumn_);
    }
}

void CDeviceList::Clear() {
    if (view_ == nullptr) return;
    model_.Clear();
    if (sortColumn_ != -1) {
        arrowColumn_ = -1;
        arrowOrder_ = 0;
        view_->header()->setSortIndicatorShown(false);
    }
    sortColumn_ = -1;
    sortOrder_ = 0;
    sortKeyFamily_ = 4;
}

// ---- Sorting --------------------------------------------------------------------------------

void CDeviceList::SortAgainAfterAddressChange() {
    if (sortColumn_ == COL_PORT || sortColumn_ == COL_OVERLAP ||
        (sortColumn_ == COL_ADDRESS && sortKeyFamily_ == 4)) {
        sortKeyFamily_ = viewFamily_;
        SortRows(sortColumn_, sortOrder_, sortColumn_);
    }
}

void CDeviceList::OnColumnClick(int column) {
    int previous = column;
    if (column == sortColumn_) {
        sortOrder_ = sortOrder_ == 1 ? 2 : 1;
    } else {
        previous = sortColumn_;
        sortColumn_ = column;
        sortOrder_ = 1;
    }
    sortKeyFamily_ = viewFamily_;
    SortRows(column, sortOrder_, previous);
}

void CDeviceList::ShowArrow(int column, int order) {
    arrowColumn_ = column;
    arrowOrder_ = order == 2 ? 2 : 1;
    if (view_ == nullptr) return;
    // Qt's descending indicator is the upward arrow (HeaderArrowStyle).
    QHeaderView* header = view_->header();
    header->setSortIndicatorShown(true);
    header->setSortIndicator(column, arrowOrder_ == 1 ? Qt::DescendingOrder : Qt::AscendingOrder);
}

void CDeviceList::SortRows(int column, int order, int previous) {
    if (previous != -1 && previous != column && arrowColumn_ == previous) {
        arrowColumn_ = -1;
        arrowOrder_ = 0;
    }
    ShowArrow(column, order);
    // The comparison gets the rows' positions before the sort, as each row's item data.
    model_.SortRows([this](int a, int b) { return CompareRows(a, b); });
}

int CDeviceList::CompareRows(int a, int b) const {
    if (sortColumn_ < 0 || sortColumn_ >= model_.columnCount() || a < 0 || b < 0 || a >= RowCount() ||
        b >= RowCount())
        return 0;
    QString ka = RowText(a, sortColumn_);
    QString kb = RowText(b, sortColumn_);
    if (sortColumn_ == COL_NUMBER || sortColumn_ == COL_PORT) {
        ka = QText(NumericSortKey(ka.toStdString()));
        kb = QText(NumericSortKey(kb.toStdString()));
    } else if (sortColumn_ == COL_ADDRESS) {
        ka = QText(MakeSortKey(ka.toStdString(), sortKeyFamily_));
        kb = QText(MakeSortKey(kb.toStdString(), sortKeyFamily_));
    }
    if (sortOrder_ == 1) return Sign(QString::compare(ka, kb, Qt::CaseSensitive));
    if (sortOrder_ == 2) return Sign(QString::compare(kb, ka, Qt::CaseSensitive));
    return 0;
}

}  // namespace valdrune
