#pragma once

#include "table/grid_layout.h"

#include <QAbstractTableModel>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace ostrand {

// The downloaded log as a grid of texts addressed by (row, column), row 0 and
// column 0 being the headings. The download writes it and the CSV writer reads
// it back; a view shows it through the model interface, where row 0 becomes
// the horizontal header, column 0 the vertical header, and grid cell (r, c)
// is model cell (r - 1, c - 1).
//
// A row is stored only while it holds some text, packed into one block, so the
// empty grid costs a few bytes whatever its size and a full one about 200
// bytes a row; reading a cell builds its QString afresh.
class ResultsGrid : public QAbstractTableModel {
    Q_OBJECT

public:
    static constexpr int kDefaultRows = 65535;
    static constexpr int kDefaultCols = kGridCols;
    static constexpr int kTwipsPerPixel = 15; // at 96 DPI
    static constexpr int kDefaultColWidthTwips = 960;
    static constexpr int kDefaultRowHeightTwips = 300;

    // Pending change notices are held back while it lives and sent when the
    // outermost one ends, so a fill of the whole grid costs a handful of signals.
    class BulkUpdate {
    public:
        explicit BulkUpdate(ResultsGrid &grid);
        ~BulkUpdate();
        BulkUpdate(const BulkUpdate &) = delete;
        BulkUpdate &operator=(const BulkUpdate &) = delete;

    private:
        ResultsGrid &grid_;
    };

    // An empty grid of `rows` x `cols` cells (negative sizes count as 0).
    explicit ResultsGrid(int rows = kDefaultRows, int cols = kDefaultCols,
                         QObject *parent = nullptr);
    ~ResultsGrid() override;

    // Number of grid rows, heading row included.
    int rows() const { return rowCount_; }
    // Number of grid columns, heading column included.
    int cols() const { return colCount_; }
    // Resizes to `rows` rows, keeping the texts of rows that remain; negative is ignored.
    void setRows(int rows);
    // Resizes to `cols` columns, keeping the texts of columns that remain; negative is ignored.
    void setCols(int cols);

    // The text of a cell; empty for a cell never written or out of range.
    QString text(int row, int col) const;
    // Sets a cell's text; a cell out of range is ignored.
    void setText(int row, int col, const QString &text);
    // Sets the cells of `row` from column 0 on, one per item; items past the
    // last column and a row out of range are ignored, later columns are kept.
    void setRowTexts(int row, const QStringList &texts);
    // The texts of every column of `row`; empty texts for a row out of range.
    QStringList rowTexts(int row) const;
    // Empties every cell and releases their storage; the size and column widths stay.
    void clear();
    // The highest row holding a non-empty text, or -1 when every cell is empty.
    int lastUsedRow() const;

    // A column's width in twips; 0 for a column out of range.
    int colWidthTwips(int col) const;
    // Sets a column's width in twips; negative restores the default width; out of range is ignored.
    void setColWidthTwips(int col, int twips);
    // Twips to whole pixels at 96 DPI, rounded to nearest.
    static int twipsToPixels(int twips);

    // Holds back change notices until the matching endBulkUpdate(); calls nest.
    void beginBulkUpdate();
    // Ends one beginBulkUpdate(); the outermost one sends the pending notices.
    void endBulkUpdate();
    // Sends the notices pending so far without leaving bulk mode, so a view can
    // catch up part-way through a long fill.
    void flushChanges();
    // Whether change notices are being held back.
    bool inBulkUpdate() const { return bulkDepth_ > 0; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    // Each cell's end offset as two char16_t, then the texts back to back.
    using Row = std::unique_ptr<char16_t[]>;

    bool contains(int row, int col) const;
    const char16_t *storedRow(int row) const;
    void storeRow(int row, Row packed);
    void noteChanged(int firstRow, int lastRow, int firstCol, int lastCol);

    int rowCount_ = 0;
    int colCount_ = 0;
    // Index = grid row, null for a row without text; ends at the last row
    // with text, so its size is lastUsedRow() + 1.
    std::vector<Row> cells_;
    std::vector<int> colWidthsTwips_;

    int bulkDepth_ = 0;
    // Bounding rectangle of the changes not yet announced, in grid coordinates;
    // empty when dirtyFirstRow_ > dirtyLastRow_.
    int dirtyFirstRow_ = 0;
    int dirtyLastRow_ = -1;
    int dirtyFirstCol_ = 0;
    int dirtyLastCol_ = -1;
};

} // namespace ostrand
