#include "app/line_worker.h"
#include "window_fixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

using namespace ostrand;
using namespace ostrand::testing;

namespace {

class NetworkChoiceTest : public WindowFixture {
protected:
    void type(const char *address) { control<QLineEdit>("NetworkAddress")->setText(QLatin1String(address)); }
    LinkSettings line() const { return window_->line().settings(); }
};

} // namespace

TEST_F(NetworkChoiceTest, anAddressThatDoesNotReadIsRefusedWithItsReasonAndTheLastGoodOneStays)
{
    openWindow();
    EXPECT_FALSE(control<QAbstractButton>("Option2(4)")->isEnabled()) << "no address to choose yet";
    type("meter-7.example:4001");
    click("Option2(4)");
    const struct {
        const char *typed;
        const char *problem;
        const char *address; // what the line uses after it
    } rows[] = {
        {"meter-7.example", "give the port after the host, as host:port", "tcp://meter-7.example:4001"},
        {"meter 7:4001", "the host holds ' ', which no host name or address has", "tcp://meter-7.example:4001"},
        {"10.0.0.5:0", "the port is a number from 1 to 65535", "tcp://meter-7.example:4001"},
        {"10.0.0.5:65536", "the port is a number from 1 to 65535", "tcp://meter-7.example:4001"},
        {"10.0.0.5:40x", "the port is a number from 1 to 65535", "tcp://meter-7.example:4001"},
        {":4001", "give the host before the port, as host:port", "tcp://meter-7.example:4001"},
        {"ftp://10.0.0.5:21", "give host:port, tcp://host:port or rfc2217://host:port", "tcp://meter-7.example:4001"},
        {"10.0.0.5:65535", "", "tcp://10.0.0.5:65535"},
        // A scheme typed in the box chooses the kind, which then holds for what is typed next.
        {"RFC2217://[fe80::1]:2217", "", "rfc2217://[fe80::1]:2217"},
        {"10.0.0.5:4001", "", "rfc2217://10.0.0.5:4001"},
    };
    for (const auto &row : rows) {
        type(row.typed);
        EXPECT_EQ(control<QLabel>("NetworkProblem")->text(), QLatin1String(row.problem)) << row.typed;
        EXPECT_EQ(line().networkAddress, QLatin1String(row.address)) << row.typed;
    }
    EXPECT_EQ(control<QComboBox>("NetworkKind")->currentText(), "RFC 2217");
    EXPECT_TRUE(control<QLabel>("LinkState")->text().startsWith("rfc2217://10.0.0.5:4001 · 38400 baud · address 1"))
        << control<QLabel>("LinkState")->text().toStdString();
    click("Option2(1)");
    EXPECT_EQ(line().networkAddress, "") << "a COM port chosen again";
    EXPECT_EQ(line().portNumber, 2);
}

TEST_F(NetworkChoiceTest, theChoiceAndTheLineOptionsReachTheLineAndSurviveARestartOutside7700dwnIni)
{
    openWindow();
    click("Option2(2)");
    type("192.168.1.20:4001");
    click("Option2(4)");
    control<QSpinBox>("RequestGap")->setValue(250);
    click("Echo");
    closeWindow();
    const QByteArray ini = readFile(settingsPath());
    EXPECT_EQ(settingsLines().size(), kSettingsLineCount);
    EXPECT_EQ(settingsLines()[0], "[Commport]=3") << "the last COM port chosen";
    for (int start = 1; start <= 2; ++start) {
        openWindow();
        EXPECT_EQ(line().networkAddress, "tcp://192.168.1.20:4001") << start;
        EXPECT_EQ(line().portNumber, 3) << start;
        EXPECT_EQ(line().requestGapMs, 250) << start;
        EXPECT_TRUE(line().echo) << start;
        EXPECT_TRUE(control<QLabel>("LinkState")->text().startsWith("tcp://192.168.1.20:4001 · address 1"));
        closeWindow();
        EXPECT_EQ(readFile(settingsPath()), ini) << start;
    }
}
