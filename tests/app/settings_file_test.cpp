#include "window_fixture.h"

#include <sys/stat.h>

namespace {

// What a reading gave, in one line: "-" for a value the file did not give.
QString summary(const Settings &s)
{
    const auto o = [](const auto &v) { return v ? QVariant(*v).toString() : QStringLiteral("-"); };
    const QString item10 = s.phoneListReached ? o(s.phoneList[9][0]) : QStringLiteral("no");
    QString palm = o(s.palmDatabasePath).replace(kDefaultPalmDatabasePath, QStringLiteral("DEF"));
    return QStringLiteral("port %1 baud %2 slave %3 file %4 palm %5 use %6 sep %7 item10 %8 type %9")
               .arg(o(s.portIndex), o(s.baudIndex), o(s.slaveIdText), o(s.downloadFileText), palm,
                    o(s.palmCheckState), o(s.separationIndex), item10, o(s.meterTypeIndex)) +
           QStringLiteral(" lists %1/%2/%3/%4 stop %5")
               .arg(o(s.flowUnits), o(s.flowFormat), o(s.velocityUnits), o(s.totalUnits)).arg(s.stoppedAtLine);
}

} // namespace

TEST(SettingsReading, eachDamagedOrReorderedLineHasItsOwnEffect)
{
    using Edit = std::function<void(QStringList &)>;
    const auto set = [](int line, const char *text) -> Edit {
        return [=](QStringList &l) { l[line] = QLatin1String(text); };
    };
    const auto set2 = [](int a, const char *ta, int b, const char *tb) -> Edit {
        return [=](QStringList &l) { l[a] = QLatin1String(ta), l[b] = QLatin1String(tb); };
    };
    const QString rest = QStringLiteral("file Logdata.csv palm DEF use 0 sep 0 item10  10 type 0 lists 1/1/1/1 stop 0");
    const std::pair<Edit, QString> rows[] = {
        {[](QStringList &) {}, "port 0 baud 6 slave 001 " + rest},
        {set2(0, "[Commport]=7", 1, "[CommBaud]=115200"), "port 0 baud 6 "},
        {set2(0, "[Commport]=3", 1, "[CommBaud]=09600"), "port 2 baud 3 "},
        {set2(0, "[Commport]=abc", 1, "[CommBaud]=abc"), "port 0 baud 6 "},
        {set2(0, "[Commport]=99999", 1, "[CommBaud]=1200.0"), "port 0 baud 0 "},
        {set2(0, "x[Commport]=2", 1, "  [CommBaud]=2400 baud"), "port 1 baud 1 "},
        // Keys are matched by position and case, nothing resynchronises, and what follows applies.
        {set2(0, "[CommBaud]=1200", 3, "[commslaveid]=042"), "port - baud 6 slave - " + rest},
        {[](QStringList &l) { l.swapItemsAt(0, 1); }, "port - baud - slave 001 " + rest},
        {[](QStringList &l) { l = l.mid(0, 4); }, "file - palm - use - sep - item10 no type -"},
        {set(6, "[USEPalmDatabase]=2"), "use 2 sep 0"},
        {set(6, "[USEPalmDatabase]=x"), "use 0 sep 0"},
        {set2(7, "[PalmFileSep]=1", 38, "[MeterType]=2"), "sep - item10 no type - lists -/-/-/- stop 8"},
        {set(7, "[PalmFileSep]=2"), "sep 2 item10  10"},
        {set(10, "[Phone#]=555"), "item10  10 type 0 lists 1/1/1/1 stop 0"},
        {set2(38, "[MeterType]=5", 39, "[FlowUnits]= 14 "), "type 0 lists 14/1/1/1 stop 0"},
        {set(42, "[TotalUnits]=9"), "lists 1/1/1/- stop 43"},
        {set2(38, "[MeterType]=two", 39, "[FlowUnits]=3"), "type - lists -/-/-/- stop 39"},
        {set(38, "[MeterType]=1"), "type 1 lists"},
        {set(40, "[FlowFormat]=-2"), "lists 1/-/-/- stop 41"},
    };
    for (const auto &[edit, expected] : rows) {
        QStringList lines = defaultSettingsLines();
        edit(lines);
        const QString got = summary(readSettings(joinLines(lines)));
        EXPECT_TRUE(got.contains(expected)) << got.toStdString() << "\n  wanted " << expected.toStdString();
        // Lines ended by line feeds alone read the same.
        EXPECT_EQ(summary(readSettings(joinLines(lines).replace("\r\n", "\n"))), got);
    }
}

TEST(SettingsWriting, theDefaultFileAndAWrittenValueAreByteExact)
{
    QByteArray expected =
        "[Commport]=1\r\n[CommBaud]=38400\r\n[CommFlow]=Hardware\r\n[CommSlaveID]=001\r\n"
        "[DownloadSaveFile]=Logdata.csv\r\n"
        "[PalmDatabaseFile]=c:\\Palm\\UserName\\Backup\\PLOGR2.pdb\r\n"
        "[USEPalmDatabase]=0\r\n[PalmFileSep]=0\r\n";
    for (int k = 1; k <= 10; ++k)
        expected += "[Item#]= " + QByteArray::number(k) + "\r\n[ItemPhone#]= \r\n[ItemDescription]= \r\n";
    expected += "[MeterType]=0\r\n[FlowUnits]=1\r\n[FlowFormat]=1\r\n[VelocityUnits]=1\r\n[TotalUnits]=1\r\n";
    EXPECT_EQ(defaultSettingsBytes(), expected);

    Settings s;
    s.baudIndex = 0; // no port chosen: its line is left out
    s.handshakeIndex = 0;
    s.separationIndex = 1; // no such option: left out
    s.meterTypeIndex = 3;  // the portable is not kept
    s.flowUnits = 7;
    s.totalUnits = -1;
    s.phoneList[0] = {QStringLiteral(" 1"), QStringLiteral("555"), QString::fromLatin1("Pump \xe9 north ")};
    const QByteArray bytes = settingsBytes(s);
    EXPECT_TRUE(bytes.startsWith(
        "[CommBaud]=1200\r\n[CommHandshaking]=none\r\n[CommSlaveID]=\r\n"
        "[DownloadSaveFile]=\r\n[PalmDatabaseFile]=\r\n[USEPalmDatabase]=0\r\n"
        "[Item#]= 1\r\n[ItemPhone#]=555\r\n[ItemDescription]=Pump \xe9 north \r\n"));
    EXPECT_TRUE(bytes.endsWith("[MeterType]=0\r\n[FlowUnits]= 7\r\n[FlowFormat]=-1\r\n"
                               "[VelocityUnits]=-1\r\n[TotalUnits]=-1\r\n"));
}

using SettingsFileTest = WindowFixture;

TEST_F(SettingsFileTest, aFileThatDidNotReadCleanlyIsKeptAndSaidSoAndNeverLostToDefaultsNorAnOlderBackupToOne)
{
    QStringList lines = defaultSettingsLines();
    lines[0] = "[Commport]=2", lines[1] = "[CommBaud]=9600", lines[3] = "[CommSlaveID]=007";
    for (int k = 0; k < 10; ++k)
        lines[9 + 3 * k] = QStringLiteral("[ItemPhone#]=555-01%1").arg(k, 2, 10, QLatin1Char('0'));
    const QByteArray good = joinLines(lines);
    const QString ini = kSettingsFileName, link = kReplyTimeFileName;
    // The file, what it holds ("fifo": a pipe, "zero": a link to /dev/zero, "folder"), the start of the
    // status bar's notice after the folder, and whether a .bak keeps it.
    const struct { QString file; QByteArray bytes; const char *notice; bool kept; } rows[] = {
        {ini, "; my meters\r\n" + good, "7700dwn.ini line 1 is not what was expected ([Commport] belongs", 1},
        {ini, QByteArray(good).replace("[PalmFileSep]=0", "[PalmFileSep]=1"), "7700dwn.ini line 8 could not be read "
         "(there is no file separation 1)", 1},
        {ini, good + "[Extra]=1\r\n", "7700dwn.ini has text past its 43 lines (line 44)", 1},
        {ini, good + QByteArray(64 * 1024, ';'), "7700dwn.ini is larger than 64 KB", 1},
        {ini, "fifo", "7700dwn.ini is not a regular file (a pipe): the settings were not read and will "
         "not be saved over it", 0},
        {ini, "zero", "7700dwn.ini is not a regular file (a device)", 0},
        {link, "fifo", "ostrand-link.ini is not a regular file (a pipe): the line options were not read", 0},
        {link, "[link]\nreplyTimeoutMs=1200\n" + QByteArray(16 * 1024, ';'), "ostrand-link.ini is larger "
         "than 16 KB", 0},
        {ini, "folder", "7700dwn.ini is not a regular file (a folder)", 0}, // last: QFile::remove leaves it
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.notice);
        for (const QString &name : {ini, link, ini + ".bak"})
            QFile::remove(inDir(name));
        writeFile(settingsPath(), good);
        const QString path = inDir(row.file);
        QFile::remove(path);
        if (row.bytes == "fifo")
            ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (row.bytes == "zero")
            ASSERT_TRUE(QFile::link("/dev/zero", path));
        else if (row.bytes == "folder")
            ASSERT_TRUE(QDir(dir()).mkdir(row.file));
        else
            writeFile(path, row.bytes);
        // Never opened when it is not a regular file: reading a pipe here would wait for ever.
        const auto bytes = [&] {
            return QFileInfo(path).isFile() ? readFile(path) : QFileInfo(path).symLinkTarget().toLatin1();
        };
        const QByteArray before = bytes();
        for (int start = 1; start <= 2; ++start) {
            openWindow();
            const QString notice = window_->statusBar()->currentMessage();
            // The second start reads what the first exit wrote; a pipe or device is left for the user.
            EXPECT_TRUE(start == 1 ? notice.startsWith(inDir(row.notice)) : notice.isEmpty() == row.kept)
                << qPrintable(notice);
            EXPECT_TRUE(start > 1 || notice.endsWith(": the file was kept as 7700dwn.ini.bak") == row.kept);
            control<QSpinBox>("ReplyTimeout")->setValue(2500);
            closeWindow();
            EXPECT_EQ(readFile(settingsPath() + ".bak"), row.kept ? before : QByteArray()) << start;
        }
        // A damaged file gave way to a clean one; anything else was left as it was.
        EXPECT_EQ(bytes() == before, !row.kept);
    }

    // An older backup gives way only to a file holding settings of the user's.
    ASSERT_TRUE(QDir(dir()).rmdir(kSettingsFileName)); // the folder row's
    const QByteArray older = "the older copy, phone list and all\r\n";
    QStringList mine = defaultSettingsLines();
    mine[9] = QStringLiteral("[ItemPhone#]=5550142");
    const QByteArray mineOnTop = "; edited\r\n" + joinLines(mine);
    const std::pair<QByteArray, QByteArray> backups[] = {{"; edited\r\n" + defaultSettingsBytes(), older},
                                                         {mineOnTop, mineOnTop}};
    for (const auto &[current, keptAfter] : backups) {
        writeFile(settingsPath() + ".bak", older);
        writeFile(settingsPath(), current);
        openWindow();
        const QString notice = window_->statusBar()->currentMessage();
        closeWindow();
        EXPECT_EQ(readFile(settingsPath() + ".bak"), keptAfter) << qPrintable(notice);
        EXPECT_EQ(notice.endsWith("so the older 7700dwn.ini.bak was kept"), keptAfter == older);
    }
}
