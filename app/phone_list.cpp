#include "phone_list.h"

#include "link/dial_string.h"

#include <QApplication>
#include <QBrush>
#include <QStyle>

namespace ostrand {

PhoneList::PhoneList(QObject *parent) : QAbstractTableModel(parent) {}

QString PhoneList::text(int row, int col) const
{
    if (row < 0 || row >= kRows || col < 0 || col >= kCols)
        return {};
    return cells_[row][col];
}

void PhoneList::setText(int row, int col, const QString &text)
{
    if (row < 0 || row >= kRows || col < 0 || col >= kCols || cells_[row][col] == text)
        return;
    cells_[row][col] = text;
    if (row == 0) {
        if (col > 0)
            emit headerDataChanged(Qt::Horizontal, col - 1, col - 1);
    } else if (col == 0) {
        emit headerDataChanged(Qt::Vertical, row - 1, row - 1);
    } else {
        const QModelIndex cell = index(row - 1, col - 1);
        emit dataChanged(cell, cell, {Qt::DisplayRole});
    }
}

void PhoneList::setCurrentCell(int row, int col)
{
    if (row < 0 || row >= kRows || col < 0 || col >= kCols)
        return;
    if (row == currentRow_ && col == currentCol_)
        return;
    currentRow_ = row;
    currentCol_ = col;
    emit currentCellChanged(row, col);
}

void PhoneList::setUpHeadings()
{
    setCurrentCell(0, currentCol_);
    setText(0, kItemCol, QStringLiteral("Item #"));
    setText(0, kPhoneCol, QStringLiteral("Phone #"));
    setText(0, kDescriptionCol, QStringLiteral("Description"));
    widths_ = {200, 500, 1500, 2800};
    emit columnWidthsChanged();
}

int PhoneList::colWidthTwips(int col) const
{
    return col >= 0 && col < kCols ? widths_[col] : 0;
}

int PhoneList::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : kRows - 1;
}

int PhoneList::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : kCols - 1;
}

QVariant PhoneList::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    const QString cell = text(index.row() + 1, index.column() + 1);
    // A number the dialer would refuse is marked where it is chosen, before anyone presses Dial.
    const bool undialable = index.column() + 1 == kPhoneCol && !isDialable(cell);
    switch (role) {
    case Qt::DisplayRole:
        return cell;
    case Qt::ToolTipRole:
        return undialable ? QStringLiteral("Not dialled: %1").arg(dialStringProblem(cell)) : cell;
    case Qt::DecorationRole:
        if (undialable)
            return QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
        return {};
    case Qt::ForegroundRole:
        return undialable ? QVariant(QBrush(Qt::darkRed)) : QVariant();
    default:
        return {};
    }
}

QVariant PhoneList::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    return orientation == Qt::Horizontal ? text(0, section + 1) : text(section + 1, 0);
}

} // namespace ostrand
