#include "fake_file_dialogs.h"

#include <gtest/gtest.h>

namespace ostrand {

void FakeFileDialogs::answerNext(std::optional<QString> answer)
{
    answers_.push_back(std::move(answer));
}

std::optional<QString> FakeFileDialogs::chooseSaveFile(const QString &title, const QString &, const QString &proposedName)
{
    return ask(Question{title, proposedName});
}

std::optional<QString> FakeFileDialogs::chooseOpenFile(const QString &title, const QString &, const QString &proposedName)
{
    return ask(Question{title, proposedName});
}

void FakeFileDialogs::answerNextAction(std::optional<int> answer)
{
    actionAnswers_.push_back(answer);
}

std::optional<int> FakeFileDialogs::chooseAction(const QString &title, const QString &question,
                                                 const QStringList &actions)
{
    questions_.push_back(Question{title, QString(), actions});
    if (const auto wait = whileAsked)
        wait();
    if (actionAnswers_.empty()) {
        ADD_FAILURE() << "unexpected question \"" << question.toStdString() << "\"";
        return std::nullopt;
    }
    const std::optional<int> answer = actionAnswers_.front();
    actionAnswers_.pop_front();
    return answer;
}

std::optional<QString> FakeFileDialogs::ask(Question question)
{
    questions_.push_back(question);
    if (answers_.empty()) {
        // A dialog the test did not expect is a behaviour change worth seeing.
        ADD_FAILURE() << "unexpected file dialog \"" << question.title.toStdString() << "\"";
        return std::nullopt;
    }
    const std::optional<QString> answer = answers_.front();
    answers_.pop_front();
    return answer;
}

} // namespace ostrand
