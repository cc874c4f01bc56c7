#include "download/download_engine.h"
#include "download/download_outcome.h"
#include "download/log_address.h"
#include "download/log_decoder.h"
#include "download/log_pointers.h"
#include "download/time_left.h"
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
#include <QLocale>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <clocale>
#include <string>

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

    // Records of channels 1 and 3 every 15 minutes from 10:00 on 12/1/2026.
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
        DownloadOptions options;
        options.sinceLastTime = sinceLast;
        options.portableMeter = portable;
        return DownloadEngine(link, grid, state, display).downloadLog(options);
    }
    // A download into `path` ended as the window and the command line end one; `meanwhile` runs
    // between the log's read and the file's write.
    DownloadEnd downloadTo(const QString &path, bool sinceLast = false, const std::function<void()> &meanwhile = {})
    {
        grid.clear();
        display.details.clear();
        DownloadOptions options;
        options.sinceLastTime = sinceLast;
        DownloadEngine engine(link, grid, state, display);
        const DownloadResult result = engine.downloadLog(options);
        if (meanwhile)
            meanwhile();
        return finishDownload(result, grid, state, path, display, [&] { return engine.confirmDownloadAndReadTail(); },
                              sinceLast ? OutputWrite::Append : OutputWrite::Replace);
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


QByteArray rec(int channel, int year, int month, int day, int hour, int minute, float value = 100)
{
    return FakeMeter::record(
        channel, QDateTime(QDate(year, month, day), QTime(hour, minute)), value);
}

QByteArray with(QByteArray record, int at, int byte)
{
    record[at] = char(byte);
    return record;
}

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
        {"nothing since the last download", {8, 0x80, 0}, {8, 0x82, 0x80}, {8, 0x82, 0x80}, 40, 80, false,
         0, empty, "", "", 1},
        {"the last download's pointer unanswered", {8, 0x80, 0}, {8, 0x82, 0x80}, {8, 0x80, 0xF8}, 40, 80,
         false, 0x61, unreadable, "", "", 1},
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
    }
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
        grid.setRows(c.gridRows);
        const QString path = dir.filePath("log.csv");
        QFile::remove(path);
        const size_t sendsBefore = port.sends().size();
        const int confirmationsBefore = meter.confirmations;
        const auto meanwhile = c.reopen == BeforeConfirming ? std::function<void()>(pullAndChange) : nullptr;
        EXPECT_EQ(downloadTo(path, false, meanwhile).status, c.status) << c.what;
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
        const int confirmedBefore = meter.confirmations;
        const DownloadEnd end = downloadTo(path, c.sinceLast);
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

// clang-format off
// The grid's rows from row 2 to the last begun, record number to channel 4.
TEST(LogDecoding, BeginsARowWheneverDateOrTimeChangesAndSkipsWhatCannotBeDated)
{
    const struct { const char *what; std::vector<QByteArray> blocks; QStringList rows; } cases[] = {
        {"the worked record", {QByteArray::fromHex("1415093042C80000")}, {"1,4/15/2000 9:30:00 AM,100,,,"}},
        {"one row an instant, across blocks; a later value replaces",
         {rec(1, 2004, 5, 2, 10, 0, 1.5) + rec(2, 2004, 5, 2, 10, 0) + rec(1, 2004, 5, 2, 10, 15),
          rec(2, 2004, 5, 2, 10, 15, -100) + rec(3, 2004, 5, 2, 10, 15), rec(3, 2004, 5, 2, 10, 15, 10)},
         {"1,5/2/2004 10:00:00 AM,1.5,100,,", "2,5/2/2004 10:15:00 AM,100,-100,10,"}},
        {"a daily log: a day apart at the same minute",
         {rec(1, 2004, 5, 2, 10, 0) + rec(1, 2004, 5, 3, 10, 0, 10) + rec(1, 2004, 6, 3, 10, 0, 10)},
         {"1,5/2/2004 10:00:00 AM,100,,,", "2,5/3/2004 10:00:00 AM,10,,,", "3,6/3/2004 10:00:00 AM,10,,,"}},
        {"midnight dates the next day",
         {rec(1, 2004, 3, 30, 23, 45) + rec(1, 2004, 3, 31, 0, 0) + rec(1, 2015, 12, 31, 0, 0)},
         {"1,3/30/2004 11:45:00 PM,100,,,", "2,4/1/2004,100,,,", "3,1/1/2016,100,,,"}},
        {"noon, past midnight and the year bits",
         {rec(1, 2001, 7, 4, 12, 0) + rec(1, 2002, 7, 4, 0, 1) + rec(1, 2008, 7, 4, 9, 5) + rec(1, 2031, 7, 4, 8, 0)},
         {"1,7/4/2001 12:00:00 PM,100,,,", "2,7/4/2002 12:01:00 AM,100,,,", "3,7/4/2008 9:05:00 AM,100,,,",
          "4,7/4/2031 8:00:00 AM,100,,,"}},
        {"an erased byte in the value is no erased record", {with(rec(1, 2004, 5, 2, 10, 0), 5, 0xFF)},
         {"1,5/2/2004 10:00:00 AM,127.5,,,"}},
        {"records that cannot be dated, or of no channel, and a short tail",
         {with(rec(3, 2005, 2, 15, 9, 30), 1, 0x29) + with(rec(3, 2004, 4, 15, 9, 30), 0, 0x3D) +
              with(rec(3, 2004, 4, 15, 9, 30), 2, 0x24) + with(rec(3, 2004, 4, 15, 9, 30), 3, 0x2A) +
              with(rec(1, 2004, 4, 15, 9, 30), 0, 0x94) + QByteArray(8, char(0xFF)) + rec(2, 2004, 4, 15, 9, 45) + "shor"},
         {"1,4/15/2004 9:45:00 AM,,100,,"}},
    };
    for (const auto &c : cases) {
        ResultsGrid grid;
        GridState state;
        state.channel(5).total = true; // channel 5 is never logged: its flag must not leak
        for (const QByteArray &block : c.blocks)
            EXPECT_TRUE(decodeLogBlock(block, grid, state));
        QStringList rows;
        for (int r = 2; r <= state.lastGridRow; ++r)
            rows << grid.rowTexts(r).mid(0, 6).join(',');
        EXPECT_EQ(rows, c.rows) << c.what;
        EXPECT_EQ(grid.lastUsedRow(), state.lastGridRow > 1 ? state.lastGridRow : -1) << c.what;
    }
}
// clang-format on

TEST(LogDecoding, TextsAreUsEnglishUnderAGermanDefaultAndNumericLocale)
{
    const QLocale before;
    const std::string numeric = std::setlocale(LC_NUMERIC, nullptr);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const bool german =
        std::setlocale(LC_NUMERIC, "de_DE.UTF-8") || std::setlocale(LC_NUMERIC, "de_DE");
    ResultsGrid grid;
    GridState state;
    decodeLogBlock(rec(1, 2004, 3, 15, 14, 30, 2.5) + rec(2, 2004, 3, 15, 14, 30, 1233768.5f) +
                       rec(3, 2004, 3, 15, 14, 30, 1e-5f),
                   grid, state);
    QLocale::setDefault(before);
    std::setlocale(LC_NUMERIC, numeric.c_str());
    EXPECT_EQ(grid.rowTexts(2).mid(1, 4),
              QStringList({"3/15/2004 2:30:00 PM", "2.5", "1233768.5", "9.99999974737875E-06"}))
        << (german ? "" : "no German C locale installed; Qt's locale alone was German");
}

// Two keepers' cursors: reading on from the chosen one leaves neither a record short.
TEST(LogCursors, TheEarlierOfTwoIsTheOneNearerTheStartRoundTheRingOrOneTheLogNoLongerHolds)
{
    const auto at = [](int bank, int page, int offset) { return LogCursor{{bank, page, offset}, QByteArray(8, 'r')}; };
    const LogPointers plain{{}, {8, 0x80, 0}, {8, 0x90, 0}};
    const LogPointers wrapped{{}, {0x10, 0x80, 0}, {9, 0x80, 0}}; // banks 0x10 to 23, then 8 and 9
    const struct {
        const char *what;
        LogPointers pointers;
        LogCursor a, b;
        bool first; // the first one is the earlier
    } cases[] = {
        {"both held, the second earlier", plain, at(8, 0x85, 0), at(8, 0x82, 0x10), false},
        {"both held, the first earlier", plain, at(8, 0x81, 0x08), at(8, 0x8F, 0xF8), true},
        {"the same record", plain, at(8, 0x85, 0), at(8, 0x85, 0), true},
        {"wrapped: a low address past the ring's turn is later", wrapped, at(8, 0x90, 0), at(0x12, 0x80, 0), false},
        {"wrapped: the first before the turn", wrapped, at(0x17, 0xBF, 0xF8), at(8, 0x80, 0), true},
        {"the second beyond the end: overwritten or reset", plain, at(8, 0x85, 0), at(8, 0xA0, 0), false},
        {"the first at the end pointer, a slot not yet written", plain, at(8, 0x90, 0), at(8, 0x80, 0), true},
        {"the second outside the log area", plain, at(8, 0x85, 0), at(2, 0x80, 0), false},
    };
    for (const auto &c : cases) {
        const LogCursor &earlier = earlierCursor(c.a, c.b, c.pointers);
        EXPECT_EQ(&earlier, c.first ? &c.a : &c.b) << c.what;
    }
}

TEST(TimeLeft, comesFromTheSmoothedRateOfTheBlocksOnceThereAreACoupleOfThemAndIsWordedToAsMuchAsALineKeepsTo)
{
    const double kNone = -1;
    const std::pair<std::vector<std::pair<double, double>>, double> rows[] = { // (seconds, fraction done)..., left
        {{{1, 0.1}, {2, 0.2}}, kNone},
        {{{1, 0.1}, {2, 0.2}, {3, 0.3}}, 7.0},
        {{{1, 0.1}, {2, 0.2}, {3, 0.3}, {8, 0.4}}, 0.6 / 0.08}, // a slow block counts a quarter
        {{{1, 0.5}, {2, 0.9}, {3, 1.2}}, 0.0},                  // past the end: never negative
        {{{1, 0.1}, {1, 0.2}, {1, 0.3}}, kNone},                // no time passed: no rate
    };
    for (const auto &[blocks, left] : rows) {
        TimeLeftEstimate estimate;
        for (const auto &[seconds, fraction] : blocks)
            estimate.blockRead(seconds, fraction);
        EXPECT_NEAR(estimate.secondsLeft().value_or(kNone), left, 1e-9) << blocks.size();
    }
    const std::pair<std::optional<double>, const char *> words[] = {
        {std::nullopt, ""}, {9.9, "a few seconds left"}, {44, "about 40 s left"}, {55, "about 1 min left"},
        {150, "about 3 min left"}, {5399, "about 90 min left"}, {5400, "about 1 h 30 min left"}, {7320, "about 2 h left"},
    };
    for (const auto &[seconds, text] : words)
        EXPECT_EQ(timeLeftText(seconds), QString::fromLatin1(text)) << seconds.value_or(-1);
}
