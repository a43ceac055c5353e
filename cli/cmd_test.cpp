// packtool-cli test: says whether a packed file or a set of volumes is sound, without
// restoring anything: the stream is decoded straight from the volumes up to its end code.
// Checks that a sound set may still fail (its shape against what splitting writes, data behind
// the end code) are reported as warnings.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/consolehost.h"
#include "engine/testjob.h"

namespace {

struct TestOptions {
    std::string file;
    AnswerOptions answers;
    std::string lang;
    std::vector<std::string> volumeDirs;
    std::string progress;
};

int RunTest(const TestOptions& options)
{
    UseLanguage(options.lang);
    ConsoleHost host(options.answers.Answer());
    host.SetPlainProgress(options.progress == "plain");

    CheckRequest request;
    request.packedPath = options.file;
    request.volumeSearchDirs = options.volumeDirs;
    TestOutcome outcome;
    if (!StartTestJob(request, outcome))
        return EXIT_FAILED;
    host.RunUntilJobEnds();
    if (outcome.streamSound)
        host.FinishPlainProgress();
    // Warnings go to standard error with the job's log; the verdict to standard output.
    for (const std::string& warning : outcome.warnings)
        host.PrintLine(warning);
    std::printf("%s\n", outcome.verdict.c_str());
    for (const std::string& line : outcome.manifestLines)
        std::printf("%s\n", line.c_str());
    for (const std::string& line : outcome.recoveryLines)
        std::printf("%s\n", line.c_str());
    if (!ReportWritten(host, "test"))
        return EXIT_FAILED;
    return outcome.sound ? EXIT_OK : EXIT_FAILED;
}

void AddTestCommand(CLI::App& app, int& exitStatus)
{
    auto options = std::make_shared<TestOptions>();
    CLI::App* cmd = app.add_subcommand(
        "test", "Say whether a packed file or a set of volumes is sound, without restoring it: "
                "exit 0 when its stream is complete up to its end code. Recovery files NAME.par2 "
                "beside it are verified with par2: a damaged volume is named, with whether it "
                "can be rebuilt (exit 1).");
    AddAnswerOptions(*cmd, options->answers, "Answer OK to every question (look for a missing volume)");
    AddVolumeDirOption(*cmd, options->volumeDirs);
    AddLanguageOption(*cmd, options->lang);
    cmd->add_option("--progress", options->progress,
                    "plain: one line 'expand PERCENT' on standard error per whole percent")
        ->check(CLI::IsMember({"plain"}));
    cmd->add_option("FILE", options->file, "The packed file (.0KX, .0RV), the first of a set")->required();
    cmd->callback([options, &exitStatus] { exitStatus = RunTest(*options); });
}

const CommandRegistration registration(30, AddTestCommand);

} // namespace
