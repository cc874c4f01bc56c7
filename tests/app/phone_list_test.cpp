#include "app/phone_list.h"
#include "window_fixture.h"

#include <QLineEdit>
#include <QTableView>
#include <QTest>

using namespace ostrand;
using namespace ostrand::testing;

namespace {

class PhoneListTest : public WindowFixture {
protected:
    void SetUp() override
    {
        QStringList lines = defaultSettingsLines();
        for (int k = 1; k <= 10; ++k) {
            lines[8 + 3 * (k - 1) + 1] = QStringLiteral("[ItemPhone#]=555-01%1").arg(k, 2, 10, QLatin1Char('0'));
            lines[8 + 3 * (k - 1) + 2] = QStringLiteral("[ItemDescription]=Station %1").arg(k);
        }
        writeSettings(lines);
        openWindow();
        window_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
        window_->findChild<QWidget *>(QStringLiteral("SSTab1"))->setProperty("currentIndex", 4);
        phone = control<QLineEdit>("Text5(0)");
        description = control<QLineEdit>("Text5(1)");
    }

    // A user's click on cell (row, col) of the list, row and col counted as the list counts them.
    void clickCell(int row, int col)
    {
        auto *view = control<QTableView>("MSHFlexGrid2");
        const QModelIndex index = view->model()->index(row - 1, col - 1);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(index).center());
    }

    PhoneList &list() { return window_->phoneList(); }

    QLineEdit *phone = nullptr;
    QLineEdit *description = nullptr;
};

} // namespace

TEST_F(PhoneListTest, startsOnTheFirstEntryWithHeadingsAndWidths)
{
    EXPECT_EQ(list().text(0, 1), "Item #");
    EXPECT_EQ(list().text(0, 2), "Phone #");
    EXPECT_EQ(list().text(0, 3), "Description");
    EXPECT_EQ(list().colWidthTwips(0), 200);
    EXPECT_EQ(list().colWidthTwips(1), 500);
    EXPECT_EQ(list().colWidthTwips(2), 1500);
    EXPECT_EQ(list().colWidthTwips(3), 2800);
    EXPECT_EQ(list().currentRow(), 1);
    EXPECT_EQ(list().currentCol(), 2);
    EXPECT_EQ(phone->text(), "555-0101");
    EXPECT_EQ(description->text(), "Station 1");
    EXPECT_EQ(list().text(7, 1), " 7");
}

TEST_F(PhoneListTest, clickingAnEntryFillsBothBoxesAndTypingChangesOnlyThatCell)
{
    clickCell(4, 3);
    EXPECT_EQ(phone->text(), "555-0104");
    EXPECT_EQ(description->text(), "Station 4");
    EXPECT_EQ(list().currentRow(), 4);

    phone->setFocus();
    phone->end(false);
    QTest::keyClick(phone, Qt::Key_9);
    EXPECT_EQ(list().text(4, 2), "555-01049");
    EXPECT_EQ(list().text(4, 3), "Station 4");
    EXPECT_EQ(list().text(3, 2), "555-0103");
    EXPECT_EQ(list().text(1, 2), "555-0101");

    clickCell(6, 2);
    EXPECT_EQ(list().currentCol(), 2);
    EXPECT_EQ(phone->text(), "555-0106");
}

TEST_F(PhoneListTest, aClickNeverAltersTheList)
{
    QStringList before;
    for (int row = 1; row <= 10; ++row)
        before << list().text(row, 1) + list().text(row, 2) + list().text(row, 3);
    clickCell(2, 2);
    clickCell(9, 3);
    clickCell(5, 1);
    QStringList after;
    for (int row = 1; row <= 10; ++row)
        after << list().text(row, 1) + list().text(row, 2) + list().text(row, 3);
    EXPECT_EQ(after, before);
}

TEST_F(PhoneListTest, aClickOnTheItemColumnMovesTheRowButNotTheBoxes)
{
    clickCell(2, 3);
    clickCell(8, 1);
    EXPECT_EQ(phone->text(), "555-0102");
    EXPECT_EQ(description->text(), "Station 2");
    EXPECT_EQ(list().currentRow(), 8);
    // The next keystroke writes the box's whole text into the newly chosen row.
    description->setFocus();
    description->end(false);
    QTest::keyClick(description, Qt::Key_X);
    EXPECT_EQ(list().text(8, 3), "Station 2x");
    EXPECT_EQ(list().text(2, 3), "Station 2");
}

TEST_F(PhoneListTest, typingIsNotOverwrittenWhenTheEditMovesTheCurrentColumn)
{
    clickCell(3, 2);
    // Typing into the description moves the current column from 2 to 3; that
    // move must not copy the cell's old text back over what is being typed.
    description->setFocus();
    description->selectAll();
    QTest::keyClicks(description, "Pump");
    EXPECT_EQ(description->text(), "Pump");
    EXPECT_EQ(list().text(3, 3), "Pump");
    QTest::keyClicks(phone, "7");
    EXPECT_EQ(list().text(3, 2), "555-01037");
    EXPECT_EQ(list().text(3, 3), "Pump");
}

TEST_F(PhoneListTest, clearingADescriptionIsSavedAsAnEmptyValue)
{
    clickCell(10, 3);
    description->clear();
    EXPECT_EQ(list().text(10, 3), "");
    closeWindow();
    const QStringList lines = settingsLines();
    EXPECT_EQ(lines[8 + 27 + 2], "[ItemDescription]=");
    EXPECT_EQ(lines[8 + 27 + 1], "[ItemPhone#]=555-0110");
    EXPECT_EQ(lines[8 + 27], "[Item#]= 10");
}

TEST_F(PhoneListTest, theDefaultListRoundTripsWithItsBlanks)
{
    closeWindow();
    writeSettings(defaultSettingsLines());
    openWindow();
    EXPECT_EQ(control<QLineEdit>("Text5(0)")->text(), " ");
    EXPECT_EQ(control<QLineEdit>("Text5(1)")->text(), " ");
    closeWindow();
    EXPECT_EQ(settingsLines().mid(8, 30), defaultSettingsLines().mid(8, 30));
}
