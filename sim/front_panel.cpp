#include "front_panel.h"

#include "circular_log.h"
#include "display_block.h"

#include <array>

namespace ostrand::sim {

namespace {

enum class ItemKind { Number, Choice, Confirm, Info };

struct MenuItem {
    const char *name;
    const char *help;
    ItemKind kind;
    int low;
    int high;
};

const std::array<MenuItem, 5> kMenu = {{
    {"Modbus Address", "Address on the line", ItemKind::Number, 1, 247},
    {"Log Interval", "Minutes per record", ItemKind::Number, 1, 60},
    {"Flow Units", "Units on the screen", ItemKind::Choice, 0, 0},
    {"Clear Totals", "Zero the totalizers", ItemKind::Confirm, 0, 0},
    {"Meter Info", "Model and log use", ItemKind::Info, 0, 0},
}};

constexpr int kAddressItem = 0;
constexpr int kIntervalItem = 1;
constexpr int kVisibleItems = kPanelLines - 1;
constexpr int kMaxDigits = 3;

const std::array<double, 5> kFlowUnitFactors = {1.0, 448.831, 0.646316, 28.317016, 101.952};

QString fit(const QString &line)
{
    return line.left(kPanelColumns).leftJustified(kPanelColumns, QLatin1Char(' '));
}

QString alarmText(int bits)
{
    QString text;
    if (bits & kAlarmSetpoint1)
        text += QLatin1String(" SP1");
    if (bits & kAlarmSetpoint2)
        text += QLatin1String(" SP2");
    if (bits & kAlarmSetpoint3)
        text += QLatin1String(" SP3");
    if (bits & kAlarmLostSignal)
        text += QLatin1String(" LOS");
    if (bits & (kAlarmLoop1 | kAlarmLoop2))
        text += QLatin1String(" LOOP");
    return text.isEmpty() ? QStringLiteral(" none") : text;
}

} // namespace

QStringList flowUnitNames()
{
    return {QStringLiteral("CFS"), QStringLiteral("GPM"), QStringLiteral("MGD"),
            QStringLiteral("LPS"), QStringLiteral("M3H")};
}

FrontPanel::FrontPanel(PanelSettings *settings, LiveProcess *process, const CircularLog *log)
    : settings_(settings), process_(process), log_(log)
{
}

void FrontPanel::press(char key, const QDateTime &now)
{
    notice_.clear();
    switch (page_) {
    case Page::Main:
    case Page::MainSecond:
        if (key == 'M') {
            page_ = Page::Menu;
            cursor_ = 0;
        } else if (key == 'F') {
            page_ = page_ == Page::Main ? Page::MainSecond : Page::Main;
        } else if (key == '.') {
            notice_ = QStringLiteral("MENU for setup");
        }
        break;
    case Page::Menu:
        pressOnMenu(key);
        break;
    case Page::EditNumber:
        pressOnNumber(key);
        break;
    case Page::EditChoice:
        pressOnChoice(key);
        break;
    case Page::ConfirmClear:
        if (key == 'E') {
            process_->clearTotals(now);
            page_ = Page::Menu;
            notice_ = QStringLiteral("Totals cleared");
        } else if (key == 'M') {
            page_ = Page::Menu;
        }
        break;
    case Page::Info:
        if (key == 'M' || key == 'E')
            page_ = Page::Menu;
        break;
    }
}

void FrontPanel::pressOnMenu(char key)
{
    const int items = int(kMenu.size());
    if (key == 'N') {
        cursor_ = (cursor_ + items - 1) % items;
    } else if (key == 'L') {
        cursor_ = (cursor_ + 1) % items;
    } else if (key >= '1' && key < '1' + items) {
        cursor_ = key - '1';
    } else if (key == 'E') {
        openItem();
    } else if (key == 'M') {
        page_ = Page::Main;
    } else if (key == '.') {
        notice_ = QString::fromLatin1(kMenu[cursor_].help);
    }
}

void FrontPanel::openItem()
{
    switch (kMenu[cursor_].kind) {
    case ItemKind::Number:
        entry_.clear();
        page_ = Page::EditNumber;
        break;
    case ItemKind::Choice:
        choice_ = settings_->flowUnit;
        page_ = Page::EditChoice;
        break;
    case ItemKind::Confirm:
        page_ = Page::ConfirmClear;
        break;
    case ItemKind::Info:
        page_ = Page::Info;
        break;
    }
}

void FrontPanel::pressOnNumber(char key)
{
    const MenuItem &item = kMenu[cursor_];
    if (key >= '0' && key <= '9') {
        if (entry_.size() < kMaxDigits)
            entry_ += QLatin1Char(key);
    } else if (key == 'L') {
        entry_.chop(1);
    } else if (key == 'M') {
        page_ = Page::Menu;
    } else if (key == '.') {
        notice_ = QString::fromLatin1(item.help);
    } else if (key == 'E') {
        const int value = entry_.toInt();
        if (entry_.isEmpty() || value < item.low || value > item.high) {
            notice_ = QStringLiteral("Range %1-%2").arg(item.low).arg(item.high);
            entry_.clear();
            return;
        }
        storeValue(value);
        page_ = Page::Menu;
        notice_ = QStringLiteral("Saved");
    }
}

void FrontPanel::pressOnChoice(char key)
{
    const int count = flowUnitNames().size();
    if (key == 'N') {
        choice_ = (choice_ + count - 1) % count;
    } else if (key == 'L') {
        choice_ = (choice_ + 1) % count;
    } else if (key == 'M') {
        page_ = Page::Menu;
    } else if (key == 'E') {
        settings_->flowUnit = choice_;
        page_ = Page::Menu;
        notice_ = QStringLiteral("Saved");
    }
}

int FrontPanel::currentValue() const
{
    return cursor_ == kAddressItem ? settings_->slaveAddress : settings_->intervalMinutes;
}

void FrontPanel::storeValue(int value)
{
    if (cursor_ == kAddressItem)
        settings_->slaveAddress = value;
    else if (cursor_ == kIntervalItem)
        settings_->intervalMinutes = value;
}

QByteArray FrontPanel::screen(const QDateTime &now) const
{
    QStringList lines;
    switch (page_) {
    case Page::Main:
        lines = mainLines(now);
        break;
    case Page::MainSecond:
        lines = secondLines(now);
        break;
    case Page::Menu:
        lines = menuLines();
        break;
    case Page::EditNumber:
        lines = editLines();
        break;
    case Page::EditChoice:
        lines = choiceLines();
        break;
    case Page::ConfirmClear:
        lines = {QStringLiteral("Clear Totals"), QStringLiteral("Forward and reverse"),
                 QStringLiteral("totals go to zero."), QStringLiteral("ENTER=Yes  MENU=No")};
        break;
    case Page::Info:
        lines = infoLines();
        break;
    }
    // A notice takes the bottom line on the main screens, the top (title) line elsewhere.
    if (!notice_.isEmpty()) {
        const bool onMain = page_ == Page::Main || page_ == Page::MainSecond;
        lines[onMain ? kPanelLines - 1 : 0] = notice_;
    }
    QByteArray out;
    for (const QString &line : lines)
        out += fit(line).toLatin1();
    return out;
}

QStringList FrontPanel::mainLines(const QDateTime &now) const
{
    const DisplayValues v = process_->valuesAt(now);
    const int unit = settings_->flowUnit;
    const double flow = v.flowCfs * kFlowUnitFactors.at(unit);
    return {
        QStringLiteral("Flow %1 %2").arg(flow, 10, 'f', 3).arg(flowUnitNames().at(unit)),
        QStringLiteral("Vel  %1 FPS").arg(v.velocityFps, 10, 'f', 3),
        QStringLiteral("Total %1 CF").arg(v.forwardTotal, 10),
        QStringLiteral("%1 ID%2")
            .arg(now.toString(QStringLiteral("MM/dd/yy hh:mm")))
            .arg(settings_->slaveAddress, 3),
    };
}

QStringList FrontPanel::secondLines(const QDateTime &now) const
{
    const DisplayValues v = process_->valuesAt(now);
    return {
        QStringLiteral("Rev Total %1 CF").arg(v.reverseTotal, 6),
        QStringLiteral("Alarms:") + alarmText(v.alarmBits),
        QStringLiteral("Log %1/%2").arg(log_->recordCount()).arg(CircularLog::kCapacity),
        QStringLiteral("Interval %1 min").arg(settings_->intervalMinutes),
    };
}

QStringList FrontPanel::menuLines() const
{
    QStringList lines{QStringLiteral("---- SETUP MENU ----")};
    const int items = int(kMenu.size());
    const int first = cursor_ < kVisibleItems ? 0 : cursor_ - (kVisibleItems - 1);
    for (int i = first; i < first + kVisibleItems && i < items; ++i) {
        lines << QStringLiteral("%1%2 %3")
                     .arg(i == cursor_ ? QLatin1Char('>') : QLatin1Char(' '))
                     .arg(i + 1)
                     .arg(QLatin1String(kMenu[i].name));
    }
    return lines;
}

QStringList FrontPanel::editLines() const
{
    return {QString::fromLatin1(kMenu[cursor_].name), QStringLiteral("Now: %1").arg(currentValue()),
            QStringLiteral("New: %1_").arg(entry_), QStringLiteral("ENTER=Save MENU=Back")};
}

QStringList FrontPanel::choiceLines() const
{
    const QStringList names = flowUnitNames();
    return {QString::fromLatin1(kMenu[cursor_].name),
            QStringLiteral("Now: %1").arg(names.at(settings_->flowUnit)),
            QStringLiteral("New: < %1 >").arg(names.at(choice_)),
            QStringLiteral("ENTER=Save MENU=Back")};
}

QStringList FrontPanel::infoLines() const
{
    return {QStringLiteral("Ostrand 7700 Series"), QStringLiteral("Simulated meter v1.17"),
            QStringLiteral("Log %1 of %2").arg(log_->recordCount()).arg(CircularLog::kCapacity),
            QStringLiteral("MENU=Back")};
}

} // namespace ostrand::sim
