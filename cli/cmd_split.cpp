// packtool-cli split: turns a single packed file into a set of volumes through the engine's split
// job (the same names, header, count, checks and log as a pack's split step), without packing
// again. The packed file is the user's: it stays as it was unless the whole set replaces it.
#include <cerrno>
#include <climits>
#include <memory>

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/consolehost.h"
#include "cli/volumesize.h"
#include "engine/fileutil.h"
#include "engine/format.h"
#include "engine/jobcontext.h"
#include "engine/manifest.h"
#include "engine/names.h"
#include "engine/packedformat.h"
#include "engine/recovery.h"
#include "engine/split.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/strings.h"
#include "resources/textids.h"

namespace {

struct SplitOptions : JobOptions {
    std::string size;
    std::string packed;
    std::string recovery;
};

bool StartsWithHeader(const std::string& path)
{
    return ReadPackedHeaderOf(path).bHeader;
}

int RunSplit(const SplitOptions& options)
{
    UseLanguage(options.lang);
    ConsoleHost host(options.answers.Answer());
    host.SetPlainProgress(options.progress == "plain");

    const std::optional<int> size = VolumeSizeOption(host, options.size);
    if (!size)
        return EXIT_USAGE;
    RecoveryAmount recovery;
    if (!options.recovery.empty() && !ParseRecoveryAmount(options.recovery, recovery)) {
        host.PrintLine(
            FormatText(LoadString(IDS_CLI_BAD_RECOVERY).c_str(), options.recovery.c_str()));
        return EXIT_USAGE;
    }
    if (!HasPackedExtension(options.packed)) {
        host.PrintLine(
            FormatText(LoadString(IDS_CLI_NOT_PACKED_NAME).c_str(), options.packed.c_str()));
        return EXIT_USAGE;
    }
    if (!InputOpens(host, options.packed, options.packed))
        return EXIT_FAILED;
    if (StartsWithHeader(options.packed)) {
        host.PrintLine(
            FormatText(LoadString(IDS_CLI_ALREADY_A_SET).c_str(), options.packed.c_str()));
        return EXIT_FAILED;
    }

    // The user's own packed file: the split only reads it, and only a complete set replaces it.
    SplitRequest request;
    request.packedPath = options.packed;
    request.streamPath = options.packed;
    request.volumeSize = *size;
    request.owner = SplitRequest::UsersPackedFile;
    request.recovery = recovery;
    SplitOutcome outcome;
    const bool started = StartSplitJob(request, outcome);
    if (!JobSucceeded(host, started, outcome.complete, IDS_CLI_SPLIT_FAILED))
        return EXIT_FAILED;
    host.PrintLine(FormatText(LoadString(IDS_CLI_SPLIT_DONE).c_str(),
                              static_cast<long>(outcome.volumeCount), options.packed.c_str()));
    if (!PrintManifestOutcome(host, outcome.manifestFailed, ManifestPath(options.packed),
                              outcome.manifestPath))
        return EXIT_FAILED;
    if (recovery.Wanted() && !outcome.recoveryWritten) {
        host.PrintLine(LoadString(IDS_CLI_RECOVERY_FAILED));
        return EXIT_FAILED;
    }
    return EXIT_OK;
}

void DeclareSplitOptions(CLI::App& cmd, SplitOptions& options)
{
    AddAnswerOptions(cmd, options.answers,
                     "Answer OK to every question (overwrite existing volumes)");
    AddLanguageOption(cmd, options.lang);
    AddProgressOption(cmd, options.progress,
                      "one line 'split PERCENT' on standard error per whole percent");
    cmd.add_option(
           "--recovery", options.recovery,
           "Also write PAR2 recovery files beside the set (made by par2): N (1-99) rebuilds "
           "any N lost or damaged volumes, each recovery file at most a volume; or P% "
           "(1%-100%) of the packed data")
        ->type_name("N|P%");
    cmd.add_option("SIZE", options.size,
                   "Volume size: 1.44M, 1.2M, 720K, 360K, or a number of bytes with an optional K "
                   "or M (decimal), at least 1000")
        ->required();
    cmd.add_option("PACKED", options.packed, "The single packed file (.0KX)")->required();
}

const CommandRegistration registration(
    40, "split",
    "Split a single packed file (.0KX) into a set of volumes .0KX, .1KX, ... of SIZE bytes, as "
    "pack --split does, without packing again.",
    DeclareSplitOptions, RunSplit);

} // namespace
