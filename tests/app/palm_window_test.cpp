#include "window_fixture.h"

#include <QCheckBox>
#include <QComboBox>
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
};

} // namespace

TEST_F(PalmWindowTest, getIdListFillsTheListOnceAndOnlyInPalmMode)
{
    control<QPushButton>("Command6")->click();
    EXPECT_EQ(status(), "Finished Reading");
    auto *list = control<QComboBox>("SortList");
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->itemText(0), "3");
    EXPECT_EQ(list->itemText(1), "7");
    control<QPushButton>("Command6")->click();
    EXPECT_EQ(list->count(), 2) << "a second reading adds nothing new";

    control<QCheckBox>("Check1")->click();
    EXPECT_TRUE(control<QPushButton>("Command6")->isHidden());
    EXPECT_EQ(list->count(), 2) << "leaving Palm mode keeps the list";
}

TEST_F(PalmWindowTest, downloadDataConvertsOneMeterOrAllOfThem)
{
    control<QComboBox>("SortList")->setEditText(QStringLiteral("7"));
    control<QPushButton>("Command2")->click();
    EXPECT_EQ(status(), "Finished. Data in File");
    EXPECT_EQ(csvHeading(), "Date / Time,Flow,Velocity");
    EXPECT_TRUE(control<QPushButton>("Command2")->isEnabled());
    EXPECT_TRUE(port_.sends().empty()) << "a conversion tells no meter anything";

    control<QRadioButton>("Option4(2)")->click();
    EXPECT_EQ(control<QLabel>("Label9")->text(), "Files not separated");
    control<QPushButton>("Command2")->click();
    EXPECT_EQ(status(), "Finished. Data in File");
    // Each channel keeps the first name met: meter 3 comes first in the file.
    EXPECT_EQ(csvHeading(), "Date / Time,Flow,Level,Flow Tot");
}

TEST_F(PalmWindowTest, aMissingFileAndAMissingIdAreReported)
{
    control<QRadioButton>("Option4(0)")->click();
    control<QComboBox>("SortList")->setEditText(QString());
    control<QPushButton>("Command2")->click();
    EXPECT_EQ(status(), "Enter ModID");

    dialogs_.answerNext(dir() + QStringLiteral("/nowhere/PLOGR2.PDB"));
    control<QPushButton>("Command8")->click();
    control<QComboBox>("SortList")->setEditText(QStringLiteral("3"));
    control<QPushButton>("Command2")->click();
    EXPECT_EQ(status(), "Could not find Palm DataFile!!");
    control<QPushButton>("Command6")->click();
    EXPECT_EQ(status(), "Could not find Palm DataFile!!");
}
