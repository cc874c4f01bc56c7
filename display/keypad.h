#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace ostrand {

// The meter's sixteen keys, as buttons 0 to 15 in rows of four, top left first.
constexpr int kKeypadButtons = 16;

// The code button `index` sends ('1' ... 'F'); 0 for an index outside 0 to 15.
char keypadCode(int index);
// The caption of button `index` ("1", "Help / .", "Up/Next" ...); empty outside 0 to 15.
QString keypadCaption(int index);
// The keyboard keys that press button `index`, as key sequence texts ("PgUp",
// "Up"), the first being the button's own shortcut; empty outside 0 to 15.
QStringList keypadKeyboardKeys(int index);
// True for a code some key sends: digits, '.', 'N', 'L', 'M', 'E', 'F'.
bool isKeypadCode(char code);

// The codes not yet written to the meter, oldest first (PendingKeys). Bounded,
// so a meter that never takes a key cannot make the queue grow without end:
// a press beyond the bound is dropped, the keys already queued keep their order.
// Each code carries the count of the meter's silences when it was pressed: a
// key pressed before the meter last fell silent is dropped, not sent late.
class KeyQueue {
public:
    static constexpr int kCapacity = 64;

    // Queues `code` at the end; false when the queue is full or `code` is no key.
    bool append(char code, int silences = 0);
    bool isEmpty() const { return codes_.isEmpty(); }
    int size() const { return static_cast<int>(codes_.size()); }
    // The oldest code; only when not empty.
    char front() const { return codes_.front(); }
    // Forgets the oldest code, once the meter took it.
    void removeFront();
    // Takes out every key pressed before silence number `silences` began and
    // returns their codes, oldest first.
    QByteArray dropPressedBefore(int silences);
    // All queued codes, oldest first.
    const QByteArray &codes() const { return codes_; }

private:
    QByteArray codes_;
    QList<int> silences_; // beside each code
};

} // namespace ostrand
