// The commands of packtool-cli. Each Add...Command registers one subcommand on the app; its
// callback runs the command and stores the process's exit status in exitStatus
// (0 success, 1 failure of the work, 2 usage error).
#pragma once

#include <CLI/CLI.hpp>

void AddImplodeCommand(CLI::App& app, int& exitStatus);
void AddExplodeCommand(CLI::App& app, int& exitStatus);
