// packtool-cli: the console front end of Pack Tool, for scripts and terminals.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "cli/commands.h"

namespace {

constexpr int EXIT_USAGE = 2;

std::vector<std::pair<int, AddCommandFn>>& Registry()
{
    static std::vector<std::pair<int, AddCommandFn>> registry;
    return registry;
}

} // namespace

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
    CLI::App app{"Pack Tool: packs a project file into a packed file compressed with the implode\n"
                 "method, whole or split into disk-sized volumes, and restores it."};
    app.name("packtool-cli");
    app.set_version_flag("--version", std::string("packtool-cli ") + PACKTOOL_VERSION);
    app.require_subcommand(1);

    int exitStatus = 0;
    AddRegisteredCommands(app, exitStatus);

    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        return app.exit(e); // --help, --version
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return EXIT_USAGE;
    }
    return exitStatus;
}
