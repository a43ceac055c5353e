// packtool-cli split: turns a single packed file into a set of volumes, through the pack job's
// own split step (the same names, header, count, checks and log), without packing again.
#include <climits>
#include <memory>

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/consolehost.h"
#include "cli/volumesize.h"
#include "engine/format.h"
#include "engine/jobcontext.h"
#include "engine/manifest.h"
#include "engine/packedformat.h"
#include "engine/packjob.h"
#include "engine/volumeplan.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/strings.h"
#include "platform/thread.h"
#include "resources/textids.h"

namespace {

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

struct SplitOptions {
    std::string size;
    std::string packed;
    AnswerOptions answers;
    std::string lang;
};

int g_bSplitSucceeded = 0;

bool HasPackedExtension(const std::string& path)
{
    const std::string ext = SplitPath(path).ext;
    return ext.size() == 4 && ext[1] == '0' && (ext[2] == 'K' || ext[2] == 'k') &&
           (ext[3] == 'X' || ext[3] == 'x');
}

bool StartsWithHeader(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    unsigned char header[PACKED_HEADER_SIZE] = {};
    const std::size_t got = ReadBytes(header, sizeof(header), file);
    CloseStream(file);
    int count = 0;
    return got == sizeof(header) && ReadPackedFileHeader(header, count);
}

int RunSplit(const SplitOptions& options)
{
    UseLanguage(options.lang);
    ConsoleHost host(options.answers.Answer());

    const auto size = ParseVolumeSize(options.size);
    if (!size || *size < kSmallestVolumeSize || *size > INT_MAX) {
        host.PrintLine(FormatText(LoadString(IDS_CLI_BAD_VOLUME_SIZE).c_str(), options.size.c_str()));
        return EXIT_USAGE;
    }
    if (!HasPackedExtension(options.packed)) {
        host.PrintLine(FormatText(LoadString(IDS_CLI_NOT_PACKED_NAME).c_str(), options.packed.c_str()));
        return EXIT_USAGE;
    }
    if (std::FILE* probe = std::fopen(options.packed.c_str(), "rb")) {
        std::fclose(probe);
    } else {
        host.PrintLine(FormatText(LoadString(IDS_CANNOT_OPEN_FILE).c_str(), options.packed.c_str()));
        return EXIT_FAILED;
    }
    if (StartsWithHeader(options.packed)) {
        host.PrintLine(FormatText(LoadString(IDS_CLI_ALREADY_A_SET).c_str(), options.packed.c_str()));
        return EXIT_FAILED;
    }

    // A manifest beside the packed file must vouch for it before the set inherits its lines.
    const std::string manifestPath = ManifestPath(options.packed);
    std::vector<ManifestEntry> manifest;
    const bool hasManifest = LookUpFile(manifestPath) == FileLookup::Exists;
    if (hasManifest) {
        if (!ReadManifest(manifestPath, manifest)) {
            host.PrintLine(FormatText(LoadString(IDS_CLI_MANIFEST_DAMAGED).c_str(), manifestPath.c_str()));
            return EXIT_FAILED;
        }
        if (CheckFileAgainstManifest(manifest, options.packed) != ManifestMatch::Matches) {
            host.PrintLine(FormatText(LoadString(IDS_CLI_MANIFEST_MISMATCH).c_str(),
                                      options.packed.c_str(), manifestPath.c_str()));
            return EXIT_FAILED;
        }
    }
    const ManifestEntry* projectEntry =
        hasManifest ? FindProjectEntry(manifest, {options.packed}) : nullptr;
    const ManifestEntry project = projectEntry ? *projectEntry : ManifestEntry{};

    // The pack job's split step, on a worker, as after a pack.
    g_strPackedPath = options.packed;
    g_nVolumeSize = static_cast<int>(*size);
    g_bSplitSucceeded = 0;
    const bool started = StartWorkerThread([] {
        g_bSplitSucceeded = RunSplitStep();
        PostMessageToMainWindow(WM_JOBSTATE, JOB_IDLE, 0);
    });
    if (started)
        host.RunUntilJobEnds();
    if (!started || !g_bSplitSucceeded) {
        host.PrintLine(LoadString(IDS_CLI_SPLIT_FAILED));
        return EXIT_FAILED;
    }
    if (hasManifest) {
        if (!projectEntry || !WriteSetManifest(options.packed, project.strName, project.strDigest)) {
            // Its line for the single packed file no longer describes anything: better none.
            std::remove(manifestPath.c_str());
            host.PrintLine(FormatText(LoadString(IDS_CLI_MANIFEST_FAILED).c_str(), manifestPath.c_str()));
            return EXIT_FAILED;
        }
        host.PrintLine(FormatText(LoadString(IDS_CLI_MANIFEST_WRITTEN).c_str(), manifestPath.c_str()));
    }
    return EXIT_OK;
}

void AddSplitCommand(CLI::App& app, int& exitStatus)
{
    auto options = std::make_shared<SplitOptions>();
    CLI::App* cmd = app.add_subcommand(
        "split", "Split a single packed file (.0KX) into a set of volumes .0KX, .1KX, ... of SIZE "
                 "bytes, as pack --split does, without packing again.");
    AddAnswerOptions(*cmd, options->answers,
                     "Answer OK to every question (overwrite existing volumes)");
    AddLanguageOption(*cmd, options->lang);
    cmd->add_option("SIZE", options->size,
                    "Volume size: 1.44M, 1.2M, 720K, 360K, or a number of bytes with an optional K "
                    "or M (decimal), at least 1000")
        ->required();
    cmd->add_option("PACKED", options->packed, "The single packed file (.0KX)")->required();
    cmd->callback([options, &exitStatus] { exitStatus = RunSplit(*options); });
}

const CommandRegistration registration(40, AddSplitCommand);

} // namespace
