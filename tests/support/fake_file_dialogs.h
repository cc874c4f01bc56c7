#pragma once

#include "platform/file_dialogs.h"

#include <QString>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

namespace ostrand {

// FileDialogs that answer from a queue the test fills, and remember what was asked.
// A question with no answer queued fails the running test and is treated as cancelled.
class FakeFileDialogs : public FileDialogs {
public:
    struct Question {
        QString title;
        QString proposedName;
        QStringList actions = {};
    };

    // Queues the answer to the next question: a path, or std::nullopt for Cancel.
    void answerNext(std::optional<QString> answer);
    // Queues the answer to the next chooseAction: the action's index, or std::nullopt for Cancel.
    void answerNextAction(std::optional<int> answer);
    // Runs while each chooseAction question is open, before its answer is
    // given: a user taking their time (a nested event loop, as a dialog's).
    std::function<void()> whileAsked;
    // Every question asked so far, oldest first.
    const std::vector<Question> &questions() const { return questions_; }

    std::optional<QString> chooseSaveFile(const QString &title, const QString &filter,
                                          const QString &proposedName) override;
    std::optional<QString> chooseOpenFile(const QString &title, const QString &filter,
                                          const QString &proposedName) override;
    std::optional<int> chooseAction(const QString &title, const QString &question,
                                    const QStringList &actions) override;

private:
    std::optional<QString> ask(Question question);

    std::deque<std::optional<QString>> answers_;
    std::deque<std::optional<int>> actionAnswers_;
    std::vector<Question> questions_;
};

} // namespace ostrand
