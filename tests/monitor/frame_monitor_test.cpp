#include "fake_file_dialogs.h"
#include "link/modbus_requests.h"
#include "link_fixture.h"
#include "monitor/frame_monitor.h"
#include "monitor/frame_reading.h"
#include "monitor/monitor_view.h"
#include "monitor/port_discovery.h"
#include "monitor/port_panel.h"
#include "platform/com_port_names.h"
#include "pseudo_terminal.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <functional>

using namespace ostrand;
using namespace ostrand::testing;

namespace {

const QByteArray kHoldingReply = appendCrc(QByteArray::fromHex("0103100880000008BF00F800100FF0001001F4"));

QStringList column(const FrameMonitor &monitor, int column)
{
    QStringList cells;
    for (int row = 0; row < monitor.rowCount(); ++row)
        cells << monitor.cellText(row, column);
    return cells;
}

// The monitor attached to a real link on the fake port, as the window attaches it.
class MonitoredLink : public LinkFixture {
protected:
    MonitoredLink() { link.setObserver(&monitor); }

    FrameMonitor monitor{clock};
    QAbstractItemModelTester modelCheck{&monitor, QAbstractItemModelTester::FailureReportingMode::Fatal};
};

TEST_F(MonitoredLink, eachExchangeIsCountedAndReadRowByRow)
{
    QByteArray badCrc = appendCrc(QByteArray::fromHex("01630000") + QByteArray(20, '\0'));
    badCrc[25] = char(badCrc[25] ^ 0x40);
    const auto readRegisters = [&] { return link.readHoldingRegisters(1, 76, 8).ok(); };
    const auto confirm = [&] { return link.confirmDownload(1).ok(); };
    const struct {
        const char *what;
        std::function<void()> meter;
        std::function<bool()> exchange;
        MonitorCounters counters; // requests, replies, resends, time-outs, CRC errors, port failures
        QStringList directions, readings;
        const char *lastTip = ""; // how the last row's tip, in the link's own words, begins
    } rows[] = {
        {"a late reply", [&] {
             port.setResponder([first = true](const QByteArray &, FakeSerialPort &p) mutable {
                 if (std::exchange(first, false))
                     p.deliver(kHoldingReply, 1500);
             });
         }, readRegisters, {2, 1, 1, 0, 0, 0, 0}, {"sent", "resent", "received"},
         {"read holding registers 76-83", "read holding registers 76-83", "16 bytes: registers 76-83"}},
        {"a silent meter", [] {}, [&] { return link.readDisplayBlock(9).ok(); }, {1, 0, 0, 1, 0, 0, 0},
         {"sent", "failed"}, {"display block", "time-out: no reply to display block"},
         "No answer from address 9 on COM1 at 38400 baud"},
        {"a wrong CRC", [&] { answerEverySendWith(badCrc); }, [&] { return link.readDisplayBlock(1).ok(); },
         {1, 1, 0, 0, 1, 0, 0}, {"sent", "received"}, {"display block", "reply CRC wrong"}},
        // The link ends a confirmation on its first bytes; what came by then is its reply.
        {"a confirmation answered two bytes and a pause", [&] {
             port.setResponder([](const QByteArray &, FakeSerialPort &p) {
                 p.deliver(QByteArray::fromHex("0162"), 5);
                 p.deliver(QByteArray::fromHex("81c9"), 300);
             });
         }, confirm, {1, 1, 0, 0, 0, 0, 0}, {"sent", "received"}, {"download stored", "download stored: acknowledged by 2 bytes"}},
        {"a port that will not open", [&] { port.close(); port.failOpenWith(QStringLiteral("no such device")); },
         [&] { return link.readDisplayBlock(1).ok(); }, {0, 0, 0, 0, 0, 1, 0}, {"failed"}, {"port would not open"}},
        {"a pause", [&] { port.allowOpen(), answerEverySendWith(kHoldingReply), monitor.setPaused(true); }, readRegisters,
         {}, {}, {}},
    };
    for (const auto &row : rows) {
        monitor.clear();
        row.meter();
        row.exchange();
        EXPECT_EQ(monitor.counters(), row.counters) << row.what << ": " << countersText(monitor.counters()).toStdString();
        EXPECT_EQ(column(monitor, FrameMonitor::DirectionColumn), row.directions) << row.what;
        EXPECT_EQ(column(monitor, FrameMonitor::ReadingColumn), row.readings) << row.what;
        const QString tip = monitor.index(monitor.rowCount() - 1, FrameMonitor::ReadingColumn).data(Qt::ToolTipRole).toString();
        EXPECT_EQ(tip.left(qstrlen(row.lastTip)), row.lastTip) << row.what;
    }
    monitor.setPaused(false);
    monitor.replyRead(kHoldingReply, true);
    EXPECT_EQ(column(monitor, FrameMonitor::ReadingColumn), QStringList({"16 bytes: registers 76-83"}))
        << "after a resume a reply still pairs with the request sent during the pause";
}

TEST_F(MonitoredLink, theTextForASupportRequestHasTheCountersAndEachFrameAndIsSavedWhole)
{
    answerEverySendWith(kHoldingReply);
    ASSERT_TRUE(link.readHoldingRegisters(1, 76, 8).ok());
    const QString text = monitor.asText();
    EXPECT_TRUE(text.contains(countersText(monitor.counters())) &&
                text.contains("sent     read holding registers 76-83  [01 03 00 4C 00 08 85 DB]") &&
                text.contains("received 16 bytes: registers 76-83  [01 03 10 08 80"))
        << text.toStdString();
    QTemporaryDir dir;
    QFile file(dir.filePath("monitor.txt"));
    QString error;
    EXPECT_TRUE(monitor.saveAsText(file.fileName()) && file.open(QIODevice::ReadOnly) &&
                QString::fromUtf8(file.readAll()) == text);
    EXPECT_FALSE(monitor.saveAsText(dir.filePath("no-such-folder/monitor.txt"), &error) || error.isEmpty());
}

TEST_F(MonitoredLink, rowsAreStampedToTheMillisecondAndBeyondTheCapTheOldestGoAndTheTextSaysHowMany)
{
    clock.setTimeOfDay(86399.9996); // rounds up to midnight, not to a 24th hour
    monitor.setRowCap(3);
    for (int block = 0; block < 5; ++block)
        monitor.requestSent(request::readLogBlock(1, 8, 0x80 + block, 0, 128), false);
    EXPECT_EQ(column(monitor, FrameMonitor::TimeColumn), QStringList(3, "00:00:00.000"));
    EXPECT_EQ(monitor.cellText(0, FrameMonitor::ReadingColumn), "log block 08 82 00, 128 words");
    EXPECT_EQ(monitor.counters().requests, 5) << "counters count what the cap dropped";
    EXPECT_TRUE(monitor.asText().contains("Frames: 3 (the 2 oldest dropped)"));
    monitor.setRowCap(1);

    monitor.replyRead(appendCrc(QByteArray::fromHex("01610885F8")).mid(3), true);
    EXPECT_EQ(monitor.cellText(0, FrameMonitor::ReadingColumn), "end of a reply begun before the monitor was opened")
        << "a reply the link vouched for but whose start was missed is no CRC error";
    EXPECT_EQ(monitor.counters().crcErrors, 0);
}

TEST_F(MonitoredLink, thePageFollowsTheNewestFrameFromWhenItIsOpenedUntilScrolledUpAndAgainOnceBackAtTheEnd)
{
    FakeFileDialogs dialogs;
    MonitorView view(monitor, dialogs);
    auto *table = view.findChild<QTableView *>("monitorTable");
    QScrollBar *bar = table->verticalScrollBar();
    const auto frames = [&](int count) {
        for (int i = 0; i < count; ++i)
            monitor.requestSent(request::readLogBlock(1, 8, 0x80, i % 256, 128), false);
        QApplication::processEvents();
    };
    const auto newestShown = [&] {
        return table->rowAt(table->viewport()->height() - 2) == monitor.rowCount() - 1;
    };
    frames(300);
    view.resize(500, 300);
    view.show();
    QApplication::processEvents();
    EXPECT_TRUE(newestShown()) << "opened after the frames came";
    frames(40);
    EXPECT_TRUE(newestShown());
    bar->triggerAction(QAbstractSlider::SliderPageStepSub);
    const int readingAt = bar->value();
    frames(40);
    EXPECT_EQ(bar->value(), readingAt) << "scrolled up to read: left there";
    bar->triggerAction(QAbstractSlider::SliderToMaximum);
    frames(40);
    EXPECT_TRUE(newestShown()) << "back at the end";
}


QByteArray framed(const char *hex)
{
    return appendCrc(QByteArray::fromHex(hex));
}

QByteArray withKey(char key)
{
    const auto code = static_cast<quint16>(static_cast<quint8>(key));
    return request::writeRegisters(1, 208, {static_cast<quint16>(code << 8 | code)});
}

// Frames the monitor's own table shows (a register read, a log block request, a confirmation, a wrong CRC)
// are checked above.
TEST(FrameReading, eachRequestAndEachReplyAgainstItsRequestReadsAsOneLine)
{
    const QByteArray registers = request::readHoldingRegisters(1, 0, 76, 8);
    const QByteArray block = appendCrc(QByteArray::fromHex("01600880000100") + QByteArray(256, '\x11'));
    const struct {
        QByteArray request, reply;
        const char *reading;
    } rows[] = {
        {request::readHoldingRegisters(1, 0, 208, 1), {}, "read holding register 208"},
        {withKey('E'), {}, "write register 208: key 'E'"},
        {request::writeRegisters(1, 300, {0, 0}), {}, "write registers 300-301, 4 bytes"},
        {framed("0145"), {}, "function 45"},
        {QByteArray::fromHex("0103004C"), {}, "function 03 request, 4 bytes too short"},
        {{}, framed("0103100880000008BF00F800100FF0001001F4"), "16 bytes of registers"},
        {registers, framed("010306000000000000"), "6 bytes for registers 76-83 (16 expected)"},
        {request::readLogBlock(1, 8, 0x80, 0, 128), block, "log block 08 80 00: 256 bytes"},
        {request::readLogBlock(1, 8, 0x81, 0, 100), block, "log block 08 80 00: 256 bytes, asked for 08 81 00, 200 asked"},
        {request::readLastDownloadPointer(1), framed("01610885F8"), "pointer 08 85 F8"},
        {request::confirmDownload(1), framed("0162"), "download stored: acknowledged"},
        {withKey('E'), framed("011000D00001"), "register 208 written"},
        {request::readDisplayBlock(1), appendCrc(QByteArray::fromHex("01630014") + QByteArray(20, ' ')), "display block 20 bytes"},
        {request::readDisplayBlock(1), QByteArray::fromHex("0103"), "2 bytes, too short for a reply"},
        {registers, framed("018302"), "exception 02: illegal data address"},
        {request::readLastDownloadPointer(1), framed("02610885F8"), "from slave 2: pointer 08 85 F8"},
        {request::readDisplayBlock(1), framed("01610885F8"), "function 61 reply to a function 63 request"},
    };
    for (const auto &row : rows) {
        const QString got = row.reply.isEmpty() ? readRequest(row.request) : readReply(row.reply, row.request);
        EXPECT_EQ(got, QLatin1String(row.reading)) << row.reading;
    }
}


SerialDevice adapter(const QString &location, const QString &serial)
{
    return {QFileInfo(location).fileName(), location, QStringLiteral("FT232R USB UART"), QStringLiteral("FTDI"), serial,
            0x0403, 0x6001, {}};
}

// A program folder and a pseudo-terminal standing in for a USB adapter.
class ComPorts : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(programDir.isValid() && pty.isValid()); }
    QString comPath(int n) const { return programDir.filePath(QStringLiteral("COM%1").arg(n)); }
    QString device() const { return QFileInfo(pty.slavePath()).canonicalFilePath(); }

    QTemporaryDir programDir;
    PseudoTerminal pty;
};

TEST_F(ComPorts, aLinkIsReplacedWithNoTemporaryLeftButAFileOrFolderNamedComNNever)
{
    const QString dir = programDir.path();
    ASSERT_TRUE(linkComPort(dir, 1, programDir.filePath("unplugged-adapter")));
    EXPECT_TRUE(describeComDevice(dir, 1).endsWith("(missing)"));
    ASSERT_TRUE(linkComPort(dir, 1, pty.slavePath()));
    EXPECT_EQ(resolveComDevice(dir, 1), device());
    EXPECT_EQ(QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
              QStringList({"COM1"}));

    // A file or a folder in the way is someone's, never replaced.
    QFile plain(comPath(3));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly) && plain.write("kept") == 4 && QDir(dir).mkdir("COM4"));
    plain.close();
    for (const auto &[n, reason] : {std::pair{3, "not a link"}, {4, "folder"}}) {
        QString error;
        EXPECT_FALSE(linkComPort(dir, n, pty.slavePath(), &error));
        EXPECT_TRUE(error.contains(QStringLiteral("COM%1").arg(n)) && error.contains(reason)) << error.toStdString();
    }
    EXPECT_TRUE(plain.open(QIODevice::ReadOnly) && plain.readAll() == "kept" && QFileInfo(comPath(4)).isDir());
}

TEST_F(ComPorts, theReplugProofNameOfADeviceIsFound)
{
    QTemporaryDir byId;
    const QString stable = byId.filePath("usb-FTDI_FT232R_USB_UART_A12345-if00-port0");
    ASSERT_TRUE(QFile::link(programDir.filePath("elsewhere"), byId.filePath("usb-other-if00-port0")));
    ASSERT_TRUE(QFile::link(pty.slavePath(), stable));
    EXPECT_EQ(stableNameIn(byId.path(), pty.slavePath()), stable);
    EXPECT_EQ(stableNameIn(byId.path(), "/dev/null"), "");
    EXPECT_EQ(stableNameIn(byId.filePath("absent"), pty.slavePath()), "");
}

TEST_F(ComPorts, thePanelPointsAComPortAtADeviceAndAdaptersPluggedInOrOutAreToldApart)
{
    PortPanel panel(programDir.path(), [this] { return QList{adapter(pty.slavePath(), "A12345")}; });
    panel.refresh();
    QSignalSpy changed(&panel, &PortPanel::comLinkChanged);
    ASSERT_TRUE(panel.assign(2, 0));
    EXPECT_EQ(resolveComDevice(programDir.path(), 2), device());
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(changed.at(0).at(0).toInt(), 2);

    // Adapters plugged in or out are told apart, even on the same port name.
    const SerialDevice a = adapter("/dev/ttyUSB0", "A1"), b = adapter("/dev/ttyUSB1", "B2");
    EXPECT_TRUE(compareDevices({a, b}, {a, b}).isEmpty());
    const DeviceChanges plugged = compareDevices({a}, {a, b});
    EXPECT_TRUE(plugged.added == QList<SerialDevice>{b} && plugged.removed.isEmpty());
    // Another adapter that took the freed name is a change, not the same device.
    const DeviceChanges swapped = compareDevices({a}, {adapter("/dev/ttyUSB0", "C3")});
    EXPECT_EQ(swapped.added.size() + swapped.removed.size(), 2);
    EXPECT_EQ(describeChanges(compareDevices({a}, {})), "Unplugged: ttyUSB0 (FT232R USB UART, serial A1).");
}

} // namespace
