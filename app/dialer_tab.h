#pragma once

#include "link/modem_dialer.h"

#include <QWidget>
#include <array>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace ostrand {

class EventPump;
class MeterLink;
class PhoneList;
struct Settings;

// "Dialer": the ten stored numbers, a modem dial to one of them and its hang-up.
class DialerTab : public QWidget {
    Q_OBJECT
public:
    DialerTab(MeterLink &link, EventPump &pump, QWidget *parent = nullptr);

    PhoneList &phoneList() { return *phoneList_; }

    void apply(const Settings &settings);
    void store(Settings &settings) const;

private:
    void onDialClicked();
    void onHangUpClicked();
    void onListClicked();
    void onEntryEdited(int box);
    void selectFirstEntry();
    void applyColumnWidths();
    void showCurrentCell(int row, int col);

    PhoneList *phoneList_ = nullptr;
    QTableView *listView_ = nullptr;
    QLineEdit *phoneBox_ = nullptr;
    QLineEdit *descriptionBox_ = nullptr;
    QPushButton *hangUpButton_ = nullptr;
    QLabel *statusLabel_ = nullptr;
    ModemDialer dialer_;
};

} // namespace ostrand
