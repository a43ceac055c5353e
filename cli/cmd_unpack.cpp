// packtool-cli unpack: the unpack job of the desktop program, run on its worker thread with the
// console as its main window. A missing volume is looked for in the --volume-dir folders
// first, then asked for at the terminal.
#include <cerrno>
#include <memory>
#include <unistd.h>
#include <string>
#include <vector>

#include "cli/batch.h"
#include "cli/commands.h"
#include "cli/options.h"
#include "cli/consolehost.h"
#include "engine/format.h"
#include "engine/join.h"
#include "engine/names.h"
#include "engine/unpackjob.h"
#include "platform/files.h"
#include "platform/strings.h"
#include "resources/textids.h"

namespace {

struct UnpackOptions : FilesOptions {
    bool keepBroken = false;
    std::vector<std::string> volumeDirs;
    std::string into;
};

UnpackRequest RequestFor(const UnpackOptions& options, const std::string& file)
{
    UnpackRequest request;
    request.packedPath = file;
    for (const std::string& dir : options.volumeDirs)
        request.volumeSearchDirs.push_back(AbsolutePath(dir));
    request.keepBroken = options.keepBroken;
    request.intoFolder = AbsolutePath(options.into);
    // The restored bytes must have the checksum of a manifest of ours beside the packed file
    // before they replace the project file.
    request.checkManifest = true;
    return request;
}

std::string MissingVolumeLine(const UnpackOutcome& outcome)
{
    return FormatText(
        LoadString(IDS_CLI_VOLUME_MISSING).c_str(), static_cast<long>(outcome.join.missingVolume),
        static_cast<long>(outcome.join.volumeCount - 1), outcome.join.missingName.c_str());
}

// Once the job has ended: the console's lines on how it went, and the command's status.
int EndUnpackOf(ConsoleHost& host, const UnpackOptions& options, const UnpackRequest& request,
                const UnpackOutcome& outcome)
{
    if (outcome.restored) {
        host.FinishPlainProgress();
        host.PrintLine(
            FormatText(LoadString(IDS_CLI_RESTORED).c_str(), outcome.projectPath.c_str()));
        return EXIT_OK;
    }
    if (outcome.started && outcome.join.missingVolume >= 0)
        host.PrintFailureLine(MissingVolumeLine(outcome));
    if (!outcome.brokenPath.empty())
        host.PrintFailureLine(FormatText(LoadString(IDS_CLI_BROKEN_KEPT).c_str(),
                                         static_cast<long>(outcome.restoredBytes),
                                         outcome.brokenPath.c_str()));
    // The job writes its temporary files beside the packed file: on read-only media it
    // cannot, and --into is the way out.
    if (outcome.started && options.into.empty() && !CancelRequested()) {
        if (const int error = RestoreFolderError(request))
            host.PrintFailureLine(FormatText(LoadString(IDS_CLI_FOLDER_NOT_WRITABLE).c_str(),
                                             RestoreFolder(request).c_str(),
                                             SystemErrorText(error).c_str()));
    }
    host.PrintFailureLine(LoadString(IDS_CLI_UNPACK_FAILED));
    return EXIT_FAILED;
}

// One file of a batch.
class UnpackFileJob : public BatchJob {
public:
    UnpackFileJob(const UnpackOptions& options, const std::string& file)
        : m_request(RequestFor(options, file)), m_options(options)
    {
    }

    bool Start(ConsoleHost& host) override
    {
        host.SetPlainProgress(m_options.progress == "plain");
        return StartUnpackJob(m_request, m_outcome);
    }

    BatchResult Finish(ConsoleHost& host, bool) override
    {
        BatchResult result;
        result.succeeded = EndUnpackOf(host, m_options, m_request, m_outcome) == EXIT_OK;
        // A missing volume is the reason, whatever the log said after it.
        if (!result.succeeded && m_outcome.started && m_outcome.join.missingVolume >= 0)
            result.reason = MissingVolumeLine(m_outcome);
        return result;
    }

private:
    UnpackRequest m_request;
    const UnpackOptions& m_options;
    UnpackOutcome m_outcome;
};

int RunUnpack(const UnpackOptions& options)
{
    UseLanguage(options.lang);
    ConsoleHost host(options.answers.Answer());
    if (options.files.size() == 1) {
        const UnpackRequest request = RequestFor(options, options.files.front());
        host.SetPlainProgress(options.progress == "plain");
        UnpackOutcome outcome;
        StartUnpackJob(request, outcome);
        host.RunUntilJobEnds();
        return EndUnpackOf(host, options, request, outcome);
    }
    const auto projectFile = [&options](const std::string& file) {
        return AbsolutePath(ProjectNameFor(file, options.into));
    };
    std::vector<BatchFile> batch =
        BatchOf(DistinctFiles(options.files), projectFile, [&](const std::string& file) {
            return std::make_unique<UnpackFileJob>(options, file);
        });
    return RunBatch(batch, BatchSettingsFor(options, IDS_CLI_BATCH_RESTORED));
}

void DeclareUnpackOptions(CLI::App& cmd, UnpackOptions& options)
{
    AddAnswerOptions(cmd, options.answers,
                     "Answer OK to every question (overwrite the project file, look for a "
                     "missing volume, rebuild a damaged one from recovery files NAME.par2)");
    AddVolumeDirOption(cmd, options.volumeDirs);
    cmd.add_flag("--keep-broken", options.keepBroken,
                 "When the stream is damaged, keep what it decoded as PROJECT.broken");
    AddLanguageOption(cmd, options.lang);
    cmd.add_option("--into", options.into,
                   "Write the project file and its temporary files into DIR instead of the "
                   "packed file's folder (which may then be read-only)")
        ->type_name("DIR")
        ->check(CLI::ExistingDirectory);
    AddProgressOption(cmd, options.progress,
                      "one line 'STEP PERCENT' on standard error per change (join, expand)");
    AddJobsOption(cmd, options.jobs);
    cmd.add_option("FILE", options.files,
                   "The packed files (.0KX, .0RV), the first of each set: each restored on its "
                   "own, up to --jobs at once")
        ->required();
}

const CommandRegistration registration(
    20, "unpack",
    "Restore the project file from a packed file (.0KX or .0RV) or a set of volumes, beside it: "
    ".KMX, or .RVN for a .0RV file.",
    DeclareUnpackOptions, RunUnpack);

} // namespace
