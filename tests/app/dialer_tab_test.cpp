#include "app/phone_list.h"
#include "window_fixture.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>

using namespace ostrand;
using namespace ostrand::testing;

namespace {

// The Dialer tab over ten stored numbers and an echoing Hayes modem on the fake port.
class DialerTabTest : public WindowFixture {
protected:
    void SetUp() override
    {
        QStringList lines = defaultSettingsLines();
        for (int k = 1; k <= 10; ++k) {
            lines[8 + 3 * (k - 1) + 1] = QStringLiteral("[ItemPhone#]=555-01%1").arg(k, 2, 10, QLatin1Char('0'));
            lines[8 + 3 * (k - 1) + 2] = QStringLiteral("[ItemDescription]=Station %1").arg(k);
        }
        writeSettings(lines);
        port_.setResponder([](const QByteArray &sent, FakeSerialPort &p) {
            if (sent == "+++")
                return;
            p.deliver(sent);
            if (sent == "AT\r" || sent == "ATH0\r")
                p.deliver("\r\nOK\r\n", 20);
            else if (sent.startsWith("ATDT"))
                p.deliver("\r\nCONNECT 9600\r\n", 1500);
        });
        openWindow();
        window_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
        window_->findChild<QWidget *>(QStringLiteral("SSTab1"))->setProperty("currentIndex", 4);
        phone = control<QLineEdit>("Text5(0)");
        description = control<QLineEdit>("Text5(1)");
    }

    // A user's click on cell (row, col) of the list, counted as the list counts them.
    void clickCell(int row, int col)
    {
        auto *view = control<QTableView>("MSHFlexGrid2");
        const QModelIndex index = view->model()->index(row - 1, col - 1);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(index).center());
    }
    void typeAtEnd(QLineEdit *box, const char *keys)
    {
        box->setFocus();
        box->end(false);
        QTest::keyClicks(box, keys);
    }
    PhoneList &list() { return window_->phoneList(); }

    QLineEdit *phone = nullptr;
    QLineEdit *description = nullptr;
};

} // namespace

TEST_F(DialerTabTest, clickingAnEntryFillsBothBoxesAndTypingChangesOnlyThatCell)
{
    EXPECT_EQ(phone->text(), "555-0101") << "the first entry is chosen at start";
    clickCell(4, 3);
    EXPECT_EQ(description->text(), "Station 4");
    typeAtEnd(phone, "9");
    EXPECT_EQ(list().text(4, 2), "555-01049");
    EXPECT_EQ(list().text(4, 3), "Station 4");
    EXPECT_EQ(list().text(3, 2), "555-0103");

    // The item column moves the row but not the boxes: the next keystroke
    // writes the box's whole text into the newly chosen row.
    clickCell(8, 1);
    EXPECT_EQ(description->text(), "Station 4");
    typeAtEnd(description, "x");
    EXPECT_EQ(list().text(8, 3), "Station 4x");
    EXPECT_EQ(list().text(8, 1), " 8") << "a click never alters the list";
}

TEST_F(DialerTabTest, typingIsNotOverwrittenWhenTheEditMovesTheCurrentColumn)
{
    clickCell(3, 2);
    description->setFocus();
    description->selectAll();
    QTest::keyClicks(description, "Pump");
    EXPECT_EQ(list().text(3, 3), "Pump");
    QTest::keyClicks(phone, "7");
    EXPECT_EQ(list().text(3, 2), "555-01037");
    EXPECT_EQ(list().text(3, 3), "Pump");

    clickCell(10, 3);
    description->clear();
    closeWindow();
    EXPECT_EQ(settingsLines().mid(8 + 27, 3), QStringList({"[Item#]= 10", "[ItemPhone#]=555-0110", "[ItemDescription]="}));
}

TEST_F(DialerTabTest, dialingTheNumberInThePhoneBoxConnectsAndHangupCloses)
{
    phone->setText(QStringLiteral("5550142"));
    EXPECT_TRUE(control<QPushButton>("Command5")->isHidden());
    control<QPushButton>("Command4")->click();
    EXPECT_TRUE(control<QLabel>("Label6")->text().contains(QLatin1String("CONNECT")));
    EXPECT_FALSE(control<QPushButton>("Command5")->isHidden());
    bool dialed = false;
    for (const auto &sent : port_.sends())
        dialed = dialed || sent.bytes.startsWith("ATDT5550142") || sent.bytes.startsWith("ATDT 5550142");
    EXPECT_TRUE(dialed);

    control<QPushButton>("Command5")->click();
    EXPECT_EQ(control<QLabel>("Label6")->text(), "Okay");
    EXPECT_FALSE(port_.isOpen());
    const size_t sends = port_.sends().size();
    control<QPushButton>("Command5")->click();
    EXPECT_EQ(port_.sends().size(), sends) << "with the port closed a hang-up sends nothing";
}
