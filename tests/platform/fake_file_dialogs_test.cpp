#include "fake_file_dialogs.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

namespace ostrand {
namespace {

TEST(FakeFileDialogs, AnswersInTheOrderQueuedAndRemembersEachQuestion)
{
    FakeFileDialogs dialogs;
    dialogs.answerNext(QString("/tmp/a.csv"));
    dialogs.answerNext(std::nullopt);

    EXPECT_EQ(dialogs.chooseSaveFile("Save data", "*.csv", "a.csv"), QString("/tmp/a.csv"));
    EXPECT_EQ(dialogs.chooseOpenFile("Open database", "*.pdb", "x.pdb"), std::nullopt);
    EXPECT_EQ(dialogs.answersLeft(), 0);

    ASSERT_EQ(dialogs.questions().size(), 2u);
    EXPECT_EQ(dialogs.questions()[0].kind, FakeFileDialogs::Kind::Save);
    EXPECT_EQ(dialogs.questions()[0].filter, "*.csv");
    EXPECT_EQ(dialogs.questions()[1].kind, FakeFileDialogs::Kind::Open);
    EXPECT_EQ(dialogs.questions()[1].title, "Open database");
    EXPECT_EQ(dialogs.questions()[1].proposedName, "x.pdb");
}

TEST(FakeFileDialogs, FailsTheTestOnADialogNobodyExpected)
{
    FakeFileDialogs dialogs;
    std::optional<QString> answer = QString("sentinel");
    EXPECT_NONFATAL_FAILURE(answer = dialogs.chooseSaveFile("Surprise", "*", ""),
                            "unexpected file dialog");
    EXPECT_EQ(answer, std::nullopt);
}

} // namespace
} // namespace ostrand
