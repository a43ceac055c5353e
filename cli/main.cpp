// packtool-cli: the console front end of Pack Tool, for scripts and terminals.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "cli/commands.h"
#include "cli/options.h"
#include "engine/format.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/strings.h"
#include "resources/textids.h"

namespace {

std::vector<std::pair<int, AddCommandFn>>& Registry()
{
    static std::vector<std::pair<int, AddCommandFn>> registry;
    return registry;
}

// The signal that asked the command to stop, 0 when none came.
volatile std::sig_atomic_t g_stopSignal = 0;

// SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2 and SIGALRM end the running job the way a
// failure does: the cancel request makes its next read or write fail, and it removes its
// temporary files and keeps the old ones. A second signal ends the process at once (the
// default action): the jobs write every final name by a rename of a complete file, so even
// then no final name holds a partial file.
extern "C" void OnStopSignal(int signal)
{
    g_stopSignal = signal;
    RequestCancel();
    for (int stop : StopSignals())
        std::signal(stop, SIG_DFL); // async-signal-safe
}

void CatchStopSignals()
{
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a question waiting at the terminal is interrupted and answered Cancel.
    action.sa_flags = 0;
    for (int stop : StopSignals()) {
        struct sigaction previous {};
        // A signal that the caller ignores (nohup, a background job) stays ignored.
        if (sigaction(stop, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
            continue;
        sigaction(stop, &action, nullptr);
    }
}

void PrintError(const std::string& text)
{
    std::fprintf(stderr, "%s\n", text.c_str());
}

// After a parse error: a word where a command belongs that names none, and a file name that
// begins with '-' and was taken for an option, get a line of their own that says what to do.
void ExplainParseError(const CLI::App& app, int argc, char** argv)
{
    UseLanguage("");
    if (argc < 2)
        return;
    const std::string first = argv[1];
    if (!first.empty() && first[0] != '-') {
        bool known = false;
        std::string names;
        for (const CLI::App* sub : app.get_subcommands({})) {
            known = known || sub->get_name() == first;
            names += (names.empty() ? "" : ", ") + sub->get_name();
        }
        if (!known) {
            PrintError(FormatText(LoadString(IDS_CLI_UNKNOWN_COMMAND).c_str(), first.c_str(),
                                  names.c_str()));
            return;
        }
    }
    const CLI::App* command = nullptr;
    for (const CLI::App* sub : app.get_subcommands({}))
        if (sub->get_name() == first)
            command = sub;
    if (!command)
        return;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--")
            break;
        if (arg.size() < 2 || arg[0] != '-')
            continue;
        // An option of the command, with or without its "=value", is no file name.
        const std::string name = arg.substr(0, arg.find('='));
        bool isOption = false;
        for (const CLI::Option* option : command->get_options()) {
            isOption =
                isOption || option->check_name(name) ||
                (name.size() > 2 && name[1] != '-' && option->check_sname(name.substr(1, 1)));
        }
        if (!isOption) {
            PrintError(
                FormatText(LoadString(IDS_CLI_OPTION_LIKE_FILE).c_str(), arg.c_str(), arg.c_str()));
            return;
        }
    }
}

// "--option=" with nothing after the '=' gives the option an empty value. The parser would
// take the next argument as the value instead ("--split= --yes" would split into "--yes"
// bytes), so the empty value is passed as an argument of its own, where the option's own
// check refuses it.
std::vector<std::string> WithEmptyValuesApart(int argc, char** argv)
{
    std::vector<std::string> args;
    bool options = true;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        options = options && arg != "--";
        if (i > 0 && options && arg.size() > 3 && arg.compare(0, 2, "--") == 0 &&
            arg.find('=') == arg.size() - 1) {
            args.push_back(arg.substr(0, arg.size() - 1));
            args.emplace_back();
            continue;
        }
        args.push_back(arg);
    }
    return args;
}

} // namespace

int StopSignalCaught()
{
    return g_stopSignal;
}

CommandRegistration::CommandRegistration(int order, AddCommandFn add)
{
    Registry().emplace_back(order, add);
}

void AddRegisteredCommands(CLI::App& app, int& exitStatus)
{
    auto commands = Registry();
    std::stable_sort(commands.begin(), commands.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& command : commands)
        command.second(app, exitStatus);
}

int main(int argc, char** argv)
{
    if (!OpenClosedStandardStreams())
        return EXIT_FAILED; // no /dev/null: nothing could be said, and nothing is safe to open
    IgnoreWriteSignals();

    CLI::App app{"Pack Tool: packs a project file into a packed file compressed with the implode\n"
                 "method, whole or split into disk-sized volumes, and restores it."};
    app.name("packtool-cli");
    app.set_version_flag("--version", std::string("packtool-cli ") + PACKTOOL_VERSION);
    app.require_subcommand(1);

    int exitStatus = 0;
    AddRegisteredCommands(app, exitStatus);
    CatchStopSignals();

    std::vector<std::string> args = WithEmptyValuesApart(argc, argv);
    std::vector<char*> argPointers;
    for (std::string& arg : args)
        argPointers.push_back(arg.data());
    argc = static_cast<int>(argPointers.size());
    argPointers.push_back(nullptr);
    argv = argPointers.data();

    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        return app.exit(e); // --help, --version
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        ExplainParseError(app, argc, argv);
        return EXIT_USAGE;
    }
    // A command that completed before it saw the signal did its work whole: its status stands.
    const int stopSignal = g_stopSignal;
    if (stopSignal != 0 && exitStatus != 0) {
        PrintError(FormatText(LoadString(IDS_CLI_CANCELLED).c_str(), StopSignalName(stopSignal)));
        return 128 + stopSignal;
    }
    return exitStatus;
}
