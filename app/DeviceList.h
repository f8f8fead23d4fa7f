// The device list of the main window (control 1004): one row per device of the engine's table,
// the IPv4 and IPv6 views, sorting by a clicked column with the header's arrow, and the overlap
// column. Its rows live in a CDeviceListModel that the view shows; the sort and view state are
// its own.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/DeviceListModel.h"
#include "app/DeviceListView.h"
#include "protocol/DeviceName.h"
#include "protocol/Record.h"

class QHeaderView;
class QTreeView;
class QWidget;

namespace valdrune {

class CProtocol;

// Sort keys of the device list. Pure functions so that the ordering rules stay testable.
// Family 4: "%03d.%03d.%03d.%03d"; family 6: eight "%04X" groups, "--------" kept as is;
// any other family: the text itself.
std::string MakeSortKey(const std::string& text, int family);
// Leading blanks skipped, decimal digits read (none gives 0), "%06d".
std::string NumericSortKey(const std::string& text);
// "%d" of each row number, joined by " ,".
std::string OverlapText(const std::vector<std::uint16_t>& numbers);
// What a header section needs to show text unclipped: the text and the style's margins.
int HeaderTextWidth(const QHeaderView& header, const QString& text);

class CDeviceList {
  public:
    // track: a written row's device, for the browser bookkeeping. postRefresh: queue a refresh
    // of the other rows' overlap column behind the current message, skipping that position.
    struct Hooks {
        std::function<void(const _CommandDataTable&)> track;
        std::function<void(int skip)> postRefresh;
    };

    // engine: the session's engine, source 0 of the rows.
    CDeviceList(const CProtocol& engine, Hooks hooks);
    CDeviceList(const CDeviceList&) = delete;
    CDeviceList& operator=(const CDeviceList&) = delete;

    // Converts the names of devices without UTF-8; without one the host's 8-bit encoding is used.
    void SetAnsiDecoder(AnsiDecoder decoder) { ansiDecoder_ = std::move(decoder); }

    // The list view, configured and showing the model; owned by parent.
    CDeviceListView* CreateView(QWidget* parent);
    CDeviceListView* View() const { return view_; }
    const CDeviceListModel& Model() const { return model_; }
    CDeviceListModel& Model() { return model_; }

    // Header texts and widths; returns the widths' sum plus a scroll bar and 4.
    int CreateColumns();
    int ColumnTotal() const { return columnTotal_; }
    int ColumnWidth(int column) const;

    // The engines rows come from, source 0 first (the chosen adapter's); with more than one
    // the rows are numbered in the list's own order and overlaps are those of each engine,
    // never across adapters. Takes effect for rows written afterwards: clear the list first.
    void SetSources(std::vector<const CProtocol*> engines);
    int SourceCount() const { return static_cast<int>(engines_.size()); }
    // The adapter column after the specified ones, with the adapter each row was found on.
    void ShowAdapterColumn(bool shown);

    void WriteDeviceRow(const MacAddress& mac, int source = 0);
    void RefreshOverlaps(int skip);
    // Combo 1006: 0 the IPv4 view, 1 the IPv6 view.
    void SwitchView(int selection);
    void OnColumnClick(int column);
    void SortRows(int column, int order, int previous);
    // -1, 0 or 1 for the rows at positions a and b before the sort.
    int CompareRows(int a, int b) const;
    // After a completed change: a list sorted by the port or overlap column, or by the address
    // column with IPv4 keys, is sorted again with its column and order.
    void SortAgainAfterAddressChange();
    // All rows gone, the sort and its arrow forgotten.
    void Clear();

    int RowCount() const { return model_.rowCount(); }
    QString RowText(int row, int column) const { return model_.Text(row, column); }
    // With several rows selected, the current one when it is among them, else the first.
    int SelectedRow() const;
    std::optional<_CommandDataTable> SelectedRecord() const;
    // The source of a row (the engine its device was found by), -1 for none.
    int SourceOf(int row) const { return model_.Source(row); }
    std::optional<_CommandDataTable> RecordAt(int row) const;
    // Selected rows that are shown, in list order, and their devices.
    std::vector<int> SelectedRows() const;
    std::vector<_CommandDataTable> SelectedRecords() const;

    // Only rows with the text in some column (any case) are shown; hidden rows lose their
    // selection. Empty shows every row. Kept as rows are written, sorted or cleared.
    void SetFilter(const QString& text);
    const QString& Filter() const { return filter_; }
    bool RowShown(int row) const;
    std::vector<int> ShownRows() const;

    // Sort state: column -1 none; order 0 none, 1 ascending, 2 descending; key family and
    // view family 4 or 6.
    int SortColumn() const { return sortColumn_; }
    int SortOrder() const { return sortOrder_; }
    int SortKeyFamily() const { return sortKeyFamily_; }
    int ViewFamily() const { return viewFamily_; }
    // 0 none, 1 up (ascending), 2 down (descending).
    int HeaderArrow(int column) const { return column == arrowColumn_ ? arrowOrder_ : 0; }

  private:
    void WriteAddressColumns(int row, const _CommandDataTable& record);
    QString CurrentOverlapText(const _CommandDataTable& record, int source) const;
    const CProtocol& EngineOf(int source) const;
    void ShowArrow(int column, int order);
    void ApplyFilter();

    std::vector<const CProtocol*> engines_;
    Hooks hooks_;
    AnsiDecoder ansiDecoder_;
    CDeviceListModel model_;
    CDeviceListView* view_ = nullptr;
    int columnTotal_ = 0;
    int adapterWidth_ = 0;  // counted in columnTotal_ while the adapter column is shown
    int sortColumn_ = -1;
    int sortOrder_ = 0;
    int sortKeyFamily_ = 4;
    int viewFamily_ = 4;
    int arrowColumn_ = -1;  // column showing a sort arrow, -1 none
    int arrowOrder_ = 0;
    QString filter_;
};

}  // namespace valdrune
