#include "app/phone_list.h"
#include "window_fixture.h"

#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
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
            lines[8 + 3 * k - 2] =
                QStringLiteral("[ItemPhone#]=555-01%1").arg(k, 2, 10, QLatin1Char('0'));
            lines[8 + 3 * k - 1] = QStringLiteral("[ItemDescription]=Station %1").arg(k);
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
        control<QTabWidget>("SSTab1")->setCurrentIndex(4);
        phone = control<QLineEdit>("Text5(0)");
        description = control<QLineEdit>("Text5(1)");
    }
    // A user's click on cell (row, col) of the list, counted as the list counts them.
    void clickCell(int row, int col)
    {
        auto *view = control<QTableView>("MSHFlexGrid2");
        const QRect cell = view->visualRect(view->model()->index(row - 1, col - 1));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
    }
    QString cell(int row, int col) { return window_->phoneList().text(row, col); }

    QLineEdit *phone = nullptr;
    QLineEdit *description = nullptr;
};

} // namespace

TEST_F(DialerTabTest, clickingAnEntryFillsBothBoxesAndTypingChangesOnlyThatCell)
{
    EXPECT_EQ(phone->text(), "555-0101") << "the first entry is chosen at start";
    clickCell(4, 3);
    EXPECT_EQ(description->text(), "Station 4");
    // The item column moves the row but not the boxes; typing into the other
    // box moves the current column without copying the cell's old text back.
    clickCell(10, 1);
    phone->setFocus();
    phone->selectAll();
    QTest::keyClicks(phone, "555");
    QTest::keyClicks(description, "x");
    EXPECT_EQ(QStringList({cell(4, 2), cell(4, 3), cell(10, 1), cell(10, 2), cell(10, 3)}),
              QStringList({"555-0104", "Station 4", " 10", "555", "Station 4x"}));
}

TEST_F(DialerTabTest, dialingTheNumberInThePhoneBoxConnectsAndHangupCloses)
{
    phone->setText(QStringLiteral("5550142"));
    EXPECT_FALSE(shown("Command5"));
    click("Command4");
    EXPECT_TRUE(control<QLabel>("Label6")->text().contains(QLatin1String("CONNECT")));
    EXPECT_TRUE(shown("Command5"));
    bool dialed = false;
    for (const auto &sent : port_.sends())
        dialed =
            dialed || sent.bytes.startsWith("ATDT5550142") || sent.bytes.startsWith("ATDT 5550142");
    EXPECT_TRUE(dialed);

    click("Command5");
    EXPECT_EQ(control<QLabel>("Label6")->text(), "Okay");
    EXPECT_FALSE(port_.isOpen());
    const size_t sends = port_.sends().size();
    click("Command5");
    EXPECT_EQ(port_.sends().size(), sends) << "with the port closed a hang-up sends nothing";
}
