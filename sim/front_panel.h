#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

namespace ostrand::sim {

class CircularLog;
class LiveProcess;

constexpr int kPanelLines = 4;
constexpr int kPanelColumns = 20;

// Settings the keypad changes and the rest of the meter acts on.
struct PanelSettings {
    int slaveAddress = 1;
    int intervalMinutes = 15;
    int flowUnit = 0; // index into flowUnitNames()
};

// The flow units the display can show, in the order the keypad offers them.
QStringList flowUnitNames();

// The "7700 Series" front panel: a four-line, 20-column text display driven by the
// sixteen-key keypad. Keys: digits, '.' (Help), 'N' (Up/Next), 'L' (Down), 'M' (Menu),
// 'E' (Enter), 'F' (2nd).
//
// Main screen: flow, velocity, forward total, clock and address; 2nd flips to a second
// page (reverse total, alarms, log use, interval). Menu opens the setup menu: Up/Next and
// Down move the cursor (a digit jumps to an item), Enter opens the item, Menu goes back.
// In a number field digits are typed in, Down rubs out the last one, Enter stores.
class FrontPanel {
public:
    enum class Page { Main, MainSecond, Menu, EditNumber, EditChoice, ConfirmClear, Info };

    // All three must outlive the panel.
    FrontPanel(PanelSettings *settings, LiveProcess *process, const CircularLog *log);

    // Acts on one key code; unknown codes are ignored.
    void press(char key, const QDateTime &now);

    // The display at `now`: 80 bytes, the four lines of 20 characters, line 1 first.
    QByteArray screen(const QDateTime &now) const;

    // The page on show.
    Page page() const { return page_; }

private:
    QStringList mainLines(const QDateTime &now) const;
    QStringList secondLines(const QDateTime &now) const;
    QStringList menuLines() const;
    QStringList editLines() const;
    QStringList choiceLines() const;
    QStringList infoLines() const;

    void pressOnMenu(char key);
    void pressOnNumber(char key);
    void pressOnChoice(char key);
    void openItem();
    int currentValue() const;
    void storeValue(int value);

    PanelSettings *settings_;
    LiveProcess *process_;
    const CircularLog *log_;

    Page page_ = Page::Main;
    int cursor_ = 0; // selected menu item
    QString entry_;  // digits typed into a number field
    int choice_ = 0; // option shown in a choice field
    QString notice_; // one-off message shown until the next key
};

} // namespace ostrand::sim
