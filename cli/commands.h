// The commands of packtool-cli. Each command lives in its own cmd_*.cpp and registers itself
// with a static CommandRegistration; main() adds them to the app in the order given.
// A command's callback runs it and stores the process's exit status in exitStatus
// (0 success, 1 the work failed, 2 usage error).
#pragma once

#include <CLI/CLI.hpp>

using AddCommandFn = void (*)(CLI::App& app, int& exitStatus);

struct CommandRegistration {
    // order: where the command stands in --help (pack 10, unpack 20, test 30, split 40,
    // join 50, implode 80, explode 90).
    CommandRegistration(int order, AddCommandFn add);
};

// Calls every registered AddCommandFn in order.
void AddRegisteredCommands(CLI::App& app, int& exitStatus);
