// The tool's commands: each file defines one and registers it with RAVLINK_COMMAND.
#pragma once

#include <vector>

#include "options.h"

namespace tool {

struct Command {
    const char *name;
    const char *usage;   // "connect HOST PORT [options]"
    const char *summary; // one line for the command list
    std::vector<OptionSpec> options;
    int (*run)(const Options &options);
    // Options that other files contribute (gathered when the command line is parsed).
    std::vector<OptionSpec> (*more_options)() = nullptr;
};

// The command's options with those contributed by other files.
std::vector<OptionSpec> all_options(const Command &command);

std::vector<const Command *> &commands();

struct RegisterCommand {
    explicit RegisterCommand(const Command &command) { commands().push_back(&command); }
};

} // namespace tool

#define RAVLINK_TOOL_CONCAT2(a, b) a##b
#define RAVLINK_TOOL_CONCAT(a, b) RAVLINK_TOOL_CONCAT2(a, b)
#define RAVLINK_COMMAND(command) \
    static const ::tool::RegisterCommand RAVLINK_TOOL_CONCAT(registered_command_, __LINE__)(command)
