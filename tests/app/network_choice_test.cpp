#include "window_fixture.h"

TEST_F(WindowFixture, aNetworkAddressIsCheckedBesideItsBoxAndReachesTheLineAcrossARestartOutside7700dwnIni)
{
    const auto line = [this] { return window_->line().settings(); };
    openWindow();
    click("Option2(2)");
    type("NetworkAddress", "meter-7.example:4001");
    click("Option2(4)");
    const char *kOld = "tcp://meter-7.example:4001";
    const struct { const char *typed, *problem, *address; } rows[] = { // the address the line uses after it
        {"meter-7.example", "give the port after the host, as host:port", kOld},
        // A scheme typed in the box chooses the kind, which then holds for what is typed next.
        {"RFC2217://[fe80::1]:2217", "", "rfc2217://[fe80::1]:2217"},
        {"10.0.0.5:65535", "", "rfc2217://10.0.0.5:65535"},
    };
    for (const auto &row : rows) {
        type("NetworkAddress", QLatin1String(row.typed));
        EXPECT_EQ(label("NetworkProblem"), QLatin1String(row.problem)) << row.typed;
        EXPECT_EQ(line().networkAddress, QLatin1String(row.address)) << row.typed;
    }
    control<QSpinBox>("RequestGap")->setValue(250);
    click("Echo");
    closeWindow();
    const QByteArray ini = readFile(settingsPath());
    EXPECT_EQ(settingsLines().size(), kSettingsLineCount);
    EXPECT_EQ(settingsLines()[0], "[Commport]=3") << "the last COM port chosen";
    for (int start = 1; start <= 2; ++start) {
        openWindow();
        EXPECT_EQ(std::make_tuple(line().networkAddress, line().portNumber, line().requestGapMs, line().echo),
                  std::make_tuple(QString("rfc2217://10.0.0.5:65535"), 3, 250, true));
        EXPECT_TRUE(label("LinkState").startsWith("Network rfc2217://10.0.0.5:65535 · 38400 baud · address 1 · not connected"));
        closeWindow();
        EXPECT_EQ(readFile(settingsPath()), ini) << start;
    }
    openWindow();
    click("Option2(1)");
    EXPECT_EQ(std::make_pair(line().networkAddress, line().portNumber), std::make_pair(QString(), 2));
}

// "127.0.0.1:9999" is an address, a slave ID of 24 a meter, and the display's poll could reach either.
TEST_F(WindowFixture, theAddressSlaveIdAndReplyTimeAreTakenWhenTypedToTheirEndAndOnlyWhenTheyRead)
{
    const auto line = [this] { return window_->line().settings(); };
    openWindow();
    type("NetworkAddress", "10.0.0.5:4001", false);
    EXPECT_TRUE(control("Option2(4)")->isEnabled()) << "its click ends the typing";
    EXPECT_EQ(line().networkAddress, "");
    QTest::keyClick(control<QLineEdit>("NetworkAddress"), Qt::Key_Return);
    click("Option2(4)");
    ASSERT_EQ(line().networkAddress, "tcp://10.0.0.5:4001");
    const struct {
        const char *box, *typed;
        std::function<QString()> used;
        const char *before, *after; // the value in use while typing, and once Enter ended it
    } rows[] = {
        {"NetworkAddress", "127.0.0.1:99999", [&] { return line().networkAddress; }, "tcp://10.0.0.5:4001", "tcp://10.0.0.5:4001"},
        {"NetworkAddress", "127.0.0.1:4002", [&] { return line().networkAddress; }, "tcp://10.0.0.5:4001", "tcp://127.0.0.1:4002"},
        {"Text1", "247", [&] { return QString::number(line().slave); }, "1", "247"},
        {"Text1", "2470", [&] { return QString::number(line().slave); }, "247", "247"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.typed);
        auto *box = control<QLineEdit>(row.box);
        box->selectAll();
        for (const QChar c : QString::fromLatin1(row.typed)) {
            QTest::keyClick(box, c.toLatin1());
            EXPECT_EQ(row.used(), row.before) << box->text().toStdString();
        }
        QTest::keyClick(box, Qt::Key_Return);
        EXPECT_EQ(row.used(), row.after);
    }
    EXPECT_EQ(label("NetworkProblem"), "");
    // Leaving the box ends the typing as Enter does.
    type("Text1", "12", false);
    EXPECT_EQ(line().slave, 247);
    QFocusEvent leave(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(control("Text1"), &leave);
    EXPECT_EQ(line().slave, 12);

    auto *replyTime = control<QSpinBox>("ReplyTimeout");
    replyTime->selectAll();
    QTest::keyClicks(replyTime, "2500");
    EXPECT_EQ(line().replyTimeoutMs, 0) << "2, 25 and 250 ms were never used";
    QTest::keyClick(replyTime, Qt::Key_Return);
    EXPECT_EQ(line().replyTimeoutMs, 2500);
}
