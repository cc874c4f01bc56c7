#include "palm_row_buffer.h"

#include "download/results_grid.h"

namespace ostrand {

void PalmRowBuffer::start(int row)
{
    flush();
    row_ = row;
}

void PalmRowBuffer::set(int col, QString text)
{
    if (col < 0 || col >= kCols)
        return;
    texts_[col] = std::move(text);
    written_.set(col);
}

void PalmRowBuffer::flush()
{
    if (written_.none())
        return;
    if (row_ >= 1 && row_ < grid_.rows()) {
        // A row read back only when it already holds text: the conversion
        // flushes part-way through a row before it yields.
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
