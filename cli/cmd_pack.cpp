// packtool-cli pack: the pack job of the desktop program, run on its worker thread with the
// console as its main window.
//
// Beyond the desktop program: --dry-run shows the set a pack would write and whether the
// folder has room for it, writing nothing; a pack with --split first makes sure the folder has
// room for the pack and the split; --manifest writes the checksums beside the set.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

#include "cli/batch.h"
#include "cli/commands.h"
#include "cli/options.h"
#include "cli/consolehost.h"
#include "cli/volumesize.h"
#include "codec/implode_parallel.h"
#include "engine/batchsummary.h"
#include "engine/fileutil.h"
#include "engine/format.h"
#include "engine/jobcontext.h"
#include "engine/names.h"
#include "engine/packedformat.h"
#include "engine/packjob.h"
#include "engine/recovery.h"
#include "engine/volumeplan.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/strings.h"
#include "resources/textids.h"

namespace {

// The volume size when no split is asked for: what the Pack dialog selects first.
constexpr int kDefaultVolumeSize = 1440000;

struct PackOptions : FilesOptions {
    std::string split;
    bool dryRun = false;
    bool manifest = false;
    std::string recovery;
    unsigned threads = ImplodeMachineThreads();
    // --split and --threads as the command line gave them (count() says whether it did).
    const CLI::Option* splitOption = nullptr;
    const CLI::Option* threadsOption = nullptr;

    // --split came, even with an empty size.
    bool SplitGiven() const { return splitOption && splitOption->count() > 0; }
    bool ThreadsGiven() const { return threadsOption && threadsOption->count() > 0; }
};

// Compresses to nowhere and prints the files the pack would write, then the room check.
int RunDryRun(ConsoleHost& host, const std::string& projectPath, const std::string& packedPath,
              int volumeSize, unsigned threads)
{
    SendJobState(JOB_COMPRESSING);
    std::int64_t streamLength = 0;
    const int measured = MeasureStreamLength(projectPath, streamLength, threads);
    SendJobState(JOB_IDLE);
    if (!measured) {
        host.PrintLine(LoadString(IDS_READ_ERROR));
        return EXIT_FAILED;
    }
    if (volumeSize > 0 && VolumeCountFor(streamLength, volumeSize) > MAX_VOLUMES) {
        host.PrintLine(
            FormatText(LoadString(IDS_CLI_PLAN_TOO_MANY).c_str(),
                       static_cast<long long>(VolumeCountFor(streamLength, volumeSize))));
        return EXIT_FAILED;
    }
    host.FinishPlainProgress();

    std::int64_t total = 0;
    const std::vector<PlannedVolume> plan = PlanVolumes(packedPath, streamLength, volumeSize);
    for (const PlannedVolume& volume : plan) {
        std::printf("%lld %s\n", static_cast<long long>(volume.nSize), volume.strPath.c_str());
        total += volume.nSize;
    }
    std::printf("%s\n", FormatText(LoadString(IDS_CLI_PLAN_TOTAL).c_str(),
                                   static_cast<long>(plan.size()), static_cast<long long>(total))
                            .c_str());
    const RoomCheck room = RoomForPack(packedPath, streamLength, volumeSize);
    if (room.nAvailable >= 0)
        std::printf("%s\n", FormatText(LoadString(IDS_CLI_PLAN_ROOM).c_str(),
                                       room.strFolder.c_str(), static_cast<long long>(room.nNeeded),
                                       static_cast<long long>(room.nAvailable))
                                .c_str());
    else
        std::printf("%s\n", FormatText(LoadString(IDS_CLI_PLAN_ROOM_UNKNOWN).c_str(),
                                       room.strFolder.c_str(), static_cast<long long>(room.nNeeded))
                                .c_str());
    const bool roomy = ReportRoom(room) != 0;
    if (!ReportWritten(host, "pack"))
        return EXIT_FAILED;
    return roomy ? EXIT_OK : EXIT_FAILED;
}

// The volume size of --split (or the default) and the recovery asked for; false after saying
// why one of them is refused.
bool SizesOf(ConsoleHost& host, const PackOptions& options, int& volumeSize,
             RecoveryAmount& recovery)
{
    volumeSize = kDefaultVolumeSize;
    if (options.SplitGiven()) {
        const std::optional<int> size = VolumeSizeOption(host, options.split);
        if (!size)
            return false;
        volumeSize = *size;
    }

    if (!options.recovery.empty() && !ParseRecoveryAmount(options.recovery, recovery)) {
        host.PrintLine(
            FormatText(LoadString(IDS_CLI_BAD_RECOVERY).c_str(), options.recovery.c_str()));
        return false;
    }
    if (recovery.volumes > 0 && !options.SplitGiven()) {
        host.PrintLine(
            FormatText(LoadString(IDS_CLI_RECOVERY_NEEDS_SPLIT).c_str(), options.recovery.c_str()));
        return false;
    }
    return true;
}

// What every file of one pack command is packed with.
struct PackSettings {
    int volumeSize = kDefaultVolumeSize;
    RecoveryAmount recovery;
    unsigned threads = 0;
};

// One file's pack up to its job's start, on the main thread: the checks that refuse it, or
// the dry run. Returns the command's status when it ended here; otherwise the job was asked
// to start (started says whether it did) and EndPackOf tells how it went.
std::optional<int> StartPackOf(ConsoleHost& host, const PackOptions& options,
                               const std::string& file, const PackSettings& settings,
                               PackOutcome& outcome, bool& started)
{
    started = false;
    // A folder, a device or a FIFO is no project file: opening a FIFO would wait for a writer
    // and reading /dev/zero would never end.
    if (const std::string refusal = NotRegularInputRefusal(file); !refusal.empty()) {
        host.PrintLine(refusal);
        return EXIT_FAILED;
    }
    // As the Pack dialog does: a project file that cannot be opened is not packed.
    if (std::FILE* probe = OpenRegularInputStream(file)) {
        std::fclose(probe);
    } else {
        const int error = errno;
        host.PrintLine(FormatText(LoadString(IDS_CANNOT_OPEN_FILE).c_str(), file.c_str()) + " (" +
                       std::strerror(error) + ")");
        return EXIT_FAILED;
    }

    const int split = options.SplitGiven() ? 1 : 0;
    const std::string packedPath = PackedNameFor(file);
    if (options.dryRun)
        return RunDryRun(host, file, packedPath, split ? settings.volumeSize : 0, settings.threads);
    if (split && !CheckRoomForSplitPack(file, packedPath, settings.volumeSize, settings.threads,
                                        [&host](bool quiet) { host.SetProgressQuiet(quiet); })) {
        host.PrintLine(LoadString(IDS_CLI_PACK_FAILED));
        return EXIT_FAILED;
    }

    PackRequest request;
    request.projectPath = file;
    request.split = split != 0;
    request.volumeSize = settings.volumeSize;
    request.threads = settings.threads;
    request.writeManifest = options.manifest;
    request.recovery = settings.recovery;
    started = StartPackJob(request, outcome);
    return std::nullopt;
}

// Once the job of StartPackOf has ended: the command's status.
int EndPackOf(ConsoleHost& host, const PackOptions& options, const PackSettings& settings,
              bool started, const PackOutcome& outcome)
{
    if (started && outcome.succeeded) {
        host.FinishPlainProgress();
        if (settings.recovery.Wanted() && !outcome.recoveryWritten) {
            host.PrintFailureLine(LoadString(IDS_CLI_RECOVERY_FAILED));
            return EXIT_FAILED;
        }
        return !options.manifest || outcome.manifestWritten ? EXIT_OK : EXIT_FAILED;
    }
    host.PrintFailureLine(LoadString(IDS_CLI_PACK_FAILED));
    return EXIT_FAILED;
}

int PackOne(ConsoleHost& host, const PackOptions& options, const std::string& file,
            const PackSettings& settings)
{
    PackOutcome outcome;
    bool started = false;
    if (const std::optional<int> status =
            StartPackOf(host, options, file, settings, outcome, started))
        return *status;
    if (started)
        host.RunUntilJobEnds();
    return EndPackOf(host, options, settings, started, outcome);
}

// One file of a batch.
class PackFileJob : public BatchJob {
public:
    PackFileJob(const PackOptions& options, std::string file, const PackSettings& settings)
        : m_options(options), m_file(std::move(file)), m_settings(settings)
    {
    }

    bool Start(ConsoleHost& host) override
    {
        m_status = StartPackOf(host, m_options, m_file, m_settings, m_outcome, m_started);
        return !m_status && m_started;
    }

    BatchResult Finish(ConsoleHost& host, bool) override
    {
        BatchResult result;
        const int status =
            m_status ? *m_status : EndPackOf(host, m_options, m_settings, m_started, m_outcome);
        result.succeeded = status == EXIT_OK;
        return result;
    }

private:
    const PackOptions& m_options;
    std::string m_file;
    const PackSettings& m_settings;
    PackOutcome m_outcome;
    bool m_started = false;
    std::optional<int> m_status; // set when the pack ended before its job
};

int RunPack(const PackOptions& options)
{
    UseLanguage(options.lang);

    ConsoleHost host(options.answers.Answer());
    host.SetPlainProgress(options.progress == "plain");

    PackSettings settings;
    settings.threads = options.threads;
    if (!SizesOf(host, options, settings.volumeSize, settings.recovery))
        return EXIT_USAGE;
    if (options.files.size() == 1)
        return PackOne(host, options, options.files.front(), settings);
    // A dry run prints its plans one file after another.
    if (options.dryRun) {
        int status = EXIT_OK;
        for (const std::string& file : options.files) {
            host.PrintLine(BatchHeading(file));
            status = std::max(status, PackOne(host, options, file, settings));
        }
        return status;
    }

    const std::vector<std::string> files = DistinctFiles(options.files);
    if (!options.ThreadsGiven())
        settings.threads = ThreadsPerJob(options.jobs, files.size());
    const auto packedFile = [](const std::string& file) {
        return AbsolutePath(PackedNameFor(file));
    };
    std::vector<BatchFile> batch = BatchOf(files, packedFile, [&](const std::string& file) {
        return std::make_unique<PackFileJob>(options, file, settings);
    });
    return RunBatch(batch, BatchSettingsFor(options, IDS_CLI_BATCH_PACKED));
}

void DeclarePackOptions(CLI::App& cmd, PackOptions& options)
{
    AddAnswerOptions(cmd, options.answers,
                     "Answer OK to every question (overwrite existing files)");
    AddLanguageOption(cmd, options.lang);
    options.splitOption =
        cmd.add_option("--split", options.split,
                       "Split into volumes of SIZE bytes: 1.44M, 1.2M, 720K, 360K, or a number of "
                       "bytes with an optional K or M (decimal), at least 1000")
            ->type_name("SIZE");
    cmd.add_flag("--dry-run", options.dryRun,
                 "Write nothing: compress to nowhere, print the files the pack would write "
                 "(size and name of each, then the count) and check the folder's free space");
    cmd.add_flag("--manifest", options.manifest,
                 "Also write NAME.sha256 beside the packed file: checksums of the project file "
                 "and of every file of the set, in the format of sha256sum");
    cmd.add_option(
           "--recovery", options.recovery,
           "Also write PAR2 recovery files NAME.par2, NAME.volXX+YY.par2 beside the set (made "
           "by par2): with --split, N (1-99) rebuilds any N lost or damaged volumes, each "
           "recovery file at most a volume; or P% (1%-100%) of the packed data")
        ->type_name("N|P%");
    AddProgressOption(cmd, options.progress,
                      "one line 'STEP PERCENT' on standard error per change (compress, split)");
    options.threadsOption = AddThreadsOption(cmd, options.threads);
    AddJobsOption(cmd, options.jobs);
    cmd.add_option("FILE", options.files,
                   "The project files (.kmx): each packed on its own, up to --jobs at once")
        ->required();
}

const CommandRegistration registration(
    10, "pack",
    "Pack a project file into a packed file of the same name with the extension .0KX beside it, "
    "whole or split into volumes.",
    DeclarePackOptions, RunPack);

} // namespace
