#include "window_fixture.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

using namespace ostrand;
using namespace ostrand::testing;

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
    QString csvHeading() const
    {
        return QString::fromLatin1(readFile(inDir(QStringLiteral("Logdata.csv"))))
            .section(u'\r', 0, 0);
    }
    QString status() const { return control<QLabel>("Label4")->text(); }
    QComboBox *idList() const { return control<QComboBox>("SortList"); }
};

} // namespace

TEST_F(PalmWindowTest, getIdListFillsTheListOnceThenDownloadConvertsOneMeterOrAll)
{
    click("Command6");
    EXPECT_EQ(status(), "Finished Reading");
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
    EXPECT_EQ(control<QLabel>("Label9")->text(), "Files not separated");
    click("Command2");
    // Each channel keeps the first name met: meter 3 comes first in the file.
    EXPECT_EQ(csvHeading(), "Date / Time,Flow,Level,Flow Tot");
    closeWindow();
    EXPECT_EQ(settingsLines()[5], "[PalmDatabaseFile]=" OSTRAND_SAMPLE_PDB);
}

TEST_F(PalmWindowTest, aMissingIdIsReported)
{
    idList()->setEditText(QString());
    click("Command2");
    EXPECT_EQ(status(), "Enter ModID");
}
