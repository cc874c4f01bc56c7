#pragma once

#include <QString>
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
};

} // namespace ostrand
