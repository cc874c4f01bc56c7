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
