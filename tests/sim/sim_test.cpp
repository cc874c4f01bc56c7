// The simulated meter's own replies and faults, byte for byte on its core, then the real
// program on a pseudo-terminal. The program reading it is tested end to end elsewhere.
#include "circular_log.h"
#include "crc16.h"
#include "fault_policy.h"
#include "meter.h"
#include "meter_float.h"
#include "meter_setup.h"
#include "metersim_process.h"
#include "sim_options.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace ostrand::sim;
using ostrand::testing::MeterSimProcess;

namespace {

const QDateTime kNow(QDate(2026, 12, 6), QTime(14, 7, 30), Qt::UTC);
const QStringList kLog{"--records", "500", "--channels", "3", "--start", "2026-12-01 00:00",
                       "--labels", "Inflow,Inflow Tot"};

// Hex text, spaces allowed, as a frame with its CRC.
QByteArray framed(const char *text)
{
    QByteArray frame = QByteArray::fromHex(QByteArray(text).replace(' ', ""));
    appendCrc(frame);
    return frame;
}

SimOptions optionsFrom(const QStringList &arguments)
{
    SimOptions options;
    QString error;
    EXPECT_TRUE(parseOptions(arguments, &options, &error)) << error.toStdString();
    return options;
}

// The meter `arguments` describe (with the contents it was built from, which it refers to).
struct BuiltMeter {
    explicit BuiltMeter(const QStringList &arguments)
    {
        const SimOptions options = optionsFrom(arguments);
        QString error;
        EXPECT_TRUE(makeContents(options, kNow, &contents, &error)) << error.toStdString();
        meter = makeMeter(options, contents, kNow);
    }
    MeterContents contents;
    std::unique_ptr<Meter> meter;
};

// "prefix*size" when only the head of a reply is fixed (live values follow it).
void expectReply(const QByteArray &got, const char *want, const std::string &where)
{
    const QList<QByteArray> parts = QByteArray(want).split('*');
    if (parts.size() == 2) {
        EXPECT_EQ(got.left(parts[0].size() / 2).toHex(), parts[0].toLower()) << where;
        EXPECT_EQ(got.size(), parts[1].toInt()) << where;
        EXPECT_TRUE(hasValidCrc(got)) << where;
    } else {
        EXPECT_EQ(got.toHex(), (*want ? framed(want) : QByteArray()).toHex()) << where;
    }
}

template <std::size_t N> QByteArray hexOf(const std::array<std::uint8_t, N> &b)
{
    return QByteArray(reinterpret_cast<const char *>(b.data()), int(N)).toHex().toUpper();
}
QDateTime at(int y, int mo, int d, int h, int mi) { return QDateTime(QDate(y, mo, d), QTime(h, mi), Qt::UTC); }
int slotOf(const LogAddress &address) { return logOffsetOf(address) / kRecordBytes; }

} // namespace

// Each row: the meter's options, then requests (hex without CRC) and the replies they get, in turn.
TEST(SimReplies, AnswerEachRequestByteForByte)
{
    struct Row {
        const char *what;
        QStringList arguments;
        std::vector<const char *> exchanges; // request, reply, request, reply...
    };
    const std::vector<Row> rows = {
        {"the portable packs its pointers one byte earlier", kLog + QStringList{"--portable"},
         {"0103004C0008", "010310088000000" "8AF0044BB800046F4080000"}},
        {"the last download sits before the log until a confirmation moves it to the end", kLog,
         {"01610000000000", "016117BFF8", "0162", "0162", "01610000000000", "01610" "8AF00"}},
        {"a key is acknowledged; a broadcast key is obeyed silently", kLog,
         {"011000D00001024D4D", "011000D00001", "001000D00001024D4D", ""}},
        {"exceptions outside what the meter has", kLog,
         {"01030040000A", "018302", "010300180000", "018303", "0110004C0001020000", "019002",
          "01600880000000", "01E003", "01600880000081", "01E003"}},
        {"another slave's requests get nothing", kLog + QStringList{"--slave", "7"},
         {"0163", "", "0763", "07630014*26"}},
    };
    for (const Row &row : rows) {
        BuiltMeter built(row.arguments);
        for (std::size_t i = 0; i + 1 < row.exchanges.size(); i += 2) {
            expectReply(built.meter->respond(framed(row.exchanges[i]), kNow).bytes, row.exchanges[i + 1],
                        std::string(row.what) + " #" + std::to_string(i / 2));
        }
    }
}

// Each row: fault options, requests in turn, and what each got: g a good reply, X a spoilt
// CRC, - nothing, d a reply after which the line drops; a request "|" stands for a new line.
TEST(SimFaults, SpoilOrDropExactlyTheRepliesTheyAreFor)
{
    struct Row {
        QStringList faults;
        std::vector<const char *> requests;
        const char *outcomes;
    };
    const char *display = "0163";
    const std::vector<Row> rows = {
        {{"--corrupt-crc", "--corrupt-every", "3"}, std::vector<const char *>(7, display), "ggXggXg"},
        {{"--drop-after", "30"}, {display, display, "|", display, display}, "gdgg"},
        {{"--drop-each-line-after", "30"}, {display, display, display, "|", display, display}, "gdggd"},
        {{"--drop-mid-download"},
         {"016018810000 64", "016008800000 80", "0103004C0008", "016008800000 80",
          "016008810000 80", "016008820000 80"},
         "ggggg" "d"},
    };
    for (const Row &row : rows) {
        BuiltMeter built(kLog);
        FaultPolicy policy(optionsFrom(row.faults).faults);
        QString got;
        for (const char *request : row.requests) {
            if (request == std::string("|")) {
                policy.newLine();
                continue;
            }
            const FaultOutcome out = policy.apply(built.meter->respond(framed(request), kNow));
            got += out.bytes.isEmpty() ? '-' : out.dropAfter >= 0 ? 'd' : hasValidCrc(out.bytes) ? 'g' : 'X';
        }
        EXPECT_EQ(got, QLatin1String(row.outcomes)) << row.faults.join(' ').toStdString();
    }
}

TEST(SimLogRecord, EncodesFloatsAndRecordsByteForByte)
{
    const QList<std::pair<double, const char *>> floats = {
        {1.5, "3FC00000"}, {-100.0, "C2C80000"}, {0.0, "00000000"}, {-0.0, "00000000"},
        {5e38, "7CF0BDC2"} /* the meter's 1E37 */, {-1e-39, "00000000"}};
    for (const auto &[value, bytes] : floats)
        EXPECT_EQ(hexOf(encodeMeterFloat(value)), bytes) << value;
    const QList<std::pair<LogRecord, const char *>> records = {
        {{1, at(2000, 4, 15, 9, 30), 100.0}, "1415093042C80000"},
        // 2027: year field 27 = 0b11011 spread over the day, hour and minute bytes.
        {{3, at(2027, 11, 29, 23, 59), 1.0}, "3BE963D93F800000"},
        {{2, at(2004, 4, 1, 0, 0), 5.0}, "2331800040A00000"}, // midnight under March 31st
    };
    for (const auto &[record, bytes] : records)
        EXPECT_EQ(hexOf(encodeLogRecord(record)), bytes) << bytes;
    EXPECT_FALSE(isStorableStamp(at(2000, 1, 1, 0, 0))) << "would be 1999-12-31";
    EXPECT_TRUE(isStorableStamp(at(2032, 1, 1, 0, 0))) << "2031-12-31 24:00";
    EXPECT_FALSE(isStorableStamp(at(2032, 1, 1, 0, 1)));
    EXPECT_FALSE(isStorableStamp(QDateTime(QDate(2010, 5, 5), QTime(1, 2, 3), Qt::UTC)));
}

TEST(SimCircularLog, KeepsWholePagesEndingWithTheNewestAndAnErasedPageAheadWhenFull)
{
    for (const int count : {0, 1, 32, 33, 20000, CircularLog::kCapacity + 500}) {
        QVector<LogRecord> records;
        for (int i = 0; i < count; ++i)
            records.append({1, at(2026, 12, 1, 0, 15).addSecs(900 * i), double(i)});
        const CircularLog log = CircularLog::build(records, false);
        const int kept = std::min(count, CircularLog::kCapacity);
        const int span = (slotOf(log.endPointer()) - slotOf(log.startPointer()) + CircularLog::kSlots) %
                         CircularLog::kSlots;
        EXPECT_EQ(span, count > kept ? CircularLog::kCapacity : (count + 31) / 32 * 32) << count;
        EXPECT_EQ(log.recordCount(), kept);
        EXPECT_EQ(log.freeSlots(), CircularLog::kCapacity - kept) << "erased lead-in slots are free";
        for (int i = 0; i < CircularLog::kSlots; ++i) {
            const int slot = slotOf(log.startPointer()) + i;
            EXPECT_EQ(isErasedRecord(log.slotBytes(slot)), i < span - kept || i >= span) << count << ":" << i;
        }
        if (count > 0) {
            EXPECT_EQ(log.slotBytes(slotOf(log.endPointer()) - 1), encodeLogRecord(records.last()));
            EXPECT_EQ(log.slotBytes(slotOf(log.endPointer()) - kept), encodeLogRecord(records[count - kept]));
        }
    }
}

TEST(MeterSimProgram, TidiesUpItsLink)
{
    QTemporaryDir dir;
    MeterSimProcess sim;
    ASSERT_TRUE(sim.start(dir.path(), kLog));
    EXPECT_EQ(sim.exchange(framed("0163"), 26).size(), 26);

    EXPECT_EQ(sim.stop(), 0);
    EXPECT_FALSE(QFileInfo(sim.linkPath()).isSymLink()) << "link removed";
}
