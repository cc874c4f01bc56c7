#include "fake_file_dialogs.h"
#include "link_fixture.h"
#include "monitor/monitor_view.h"

#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>

using namespace ostrand;
using namespace ostrand::testing;

namespace {

class MonitorViewTest : public LinkFixture {
protected:
    template <typename W> W *child(const char *name)
    {
        W *widget = view->findChild<W *>(QLatin1String(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    FakeFileDialogs dialogs;
    std::unique_ptr<MonitorView> view = std::make_unique<MonitorView>(link, clock, dialogs);
};

TEST_F(MonitorViewTest, onATabItIsWatchedOnlyWhileItsTabIsTheCurrentOne)
{
    QTabWidget tabs;
    tabs.addTab(new QWidget, QStringLiteral("Download"));
    tabs.addTab(view.release(), QStringLiteral("Monitor"));
    tabs.show();
    EXPECT_EQ(link.observer(), nullptr);
    tabs.setCurrentIndex(1);
    EXPECT_NE(link.observer(), nullptr);
    tabs.setCurrentIndex(0);
    EXPECT_EQ(link.observer(), nullptr);
    tabs.setCurrentIndex(1);
    tabs.hide();
    EXPECT_EQ(link.observer(), nullptr) << "a closed window is not watching either";
}

TEST_F(MonitorViewTest, pauseLetsGoOfTheLinkAndResumeTakesItBack)
{
    view->show();
    auto *pause = child<QPushButton>("monitorPauseButton");
    pause->click();
    EXPECT_EQ(link.observer(), nullptr);
    EXPECT_EQ(pause->text(), "Resume");
    view->hide();
    view->show();
    EXPECT_EQ(link.observer(), nullptr) << "showing a paused view must not resume it";
    pause->click();
    EXPECT_EQ(link.observer(), &view->monitor());
    EXPECT_EQ(pause->text(), "Pause");
}

TEST_F(MonitorViewTest, aViewDestroyedWhileWatchingLeavesTheLinkUnwatched)
{
    view->show();
    view.reset();
    EXPECT_EQ(link.observer(), nullptr);
    EXPECT_FALSE(link.readDisplayBlock(1).ok()) << "and the link runs on without it";
}

TEST_F(MonitorViewTest, saveAsTextWritesTheRecordWhereTheOperatorChoseAndCancelWritesNothing)
{
    QTemporaryDir dir;
    view->show();
    EXPECT_FALSE(link.readDisplayBlock(1).ok());
    const QString path = dir.filePath("support.txt");
    dialogs.answerNext(path);
    child<QPushButton>("monitorSaveButton")->click();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(file.readAll()), view->monitor().asText());
    EXPECT_EQ(dialogs.questions().back().filter, "*.txt");

    dialogs.answerNext(std::nullopt);
    child<QPushButton>("monitorSaveButton")->click();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({"support.txt"}));
}

} // namespace
