#include "keypad.h"

#include <array>

namespace ostrand {
namespace {

struct Key {
    const char *caption;
    char code;
    const char *keyboard; // the keys standing for it, separated by "; "
};
// Four to a row, as the keys sit on the meter. The arrows move through the
// meter's menus as its Up/Next and Down keys do, and Backspace is Down because
// Down rubs out a digit in a number field.
// clang-format off
constexpr std::array<Key, kKeypadButtons> kKeys = {{
    {"1", '1', "1"}, {"2", '2', "2"}, {"3", '3', "3"}, {"Help / .", '.', "."},
    {"4", '4', "4"}, {"5", '5', "5"}, {"6", '6', "6"}, {"Up/Next", 'N', "PgUp; Up"},
    {"7", '7', "7"}, {"8", '8', "8"}, {"9", '9', "9"}, {"Down", 'L', "PgDown; Down; Backspace"},
    {"Menu", 'M', "M"}, {"0", '0', "0"}, {"Enter", 'E', "Return; Enter"}, {"2nd", 'F', "N"},
}};
// clang-format on

} // namespace

char keypadCode(int index)
{
    if (index < 0 || index >= kKeypadButtons)
        return 0;
    return kKeys[static_cast<std::size_t>(index)].code;
}

QString keypadCaption(int index)
{
    if (index < 0 || index >= kKeypadButtons)
        return {};
    return QLatin1String(kKeys[static_cast<std::size_t>(index)].caption);
}

QStringList keypadKeyboardKeys(int index)
{
    if (index < 0 || index >= kKeypadButtons)
        return {};
    return QString::fromLatin1(kKeys[static_cast<std::size_t>(index)].keyboard)
        .split(QStringLiteral("; "));
}

bool isKeypadCode(char code)
{
    for (const Key &key : kKeys) {
        if (key.code == code)
            return true;
    }
    return false;
}

bool KeyQueue::append(char code, int silences)
{
    if (!isKeypadCode(code) || codes_.size() >= kCapacity)
        return false;
    codes_.append(code);
    silences_.append(silences);
    return true;
}

void KeyQueue::removeFront()
{
    if (!codes_.isEmpty()) {
        codes_.remove(0, 1);
        silences_.removeFirst();
    }
}

QByteArray KeyQueue::dropPressedBefore(int silences)
{
    QByteArray dropped;
    QByteArray kept;
    QList<int> keptSilences;
    for (qsizetype i = 0; i < codes_.size(); ++i) {
        if (silences_[i] < silences) {
            dropped += codes_[i];
        } else {
            kept += codes_[i];
            keptSilences << silences_[i];
        }
    }
    codes_ = kept;
    silences_ = keptSilences;
    return dropped;
}

} // namespace ostrand
