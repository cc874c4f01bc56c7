#include "report_pages.h"

#include <QFontMetricsF>
#include <QObject>
#include <QPagedPaintDevice>
#include <QPainter>

#include <algorithm>

namespace ostrand::report {
namespace {

bool looksNumeric(const QString &text)
{
    bool ok = false;
    text.toDouble(&ok);
    return ok || text.endsWith(u'%');
}

} // namespace

ReportPages::ReportPages(QPainter &painter, QPagedPaintDevice *device, const QRectF &page,
                         const QString &footer)
    : painter_(painter), device_(device), footer_(footer), font_(painter.font())
{
    const double margin = std::min(page.width(), page.height()) * 0.05;
    body_ = page.adjusted(margin, margin, -margin, -margin - QFontMetricsF(font_).height() * 1.5);
    pageBody_ = body_;
    y_ = body_.top();
    drawFooter();
}

void ReportPages::narrow(double left, double width, double top)
{
    body_ = QRectF(left, body_.top(), width, body_.height());
    y_ = std::max(top, body_.top());
}

void ReportPages::widen()
{
    body_ = pageBody_;
}

double ReportPages::lineHeight() const
{
    return QFontMetricsF(painter_.font()).height() * 1.25;
}

QRectF ReportPages::free() const
{
    return QRectF(body_.left(), y_, body_.width(), std::max(0.0, body_.bottom() - y_));
}

bool ReportPages::nextPage()
{
    if (!device_ || !device_->newPage())
        return false;
    ++page_;
    y_ = body_.top();
    drawFooter();
    return true;
}

void ReportPages::drawFooter()
{
    painter_.save();
    QFont small = font_;
    small.setPointSizeF(font_.pointSizeF() * 0.85);
    painter_.setFont(small);
    painter_.setPen(QColor(90, 90, 90));
    const double h = QFontMetricsF(small).height();
    const QRectF band(pageBody_.left(), pageBody_.bottom() + h * 0.5, pageBody_.width(), h * 1.2);
    painter_.drawText(band, Qt::AlignLeft | Qt::AlignVCenter, footer_);
    if (device_)
        painter_.drawText(band, Qt::AlignRight | Qt::AlignVCenter,
                          QObject::tr("Page %1").arg(page_));
    painter_.restore();
}

QRectF ReportPages::take(double height)
{
    if (y_ + height > body_.bottom() + 0.5 && y_ > body_.top())
        nextPage();
    const QRectF area(body_.left(), y_, body_.width(), std::min(height, body_.bottom() - y_));
    y_ += height;
    return area;
}

void ReportPages::heading(const QString &text, double scale)
{
    painter_.save();
    QFont font = font_;
    font.setPointSizeF(font_.pointSizeF() * scale);
    font.setBold(true);
    painter_.setFont(font);
    const double h = QFontMetricsF(font).height() * 1.35;
    painter_.drawText(take(h), Qt::AlignLeft | Qt::AlignVCenter, text);
    painter_.restore();
}

void ReportPages::line(const QString &text)
{
    const QRectF area = take(lineHeight());
    painter_.drawText(area, Qt::AlignLeft | Qt::AlignVCenter, text);
}

void ReportPages::space(double lines)
{
    y_ = std::min(body_.bottom(), y_ + lineHeight() * lines);
}

void ReportPages::table(const std::vector<QStringList> &headerRows,
                        const std::vector<QStringList> &rows, const CellColor &cellColor)
{
    qsizetype columns = 0;
    for (const auto *set : {&headerRows, &rows})
        for (const QStringList &row : *set)
            columns = std::max(columns, row.size());
    if (columns == 0)
        return;
    QFont bold = painter_.font();
    bold.setBold(true);
    const QFontMetricsF plain(painter_.font()), strong(bold);
    const double pad = plain.height() * 0.6;
    std::vector<double> widths(size_t(columns), 0);
    for (const QStringList &row : headerRows)
        for (qsizetype c = 0; c < row.size(); ++c)
            widths[size_t(c)] = std::max(widths[size_t(c)], strong.horizontalAdvance(row[c]) + pad);
    for (const QStringList &row : rows)
        for (qsizetype c = 0; c < row.size(); ++c)
            widths[size_t(c)] = std::max(widths[size_t(c)], plain.horizontalAdvance(row[c]) + pad);
    double total = 0;
    for (double w : widths)
        total += w;
    const double shrink = total > body_.width() ? body_.width() / total : 1.0;
    for (double &w : widths)
        w *= shrink;

    // A column of numbers reads to the right, its heading with it.
    std::vector<bool> rightAligned(size_t(columns), true);
    for (const QStringList &row : rows)
        for (qsizetype c = 0; c < row.size(); ++c)
            if (!row[c].isEmpty() && !looksNumeric(row[c]))
                rightAligned[size_t(c)] = false;

    const double rowHeight = plain.height() * 1.3;
    const auto drawRow = [&](const QStringList &row, bool header, bool shaded, size_t index) {
        const QRectF area = take(rowHeight);
        painter_.save();
        if (shaded)
            painter_.fillRect(
                QRectF(area.left(), area.top(), std::min(total * shrink, area.width()), rowHeight),
                QColor(243, 246, 250));
        double cellX = area.left();
        for (qsizetype c = 0; c < columns && cellColor && !header; ++c) {
            const QColor color = cellColor(index, c);
            if (color.isValid())
                painter_.fillRect(
                    QRectF(cellX + 1, area.top() + 1, widths[size_t(c)] - 2, rowHeight - 2), color);
            cellX += widths[size_t(c)];
        }
        if (header)
            painter_.setFont(bold);
        double x = area.left();
        for (qsizetype c = 0; c < columns; ++c) {
            const QString cell = c < row.size() ? row[c] : QString();
            const QRectF box(x + pad / 2, area.top(), widths[size_t(c)] - pad, rowHeight);
            const Qt::Alignment align = rightAligned[size_t(c)] ? Qt::AlignRight : Qt::AlignLeft;
            painter_.drawText(box, align | Qt::AlignVCenter, cell);
            x += widths[size_t(c)];
        }
        painter_.restore();
    };
    const auto drawHeader = [&] {
        for (const QStringList &row : headerRows)
            drawRow(row, true, false, 0);
        const double y = y_;
        painter_.drawLine(QPointF(body_.left(), y), QPointF(body_.left() + total * shrink, y));
    };
    // The header comes with at least one row of the body, never alone at the foot of a page.
    if (y_ + rowHeight * (headerRows.size() + 1) > body_.bottom() && y_ > body_.top())
        nextPage();
    drawHeader();
    for (size_t r = 0; r < rows.size(); ++r) {
        if (y_ + rowHeight > body_.bottom() + 0.5) {
            if (!nextPage())
                return;
            drawHeader();
        }
        drawRow(rows[r], false, r % 2 == 1, r);
    }
}

} // namespace ostrand::report
