#include "app/phone_list.h"
#include "window_fixture.h"

#include <QLabel>
#include <QLineEdit>

using namespace ostrand;
using namespace ostrand::testing;

// The Dialer tab's buttons over an echoing Hayes modem on the fake port.
TEST_F(WindowFixture, dialingTheNumberInThePhoneBoxConnectsAndHangupCloses)
{
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
    control<QLineEdit>("Text5(0)")->setText(QStringLiteral("5550142"));
    EXPECT_FALSE(shown("Command5"));
    click("Command4");
    EXPECT_TRUE(control<QLabel>("Label6")->text().contains(QLatin1String("CONNECT")));
    EXPECT_TRUE(shown("Command5"));
    const QByteArray dialled = port_.sends().back().bytes;
    EXPECT_TRUE(dialled.startsWith("ATDT") && dialled.contains("5550142")) << dialled.toStdString();

    click("Command5");
    EXPECT_EQ(control<QLabel>("Label6")->text(), "Okay");
    EXPECT_FALSE(port_.isOpen());
}

// A number with more than a dial string holds is marked in the list and never reaches the modem.
TEST_F(WindowFixture, aNumberAModemCannotDialIsMarkedAndNotDialled)
{
    writeSettings({{9, "[ItemPhone#]=555\rATH"}, {12, "[ItemPhone#]=9W,(555) 010-42#"}});
    openWindow();
    const PhoneList &list = window_->phoneList();
    const QModelIndex bad = list.index(0, PhoneList::kPhoneCol - 1), good = list.index(1, PhoneList::kPhoneCol - 1);
    EXPECT_TRUE(list.data(bad, Qt::ToolTipRole).toString().startsWith("Not dialled: the number holds U+000D"));
    EXPECT_FALSE(list.data(bad, Qt::DecorationRole).isNull());
    EXPECT_EQ(list.data(good, Qt::ToolTipRole).toString(), "9W,(555) 010-42#");
    EXPECT_TRUE(list.data(good, Qt::DecorationRole).isNull());

    ASSERT_EQ(control<QLineEdit>("Text5(0)")->text(), "555\rATH") << "the first entry is chosen";
    click("Command4");
    EXPECT_TRUE(control<QLabel>("Label6")->text().startsWith(
        "Not dialled: the number holds U+000D, which a modem cannot dial"));
    EXPECT_TRUE(control<QLabel>("Label6")->text().endsWith("; nothing was sent"));
    EXPECT_TRUE(port_.opens().empty() && port_.sends().empty());
    EXPECT_FALSE(shown("Command5"));
}
