#pragma once

#include <QStringList>
#include <vector>

namespace ostrand::cli {

// One subcommand of ostrand-cli. Each command's source file registers itself,
// so commands can be added without touching the dispatcher.
struct Command {
    const char *name;
    const char *help;  // usage lines and a description, shown by --help
    int order;         // place in --help
    int (*run)(const QStringList &arguments); // arguments[0] is the program name
};

// All registered commands, in help order.
std::vector<Command> registeredCommands();

// Registers a command at start-up: `static RegisterCommand reg{{...}};` in its source file.
struct RegisterCommand {
    explicit RegisterCommand(const Command &command);
};

} // namespace ostrand::cli
