#include "results_grid.h"

#include <QSize>
#include <QStringView>
#include <QVarLengthArray>

#include <algorithm>
#include <cstring>

namespace ostrand {
namespace {

using Row = std::unique_ptr<char16_t[]>;

// A row block starts with each cell's end offset, a 32-bit count of char16_t
// kept in two units so the block stays one plain array.
constexpr int kUnitsPerOffset = 2;

quint32 cellEnd(const char16_t *row, int col)
{
    quint32 end;
    std::memcpy(&end, row + col * kUnitsPerOffset, sizeof end);
    return end;
}

QStringView cellView(const char16_t *row, int cols, int col)
{
    const quint32 begin = col == 0 ? 0 : cellEnd(row, col - 1);
    return QStringView(row + cols * kUnitsPerOffset + begin, cellEnd(row, col) - begin);
}

// Packs one text per column into a block; null when all are empty, so a row
// that loses its last text costs nothing again. The texts may lie in the
// block being replaced, which lives until this returns.
template <typename TextOf> Row packRow(int cols, TextOf textOf)
{
    QVarLengthArray<QStringView, 16> texts(cols);
    qsizetype total = 0;
    for (int col = 0; col < cols; ++col) {
        texts[col] = textOf(col);
        total += texts[col].size();
    }
    if (total == 0)
        return nullptr;
    Row row(new char16_t[cols * kUnitsPerOffset + total]);
    char16_t *chars = row.get() + cols * kUnitsPerOffset;
    quint32 end = 0;
    for (int col = 0; col < cols; ++col) {
        std::copy(texts[col].utf16(), texts[col].utf16() + texts[col].size(), chars + end);
        end += static_cast<quint32>(texts[col].size());
        std::memcpy(row.get() + col * kUnitsPerOffset, &end, sizeof end);
    }
    return row;
}

void trimTrailingEmptyRows(std::vector<Row> &rows)
{
    while (!rows.empty() && !rows.back())
        rows.pop_back();
}

} // namespace

ResultsGrid::BulkUpdate::BulkUpdate(ResultsGrid &grid) : grid_(grid)
{
    grid_.beginBulkUpdate();
}

ResultsGrid::BulkUpdate::~BulkUpdate()
{
    grid_.endBulkUpdate();
}

ResultsGrid::ResultsGrid(int rows, int cols, QObject *parent)
    : QAbstractTableModel(parent), rowCount_(std::max(rows, 0)), colCount_(std::max(cols, 0)),
      colWidthsTwips_(colCount_, kDefaultColWidthTwips)
{
}

ResultsGrid::~ResultsGrid() = default;

void ResultsGrid::setRows(int rows)
{
    if (rows < 0 || rows == rowCount_)
        return;
    beginResetModel();
    rowCount_ = rows;
    if (cells_.size() > static_cast<size_t>(rows)) {
        cells_.resize(rows);
        trimTrailingEmptyRows(cells_);
    }
    endResetModel();
}

void ResultsGrid::setCols(int cols)
{
    if (cols < 0 || cols == colCount_)
        return;
    beginResetModel();
    const int oldCols = colCount_;
    const int kept = std::min(oldCols, cols);
    for (Row &row : cells_) {
        if (!row)
            continue;
        const char16_t *old = row.get();
        row = packRow(cols, [&](int col) {
            return col < kept ? cellView(old, oldCols, col) : QStringView();
        });
    }
    trimTrailingEmptyRows(cells_);
    colCount_ = cols;
    colWidthsTwips_.resize(cols, kDefaultColWidthTwips);
    endResetModel();
}

bool ResultsGrid::contains(int row, int col) const
{
    return row >= 0 && row < rowCount_ && col >= 0 && col < colCount_;
}

const char16_t *ResultsGrid::storedRow(int row) const
{
    return row >= 0 && static_cast<size_t>(row) < cells_.size() ? cells_[row].get() : nullptr;
}

void ResultsGrid::storeRow(int row, Row packed)
{
    if (static_cast<size_t>(row) >= cells_.size()) {
        if (!packed)
            return;
        cells_.resize(row + 1);
    }
    cells_[row] = std::move(packed);
    trimTrailingEmptyRows(cells_);
}

QString ResultsGrid::text(int row, int col) const
{
    const char16_t *stored = storedRow(row);
    if (!stored || col < 0 || col >= colCount_)
        return QString();
    return cellView(stored, colCount_, col).toString();
}

void ResultsGrid::setText(int row, int col, const QString &text)
{
    if (!contains(row, col))
        return;
    const char16_t *old = storedRow(row);
    if (text == (old ? cellView(old, colCount_, col) : QStringView()))
        return;
    storeRow(row, packRow(colCount_, [&](int c) {
                 if (c == col)
                     return QStringView(text);
                 return old ? cellView(old, colCount_, c) : QStringView();
             }));
    noteChanged(row, row, col, col);
}

void ResultsGrid::setRowTexts(int row, const QStringList &texts)
{
    if (row < 0 || row >= rowCount_)
        return;
    const int n = std::min(static_cast<int>(texts.size()), colCount_);
    const char16_t *old = storedRow(row);
    if (n == 0 || (!old && std::all_of(texts.begin(), texts.begin() + n,
                                       [](const QString &t) { return t.isEmpty(); })))
        return;
    storeRow(row, packRow(colCount_, [&](int c) {
                 if (c < n)
                     return QStringView(texts[c]);
                 return old ? cellView(old, colCount_, c) : QStringView();
             }));
    noteChanged(row, row, 0, n - 1);
}

QStringList ResultsGrid::rowTexts(int row) const
{
    QStringList texts;
    texts.reserve(colCount_);
    for (int col = 0; col < colCount_; ++col)
        texts.append(text(row, col));
    return texts;
}

void ResultsGrid::clear()
{
    const int lastRow = static_cast<int>(cells_.size()) - 1;
    // Swap rather than clear() so the row index's own memory goes back too.
    std::vector<Row>().swap(cells_);
    // Told once emptied, so a view reading the grid then finds it empty.
    if (lastRow >= 0)
        noteChanged(0, lastRow, 0, colCount_ - 1);
}

int ResultsGrid::lastUsedRow() const
{
    return static_cast<int>(cells_.size()) - 1;
}

int ResultsGrid::colWidthTwips(int col) const
{
    return col >= 0 && col < colCount_ ? colWidthsTwips_[col] : 0;
}

void ResultsGrid::setColWidthTwips(int col, int twips)
{
    if (col < 0 || col >= colCount_)
        return;
    const int width = twips < 0 ? kDefaultColWidthTwips : twips;
    if (width == colWidthsTwips_[col])
        return;
    colWidthsTwips_[col] = width;
    // Column 0 is the vertical header, whose every section hint carries its width.
    if (col == 0) {
        if (rowCount_ > 1)
            emit headerDataChanged(Qt::Vertical, 0, rowCount_ - 2);
    } else {
        emit headerDataChanged(Qt::Horizontal, col - 1, col - 1);
    }
}

int ResultsGrid::twipsToPixels(int twips)
{
    return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel;
}

void ResultsGrid::beginBulkUpdate()
{
    ++bulkDepth_;
}

void ResultsGrid::endBulkUpdate()
{
    if (bulkDepth_ == 0)
        return;
    if (--bulkDepth_ == 0)
        flushChanges();
}

void ResultsGrid::noteChanged(int firstRow, int lastRow, int firstCol, int lastCol)
{
    if (dirtyFirstRow_ > dirtyLastRow_) {
        dirtyFirstRow_ = firstRow;
        dirtyLastRow_ = lastRow;
        dirtyFirstCol_ = firstCol;
        dirtyLastCol_ = lastCol;
    } else {
        dirtyFirstRow_ = std::min(dirtyFirstRow_, firstRow);
        dirtyLastRow_ = std::max(dirtyLastRow_, lastRow);
        dirtyFirstCol_ = std::min(dirtyFirstCol_, firstCol);
        dirtyLastCol_ = std::max(dirtyLastCol_, lastCol);
    }
    if (bulkDepth_ == 0)
        flushChanges();
}

void ResultsGrid::flushChanges()
{
    // A resize since the change may have cut the rectangle down.
    const int firstRow = dirtyFirstRow_;
    const int lastRow = std::min(dirtyLastRow_, rowCount_ - 1);
    const int firstCol = dirtyFirstCol_;
    const int lastCol = std::min(dirtyLastCol_, colCount_ - 1);
    dirtyFirstRow_ = 0;
    dirtyLastRow_ = -1;
    if (firstRow > lastRow || firstCol > lastCol)
        return;

    // Row 0 and column 0 live in the headers; the rest is model cell (r - 1, c - 1).
    if (firstRow == 0 && lastCol >= 1)
        emit headerDataChanged(Qt::Horizontal, std::max(firstCol, 1) - 1, lastCol - 1);
    if (firstCol == 0 && lastRow >= 1)
        emit headerDataChanged(Qt::Vertical, std::max(firstRow, 1) - 1, lastRow - 1);
    if (lastRow >= 1 && lastCol >= 1)
        emit dataChanged(index(std::max(firstRow, 1) - 1, std::max(firstCol, 1) - 1),
                         index(lastRow - 1, lastCol - 1), {Qt::DisplayRole});
}

int ResultsGrid::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : std::max(rowCount_ - 1, 0);
}

int ResultsGrid::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : std::max(colCount_ - 1, 0);
}

QVariant ResultsGrid::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
        return QVariant();
    return text(index.row() + 1, index.column() + 1);
}

QVariant ResultsGrid::headerData(int section, Qt::Orientation orientation, int role) const
{
    const bool horizontal = orientation == Qt::Horizontal;
    if (section < 0 || section >= (horizontal ? columnCount() : rowCount()))
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
        return horizontal ? text(0, section + 1) : text(section + 1, 0);
    case Qt::SizeHintRole: {
        // A header's thickness comes from the hints' other dimension, so both carry one.
        const int height = twipsToPixels(kDefaultRowHeightTwips);
        return QSize(twipsToPixels(colWidthTwips(horizontal ? section + 1 : 0)), height);
    }
    default:
        return QVariant();
    }
}

} // namespace ostrand
