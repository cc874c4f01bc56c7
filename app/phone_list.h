#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <array>

namespace ostrand {

// The ten modem numbers of the "Dialer" tab: 11 rows by 4 columns, row 0 the
// headings and column 0 empty, with a current cell that the edit boxes write
// into. A view shows row 0 as its horizontal header and column 0 as its
// vertical header; model cell (r, c) is list cell (r + 1, c + 1).
class PhoneList : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kRows = 11;
    static constexpr int kCols = 4;
    static constexpr int kItemCol = 1;
    static constexpr int kPhoneCol = 2;
    static constexpr int kDescriptionCol = 3;

    explicit PhoneList(QObject *parent = nullptr);

    // The text of cell (row, col); empty outside the list.
    QString text(int row, int col) const;
    // Sets the text of cell (row, col); ignored outside the list.
    void setText(int row, int col, const QString &text);

    int currentRow() const { return currentRow_; }
    int currentCol() const { return currentCol_; }
    // Makes (row, col) the current cell; out-of-range values are ignored.
    void setCurrentCell(int row, int col);
    void setCurrentCol(int col) { setCurrentCell(currentRow_, col); }
    // Writes into the current cell.
    void setCurrentText(const QString &text) { setText(currentRow_, currentCol_, text); }

    // Writes the headings into row 0 and sets the column widths.
    void setUpHeadings();
    int colWidthTwips(int col) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

signals:
    void currentCellChanged(int row, int col);
    void columnWidthsChanged();

private:
    std::array<std::array<QString, kCols>, kRows> cells_;
    std::array<int, kCols> widths_{};
    int currentRow_ = 0;
    int currentCol_ = 0;
};

} // namespace ostrand
