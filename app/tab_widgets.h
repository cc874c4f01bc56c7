#pragma once

#include "platform/object_name.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QGroupBox>
#include <QList>
#include <QString>
#include <QWidget>
#include <optional>

namespace ostrand {

// The window's sizes were chosen in twips, fifteen to a pixel on the screens of the time.
constexpr int kTwipsPerPixel = 15;

// An element of one of the old forms' control arrays is named as they named it: "Text3(8)".
inline QString elementName(const char *array, int index)
{
    return QStringLiteral("%1(%2)").arg(QLatin1String(array)).arg(index);
}

inline QGroupBox *groupBox(const QString &name, const QString &caption)
{
    return named(new QGroupBox(caption), name);
}

// Checks element `index` of an option group; an index it does not hold changes nothing.
inline void selectOption(QButtonGroup *group, int index)
{
    if (QAbstractButton *button = group->button(index))
        button->setChecked(true);
}

// The checked element of an option group, empty for none (its settings line is then left out).
inline std::optional<int> checkedOption(const QButtonGroup *group)
{
    const int id = group->checkedId();
    return id >= 0 ? std::optional<int>(id) : std::nullopt;
}

// Tab moves through `widgets` in the order given.
inline void chainTabOrder(const QList<QWidget *> &widgets)
{
    for (qsizetype i = 1; i < widgets.size(); ++i)
        QWidget::setTabOrder(widgets[i - 1], widgets[i]);
}

} // namespace ostrand
