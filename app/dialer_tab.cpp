#include "dialer_tab.h"

#include "app/phone_list.h"
#include "app/settings_file.h"
#include "app/tab_widgets.h"
#include "app/line_worker.h"
#include "link/dial_string.h"
#include "link/meter_link.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace ostrand {

DialerTab::DialerTab(LineWorker &line, QWidget *parent)
    : QWidget(parent), phoneList_(new PhoneList(this)), line_(line)
{
    auto *listLabel =
        named(new QLabel(QStringLiteral("List of Numbers")), QStringLiteral("Label7"));
    listView_ = named(new QTableView, QStringLiteral("MSHFlexGrid2"));
    listView_->setModel(phoneList_);
    listView_->setSelectionMode(QAbstractItemView::SingleSelection);
    listView_->setSelectionBehavior(QAbstractItemView::SelectItems);
    listView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    listView_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    listView_->horizontalHeader()->setStretchLastSection(true);
    listLabel->setBuddy(listView_);
    connect(phoneList_, &PhoneList::columnWidthsChanged, this, &DialerTab::applyColumnWidths);
    connect(phoneList_, &PhoneList::currentCellChanged, this, &DialerTab::showCurrentCell);
    // Only the user's click chooses an entry: the edit boxes move the current
    // cell themselves, and must not have their text replaced while typing.
    connect(listView_, &QTableView::clicked, this, [this](const QModelIndex &index) {
        phoneList_->setCurrentCell(index.row() + 1, index.column() + 1);
        onListClicked();
    });

    phoneBox_ = named(new QLineEdit(QStringLiteral("Phone #")), elementName("Text5", 0));
    descriptionBox_ = named(new QLineEdit(QStringLiteral("Description")), elementName("Text5", 1));
    connect(phoneBox_, &QLineEdit::textChanged, this,
            [this] { onEntryEdited(PhoneList::kPhoneCol); });
    connect(descriptionBox_, &QLineEdit::textChanged, this,
            [this] { onEntryEdited(PhoneList::kDescriptionCol); });
    auto *dialButton =
        named(new QPushButton(QStringLiteral("&Dial this Number")), QStringLiteral("Command4"));
    hangUpButton_ = named(new QPushButton(QStringLiteral("Hang&up")), QStringLiteral("Command5"));
    hangUpButton_->setVisible(false);
    auto *statusCaption = named(new QLabel(QStringLiteral("Status")), QStringLiteral("Label5"));
    statusLabel_ = named(new QLabel(QStringLiteral("Okay")), QStringLiteral("Label6"));
    // The modem's own text, line breaks and all, is shown and read back: never as rich text.
    statusLabel_->setTextFormat(Qt::PlainText);
    connect(dialButton, &QPushButton::clicked, this, &DialerTab::onDialClicked);
    connect(hangUpButton_, &QPushButton::clicked, this, &DialerTab::onHangUpClicked);
    statusLabel_->setFrameShape(QFrame::StyledPanel);
    statusLabel_->setMinimumWidth(240);

    // The boxes start holding their captions' words; once typed over, only a label says which is which.
    auto *phoneLabel = named(new QLabel(QStringLiteral("Phone &number")), QStringLiteral("PhoneLabel"));
    auto *descriptionLabel =
        named(new QLabel(QStringLiteral("Descri&ption")), QStringLiteral("DescriptionLabel"));
    phoneLabel->setBuddy(phoneBox_);
    descriptionLabel->setBuddy(descriptionBox_);
    auto *entry = new QGridLayout;
    entry->addWidget(phoneLabel, 0, 0);
    entry->addWidget(descriptionLabel, 0, 1);
    entry->addWidget(phoneBox_, 1, 0);
    entry->addWidget(descriptionBox_, 1, 1);
    entry->setColumnStretch(1, 2);
    entry->setColumnStretch(0, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(dialButton);
    buttons->addWidget(hangUpButton_);
    buttons->addSpacing(16);
    buttons->addWidget(statusCaption);
    buttons->addWidget(statusLabel_, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(listLabel);
    layout->addWidget(listView_, 1);
    layout->addLayout(entry);
    layout->addLayout(buttons);
}

void DialerTab::onDialClicked()
{
    // A carriage return or other stray character would end the dial command and
    // send the rest to the modem as commands of its own.
    const QString problem = dialStringProblem(phoneBox_->text());
    if (!problem.isEmpty()) {
        statusLabel_->setText(QStringLiteral("Not dialled: %1; nothing was sent").arg(problem));
        return;
    }
    const QString number = phoneBox_->text();
    runDialer([this, number](ModemDialer &dialer) {
        if (dialer.dialModem(number) != DialResult::Connected)
            return;
        // The call holds the line until hung up: the status bar says so, and Hangup is the next step.
        line_.markModemCall();
        line_.toWindow([this] {
            hangUpButton_->setVisible(true);
            hangUpButton_->setFocus();
        });
    });
}

void DialerTab::onHangUpClicked()
{
    runDialer([](ModemDialer &dialer) { dialer.hangUpModem(); });
}

void DialerTab::runDialer(const std::function<void(ModemDialer &)> &work)
{
    // A click while a display poll runs is taken up as soon as it has ended.
    line_.run([this, work, status = statusLabel_->text()](MeterLink &link) mutable {
        ModemDialer dialer(link, link.serial().pump(),
                           DialerView{[&status] { return status; },
                                      [this, &status](const QString &text) {
                                          status = text;
                                          line_.toWindow([this, text] { statusLabel_->setText(text); });
                                      },
                                      [this] { line_.toWindow([this] { hangUpButton_->setVisible(true); }); }});
        work(dialer);
    });
}

void DialerTab::onListClicked()
{
    const int col = phoneList_->currentCol();
    if (col != PhoneList::kPhoneCol && col != PhoneList::kDescriptionCol)
        return;
    const int row = phoneList_->currentRow();
    phoneBox_->setText(phoneList_->text(row, PhoneList::kPhoneCol));
    descriptionBox_->setText(phoneList_->text(row, PhoneList::kDescriptionCol));
    if (col == PhoneList::kPhoneCol)
        phoneList_->setCurrentCol(PhoneList::kPhoneCol);
}

void DialerTab::onEntryEdited(int col)
{
    phoneList_->setCurrentCol(col);
    phoneList_->setCurrentText(col == PhoneList::kPhoneCol ? phoneBox_->text()
                                                           : descriptionBox_->text());
}

void DialerTab::selectFirstEntry()
{
    phoneList_->setCurrentCell(1, PhoneList::kPhoneCol);
    phoneBox_->setText(phoneList_->text(1, PhoneList::kPhoneCol));
    descriptionBox_->setText(phoneList_->text(1, PhoneList::kDescriptionCol));
    phoneList_->setCurrentCol(PhoneList::kPhoneCol);
}

void DialerTab::applyColumnWidths()
{
    listView_->verticalHeader()->setMinimumWidth(phoneList_->colWidthTwips(0) / kTwipsPerPixel);
    // Twips were sized for an 8-point font; never let a heading be cut off.
    QHeaderView *header = listView_->horizontalHeader();
    for (int col = 1; col < PhoneList::kCols; ++col) {
        const int width = phoneList_->colWidthTwips(col) / kTwipsPerPixel;
        listView_->setColumnWidth(col - 1, std::max(width, header->sectionSizeHint(col - 1)));
    }
}

void DialerTab::showCurrentCell(int row, int col)
{
    if (row >= 1 && col >= 1)
        listView_->setCurrentIndex(phoneList_->index(row - 1, col - 1));
}

void DialerTab::apply(const Settings &settings)
{
    if (!settings.phoneListReached)
        return;
    phoneList_->setUpHeadings();
    // Cell by cell as the file gives them: a reading that stopped inside the
    // list leaves the current cell where it stopped.
    for (int row = 1; row <= 10; ++row) {
        for (int col = 1; col <= 3; ++col) {
            if (const auto &text = settings.phoneList[row - 1][col - 1]) {
                phoneList_->setCurrentCell(row, col);
                phoneList_->setCurrentText(*text);
            }
        }
    }
    if (settings.complete())
        selectFirstEntry();
}

void DialerTab::store(Settings &settings) const
{
    for (int row = 1; row <= 10; ++row) {
        for (int col = 1; col <= 3; ++col)
            settings.phoneList[row - 1][col - 1] = phoneList_->text(row, col);
    }
}

} // namespace ostrand
