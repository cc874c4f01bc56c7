#pragma once

#include <QColor>
#include <QFont>
#include <QRectF>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class QPagedPaintDevice;
class QPainter;

namespace ostrand::report {

// Lays out pages of a report on a painter: margins, a running footer, and
// tables that continue onto new pages with their header rows repeated.
class ReportPages {
public:
    // `device` is null for a single page (an image): nextPage() then fails.
    ReportPages(QPainter &painter, QPagedPaintDevice *device, const QRectF &page,
                const QString &footer);

    QPainter &painter() { return painter_; }
    // The part of the page below what has been written so far.
    QRectF free() const;
    // The whole printable area of the page.
    QRectF body() const { return body_; }
    // Starts a page (the first is already started); false when the device cannot.
    bool nextPage();
    int pageNumber() const { return page_; }

    // A line of text at the top of what is free; `scale` sizes it against the body font.
    void heading(const QString &text, double scale = 1.5);
    void line(const QString &text);
    void space(double lines = 0.6);
    // Takes `height` from the top of what is free, on a new page when it does not fit.
    QRectF take(double height);

    // Narrows what follows to a column from `left`, `width` wide, starting at
    // `top`; widen() gives the page's width back.
    void narrow(double left, double width, double top);
    void widen();

    // A table: `headerRows` (repeated on each page) then `rows`; columns as
    // wide as their widest cell, shrunk together to the width; numbers to the
    // right. Continues on new pages as needed.
    // `cellColor` (if given) fills a body cell (row index, column) behind its text; invalid: none.
    using CellColor = std::function<QColor(size_t row, qsizetype column)>;
    void table(const std::vector<QStringList> &headerRows, const std::vector<QStringList> &rows,
               const CellColor &cellColor = {});

private:
    void drawFooter();
    double lineHeight() const;

    QPainter &painter_;
    QPagedPaintDevice *device_;
    QRectF body_;
    QRectF pageBody_; // body_ before narrow()
    QString footer_;
    QFont font_;
    double y_ = 0;
    int page_ = 1;
};

} // namespace ostrand::report
