#include "app/line_worker.h"
#include "window_fixture.h"

#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

using namespace ostrand;
using namespace ostrand::testing;

TEST_F(WindowFixture, aNetworkAddressIsCheckedBesideItsBoxAndReachesTheLineAcrossARestartOutside7700dwnIni)
{
    const auto line = [this] { return window_->line().settings(); };
    const auto state = [this] { return control<QLabel>("LinkState")->text(); };
    openWindow();
    click("Option2(2)");
    control<QLineEdit>("NetworkAddress")->setText("meter-7.example:4001");
    click("Option2(4)");
    const char *kOld = "tcp://meter-7.example:4001";
    const struct {
        const char *typed, *problem, *address; // the address the line uses after it
    } rows[] = {
        {"meter-7.example", "give the port after the host, as host:port", kOld},
        {"10.0.0.5:65536", "the port is a number from 1 to 65535", kOld},
        {"ftp://10.0.0.5:21", "give host:port, tcp://host:port or rfc2217://host:port", kOld},
        // A scheme typed in the box chooses the kind, which then holds for what is typed next.
        {"RFC2217://[fe80::1]:2217", "", "rfc2217://[fe80::1]:2217"},
        {"10.0.0.5:65535", "", "rfc2217://10.0.0.5:65535"},
    };
    for (const auto &row : rows) {
        control<QLineEdit>("NetworkAddress")->setText(QLatin1String(row.typed));
        EXPECT_EQ(control<QLabel>("NetworkProblem")->text(), QLatin1String(row.problem)) << row.typed;
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
        EXPECT_TRUE(state().startsWith("rfc2217://10.0.0.5:65535 · 38400 baud · address 1")) << state().toStdString();
        closeWindow();
        EXPECT_EQ(readFile(settingsPath()), ini) << start;
    }
    openWindow();
    click("Option2(1)");
    EXPECT_EQ(std::make_pair(line().networkAddress, line().portNumber), std::make_pair(QString(), 2));
}
