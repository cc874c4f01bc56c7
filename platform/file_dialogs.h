#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace ostrand {

// File choice by the user, behind an interface so that window tests can answer it.
class FileDialogs {
public:
    virtual ~FileDialogs() = default;

    // Asks for a file to write; the full path on confirmation, nothing when cancelled or failed.
    virtual std::optional<QString> chooseSaveFile(const QString &title, const QString &filter,
                                                  const QString &proposedName) = 0;
    // Asks for an existing file to read; the full path on confirmation, nothing otherwise.
    virtual std::optional<QString> chooseOpenFile(const QString &title, const QString &filter,
                                                  const QString &proposedName) = 0;
    // Asks what to do with a file: `actions` as buttons, then "Cancel". The
    // index of the action chosen; nothing on Cancel. Those that cannot ask
    // (a screenshot or benchmark run) cancel, so nothing is done unchosen.
    virtual std::optional<int> chooseAction(const QString &title, const QString &question,
                                            const QStringList &actions)
    {
        Q_UNUSED(title)
        Q_UNUSED(question)
        Q_UNUSED(actions)
        return std::nullopt;
    }
};

} // namespace ostrand
