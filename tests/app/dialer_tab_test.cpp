#include "window_fixture.h"

// The Dialer tab's buttons over an echoing Hayes modem on the fake port: a number a modem cannot
// dial is marked and not dialled; the one typed into the phone box connects, and Hangup closes.
TEST_F(WindowFixture, aNumberAModemCannotDialIsMarkedAndNotDialledAndOneTypedConnectsUntilHangup)
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
    writeSettings({{9, "[ItemPhone#]=555\rATH"}, {12, "[ItemPhone#]=9W,(555) 010-42#"}});
    openWindow();
    const PhoneList &list = window_->phoneList();
    for (const auto &[row, tip] : {std::pair{0, "Not dialled: the number holds U+000D"}, {1, "9W,(555) 010-42#"}}) {
        const QModelIndex cell = list.index(row, PhoneList::kPhoneCol - 1);
        EXPECT_TRUE(list.data(cell, Qt::ToolTipRole).toString().startsWith(tip)) << row;
        EXPECT_EQ(list.data(cell, Qt::DecorationRole).isNull(), row == 1) << "a warning mark on the bad row";
    }
    click("Command4"); // on the first entry, chosen at start
    EXPECT_TRUE(label("Label6").startsWith("Not dialled: the number holds U+000D, which a modem"));
    EXPECT_TRUE(port_.opens().empty() && port_.sends().empty());

    control<QLineEdit>("Text5(0)")->setText(QStringLiteral("5550142"));
    EXPECT_FALSE(shown("Command5"));
    click("Command4");
    EXPECT_TRUE(label("Label6").contains(QLatin1String("CONNECT")) && shown("Command5"));
    EXPECT_TRUE(label("LinkState").endsWith("address 1 · connected by modem: Hangup on the Dialer ends the call"))
        << label("LinkState").toStdString();
    click("ReleaseWhenIdle");
    clock_.advance(6000);
    tick("IdleReleaseTimer");
    EXPECT_TRUE(port_.isOpen()) << "a call that is up keeps the port, whatever the idle time";
    const QByteArray dialled = port_.sends().back().bytes;
    EXPECT_TRUE(dialled.startsWith("ATDT") && dialled.contains("5550142")) << dialled.toStdString();

    click("Command5");
    EXPECT_EQ(label("Label6"), "Okay");
    EXPECT_FALSE(port_.isOpen());
    EXPECT_TRUE(label("LinkState").endsWith("address 1 · not open"));
}
