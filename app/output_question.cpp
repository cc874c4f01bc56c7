#include "output_question.h"

#include "app/line_worker.h"
#include "platform/file_dialogs.h"
#include "platform/kept_copy.h"

#include <QDir>
#include <QFileInfo>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>

namespace ostrand {
namespace {

std::optional<OutputWrite> ask(FileDialogs &dialogs, const ExistingOutput &output)
{
    const QString name = QDir::toNativeSeparators(output.path);
    // The buttons name the file, the question its whole path: a long path
    // would otherwise cut the buttons' words off.
    const QString shortName = QFileInfo(output.path).fileName();
    QStringList actions;
    QString question =
        QStringLiteral(
            "%1 already holds data. This download brought the rows logged since the last one.")
            .arg(name);
    if (output.headingsMatch) {
        actions
            << (output.newRows == 1
                    ? QStringLiteral("Append the 1 new row to %1").arg(shortName)
                    : QStringLiteral("Append the %1 new rows to %2").arg(output.newRows).arg(shortName));
    } else {
        question += QStringLiteral(
            " Its headings are not this download's: the new rows cannot be added to it.");
    }
    // Replacing keeps the old file, which the question says so nobody fears for it.
    const QString keptName = QFileInfo(nextKeptName(output.path)).fileName();
    if (!keptName.isEmpty())
        question += QStringLiteral(" Replacing it keeps the old one as %1.").arg(keptName);
    actions << QStringLiteral("Replace %1").arg(shortName);
    const std::optional<int> chosen =
        dialogs.chooseAction(QStringLiteral("Since Last Time"), question, actions);
    if (!chosen)
        return std::nullopt;
    return output.headingsMatch && *chosen == 0 ? OutputWrite::Append : OutputWrite::Replace;
}

// Shared by the job that waits and the call that asks: whichever comes
// first decides whether the question is shown at all.
struct Exchange {
    std::mutex mutex;
    bool asking = false;
    bool gaveUp = false;
    std::promise<std::optional<OutputWrite>> answer;
};

} // namespace

std::optional<OutputWrite> askHowToWrite(LineWorker &line, FileDialogs &dialogs,
                                         const ExistingOutput &output)
{
    auto exchange = std::make_shared<Exchange>();
    std::future<std::optional<OutputWrite>> answer = exchange->answer.get_future();
    line.toWindow([exchange, &line, &dialogs, output] {
        {
            const std::lock_guard lock(exchange->mutex);
            // Stopped (or the window closing) before the question came up: nobody is asked.
            if (exchange->gaveUp || line.stopFlag())
                return;
            exchange->asking = true;
        }
        exchange->answer.set_value(ask(dialogs, output));
    });
    // Inline, the answer is there already. On a thread of its own the job waits,
    // giving up only on a Stop that came before the question was shown: once it
    // is, the window's thread is in it and nothing else can stop the job.
    while (answer.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
        const std::lock_guard lock(exchange->mutex);
        if (!exchange->asking && line.stopFlag()) {
            exchange->gaveUp = true;
            return std::nullopt;
        }
    }
    return answer.get();
}

} // namespace ostrand
