#pragma once

#include <QString>
#include <functional>

class QComboBox;
class QGroupBox;

namespace ostrand {

struct UnitList;

// The controls of "Display Meter" that need more than a caption.

// A unit list: editable, showing its initial text until one entry is chosen.
QComboBox *unitCombo(const UnitList &list);
// A unit list's position: its selected entry, -1 when its text names none.
int listPosition(const QComboBox *combo);

// The meter's sixteen keys ("Frame11"), each pressed by a click or by its keys
// on the keyboard (named in its tooltip, "Key: PgUp or Up"); `pressed` gets the button.
QGroupBox *keypadFrame(const std::function<void(int button)> &pressed);
// "Key: " and the keys, the last joined by "or".
QString keyTip(const QStringList &keys);

} // namespace ostrand
