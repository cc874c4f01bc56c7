#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

class QTextLayout;

namespace ostrand {

// A tick box the user can only tick or untick; the greyed state is set by the
// program alone (from the settings file), as operators know it.
class TwoStateByHandCheckBox : public QCheckBox {
public:
    using QCheckBox::QCheckBox;

protected:
    void nextCheckState() override;
};

// The output path, which can be long: shown elided in the middle (the folder's
// start and the file's name are what tell paths apart) except while edited.
class PathLineEdit : public QLineEdit {
public:
    using QLineEdit::QLineEdit;

protected:
    void paintEvent(QPaintEvent *event) override;
};

// A line of text that may hold a path: too long for its width, it is elided in
// the middle, and the whole text is its tooltip. Its width does not grow the
// window: the text gives way instead.
class ElidedLabel : public QLabel {
public:
    using QLabel::QLabel;

    // Sets the text and the tooltip that shows all of it.
    void setFullText(const QString &text);
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
};

// A reason given whole: wrapped to the width the layout gives it, a long path
// broken anywhere rather than widening the window or being cut off.
class WrappedLabel : public QLabel {
public:
    WrappedLabel();

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    // Lays the text out `width` wide; its height.
    qreal layOut(QTextLayout &layout, qreal width) const;
};

} // namespace ostrand
