#include "window_fixture.h"

namespace {

// The Palm controls over the generated sample handheld file (meters 3 and 7).
class PalmWindowTest : public WindowFixture {
protected:
    void SetUp() override
    {
        openWindow();
        control<QLineEdit>("Text6")->setText(QStringLiteral("typed by hand, not used"));
        dialogs_.answerNext(QStringLiteral(OSTRAND_SAMPLE_PDB));
        click("Command8");
        click("Check1");
    }
    QString csvHeading() const { return QString::fromLatin1(readFile(inDir("Logdata.csv"))).section(u'\r', 0, 0); }
    QComboBox *idList() const { return control<QComboBox>("SortList"); }
};

} // namespace

TEST_F(PalmWindowTest, aMissingIdIsReportedGetIdListFillsTheListOnceDownloadConvertsOneMeterOrAllAndATypedPathIsUsedOnceTypedToItsEnd)
{
    idList()->setEditText(QString());
    click("Command2");
    EXPECT_EQ(status(), "Enter ModID");
    click("Command6");
    EXPECT_EQ(status(), "Finished Reading");
    EXPECT_EQ(idList()->currentText(), "3") << "the first meter is chosen";
    click("Command6");
    ASSERT_EQ(idList()->count(), 2) << "a second reading adds nothing new";
    EXPECT_EQ(idList()->itemText(0) + idList()->itemText(1), "37");

    idList()->setEditText(QStringLiteral("7"));
    click("Command2");
    EXPECT_EQ(status(), "Finished. Data in File");
    EXPECT_EQ(csvHeading(), "Date / Time,Flow,Velocity");
    EXPECT_TRUE(control<QAbstractButton>("Command2")->isEnabled());
    EXPECT_TRUE(port_.sends().empty()) << "a conversion tells no meter anything";

    click("Option4(2)");
    EXPECT_EQ(label("Label9"), "Files not separated");
    click("Command2");
    // Each channel keeps the first name met: meter 3 comes first in the file.
    EXPECT_EQ(csvHeading(), "Date / Time,Flow,Level,Flow Tot");
    EXPECT_EQ(message(), "meters 3 and 7 label channel 2 differently (Level, Velocity): one column holds both")
        << "the warning outranks the kept file, which the file's own line names";
    EXPECT_TRUE(label("DataFile").endsWith("(the previous file was kept as Logdata.csv.1)")) << label("DataFile").toStdString();
    EXPECT_TRUE(readFile(inDir("Logdata.csv.1")).startsWith("Date / Time,Flow,Velocity\r\n"));

    // A typed path is used once typed to its end, and saved; a missing one is named.
    const QString missing = inDir(QStringLiteral("backup/PLOGR2.PDB"));
    type("Text6", missing, false);
    click("Command6");
    EXPECT_EQ(status(), "Finished Reading") << "the file browsed to, while the path is being typed";
    QTest::keyClick(control<QLineEdit>("Text6"), Qt::Key_Return);
    click("Command6");
    EXPECT_EQ(status(), "Could not find Palm DataFile!!");
    EXPECT_TRUE(message().contains(missing)) << message().toStdString();
    closeWindow();
    EXPECT_EQ(settingsLines()[5], "[PalmDatabaseFile]=" + missing);
}

using PalmBrowse = WindowFixture;

TEST_F(PalmBrowse, startsAtTheFileChosenBeforeOrAtHomeWhenTheSettingsNameAFolderThatIsNotThere)
{
    const struct { const char *what; QString setting; bool there; } rows[] = { // empty: the default; there: starts at it
        {"the default path of another system", {}, false},
        {"a file chosen before", "PLOGR2.PDB", true},
        {"a folder since removed", "gone/PLOGR2.PDB", false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        const QString chosen = inDir(row.setting);
        writeSettings(row.setting.isEmpty() ? std::map<int, QString>{} : std::map<int, QString>{{5, "[PalmDatabaseFile]=" + chosen}});
        openWindow();
        dialogs_.answerNext(std::nullopt);
        click("Command8");
        EXPECT_EQ(dialogs_.questions().back().proposedName, row.there ? chosen : QDir::home().filePath("PLOGR2.PDB"));
        closeWindow();
    }
}
