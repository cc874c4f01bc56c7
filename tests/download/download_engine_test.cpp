#include "download/download_display.h"
#include "download/download_engine.h"
#include "download/download_outcome.h"
#include "download/log_address.h"
#include "download/results_grid.h"
#include "fake_meter.h"
#include "qt_printers.h"
#include "link/meter_link.h"
#include "link/serial_link.h"
#include "virtual_event_pump.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace ostrand;
using namespace ostrand::testing;

namespace {

class RecordingDisplay : public DownloadDisplay {
public:
    void setStatus(const QString &text) override { statuses << text; }
    void setProgress(int percent) override { progress.push_back(percent); }
    void setRecordsUsed(const QString &text) override { used = text; }
    void setRecordsAvailable(const QString &text) override { available = text; }
    void setChannelLabel(int channel, const QString &text) override { labels[channel] = text; }
    void showDetail(const QString &text) override { details << text; }

    QStringList statuses;
    QStringList details;
    std::vector<int> progress;
    QString used, available;
    std::array<QString, 9> labels;
};

class DownloadEngineTest : public ::testing::Test {
protected:
    DownloadEngineTest()
    {
        serial.setSettings({1, QStringLiteral("38400"), 1});
        meter.setLabel(1, "Flow");
        meter.setLabel(2, "Not Used");
        meter.setLabel(3, "Flow Tot");
    }

    // Records of channels 1 and 3 every 15 minutes from 10:00 on 12/1/2026, from the log's first address.
    void logRecords(int instants, int bank = 8, int page = 0x80, int offset = 0)
    {
        QByteArray bytes;
        for (int i = 0; i < instants; ++i) {
            const QDateTime when(QDate(2026, 12, 1), QTime(10, 0).addSecs(900 * i));
            bytes += FakeMeter::record(1, when, 1.5f + i);
            bytes += FakeMeter::record(3, when, 1000.75f + i);
        }
        meter.writeLog(bank, page, offset, bytes);
    }

    DownloadResult download(bool sinceLast = false, bool portable = false)
    {
        DownloadEngine engine(link, grid, state, display);
        DownloadOptions options;
        options.sinceLastTime = sinceLast;
        options.portableMeter = portable;
        options.slave = 1;
        return engine.downloadLog(options);
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

TEST(LogAddress, byteCountsFollowTheLogsPagesAcrossBanksAndTheWrap)
{
    const struct {
        LogAddress start, end;
        int bytes;
    } cases[] = {
        {{8, 0x80, 0}, {8, 0x80, 0}, 0},
        {{8, 0x80, 0}, {8, 0x81, 0}, 264},
        {{0x17, 0xBF, 0}, {8, 0x80, 0}, 256},
        {{8, 0xBF, 0}, {9, 0x80, 0x40}, 256 + 64 + 8},
        {{8, 0x80, 0}, {23, 0xBF, 0xF8}, 262144},
        {{12, 0x90, 0x10}, {9, 0x81, 0}, (23 - 12) * 16384 + 16384 - 0x1010 + 16384 + 256},
    };
    for (const auto &c : cases)
        EXPECT_EQ(logByteCount(c.start, c.end), c.bytes) << c.start.bank << "/" << c.start.page << " to "
                                                          << c.end.bank << "/" << c.end.page;
    EXPECT_EQ(advancedBy({8, 0x85, 0xF8}, 8), (LogAddress{8, 0x86, 0}));
    EXPECT_EQ(advancedBy({8, 0xBF, 0xF8}, 8), (LogAddress{9, 0x80, 0}));
    EXPECT_EQ(advancedBy({23, 0xBF, 0xF8}, 8), (LogAddress{8, 0x80, 0}));
}

TEST_F(DownloadEngineTest, aOnePageLogIsReadInOneBlockWithLabelsCountsAndRows)
{
    logRecords(16);
    meter.setPointers(8, 0x80, 0, 8, 0x81, 0, 32, 2048);
    EXPECT_EQ(download(), DownloadResult::Complete);

    ASSERT_EQ(meter.blockReads.size(), 9u) << "eight labels and one block";
    const auto &block = meter.blockReads.back();
    EXPECT_EQ(block.bank, 8);
    EXPECT_EQ(block.page, 0x80);
    EXPECT_EQ(block.words, 128);
    EXPECT_EQ(display.used, "32");
    EXPECT_EQ(display.available, "2048");
    EXPECT_EQ(display.labels[1], "Flow");
    EXPECT_EQ(display.labels[2], "");
    EXPECT_EQ(display.labels[3], "Flow Tot");
    EXPECT_EQ(display.statuses, QStringList{"All Data Download"});

    EXPECT_EQ(state.lastGridRow, 17);
    EXPECT_TRUE(state.channelInUse[1]);
    EXPECT_FALSE(state.channelInUse[2]);
    EXPECT_TRUE(state.channelIsTotal[2]);
    EXPECT_EQ(grid.text(1, 0), "Record #");
    EXPECT_EQ(grid.text(1, 2), "Flow");
    EXPECT_EQ(grid.text(1, 4), "Flow Tot");
    EXPECT_EQ(grid.text(2, 1), "12/1/2026 10:00:00 AM");
    EXPECT_EQ(grid.text(2, 2), "1.5");
    EXPECT_EQ(grid.text(2, 4), "1000") << "totals are shown whole";
    EXPECT_EQ(grid.text(17, 0), "16");
}

TEST_F(DownloadEngineTest, aWrappedLogAndALogAcrossBanksReadEachBlockOnce)
{
    meter.setPointers(0x17, 0xBF, 0, 8, 0x80, 0, 32, 2048);
    logRecords(16, 0x17, 0xBF, 0);
    ASSERT_EQ(download(), DownloadResult::Complete);
    ASSERT_EQ(meter.blockReads.size(), 9u);
    EXPECT_EQ(meter.blockReads.back().bank, 0x17);
    EXPECT_EQ(state.lastGridRow, 17);

    meter.blockReads.clear();
    grid.clear();
    logRecords(20, 8, 0xBF, 0);
    meter.setPointers(8, 0xBF, 0, 9, 0x80, 0x40, 40, 2048);
    ASSERT_EQ(download(), DownloadResult::Complete);
    ASSERT_EQ(meter.blockReads.size(), 11u) << "two full blocks and one short one after the labels";
    EXPECT_EQ(meter.blockReads[9].bank, 9);
    EXPECT_EQ(meter.blockReads[10].offset, 0x48);
    EXPECT_EQ(meter.blockReads[10].words, 36);
    EXPECT_EQ(state.lastGridRow, 21) << "no record is read twice";
}

TEST_F(DownloadEngineTest, sinceLastTimeStartsAfterThePointerAndFailsWithoutIt)
{
    logRecords(40);
    meter.setPointers(8, 0x80, 0, 8, 0x82, 0x80, 80, 2048);
    meter.setLastDownloadPointer(8, 0x80, 0xF8);
    ASSERT_EQ(download(true), DownloadResult::Complete);
    EXPECT_EQ(meter.blockReads[8].page, 0x81);
    EXPECT_EQ(meter.blockReads[8].offset, 0);
    EXPECT_EQ(display.statuses.back(), "Since Last Time Download");
    EXPECT_EQ(grid.text(2, 1), "12/1/2026 2:00:00 PM") << "the 17th instant is the first after the pointer";

    // Nothing logged since the last confirmed download: the pointer is the end.
    meter.blockReads.clear();
    meter.setLastDownloadPointer(8, 0x82, 0x80);
    EXPECT_EQ(download(true), DownloadResult::NoRecords);
    EXPECT_TRUE(meter.blockReads.empty());

    meter.silentFunctions.insert(0x61);
    EXPECT_EQ(download(true), DownloadResult::PointersUnreadable);
    EXPECT_TRUE(meter.blockReads.empty()) << "nothing is read from address zero";
}

TEST_F(DownloadEngineTest, thePortableMeterIsReadOneByteEarlier)
{
    logRecords(16);
    meter.setPointers(8, 0x80, 0, 8, 0x81, 0, 70000, 2048, true);
    ASSERT_EQ(download(false, true), DownloadResult::Complete);
    EXPECT_EQ(display.used, "Error") << "a count beyond 65536 cannot be right";
    EXPECT_EQ(display.available, "2048");
    EXPECT_EQ(state.lastGridRow, 17);
}

TEST_F(DownloadEngineTest, failuresEndTheDownloadWithTheirCodes)
{
    meter.setPointers(8, 0x80, 0x40, 8, 0x80, 0x40, 0, 2048);
    EXPECT_EQ(download(), DownloadResult::NoRecords);
    EXPECT_TRUE(meter.blockReads.empty());
    EXPECT_EQ(display.progress, std::vector<int>{0});

    meter.silentFunctions.insert(0x03);
    EXPECT_EQ(download(), DownloadResult::PointersUnreadable);
    meter.silentFunctions.clear();

    meter.setPointers(8, 0x80, 0, 24, 0x80, 0, 0, 2048);
    EXPECT_EQ(download(), DownloadResult::PointersUnreadable) << "an end pointer outside the log";
    meter.setPointers(8, 0x7F, 0, 8, 0x80, 0, 0, 2048);
    EXPECT_EQ(download(), DownloadResult::PointersUnreadable) << "a start pointer outside the log";
    EXPECT_TRUE(meter.blockReads.empty());

    // Eight pages of log; the fourth never answers.
    logRecords(128);
    meter.setPointers(8, 0x80, 0, 8, 0x88, 0, 256, 2048);
    meter.silentAddresses.insert(8 * 65536 + 0x83 * 256);
    meter.blockReads.clear();
    EXPECT_EQ(download(), DownloadResult::BlockFailed);
    int attemptsAtFailingBlock = 0;
    for (const auto &read : meter.blockReads) {
        if (read.bank == 8)
            EXPECT_LT(read.page, 0x84) << "nothing is read past the failing block";
        attemptsAtFailingBlock += read.bank == 8 && read.page == 0x83 ? 1 : 0;
    }
    // Each of the five attempts sends its request about twice a second for 5 s.
    EXPECT_GE(attemptsAtFailingBlock, 5 * 9);
    EXPECT_LE(attemptsAtFailingBlock, 5 * 11);
    EXPECT_EQ(state.lastGridRow, 1 + 48) << "the records before that block stay";
}

TEST_F(DownloadEngineTest, labelsThatNeverAnswerEndTheDownloadInsteadOfWaitingForEver)
{
    meter.setPointers(8, 0x80, 0, 8, 0x81, 0, 32, 2048);
    for (int k = 1; k <= 8; ++k)
        meter.silentAddresses.insert(0x18 * 65536 + (0x80 + k) * 256);
    const std::int64_t start = clock.monotonicMs();
    EXPECT_EQ(download(), DownloadResult::ChannelLabelsUnreadable);
    for (const auto &read : meter.blockReads)
        EXPECT_EQ(read.bank, 0x18) << "no log block is read without the labels";
    // Five passes of eight 5 s waits, then it stops.
    EXPECT_NEAR((clock.monotonicMs() - start) / 1000.0, 8 * 5.0 * DownloadEngine::kFruitlessLabelPasses, 25);
    EXPECT_EQ(downloadStatusText(DownloadResult::ChannelLabelsUnreadable), "Error in Downloading!!");
}

TEST_F(DownloadEngineTest, theFileIsWrittenAndTheMeterToldOnlyAfterACompleteDownload)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.csv"));
    int confirms = 0;
    auto confirm = [&] { ++confirms; };

    meter.setPointers(8, 0x80, 0, 8, 0x80, 0, 0, 0);
    EXPECT_EQ(finishDownload(download(), grid, state, path, display, confirm).status, "0 Records Available");
    EXPECT_FALSE(QFile::exists(path));

    logRecords(4);
    meter.setPointers(8, 0x80, 0, 8, 0x80, 0x40, 8, 2048);
    display.statuses.clear();
    EXPECT_EQ(finishDownload(download(), grid, state, path, display, confirm).status, "Finished. Data in File");
    EXPECT_EQ(display.statuses,
              (QStringList{"All Data Download", "Completed Download.", "Finished. Data in File"}));
    EXPECT_EQ(confirms, 1);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().startsWith("Date / Time,Flow,Flow Tot\r\n12/1/2026 10:00:00 AM,1.5,1000\r\n"));

    display.statuses.clear();
    const QString unwritable = dir.filePath(QStringLiteral("missing/log.csv"));
    EXPECT_EQ(finishDownload(download(), grid, state, unwritable, display, confirm).status, "Error putting into file!!");
    EXPECT_EQ(display.statuses.size(), 3);
    EXPECT_EQ(display.details.size(), 1) << "the system's own reason goes beside the status";
    EXPECT_EQ(confirms, 1) << "no confirmation without a file";
}

TEST_F(DownloadEngineTest, whatHappenedOnTheLineIsToldBesideTheStatusAndAnotherMeterAfterAReopenStopsAll)
{
    enum Reopen { None, MidLog, BeforeConfirming };
    const struct {
        const char *what;
        Reopen reopen;
        std::function<void()> change;
        bool confirmAnswered;
        int gridRows;
        const char *status, *detail;
        int pointerReads, confirmations;
    } cases[] = {
        {"no reopen: not a frame more", None, {}, true, ResultsGrid::kDefaultRows, "Finished. Data in File", "", 1, 1},
        {"the same meter back", MidLog, [] {}, true, ResultsGrid::kDefaultRows, "Finished. Data in File", "", 2, 1},
        {"other labels", MidLog, [&] { meter.setLabel(1, "Level"); }, true, ResultsGrid::kDefaultRows,
         "Error in Downloading!!", "a different meter answered after the line was reopened", 2, 0},
        {"another start pointer", MidLog, [&] { meter.setPointers(8, 0x80, 8, 8, 0x82, 0, 63, 2048); }, true,
         ResultsGrid::kDefaultRows, "Error in Downloading!!", "a different meter answered after the line was reopened",
         2, 0},
        {"another meter to confirm", BeforeConfirming, [&] { meter.setLabel(1, "Level"); }, true,
         ResultsGrid::kDefaultRows, "Finished. Data in File", "a different meter answered after the line was reopened",
         2, 0},
        {"an unanswered confirmation", None, {}, false, ResultsGrid::kDefaultRows, "Finished. Data in File",
         "the meter did not acknowledge the download confirmation: no reply in time", 1, 0},
        {"a grid of eight data rows", None, {}, true, 10, "Finished. Data in File",
         "48 records past the grid's last row were not stored", 1, 1},
    };
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.csv"));
    logRecords(32);
    for (const auto &c : cases) {
        meter.setLabel(1, "Flow");
        meter.setPointers(8, 0x80, 0, 8, 0x82, 0, 64, 2048);
        meter.silentFunctions.clear();
        if (!c.confirmAnswered)
            meter.silentFunctions.insert(0x62);
        const auto pullAndChange = [&] {
            port.unplug();
            port.plugBackIn();
            c.change();
        };
        meter.onRequest = [&](const QByteArray &q) {
            if (c.reopen == MidLog && q.startsWith("\x01\x60\x08\x81") && std::exchange(meter.onRequest, nullptr))
                pullAndChange();
        };
        grid.clear();
        grid.setRows(c.gridRows);
        QFile::remove(path);
        display.details.clear();
        const size_t sendsBefore = port.sends().size();
        const int confirmationsBefore = meter.confirmations;

        DownloadEngine engine(link, grid, state, display);
        const DownloadResult result = engine.downloadLog({});
        if (c.reopen == BeforeConfirming)
            pullAndChange();
        EXPECT_EQ(finishDownload(result, grid, state, path, display, [&] { engine.confirmDownload(); }).status, c.status)
            << c.what;

        EXPECT_EQ(display.details.join('|'), c.detail) << c.what;
        EXPECT_EQ(QFile::exists(path), QLatin1String(c.status) == "Finished. Data in File") << c.what;
        EXPECT_EQ(meter.confirmations - confirmationsBefore, c.confirmations) << c.what;
        const auto pointerReads = std::count_if(port.sends().begin() + sendsBefore, port.sends().end(),
                                                [](const auto &sent) { return sent.bytes[1] == 0x03; });
        EXPECT_EQ(pointerReads, c.pointerReads) << c.what;
    }
}
