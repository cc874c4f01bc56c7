#pragma once

#include "link/modem_dialer.h"

#include <QWidget>
#include <array>
#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace ostrand {

class LineWorker;
class PhoneList;
struct Settings;

// "Dialer": the ten stored numbers, a modem dial to one of them and its hang-up.
class DialerTab : public QWidget {
    Q_OBJECT
public:
    explicit DialerTab(LineWorker &line, QWidget *parent = nullptr);

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
    // Runs the dial or the hang-up on the line, its words shown here as they come.
    void runDialer(const std::function<void(ModemDialer &)> &work);

    PhoneList *phoneList_ = nullptr;
    QTableView *listView_ = nullptr;
    QLineEdit *phoneBox_ = nullptr;
    QLineEdit *descriptionBox_ = nullptr;
    QPushButton *hangUpButton_ = nullptr;
    QLabel *statusLabel_ = nullptr;
    LineWorker &line_;
};

} // namespace ostrand
