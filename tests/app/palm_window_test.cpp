#include "window_fixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

using namespace ostrand;
using namespace ostrand::testing;

namespace {

// The Palm controls over the generated sample handheld file (meters 3 and 7).
class PalmWindowTest : public WindowFixture {
protected:
    void SetUp() override
    {
        openWindow();
        dialogs_.answerNext(QStringLiteral(OSTRAND_SAMPLE_PDB));
        control<QPushButton>("Command8")->click();
        control<QCheckBox>("Check1")->click();
    }
    QString csvHeading() const
    {
        QFile file(QDir(dir()).filePath(QStringLiteral("Logdata.csv")));
        return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readLine()).trimmed() : QString();
    }
    QString status() const { return control<QLabel>("Label4")->text(); }
    void click(const char *button) { control<QPushButton>(button)->click(); }
};

} // namespace

TEST_F(PalmWindowTest, getIdListFillsTheListOnceAndLeavingPalmModeKeepsIt)
{
    click("Command6");
    EXPECT_EQ(status(), "Finished Reading");
    auto *list = control<QComboBox>("SortList");
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->itemText(0), "3");
    EXPECT_EQ(list->itemText(1), "7");
    click("Command6");
    EXPECT_EQ(list->count(), 2) << "a second reading adds nothing new";
    control<QCheckBox>("Check1")->click();
    EXPECT_EQ(list->count(), 2);
}

TEST_F(PalmWindowTest, downloadDataConvertsOneMeterOrAllOfThem)
{
    control<QComboBox>("SortList")->setEditText(QStringLiteral("7"));
    click("Command2");
    EXPECT_EQ(status(), "Finished. Data in File");
    EXPECT_EQ(csvHeading(), "Date / Time,Flow,Velocity");
    EXPECT_TRUE(control<QPushButton>("Command2")->isEnabled());
    EXPECT_TRUE(port_.sends().empty()) << "a conversion tells no meter anything";

    control<QRadioButton>("Option4(2)")->click();
    EXPECT_EQ(control<QLabel>("Label9")->text(), "Files not separated");
    click("Command2");
    // Each channel keeps the first name met: meter 3 comes first in the file.
    EXPECT_EQ(csvHeading(), "Date / Time,Flow,Level,Flow Tot");
}

TEST_F(PalmWindowTest, aMissingFileAndAMissingIdAreReported)
{
    control<QComboBox>("SortList")->setEditText(QString());
    click("Command2");
    EXPECT_EQ(status(), "Enter ModID");

    dialogs_.answerNext(dir() + QStringLiteral("/nowhere/PLOGR2.PDB"));
    click("Command8");
    control<QComboBox>("SortList")->setEditText(QStringLiteral("3"));
    click("Command2");
    EXPECT_EQ(status(), "Could not find Palm DataFile!!");
    click("Command6");
    EXPECT_EQ(status(), "Could not find Palm DataFile!!");
}
