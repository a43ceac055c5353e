// The commands of packtool-cli. Each command lives in its own cmd_*.cpp and registers itself
// with a static CommandRegistration; main() adds them to the app in the order given.
// A command's callback runs it and stores the process's exit status in exitStatus
// (0 success, 1 the work failed, 2 usage error).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "engine/format.h"
#include "platform/strings.h"
#include "resources/textids.h"

// The exit statuses of every command.
constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

using AddCommandFn = std::function<void(CLI::App& app, int& exitStatus)>;

struct CommandRegistration {
    // order: where the command stands in --help (pack 10, unpack 20, test 30, split 40,
    // join 50, implode 80, explode 90).
    CommandRegistration(int order, AddCommandFn add);

    // A command whose options are the fields of one Options value: declare adds them to the
    // command, in the order --help lists them; run runs the command once they are parsed.
    template <class Options>
    CommandRegistration(int order, const char* name, const char* description,
                        void (*declare)(CLI::App& cmd, Options& options),
                        int (*run)(const Options& options))
        : CommandRegistration(order, [=](CLI::App& app, int& exitStatus) {
              auto options = std::make_shared<Options>();
              CLI::App* cmd = app.add_subcommand(name, description);
              declare(*cmd, *options);
              cmd->callback([options, run, &exitStatus] { exitStatus = run(*options); });
          })
    {
    }
};

// The stop signal (SIGINT, SIGTERM, SIGHUP ...) that asked the command to stop, 0 when none
// came: a batch starts no new file after one.
int StopSignalCaught();

// Calls every registered AddCommandFn in order.
void AddRegisteredCommands(CLI::App& app, int& exitStatus);

// --threads N, for the commands that compress (pack, implode): threads keeps its value (the
// machine's cores) when the option is absent.
inline CLI::Option* AddThreadsOption(CLI::App& cmd, unsigned& threads)
{
    return cmd
        .add_option("--threads", threads,
                    "Threads to compress on (default: the machine's cores); the output is the same "
                    "for every N")
        ->type_name("N")
        ->check(CLI::Validator(
            [](std::string& value) {
                // Said before the range: "2x" is no number at all, not one out of range.
                if (!value.empty() && value.find_first_not_of("0123456789") == std::string::npos)
                    return std::string();
                return FormatText(LoadString(IDS_CLI_NOT_A_NUMBER).c_str(), value.c_str());
            },
            "", "whole number"))
        ->check(CLI::Range(1u, 1024u));
}
