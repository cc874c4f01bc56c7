#include "window_fixture.h"

namespace {

// COM1 and COM2 linked to two adapters in the program's folder, and a meter with a short log.
class StatusBarTest : public WindowFixture {
protected:
    void SetUp() override
    {
        for (const char *adapter : {"adapterA", "adapterB"})
            writeFile(inDir(adapter), QByteArray());
        link(1, "adapterA");
        link(2, "adapterB");
        fill(meter);
        openWindow();
    }
    static void fill(FakeMeter &m)
    {
        m.writeLog(8, 0x80, 0, FakeMeter::record(1, QDateTime(QDate(2026, 12, 1), QTime(9, 0)), 1.5f));
        m.setPointers(8, 0x80, 0, 8, 0x80, 0x08, 1, 4096);
    }
    void link(int com, const char *adapter) { ASSERT_TRUE(QFile::link(inDir(adapter), inDir(QStringLiteral("COM%1").arg(com)))); }
    QString device(const char *adapter) const { return QFileInfo(inDir(adapter)).canonicalFilePath(); }

    FakeMeter meter{port_};
};

// `adapter` empty: the COMn link is gone; `lastError`: how it ends, empty when none is shown.
struct Step { const char *what; std::function<void()> act; const char *com, *adapter, *baud, *state, *lastError, *errorTime; };

} // namespace

// Each step changes the choice, the line or the links and runs what the technician would.
TEST_F(StatusBarTest, namesTheDeviceOpenOrNextAndTheLastErrorUntilAnExchangeSucceeds)
{
    const auto choose = [this](const char *option) { return [this, option] { click(option); }; };
    const Step steps[] = {
        {"nothing run yet", [] {}, "1", "adapterA", "38400", "not open", "", ""},
        {"a download opens COM1", [this] { click("Command2"); }, "1", "adapterA", "38400", "open", "", ""},
        // The next exchange closes COM1 and opens the choice: the choice is shown, not yet open.
        {"COM2 chosen", choose("Option2(1)"), "2", "adapterB", "38400", "not open", "", ""},
        {"COM2 and 9600 chosen", [this] { click("Option2(1)"), click("Option1(3)"); }, "2", "adapterB", "9600", "not open", "", ""},
        {"the next download", [this] { click("Command2"); }, "2", "adapterB", "9600", "open", "", ""},
        {"COM1's adapter pulled, its link gone, COM1 chosen",
         [this] {
             port_.unplug();
             QFile::remove(inDir("COM1"));
             click("Option2(0)");
             clock_.setTimeOfDay(14 * 3600 + 3 * 60 + 7);
             click("Command2");
         },
         "1", "", "9600", "not open", "COM1: device not found", "14:03:07"},
        {"plugged back in, the link put back, the meter refusing in its reply",
         [this] {
             port_.plugBackIn(), link(1, "adapterA"), clock_.setTimeOfDay(12 * 3600);
             meter.silentFunctions = {0x03};
             meter.onRequest = [this](const QByteArray &q) { port_.deliver(appendCrc(q.left(1) + char(q[1] | 0x80) + char(2)), 5); };
             click("Command2");
         },
         "1", "adapterA", "9600", "open", "Last error: The meter at address 1 refused function 0x03 (illegal data address): is this the right meter type and address?", "12:00:00"},
        {"the meter answering", [this] { meter.silentFunctions.clear(), meter.onRequest = nullptr, click("Command2"); },
         "1", "adapterA", "9600", "open", "", ""},
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        const QString shown = *step.adapter ? device(step.adapter) : QStringLiteral("link to %1 gone").arg(inDir("adapterA"));
        EXPECT_EQ(label("LinkState"), QStringLiteral("COM%1 (%2) · %3 baud · address 1 · %4").arg(step.com, shown, step.baud, step.state));
        const QString lastError = label("LastError");
        EXPECT_TRUE(*step.lastError ? lastError.endsWith(step.lastError) : lastError.isEmpty()) << lastError.toStdString();
        EXPECT_EQ(label("LastErrorTime"), step.errorTime);
    }
}

TEST_F(StatusBarTest, namesTheNetworkChosenAtOnceAndNeverShowsOpenForALineThatWent)
{
    const auto glance = [this] { return tick("LinkStateTimer"), label("LinkState"); };
    const QString com1 = "COM1 (" + device("adapterA") + ") · 38400 baud · address 1 · ";
    click("Command2");
    ASSERT_EQ(glance(), com1 + "open");
    type("NetworkAddress", "127.0.0.1:4001");
    click("Option2(4)");
    EXPECT_EQ(glance(), "Network tcp://127.0.0.1:4001 · address 1 · not connected");
    click("Option2(0)");
    EXPECT_EQ(glance(), com1 + "open") << "COM1 is still open and chosen again";

    port_.unplug();
    EXPECT_EQ(glance(), com1 + "not open");
    port_.plugBackIn();
    click("Command2");
    ASSERT_EQ(glance(), com1 + "open");
    QFile::remove(inDir("COM1"));
    EXPECT_EQ(glance(), "COM1 (link to " + inDir("adapterA") + " gone) · 38400 baud · address 1 · not open");
}

TEST_F(StatusBarTest, withLetGoTickedThePortClosesAfter5sIdleAndTheNextOperationOpensItAgain)
{
    const auto idleCheck = [this] { tick("IdleReleaseTimer"); };
    click("Command2");
    clock_.advance(60000);
    idleCheck();
    ASSERT_TRUE(port_.isOpen()) << "kept open by default";
    click("ReleaseWhenIdle");
    click("Command2");
    const std::size_t opens = port_.opens().size();
    clock_.advance(4999);
    idleCheck();
    EXPECT_TRUE(port_.isOpen()) << "4.999 s idle";
    clock_.advance(1);
    idleCheck();
    EXPECT_FALSE(port_.isOpen()) << "5 s idle";
    EXPECT_TRUE(label("LinkState").endsWith("· not open")) << label("LinkState").toStdString();
    click("Command2");
    EXPECT_EQ(port_.opens().size(), opens + 1);
    EXPECT_EQ(status(), "Finished. Data in File");
    closeWindow();
    openWindow();
    EXPECT_TRUE(control<QCheckBox>("ReleaseWhenIdle")->isChecked()) << "kept in ostrand-link.ini";
}
