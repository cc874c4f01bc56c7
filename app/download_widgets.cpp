#include "download_widgets.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTextLayout>

#include <cmath>

namespace ostrand {

void TwoStateByHandCheckBox::nextCheckState()
{
    setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}

void PathLineEdit::paintEvent(QPaintEvent *event)
{
    QStyleOptionFrame option;
    initStyleOption(&option);
    const QRect area =
        style()->subElementRect(QStyle::SE_LineEditContents, &option, this).adjusted(2, 0, -2, 0);
    if (hasFocus() || fontMetrics().horizontalAdvance(text()) <= area.width()) {
        QLineEdit::paintEvent(event);
        return;
    }
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &option, &painter, this);
    painter.setPen(palette().color(QPalette::Text));
    painter.drawText(area, Qt::AlignVCenter | Qt::AlignLeft,
                     fontMetrics().elidedText(text(), Qt::ElideMiddle, area.width()));
}

void ElidedLabel::setFullText(const QString &text)
{
    setText(text);
    setToolTip(text);
}

QSize ElidedLabel::minimumSizeHint() const
{
    return {fontMetrics().averageCharWidth() * 8, QLabel::minimumSizeHint().height()};
}

void ElidedLabel::paintEvent(QPaintEvent *event)
{
    const QRect area = contentsRect();
    if (fontMetrics().horizontalAdvance(text()) <= area.width()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    painter.drawText(area, Qt::AlignVCenter | Qt::AlignLeft,
                     fontMetrics().elidedText(text(), Qt::ElideMiddle, area.width()));
}

WrappedLabel::WrappedLabel()
{
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
}

qreal WrappedLabel::layOut(QTextLayout &layout, qreal width) const
{
    // A text layout takes '\n' for a character: the reason's lines are kept as lines.
    QString text = layout.text();
    layout.setText(text.replace(QLatin1Char('\n'), QChar::LineSeparator));
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setFont(font());
    layout.setTextOption(option);
    qreal height = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(std::max<qreal>(width, 1));
        line.setPosition(QPointF(0, height));
        height += fontMetrics().lineSpacing();
    }
    layout.endLayout();
    return height;
}

int WrappedLabel::heightForWidth(int width) const
{
    if (text().isEmpty())
        return 0;
    const QMargins margins = contentsMargins();
    QTextLayout layout(text());
    return static_cast<int>(std::ceil(layOut(layout, width - margins.left() - margins.right()))) + margins.top()
           + margins.bottom();
}

QSize WrappedLabel::sizeHint() const
{
    const int width = fontMetrics().averageCharWidth() * 40;
    return {width, heightForWidth(width)};
}

QSize WrappedLabel::minimumSizeHint() const
{
    // However long the text, the window is not made wider for it.
    return {fontMetrics().averageCharWidth() * 8, text().isEmpty() ? 0 : fontMetrics().lineSpacing()};
}

void WrappedLabel::paintEvent(QPaintEvent *event)
{
    (void)event;
    const QRect area = contentsRect();
    QTextLayout layout(text());
    layOut(layout, area.width());
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    layout.draw(&painter, area.topLeft());
}

} // namespace ostrand
