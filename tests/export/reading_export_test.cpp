#include "export/reading_export.h"
#include "export_readers.h"

#include <gtest/gtest.h>

using namespace ostrand::collect;
using namespace ostrand::testing;

namespace {

// A New York station across the autumn's repeated hour (01:15 EDT, then 01:15 EST) and the
// next midnight: a label that changes, one with a comma and an equals sign and no unit, an
// empty label, a total, and channel 2 absent at the second instant.
std::vector<StoredReading> autumnReadings()
{
    const auto at = [](const char *utc) { return QDateTime::fromString(utc, Qt::ISODate); };
    struct Row {
        const char *utc, *local;
        int channel;
        const char *label, *unit;
        double value;
    };
    const Row rows[] = {
        {"2026-11-01T05:15:00Z", "2026-11-01 01:15:00", 1, "Flow", "GPM", 100},
        {"2026-11-01T05:15:00Z", "2026-11-01 01:15:00", 2, "Level, m=1", "", 2.5},
        {"2026-11-01T05:15:00Z", "2026-11-01 01:15:00", 3, "", "", 7},
        {"2026-11-01T05:15:00Z", "2026-11-01 01:15:00", 5, "Total Gal", "Gal", 12345.75},
        {"2026-11-01T06:15:00Z", "2026-11-01 01:15:00", 1, "Flow (GPM)", "GPM", 101.25},
        {"2026-11-01T06:15:00Z", "2026-11-01 01:15:00", 3, "", "", 8},
        {"2026-11-01T06:15:00Z", "2026-11-01 01:15:00", 5, "Total Gal", "Gal", 12346.5},
        {"2026-11-02T05:00:00Z", "2026-11-02 00:00:00", 1, "Flow (GPM)", "GPM", 0.5},
        {"2026-11-02T05:00:00Z", "2026-11-02 00:00:00", 2, "Level, m=1", "", 3},
        {"2026-11-02T05:00:00Z", "2026-11-02 00:00:00", 5, "Total Gal", "Gal", 12350},
    };
    std::vector<StoredReading> readings;
    for (const Row &r : rows)
        readings.push_back({"north pump", r.channel, r.label, r.unit, at(r.utc), r.local, r.value});
    return readings;
}

struct HostileLabel {
    const char *name;
    QString label; // also the unit, and in the station's name
};

void PrintTo(const HostileLabel &label, std::ostream *out)
{
    *out << label.name;
}

class HostileLabels : public ::testing::TestWithParam<HostileLabel> {};

// The text as stored: control characters become U+FFFD.
QString cleaned(QString text)
{
    for (QChar &c : text)
        c = c.category() == QChar::Other_Control ? QChar(0xFFFD) : c;
    return text;
}

} // namespace

TEST(ExportFormats, writeTheReadingsAsTheFormatSays)
{
    const struct {
        const char *format;
        bool empty; // no readings at all
        const char *expected;
    } cases[] = {
        {"csv", false,
            "Date / Time,Flow (GPM),\"Level, m=1\",,Total Gal\r\n"
            "11/1/2026 1:15:00 AM,100,2.5,7,12345\r\n"
            "11/1/2026 1:15:00 AM,101.25,,8,12346\r\n"
            "11/2/2026,0.5,3,,12350\r\n"},
        {"csv", true, "Date / Time\r\n"},
        {"iso-csv", false,
            "Time (UTC),Offset,Flow (GPM),\"Level, m=1\",Channel 3,Total Gal\r\n"
            ",,GPM,,,Gal\r\n"
            "2026-11-01T05:15:00Z,-04:00,100,2.5,7,12345.75\r\n"
            "2026-11-01T06:15:00Z,-05:00,101.25,,8,12346.5\r\n"
            "2026-11-02T05:00:00Z,-05:00,0.5,3,,12350\r\n"},
        {"iso-csv", true, "Time (UTC),Offset\r\n,\r\n"},
        {"influx", false,
            "flow,channel=1,label=Flow,station=north\\ pump value=100 1793510100000000000\n"
            "flow,channel=2,label=Level\\,\\ m\\=1,station=north\\ pump value=2.5 1793510100000000000\n"
            "flow,channel=3,station=north\\ pump value=7 1793510100000000000\n"
            "flow,channel=5,label=Total\\ Gal,station=north\\ pump value=12345.75 1793510100000000000\n"
            "flow,channel=1,label=Flow\\ (GPM),station=north\\ pump value=101.25 1793513700000000000\n"
            "flow,channel=3,station=north\\ pump value=8 1793513700000000000\n"
            "flow,channel=5,label=Total\\ Gal,station=north\\ pump value=12346.5 1793513700000000000\n"
            "flow,channel=1,label=Flow\\ (GPM),station=north\\ pump value=0.5 1793595600000000000\n"
            "flow,channel=2,label=Level\\,\\ m\\=1,station=north\\ pump value=3 1793595600000000000\n"
            "flow,channel=5,label=Total\\ Gal,station=north\\ pump value=12350 1793595600000000000\n"},
        {"influx", true, ""},
    };
    for (const auto &c : cases) {
        const std::optional<ExportFormat> format = exportFormatNamed(c.format);
        ASSERT_TRUE(format) << c.format;
        const QByteArray text = exportReadings(c.empty ? std::vector<StoredReading>{} : autumnReadings(), *format);
        EXPECT_EQ(text.toStdString(), c.expected) << c.format << (c.empty ? ", empty" : "");
    }
}

// The same labels through the influx writer, escaped: ExportE2e.labelsAndNamesThatBreakLinesComeOutEscapedInEveryFormat.
TEST_P(HostileLabels, bothCsvExportsParseAndGiveTheLabelBack)
{
    const QString label = GetParam().label;
    const QString station = "north " + label;
    const auto at = [](const char *utc) { return QDateTime::fromString(utc, Qt::ISODate); };
    const std::vector<StoredReading> readings{
        {station, 1, label, label, at("2026-07-01T08:15:00Z"), "2026-07-01 09:15:00", 12.5},
        {station, 2, "Level", "", at("2026-07-01T08:15:00Z"), "2026-07-01 09:15:00", 2},
        {station, 1, label, label, at("2026-07-01T08:30:00Z"), "2026-07-01 09:30:00", 1E+20},
    };

    const auto iso = readCsvRecords(isoCsv(readings));
    ASSERT_TRUE(iso);
    ASSERT_EQ(iso->size(), 4);
    EXPECT_EQ((*iso)[0], (QList<QByteArray>{"Time (UTC)", "Offset", cleaned(label).toUtf8(), "Level"}));
    EXPECT_EQ((*iso)[1], (QList<QByteArray>{"", "", cleaned(label).toUtf8(), ""}));

    const auto window = readCsvRecords(windowCsv(readings));
    ASSERT_TRUE(window);
    ASSERT_EQ(window->size(), 3);
    EXPECT_EQ((*window)[0], (QList<QByteArray>{"Date / Time", cleaned(label).toLatin1(), "Level"}));
}

INSTANTIATE_TEST_SUITE_P(
    Table, HostileLabels,
    ::testing::Values(HostileLabel{"comma", "Level, m"}, HostileLabel{"spaces", " Flow  GPM "},
                      HostileLabel{"quote", "say \"hi\" \""}, HostileLabel{"newline", "Flow\nGPM"},
                      HostileLabel{"crLf", "Flow\r\n"}, HostileLabel{"tab", "Flow\tGPM"},
                      HostileLabel{"nul", QString("Flow") + QChar(0) + "GPM"},
                      HostileLabel{"everything", QString("\\ ,=\"\n\t") + QChar(0) + QChar(0x85) + "\u00e9\\"}),
    [](const ::testing::TestParamInfo<HostileLabel> &row) { return std::string(row.param.name); });
