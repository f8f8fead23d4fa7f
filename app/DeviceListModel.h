// The rows of the device list as a Qt table model: eight texts per row (nine while the list
// shows the devices of every adapter), the header texts and a sort that moves whole rows. What the texts say and how rows compare is the list's business
// (CDeviceList); the model only holds them and tells the views.
#pragma once

#include <QAbstractTableModel>
#include <QSet>
#include <QString>
#include <array>
#include <functional>
#include <vector>

namespace valdrune {

// Columns of the device list.
enum DeviceColumn {
    COL_NUMBER = 0,
    COL_MAC = 1,
    COL_ADDRESS = 2,
    COL_PORT = 3,
    COL_NAME = 4,
    COL_MODEL = 5,
    COL_SERIAL = 6,
    COL_OVERLAP = 7,
    kDeviceColumns = 8,
    // Shown only while every adapter is searched: the adapter the device answered on.
    COL_ADAPTER = 8,
    kListColumns = 9,
};

class CDeviceListModel : public QAbstractTableModel {
  public:
    using RowTexts = std::array<QString, kListColumns>;
    // -1, 0 or 1 for two rows given by their positions before the sort.
    using RowComparison = std::function<int(int a, int b)>;

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void SetHeaderText(int column, const QString& text);
    QString HeaderText(int column) const;

    // The adapter column comes and goes as a column of its own after the specified ones.
    void ShowAdapterColumn(bool shown);
    bool AdapterColumnShown() const { return adapterColumn_; }

    // An empty row at the end for a device of that source (the adapter's session it was
    // found by, 0 with a single adapter); returns its position.
    int AppendRow(int source = 0);
    int Source(int row) const;
    // Empty for a position or column out of range.
    QString Text(int row, int column) const;
    // Tells the views only when the text changes.
    void SetText(int row, int column, const QString& text);
    // First row of the source whose column-1 text equals macText exactly, -1 when none.
    int FindRowByMac(const QString& macText, int source = 0) const;
    void Clear();
    // A device that stopped answering keeps its row, drawn greyed with a note saying so.
    void SetNotAnswering(const QString& macText, bool notAnswering, int source = 0);
    bool NotAnswering(int row) const;
    // Stable: rows that compare equal keep their order. Views keep their selection and
    // current row on the rows that move.
    void SortRows(const RowComparison& compare);

    // A device of a source, as one text.
    static QString Key(const QString& macText, int source);

  private:
    struct Row {
        RowTexts texts;
        int source = 0;
    };

    std::vector<Row> rows_;
    RowTexts headers_;
    QSet<QString> notAnswering_;  // Key()s
    bool adapterColumn_ = false;
};

}  // namespace valdrune
