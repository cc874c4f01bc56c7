#include "display_controls.h"

#include "app/tab_widgets.h"
#include "display/display_units.h"
#include "display/keypad.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QPushButton>
#include <QShortcut>

namespace ostrand {

QComboBox *unitCombo(const UnitList &list)
{
    auto *combo = named(new QComboBox, list.name);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->addItems(list.items);
    combo->setCurrentIndex(-1);
    combo->setEditText(list.initialText);
    return combo;
}

int listPosition(const QComboBox *combo)
{
    const int index = combo->currentIndex();
    if (index < 0 || combo->currentText() != combo->itemText(index))
        return -1;
    return index;
}

QString keyTip(const QStringList &keys)
{
    QString tip = keys.value(0);
    for (qsizetype i = 1; i < keys.size(); ++i)
        tip += (i + 1 == keys.size() ? QStringLiteral(" or ") : QStringLiteral(", ")) + keys[i];
    return QStringLiteral("Key: ") + tip;
}

QGroupBox *keypadFrame(const std::function<void(int button)> &pressed)
{
    auto *frame = groupBox(QStringLiteral("Frame11"), QString());
    auto *grid = new QGridLayout(frame);
    for (int i = 0; i < kKeypadButtons; ++i) {
        auto *key = named(new QPushButton(keypadCaption(i)), elementName("Command1", i));
        key->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
        grid->addWidget(key, i / 4, i % 4);
        // The keyboard stands in for the meter's keys while the keypad is shown
        // (the shortcuts of a hidden button do nothing); the arrows then press
        // the meter's keys rather than move through the meter types.
        const QStringList keys = keypadKeyboardKeys(i);
        key->setShortcut(QKeySequence(keys.front()));
        for (qsizetype k = 1; k < keys.size(); ++k) {
            auto *also = new QShortcut(QKeySequence(keys[k]), key);
            QObject::connect(also, &QShortcut::activated, key, &QPushButton::animateClick);
        }
        key->setToolTip(keyTip(keys));
        QObject::connect(key, &QPushButton::clicked, frame, [pressed, i] { pressed(i); });
    }
    return frame;
}

} // namespace ostrand
