#include "download/download_engine.h"
#include "download/download_outcome.h"
#include "download/log_address.h"
#include "fake_meter.h"
#include "link/meter_link.h"
#include "link/serial_link.h"
#include "qt_printers.h"
#include "table/output_file.h"
#include "table/results_grid.h"
#include "tests/download/recording_display.h"
#include "file_bytes.h"
#include "virtual_event_pump.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace ostrand;
using namespace ostrand::testing;

namespace {

class DownloadEngineTest : public ::testing::Test {
protected:
    DownloadEngineTest()
    {
        serial.setSettings({1, QStringLiteral("38400"), 1});
        meter.setLabel(1, "Flow");
        meter.setLabel(2, "Not Used");
        meter.setLabel(3, "Flow Tot");
    }

    // Records of channels 1 and 3 every 15 minutes from 10:00 on 12/1/2026
    // (the instants from `first` on).
    void logRecords(int instants, int bank = 8, int page = 0x80, int offset = 0, int first = 0)
    {
        QByteArray bytes;
        for (int i = first; i < first + instants; ++i) {
            const QDateTime when(QDate(2026, 12, 1), QTime(10, 0).addSecs(900 * i));
            bytes += FakeMeter::record(1, when, 1.5f + i);
            bytes += FakeMeter::record(3, when, 1000.75f + i);
        }
        meter.writeLog(bank, page, offset, bytes);
    }

    DownloadResult download(bool sinceLast = false, bool portable = false)
    {
        DownloadOptions options;
        options.sinceLastTime = sinceLast;
        options.portableMeter = portable;
        return DownloadEngine(link, grid, state, display).downloadLog(options);
    }

    VirtualClock clock;
    VirtualEventPump pump{clock};
    FakeSerialPort port{clock};
    FakeMeter meter{port};
    SerialLink serial{port, clock, pump};
    MeterLink link{serial};
    ResultsGrid grid;
    GridState state;
    RecordingDisplay display;
};

} // namespace

TEST_F(DownloadEngineTest, theLogBetweenThePointersIsReadOnceInBlocksWhateverItsLayout)
{
    const LogAddress none{0, 0, 0};
    const auto ok = DownloadResult::Complete, empty = DownloadResult::NoRecords,
               unreadable = DownloadResult::PointersUnreadable;
    const char *tenOClock = "12/1/2026 10:00:00 AM,1.5,,1000";
    const struct {
        const char *what;
        LogAddress start, end, lastDownload;
        int instants, used;
        bool portable;
        int silentFunction;
        DownloadResult result;
        const char *blocks, *firstRow;
        int lastRow;
    } cases[] = {
        // clang-format off
        {"one page", {8, 0x80, 0}, {8, 0x81, 0}, none, 16, 32, false, 0, ok, "8/128/0/128", tenOClock, 17},
        {"wrapped from the last page", {0x17, 0xBF, 0}, {8, 0x80, 0}, none, 16, 32, false, 0, ok,
         "23/191/0/128", tenOClock, 17},
        {"across banks", {8, 0xBF, 0}, {9, 0x80, 0x40}, none, 20, 40, false, 0, ok,
         "8/191/0/128 9/128/0/128 9/128/72/36", tenOClock, 21},
        {"a portable meter, its count beyond reason", {8, 0x80, 0}, {8, 0x81, 0}, none, 16, 70000, true,
         0, ok, "8/128/0/128", tenOClock, 17},
        {"since the last download", {8, 0x80, 0}, {8, 0x82, 0x80}, {8, 0x80, 0xF8}, 40, 80, false, 0, ok,
         "8/129/0/128 8/130/0/128 8/130/144/72", "12/1/2026 2:00:00 PM,17.5,,1016", 25},
        {"nothing since the last download", {8, 0x80, 0}, {8, 0x82, 0x80}, {8, 0x82, 0x80}, 40, 80, false,
         0, empty, "", "", 1},
        {"the last download's pointer unanswered", {8, 0x80, 0}, {8, 0x82, 0x80}, {8, 0x80, 0xF8}, 40, 80,
         false, 0x61, unreadable, "", "", 1},
        {"nothing logged", {8, 0x80, 0x40}, {8, 0x80, 0x40}, none, 0, 0, false, 0, empty, "", "", 1},
        {"pointers unanswered", {8, 0x80, 0}, {8, 0x81, 0}, none, 16, 32, false, 3, unreadable, "", "", 1},
        {"an end pointer outside the log", {8, 0x80, 0}, {24, 0x80, 0}, none, 0, 0, false, 0, unreadable,
         "", "", 1},
        {"a start pointer outside the log", {8, 0x7F, 0}, {8, 0x80, 0}, none, 0, 0, false, 0, unreadable,
         "", "", 1},
        // clang-format on
    };
    for (const auto &c : cases) {
        logRecords(c.instants, c.start.bank, c.start.page, c.start.offset);
        meter.setPointers(c.start.bank, c.start.page, c.start.offset, c.end.bank, c.end.page,
                          c.end.offset, c.used, 2048, c.portable);
        meter.setLastDownloadPointer(c.lastDownload.bank, c.lastDownload.page,
                                     c.lastDownload.offset);
        meter.silentFunctions = {c.silentFunction};
        meter.blockReads.clear();
        grid.clear();
        EXPECT_EQ(download(c.lastDownload.bank != 0, c.portable), c.result) << c.what;
        QStringList blocks;
        for (const auto &read : meter.blockReads)
            if (read.bank != 0x18)
                blocks << QString::asprintf("%d/%d/%d/%d", read.bank, read.page, read.offset,
                                            read.words);
        EXPECT_EQ(blocks.join(' '), c.blocks) << c.what;
        if (c.result != DownloadResult::Complete)
            continue;
        EXPECT_EQ(state.lastGridRow, c.lastRow) << c.what;
        EXPECT_EQ(grid.rowTexts(2).mid(1, 4).join(','), c.firstRow) << c.what;
        EXPECT_EQ(display.used, c.used > 65536 ? "Error" : QString::number(c.used)) << c.what;
        EXPECT_EQ(display.labels[1] + display.labels[2] + display.labels[3], "FlowFlow Tot")
            << c.what;
    }
}

TEST_F(DownloadEngineTest, onlyAWholeNotUsedLabelTakesAChannelOutAndAnEmptyOneKeepsItsFlags)
{
    meter.setLabel(4, "Not Used yet");
    state.channel(2).inUse = true;
    state.channel(5) = Channel{QStringLiteral("Old"), true, true};
    logRecords(16);
    meter.setPointers(8, 0x80, 0, 8, 0x81, 0, 32, 2048);
    ASSERT_EQ(download(), DownloadResult::Complete);
    EXPECT_EQ(outputFileBytes(grid, state).split('\n').mid(0, 2),
              QList<QByteArray>({"Date / Time,Flow,Flow Tot,Not Used yet,\r",
                                 "12/1/2026 10:00:00 AM,1.5,1000,,\r"}));
    EXPECT_EQ(display.labels[4] + '|' + display.labels[5], "Not Used yet|");
    EXPECT_TRUE(state.channel(5).total);
    for (int k = 1; k <= kChannelCount; ++k)
        EXPECT_EQ(state.channel(k).label, grid.text(kHeadingRow, channelCol(k)))
            << "the chart's name " << k;
}

TEST_F(DownloadEngineTest, aBlockIsTriedFiveTimesAndLabelsFivePassesThenTheDownloadStops)
{
    // Eight pages of log; the fourth never answers.
    logRecords(128);
    meter.setPointers(8, 0x80, 0, 8, 0x88, 0, 256, 2048);
    meter.silentAddresses.insert(8 * 65536 + 0x83 * 256);
    EXPECT_EQ(download(), DownloadResult::BlockFailed);
    int attemptsAtFailingBlock = 0;
    for (const auto &read : meter.blockReads) {
        if (read.bank == 8) {
            EXPECT_LT(read.page, 0x84) << "nothing is read past the failing block";
        }
        attemptsAtFailingBlock += read.bank == 8 && read.page == 0x83 ? 1 : 0;
    }
    // Each of the five attempts sends its request about twice a second for 5 s.
    EXPECT_GE(attemptsAtFailingBlock, 5 * 9);
    EXPECT_LE(attemptsAtFailingBlock, 5 * 11);
    EXPECT_EQ(state.lastGridRow, 1 + 48) << "the records before that block stay";

    // A meter that answers the pointer read and no block read at all (a slave
    // that frames requests by their length cannot frame this function) is
    // given up after two silent reads; once one block came, the label passes
    // go on as long as the meter gave something lately.
    const struct {
        const char *what;
        int firstSilentLabel;
        double seconds;
        const char *detail;
    } silentLabels[] = {
        {"no block read answered", 1, 2 * 5.0, "the meter answered the pointer read and then nothing"},
        {"the first label answered", 2, 6 * 7 * 5.0, "No answer from address 1"},
    };
    for (const auto &c : silentLabels) {
        meter.blockReads.clear();
        display.details.clear();
        meter.silentAddresses.clear();
        for (int k = c.firstSilentLabel; k <= 8; ++k)
            meter.silentAddresses.insert(0x18 * 65536 + (0x80 + k) * 256);
        const std::int64_t start = clock.monotonicMs();
        EXPECT_EQ(download(), DownloadResult::ChannelLabelsUnreadable) << c.what;
        for (const auto &read : meter.blockReads)
            EXPECT_EQ(read.bank, 0x18) << "no log block is read without the labels";
        EXPECT_NEAR((clock.monotonicMs() - start) / 1000.0, c.seconds, 25) << c.what;
        EXPECT_TRUE(display.details.join('|').startsWith(c.detail)) << c.what << display.details.join('|').toStdString();
    }
}

TEST_F(DownloadEngineTest, whatHappenedOnTheLineIsToldAndAnotherMeterAfterAReopenStopsAll)
{
    enum Reopen { None, MidLog, BeforeConfirming };
    const int rows = ResultsGrid::kDefaultRows;
    const char *done = "Finished. Data in File",
               *other = "a different meter answered after the line was reopened";
    const struct {
        const char *what;
        Reopen reopen;
        std::function<void()> change;
        int gridRows;
        const char *status, *detail;
        int pointerReads, confirmations;
    } cases[] = {
        // clang-format off
        {"no reopen: a pointer read more for what was logged meanwhile, one after the confirmation", None, {},
         rows, done, "", 3, 1},
        // The block's reply still on the wire at the replug spoils the first pointer read after it.
        {"the same meter back", MidLog, [] {}, rows, done, "", 5, 1},
        // Every unwrapped log starts at the same address: the bytes already received tell them apart.
        {"another log from the same start", MidLog, [&] { logRecords(32, 8, 0x80, 8); }, rows,
         "Error in Downloading!!", other, 3, 0},
        {"a log that ends before the end read at the start", MidLog,
         [&] { meter.setPointers(8, 0x80, 0, 8, 0x81, 0, 32, 2048); }, rows, "Error in Downloading!!", other, 3, 0},
        {"another meter to confirm", BeforeConfirming, [&] { meter.setLabel(1, "Level"); }, rows, done, other, 3, 0},
        {"a grid of eight data rows", None, {}, 10, done, "48 records past the grid's last row were not stored", 3, 1},
        {"nothing logged: no file", None, [&] { meter.setPointers(8, 0x80, 0, 8, 0x80, 0, 0, 0); }, rows,
         "0 Records Available", "", 1, 0},
        // clang-format on
    };
    QTemporaryDir dir;
    for (const auto &c : cases) {
        logRecords(32);
        meter.setLabel(1, "Flow");
        meter.setPointers(8, 0x80, 0, 8, 0x82, 0, 64, 2048);
        const auto pullAndChange = [&] {
            port.unplug();
            port.plugBackIn();
            c.change();
        };
        meter.onRequest = [&](const QByteArray &q) {
            if (c.reopen == MidLog && q.startsWith("\x01\x60\x08\x81") &&
                std::exchange(meter.onRequest, nullptr))
                pullAndChange();
        };
        if (c.reopen == None && c.change)
            c.change();
        grid.clear();
        grid.setRows(c.gridRows);
        const QString path = dir.filePath("log.csv");
        QFile::remove(path);
        display.details.clear();
        const size_t sendsBefore = port.sends().size();
        const int confirmationsBefore = meter.confirmations;

        DownloadEngine engine(link, grid, state, display);
        const DownloadResult result = engine.downloadLog({});
        if (c.reopen == BeforeConfirming)
            pullAndChange();
        EXPECT_EQ(
            finishDownload(result, grid, state, path, display, [&] { return engine.confirmDownloadAndReadTail(); })
                .status,
            c.status)
            << c.what;
        EXPECT_EQ(display.details.join('|').replace(dir.path(), "DIR"), c.detail) << c.what;
        EXPECT_EQ(QFile::exists(path), c.status == done) << c.what;
        EXPECT_EQ(meter.confirmations - confirmationsBefore, c.confirmations) << c.what;
        EXPECT_EQ(std::count_if(port.sends().begin() + sendsBefore, port.sends().end(),
                                [](const auto &sent) { return sent.bytes[1] == 0x03; }),
                  c.pointerReads)
            << c.what;
    }
}

// The confirmation carries no address: the meter's marker goes to its end as
// the confirmation arrives. Two instants logged just before it reach the file,
// or are named as the records the meter now counts as downloaded.
TEST_F(DownloadEngineTest, whatTheMeterLoggedBeforeTheConfirmationArrivedIsAddedToTheFileOrNamed)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("log.csv");
    const auto lines = [&] { return QString::fromLatin1(readFileBytes(path)).split("\r\n", Qt::SkipEmptyParts); };
    // The reference: all 34 instants, read in one download.
    logRecords(34);
    meter.setPointers(8, 0x80, 0, 8, 0x82, 0x20, 68, 2048);
    ASSERT_EQ(download(), DownloadResult::Complete);
    ASSERT_TRUE(writeOutputFile(grid, state, path, nullptr));
    const QStringList whole = lines();
    ASSERT_EQ(whole.size(), 35);

    const char *done = "Finished. Data in File", *readError = "Error in Downloading!!",
               *fileError = "Error putting into file!!";
    const QString named = "the meter now counts the 4 records from 08 82 00 through 08 82 18 as downloaded, "
                          "and DIR/log.csv does not hold them: \"Download Data\" reads them again";
    const struct {
        const char *what;
        bool sinceLast; // from the marker after instant 16, the file holding the 16 before it
        std::function<void()> atConfirmation;
        const char *status;
        int fileRows; // of `whole`, from the first
        QString detail;
    } cases[] = {
        {"a whole log", false, {}, done, 34, ""},
        {"since the last download, appended", true, {}, done, 34, ""},
        {"the meter ignores the confirmation", false, [&] { meter.takesConfirmation = false; }, done, 32,
         "the meter did not take the confirmation: its last-download marker stands at 08 80 F8, not at or after "
         "08 81 F8, the last record read; the next Since Last Time reads from the record after 08 80 F8"},
        {"its block unanswered", false, [&] { meter.silentAddresses = {8 * 65536 + 0x82 * 256}; }, readError, 32,
         "No answer from address 1|could not read the records the meter counted as downloaded with the confirmation "
         "(the 4 records from 08 82 00 through 08 82 18)|" + named},
        {"the marker unanswered", false, [&] { meter.silentFunctions = {0x61}; }, readError, 32,
         "could not read where the meter's last download now ends: No answer from address 1|the meter now counts "
         "the records logged after 08 81 F8 (the last slot read) until the confirmation as downloaded, and "
         "DIR/log.csv does not hold them: \"Download Data\" reads them again"},
        {"the file made read-only", false, [&] { QFile::setPermissions(path, QFileDevice::ReadOwner); }, fileError,
         32, "DIR/log.csv is read-only; make it writable or choose another output file|" + named},
        // Whether the meter took it is not known: said, and the file stands.
        {"neither the confirmation nor the marker answered", false, [&] { meter.silentFunctions = {0x62, 0x61}; },
         done, 32,
         "the meter did not acknowledge the download confirmation|could not read where the meter's last download "
         "now ends|if the meter took the confirmation, it counts the records logged after 08 81 F8 (the last slot "
         "read) until the confirmation as downloaded"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        writeFileBytes(path, whole.mid(0, 17).join("\r\n").toLatin1() + "\r\n");
        meter.setPointers(8, 0x80, 0, 8, 0x82, 0, 64, 2048);
        meter.setLastDownloadPointer(8, 0x80, 0xF8);
        meter.takesConfirmation = true;
        meter.silentAddresses.clear();
        meter.silentFunctions.clear();
        // The meter logs two instants between the download's last pointer read and the confirmation.
        meter.onRequest = [&](const QByteArray &q) {
            if (q[1] != 0x62)
                return;
            meter.setPointers(8, 0x80, 0, 8, 0x82, 0x20, 68, 2048);
            if (c.atConfirmation)
                c.atConfirmation();
        };
        grid.clear();
        display.details.clear();
        const int confirmedBefore = meter.confirmations;
        DownloadOptions options;
        options.sinceLastTime = c.sinceLast;
        DownloadEngine engine(link, grid, state, display);
        const DownloadResult result = engine.downloadLog(options);
        const DownloadEnd end =
            finishDownload(result, grid, state, path, display, [&] { return engine.confirmDownloadAndReadTail(); },
                           c.sinceLast ? OutputWrite::Append : OutputWrite::Replace);
        meter.onRequest = nullptr;
        EXPECT_EQ(end.status, c.status);
        EXPECT_EQ(end.fileFailed, c.status == fileError);
        EXPECT_EQ(end.result == DownloadResult::Complete, c.status != readError);
        // A whole log replaces the file, which is kept first and said so before anything else.
        QStringList said = display.details;
        const bool kept = !said.isEmpty() && said.front().startsWith("the previous file was kept as log.csv.");
        EXPECT_EQ(kept, !c.sinceLast);
        if (kept)
            said.removeFirst();
        const QString details = said.join('|').replace(dir.path(), "DIR");
        EXPECT_EQ(details.isEmpty(), c.detail.isEmpty()) << qPrintable(details);
        for (const QString &piece : c.detail.split('|', Qt::SkipEmptyParts))
            EXPECT_TRUE(details.contains(piece)) << qPrintable(piece) << "\nin: " << qPrintable(details);
        EXPECT_EQ(lines(), whole.mid(0, 1 + c.fileRows));
        EXPECT_EQ(meter.confirmations - confirmedBefore, meter.silentFunctions.count(0x62) ? 0 : 1);
    }
}
