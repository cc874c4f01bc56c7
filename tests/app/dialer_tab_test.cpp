#include "window_fixture.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace ostrand;
using namespace ostrand::testing;

namespace {

// The Dialer tab over an echoing Hayes modem on the fake port.
class DialerTabTest : public WindowFixture {
protected:
    void SetUp() override
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
    }
};

} // namespace

TEST_F(DialerTabTest, dialingTheNumberInThePhoneBoxConnectsAndShowsHangup)
{
    control<QLineEdit>("Text5(0)")->setText(QStringLiteral("5550142"));
    EXPECT_TRUE(control<QPushButton>("Command5")->isHidden());
    control<QPushButton>("Command4")->click();
    EXPECT_TRUE(control<QLabel>("Label6")->text().contains(QLatin1String("CONNECT")))
        << control<QLabel>("Label6")->text().toStdString();
    EXPECT_FALSE(control<QPushButton>("Command5")->isHidden());
    bool dialed = false;
    for (const auto &sent : port_.sends())
        dialed = dialed || sent.bytes.startsWith("ATDT 5550142") || sent.bytes.startsWith("ATDT5550142");
    EXPECT_TRUE(dialed);

    control<QPushButton>("Command5")->click();
    EXPECT_EQ(control<QLabel>("Label6")->text(), "Okay");
    EXPECT_FALSE(port_.isOpen()) << "the hang-up closes the port; the next exchange opens it again";
}

TEST_F(DialerTabTest, hangupWithThePortClosedSendsNothing)
{
    control<QPushButton>("Command5")->setVisible(true);
    control<QPushButton>("Command5")->click();
    EXPECT_TRUE(port_.sends().empty());
    EXPECT_EQ(control<QLabel>("Label6")->text(), "Okay");
}
