#pragma once

#include <QAbstractTableModel>

namespace ostrand {

class ResultsGrid;

// The results grid as the View tab shows it: its filled data rows and no
// more, so the scrollbar ends at the last record. Grid row 1's headings are
// the horizontal header, each row's record number (column 0) the vertical
// one, and model cell (r, c) is grid cell (r + 2, c + 1). The grid keeps its
// size, its row limit and everything the CSV writer reads.
class ResultsTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    // `grid` must outlive the model.
    explicit ResultsTableModel(const ResultsGrid &grid, QObject *parent = nullptr);

    // The record numbers' own heading ("Record #"), for the view's corner.
    QString cornerText() const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

signals:
    void cornerTextChanged();

private:
    // The grid's rows changed in [firstRow, lastRow] (grid rows): follows its
    // filled rows, then announces what changed among those already shown.
    void gridChanged(int firstRow, int lastRow, int firstCol, int lastCol);
    void gridReset();
    int filledRows() const;

    const ResultsGrid &grid_;
    int shownRows_ = 0;
};

} // namespace ostrand
