// packtool-cli join: writes the single packed file of a set through the engine's join job (the
// unpack job's joining: the same volume names, header and count checks, questions and log),
// without decompressing.
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/consolehost.h"
#include "engine/fileutil.h"
#include "engine/format.h"
#include "engine/jobcontext.h"
#include "engine/join.h"
#include "engine/manifest.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/strings.h"
#include "resources/textids.h"

namespace {

struct JoinOptions : JobOptions {
    std::string packed;
    std::string out;
    std::vector<std::string> volumeDirs;
};

int RunJoin(const JoinOptions& options)
{
    UseLanguage(options.lang);
    ConsoleHost host(options.answers.Answer());
    host.SetPlainProgress(options.progress == "plain");

    JoinRequest request;
    request.packedPath = AbsolutePath(options.packed);
    request.outPath = AbsolutePath(options.out);
    if (!InputOpens(host, request.packedPath, options.packed))
        return EXIT_FAILED;
    if (!ReadPackedHeaderOf(request.packedPath).bHeader) {
        host.PrintLine(FormatText(LoadString(IDS_CLI_NOT_A_SET).c_str(), options.packed.c_str()));
        return EXIT_FAILED;
    }
    // The volumes beside volume 0: refused before anyone is asked about the output. Volumes
    // found elsewhere are checked by the job itself.
    for (const std::string& file : SetFiles(request.packedPath)) {
        if (IsSameFile(file, request.outPath)) {
            host.PrintLine(
                FormatText(LoadString(IDS_CLI_JOIN_INTO_SET).c_str(), options.out.c_str()));
            return EXIT_FAILED;
        }
    }

    for (const std::string& folder : options.volumeDirs)
        request.volumeSearchDirs.push_back(AbsolutePath(folder));
    JoinOutcome outcome;
    const bool started = StartJoinJob(request, outcome);
    if (!JobSucceeded(host, started, outcome.joined, IDS_CLI_JOIN_FAILED))
        return EXIT_FAILED;
    return PrintManifestOutcome(host, outcome.manifestFailed, ManifestPath(request.outPath),
                                outcome.manifestPath)
               ? EXIT_OK
               : EXIT_FAILED;
}

void DeclareJoinOptions(CLI::App& cmd, JoinOptions& options)
{
    AddAnswerOptions(cmd, options.answers,
                     "Answer OK to every question (overwrite OUT, look for a missing volume)");
    AddVolumeDirOption(cmd, options.volumeDirs);
    AddLanguageOption(cmd, options.lang);
    AddProgressOption(cmd, options.progress,
                      "one line 'join PERCENT' on standard error per whole percent");
    cmd.add_option("PACKED", options.packed, "The first volume of the set (.0KX)")->required();
    cmd.add_option("OUT", options.out, "The single packed file to write")->required();
}

const CommandRegistration registration(
    50, "join",
    "Write the single packed file of the set that PACKED begins to OUT, as unpack joins it, "
    "without decompressing.",
    DeclareJoinOptions, RunJoin);

} // namespace
