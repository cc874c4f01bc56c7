#include "meter_setup.h"
#include "sim_test_support.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace ostrand::sim;
using namespace ostrand::sim::testing;

namespace {

QString parseError(const QStringList &arguments)
{
    SimOptions options;
    QString error;
    EXPECT_FALSE(parseOptions(arguments, &options, &error)) << arguments.join(' ').toStdString();
    return error;
}

QString writeFile(const QTemporaryDir &dir, const QByteArray &text)
{
    const QString path = dir.filePath(QStringLiteral("log.txt"));
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
    return path;
}

} // namespace

TEST(Options, ReadsTheExampleFaultsAndModemSettings)
{
    const SimOptions o = optionsFrom({"--link", "BUILD/bin/COM1", "--records", "500", "--channels",
                                      "3", "--modem", "--dial-result", "no carrier", "--dead-block",
                                      "0x09:0x80:0x00", "--drop-after", "100", "--baud", "2400"});
    EXPECT_EQ(o.linkPath, QStringLiteral("BUILD/bin/COM1"));
    EXPECT_EQ(o.records, 500);
    EXPECT_EQ(o.channels, 3);
    EXPECT_EQ(o.modemSettings.dialResult, QStringLiteral("NO CARRIER"));
    EXPECT_EQ(o.modemSettings.lineSpeed, 2400) << "CONNECT reports the paced rate";
    ASSERT_EQ(o.faults.deadBlocks.size(), 1);
    EXPECT_EQ(o.faults.deadBlocks[0], (LogAddress{9, 0x80, 0}));
    EXPECT_EQ(o.faults.dropAfterBytes, 100);
    EXPECT_EQ(optionsFrom({"--labels", "A,B Tot"}).channels, 2) << "labels tell the channel count";
}

TEST(Options, RejectsNonsenseWithAMessageNamingTheOption)
{
    EXPECT_TRUE(parseError({"--channels", "9"}).contains("--channels"));
    EXPECT_TRUE(parseError({"--slave", "abc"}).contains("--slave"));
    EXPECT_TRUE(parseError({"--start", "12/01/2026"}).contains("--start"));
    EXPECT_TRUE(parseError({"--dead-block", "8:81"}).contains("--dead-block"));
    EXPECT_TRUE(parseError({"--labels", QString(33, 'x')}).contains("32"));
    EXPECT_FALSE(parseError({"stray"}).isEmpty());
}

TEST(LogContents, MakesOneRecordPerChannelPerInstantEndingAtThePresentWithoutAStart)
{
    BuiltMeter built = meterFrom({"--records", "4", "--channels", "2", "--interval-minutes", "30"});
    const QVector<LogRecord> &r = built.contents.records;
    ASSERT_EQ(r.size(), 8);
    EXPECT_EQ(QVector<int>({r[0].channel, r[1].channel, r[2].channel}), QVector<int>({1, 2, 1}));
    EXPECT_EQ(r[1].stamp, r[0].stamp);
    EXPECT_EQ(r[7].stamp, QDateTime(testNow().date(), QTime(14, 0), Qt::UTC))
        << "14:07 floored to 30 minutes";
    EXPECT_EQ(r[0].stamp, r[7].stamp.addSecs(-3 * 1800));
}

TEST(LogContents, TotalizerChannelsNeverGoDownAndFlowsStayPlausible)
{
    BuiltMeter built =
        meterFrom({"--records", "300", "--channels", "2", "--start", "2026-06-01 00:00"});
    double lastTotal = -1.0;
    for (const LogRecord &record : built.contents.records) {
        if (record.channel == 2) {
            EXPECT_GE(record.value, lastTotal);
            lastTotal = record.value;
        } else {
            EXPECT_GT(record.value, 0.5);
            EXPECT_LT(record.value, 3.5);
        }
    }
    EXPECT_GT(lastTotal, 299 * 900 * 1.0) << "at least 1 cfs for the whole span";
}

TEST(LogFile, ReadsRecordsInFileOrderWithTheChannelsThatOccurAndNamesABadLine)
{
    QTemporaryDir dir;
    BuiltMeter built =
        meterFrom({"--log-file",
                   writeFile(dir, "# site\n2026-12-01 00:15,1,2.5\n\n2026-12-01 00:15,4,1000\n"
                                  " 2026-12-01 00:30 , 1 , -0.75 \n"),
                   "--labels", "F,x,y,Flow Tot"});
    ASSERT_EQ(built.contents.records.size(), 3);
    EXPECT_EQ(built.contents.records[2].value, -0.75);
    ASSERT_EQ(built.contents.channels.size(), 2);
    EXPECT_EQ(built.contents.channels[1].label, QStringLiteral("Flow Tot")) << "channel 4's label";
    EXPECT_EQ(built.meter->log().recordCount(), 3);

    QVector<LogRecord> records;
    QString error;
    EXPECT_FALSE(readLogFile(writeFile(dir, "2026-12-01 00:15,1,2.5\n2026-12-01 00:30,9,1\n"),
                             &records, &error));
    EXPECT_TRUE(error.contains(":2:")) << error.toStdString();
}
