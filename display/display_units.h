#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace ostrand {

// One of the four unit and format lists beside the display values. Positions
// are item indexes, -1 when nothing is selected (the list shows its initial
// text, or a text the operator typed that matches no item).
struct UnitList {
    QString name;         // the window's list: "Combo1" ... "Combo4"
    QString frameCaption; // the frame around it
    QStringList items;    // in position order
    QString initialText;  // shown before any selection
    QString settingsKey;  // where the position is stored
    int newFileDefault;   // the position a new settings file holds
};

// List 1 flow units, 2 total units, 3 flow format, 4 velocity units; list 1 for any other number.
const UnitList &unitList(int combo);

// What a received flow (cubic feet per second) is multiplied by: 1 for no selection.
double flowFactor(int position);

// Decimals the flow pattern allows, "#." 0 to "#.###" 3: 1 ("#.#") for no selection.
int flowDecimals(int position);

// What a received velocity (feet per second) is multiplied by: 1 for no selection.
double velocityFactor(int position);

// What a received total (cubic feet) is multiplied by; nothing for cubic feet
// and for no selection, where the total is shown as the whole number itself.
std::optional<double> totalFactor(int position);

} // namespace ostrand
