// packtool-cli: the console front end of Pack Tool, for scripts and terminals.
#include <cstdio>
#include <string>

#include "cli/commands.h"

namespace {

constexpr int EXIT_USAGE = 2;

} // namespace

int main(int argc, char** argv)
{
    CLI::App app{"Pack Tool: packs a project file into a packed file compressed with the implode\n"
                 "method, whole or split into disk-sized volumes, and restores it."};
    app.name("packtool-cli");
    app.set_version_flag("--version", std::string("packtool-cli ") + PACKTOOL_VERSION);
    app.require_subcommand(1);

    int exitStatus = 0;
    AddImplodeCommand(app, exitStatus);
    AddExplodeCommand(app, exitStatus);

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
