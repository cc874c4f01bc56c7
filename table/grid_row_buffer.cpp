#include "grid_row_buffer.h"

#include "table/results_grid.h"

namespace ostrand {

bool GridRowBuffer::inGrid() const
{
    return row_ >= 1 && row_ < grid_.rows();
}

void GridRowBuffer::start(int row)
{
    flush();
    row_ = row;
}

void GridRowBuffer::set(int col, QString text)
{
    if (col < 0 || col >= kCols)
        return;
    texts_[col] = std::move(text);
    written_.set(col);
}

void GridRowBuffer::flush()
{
    if (written_.none())
        return;
    if (inGrid()) {
        // Read back only a row that already holds text: a row past the last
        // used one has none.
        QStringList texts;
        if (row_ <= grid_.lastUsedRow())
            texts = grid_.rowTexts(row_);
        else
            texts.resize(kCols);
        for (int col = 0; col < kCols && col < texts.size(); ++col) {
            if (written_.test(col))
                texts[col] = std::move(texts_[col]);
        }
        grid_.setRowTexts(row_, texts);
    }
    written_.reset();
}

} // namespace ostrand
