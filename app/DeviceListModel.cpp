#include "app/DeviceListModel.h"

#include <QGuiApplication>
#include <QPalette>
#include <algorithm>
#include <numeric>

#include "dialogkit/ControlText.h"

namespace valdrune {

int CDeviceListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int CDeviceListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kDeviceColumns + (adapterColumn_ ? 1 : 0);
}

QVariant CDeviceListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    if (role == Qt::DisplayRole) return Text(index.row(), index.column());
    if (!NotAnswering(index.row())) return {};
    if (role == Qt::ForegroundRole)
        return QGuiApplication::palette().brush(QPalette::Disabled, QPalette::Text);
    if (role == Qt::ToolTipRole) return DialogText(1112);
    return {};
}

QVariant CDeviceListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    return HeaderText(section);
}

void CDeviceListModel::SetHeaderText(int column, const QString& text) {
    if (column < 0 || column >= kListColumns) return;
    headers_[static_cast<std::size_t>(column)] = text;
    emit headerDataChanged(Qt::Horizontal, column, column);
}

QString CDeviceListModel::HeaderText(int column) const {
    if (column < 0 || column >= kListColumns) return {};
    return headers_[static_cast<std::size_t>(column)];
}

void CDeviceListModel::ShowAdapterColumn(bool shown) {
    if (shown == adapterColumn_) return;
    if (shown) {
        beginInsertColumns({}, COL_ADAPTER, COL_ADAPTER);
        adapterColumn_ = true;
        endInsertColumns();
    } else {
        beginRemoveColumns({}, COL_ADAPTER, COL_ADAPTER);
        adapterColumn_ = false;
        endRemoveColumns();
    }
}

int CDeviceListModel::AppendRow(int source) {
    const int row = rowCount();
    beginInsertRows({}, row, row);
    rows_.push_back(Row{{}, source});
    endInsertRows();
    return row;
}

int CDeviceListModel::Source(int row) const {
    return row < 0 || row >= rowCount() ? -1 : rows_[static_cast<std::size_t>(row)].source;
}

QString CDeviceListModel::Text(int row, int column) const {
    if (row < 0 || row >= rowCount() || column < 0 || column >= kListColumns) return {};
    return rows_[static_cast<std::size_t>(row)].texts[static_cast<std::size_t>(column)];
}

void CDeviceListModel::SetText(int row, int column, const QString& text) {
    if (row < 0 || row >= rowCount() || column < 0 || column >= kListColumns) return;
    QString& cell = rows_[static_cast<std::size_t>(row)].texts[static_cast<std::size_t>(column)];
    if (cell == text) return;
    cell = text;
    if (column >= columnCount()) return;
    const QModelIndex at = index(row, column);
    emit dataChanged(at, at, {Qt::DisplayRole});
}

int CDeviceListModel::FindRowByMac(const QString& macText, int source) const {
    for (std::size_t p = 0; p < rows_.size(); ++p)
        if (rows_[p].source == source && rows_[p].texts[COL_MAC] == macText)
            return static_cast<int>(p);
    return -1;
}

QString CDeviceListModel::Key(const QString& macText, int source) {
    return QString::number(source) + QLatin1Char('/') + macText;
}

void CDeviceListModel::Clear() {
    beginResetModel();
    rows_.clear();
    notAnswering_.clear();
    endResetModel();
}

void CDeviceListModel::SetNotAnswering(const QString& macText, bool notAnswering, int source) {
    const QString key = Key(macText, source);
    if (notAnswering_.contains(key) == notAnswering) return;
    if (notAnswering)
        notAnswering_.insert(key);
    else
        notAnswering_.remove(key);
    const int row = FindRowByMac(macText, source);
    if (row >= 0)
        emit dataChanged(index(row, 0), index(row, columnCount() - 1),
                         {Qt::ForegroundRole, Qt::ToolTipRole});
}

bool CDeviceListModel::NotAnswering(int row) const {
    return row >= 0 && row < rowCount() && notAnswering_.contains(Key(Text(row, COL_MAC), Source(row)));
}

void CDeviceListModel::SortRows(const RowComparison& compare) {
    const int count = rowCount();
    std::vector<int> order(static_cast<std::size_t>(count));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&compare](int a, int b) { return compare(a, b) < 0; });

    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> newPosition(static_cast<std::size_t>(count));
    std::vector<Row> sorted;
    sorted.reserve(rows_.size());
    for (int p = 0; p < count; ++p) {
        const auto from = static_cast<std::size_t>(order[static_cast<std::size_t>(p)]);
        newPosition[from] = p;
        sorted.push_back(std::move(rows_[from]));
    }
    rows_ = std::move(sorted);
    QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& old : before)
        after << index(newPosition[static_cast<std::size_t>(old.row())], old.column());
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

}  // namespace valdrune
