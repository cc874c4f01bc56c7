#include "results_table_model.h"

#include "table/grid_layout.h"
#include "table/results_grid.h"

#include <QSize>

#include <algorithm>

namespace ostrand {

ResultsTableModel::ResultsTableModel(const ResultsGrid &grid, QObject *parent)
    : QAbstractTableModel(parent), grid_(grid), shownRows_(filledRows())
{
    // The grid's model cell (r, c) is grid cell (r + 1, c + 1); its vertical
    // header section s is grid cell (s + 1, 0).
    connect(&grid_, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex &from, const QModelIndex &to) {
                gridChanged(from.row() + 1, to.row() + 1, from.column() + 1, to.column() + 1);
            });
    connect(&grid_, &QAbstractItemModel::headerDataChanged, this,
            [this](Qt::Orientation orientation, int first, int last) {
                // Row 0 (the grid's horizontal header) is never shown; its
                // notices carry the column widths, which the view reads itself.
                if (orientation == Qt::Vertical)
                    gridChanged(first + 1, last + 1, kRecordCol, kRecordCol);
            });
    connect(&grid_, &QAbstractItemModel::modelReset, this, &ResultsTableModel::gridReset);
}

int ResultsTableModel::filledRows() const
{
    return std::max(grid_.lastUsedRow() - kFirstDataRow + 1, 0);
}

void ResultsTableModel::gridReset()
{
    beginResetModel();
    shownRows_ = filledRows();
    endResetModel();
    emit cornerTextChanged();
}

void ResultsTableModel::gridChanged(int firstRow, int lastRow, int firstCol, int lastCol)
{
    const int filled = filledRows();
    if (filled > shownRows_) {
        beginInsertRows(QModelIndex(), shownRows_, filled - 1);
        const int before = shownRows_;
        shownRows_ = filled;
        endInsertRows();
        // The rows just inserted are read afresh; only those before may have changed.
        lastRow = std::min(lastRow, before - 1 + kFirstDataRow);
    } else if (filled < shownRows_) {
        beginRemoveRows(QModelIndex(), filled, shownRows_ - 1);
        shownRows_ = filled;
        endRemoveRows();
    }
    if (firstRow <= kHeadingRow && lastRow >= kHeadingRow) {
        if (firstCol <= kRecordCol)
            emit cornerTextChanged();
        if (lastCol > kRecordCol)
            emit headerDataChanged(Qt::Horizontal, std::max(firstCol, 1) - 1, lastCol - 1);
    }
    // In model rows, cut to those shown.
    const int first = std::max(firstRow - kFirstDataRow, 0);
    const int last = std::min(lastRow - kFirstDataRow, shownRows_ - 1);
    if (first > last)
        return;
    if (firstCol <= kRecordCol)
        emit headerDataChanged(Qt::Vertical, first, last);
    if (lastCol > kRecordCol)
        emit dataChanged(index(first, std::max(firstCol, 1) - 1), index(last, lastCol - 1),
                         {Qt::DisplayRole});
}

QString ResultsTableModel::cornerText() const
{
    return grid_.text(kHeadingRow, kRecordCol);
}

int ResultsTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : shownRows_;
}

int ResultsTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : grid_.columnCount();
}

QVariant ResultsTableModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
        return QVariant();
    return grid_.text(index.row() + kFirstDataRow, index.column() + 1);
}

QVariant ResultsTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    const bool horizontal = orientation == Qt::Horizontal;
    if (section < 0 || section >= (horizontal ? columnCount() : rowCount()))
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
        return horizontal ? grid_.text(kHeadingRow, section + 1)
                          : grid_.text(section + kFirstDataRow, kRecordCol);
    case Qt::SizeHintRole: {
        // A header's thickness comes from the hints' other dimension, so both carry one.
        const int width = grid_.colWidthTwips(horizontal ? section + 1 : kRecordCol);
        return QSize(ResultsGrid::twipsToPixels(width),
                     ResultsGrid::twipsToPixels(ResultsGrid::kDefaultRowHeightTwips));
    }
    default:
        return QVariant();
    }
}

} // namespace ostrand
