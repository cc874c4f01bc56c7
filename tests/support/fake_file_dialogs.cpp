#include "fake_file_dialogs.h"

#include <gtest/gtest.h>

namespace ostrand {
namespace {

// The queued answer, or a failure of the running test (a dialog it did not expect) and Cancel.
template <typename T> std::optional<T> next(std::deque<std::optional<T>> &answers, const char *what, const QString &asked)
{
    if (answers.empty()) {
        ADD_FAILURE() << "unexpected " << what << " \"" << asked.toStdString() << "\"";
        return std::nullopt;
    }
    const std::optional<T> answer = answers.front();
    answers.pop_front();
    return answer;
}

} // namespace

void FakeFileDialogs::answerNext(std::optional<QString> answer) { answers_.push_back(std::move(answer)); }
void FakeFileDialogs::answerNextAction(std::optional<int> answer) { actionAnswers_.push_back(answer); }

std::optional<QString> FakeFileDialogs::chooseSaveFile(const QString &title, const QString &, const QString &proposedName)
{
    return ask(Question{title, proposedName});
}

std::optional<QString> FakeFileDialogs::chooseOpenFile(const QString &title, const QString &, const QString &proposedName)
{
    return ask(Question{title, proposedName});
}

std::optional<int> FakeFileDialogs::chooseAction(const QString &title, const QString &question, const QStringList &actions)
{
    questions_.push_back(Question{title, QString(), actions});
    if (const auto wait = whileAsked)
        wait();
    return next(actionAnswers_, "question", question);
}

std::optional<QString> FakeFileDialogs::ask(Question question)
{
    questions_.push_back(question);
    return next(answers_, "file dialog", question.title);
}

} // namespace ostrand
