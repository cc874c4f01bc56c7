#include "command_registry.h"

#include <algorithm>

namespace ostrand::cli {
namespace {

// A function-local list, so registration from other files' static objects
// never runs before the list itself exists.
std::vector<Command> &commandList()
{
    static std::vector<Command> commands;
    return commands;
}

} // namespace

RegisterCommand::RegisterCommand(const Command &command)
{
    commandList().push_back(command);
}

std::vector<Command> registeredCommands()
{
    std::vector<Command> commands = commandList();
    std::sort(commands.begin(), commands.end(), [](const Command &a, const Command &b) { return a.order < b.order; });
    return commands;
}

} // namespace ostrand::cli
