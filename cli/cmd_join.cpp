// packtool-cli join: writes the single packed file of a set, through the unpack job's joining
// (the same volume names, header and count checks, questions and log), without decompressing.
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/consolehost.h"
#include "engine/format.h"
#include "engine/jobcontext.h"
#include "engine/join.h"
#include "engine/manifest.h"
#include "engine/unpackjob.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/strings.h"
#include "platform/thread.h"
#include "resources/textids.h"

namespace {

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;

struct JoinOptions {
    std::string packed;
    std::string out;
    AnswerOptions answers;
    std::string lang;
    std::vector<std::string> volumeDirs;
};

int g_bJoinSucceeded = 0;

std::string Absolute(const std::string& path)
{
    if (path.empty() || path.front() == '/')
        return path;
    const std::string current = CurrentDirectory();
    return current.empty() ? path : current + "/" + path;
}

std::string FileNameOf(const std::string& path)
{
    const PathParts parts = SplitPath(path);
    return parts.name + parts.ext;
}

// The joining of the unpack job, on a worker; the joined stream becomes the output file.
void JoinWorker(const std::string& packed, const std::string& out)
{
    PostMessageToMainWindow(WM_JOBSTATE, JOB_JOINING, 0);
    std::string tempName;
    if (JoinVolumes(packed, tempName) && !tempName.empty()) {
        if (std::rename(tempName.c_str(), out.c_str()) == 0) {
            g_bJoinSucceeded = 1;
        } else {
            std::remove(tempName.c_str());
            ShowMessageBoxOwnedByMain(LoadString(IDS_WRITE_ERROR), MB_OK | MB_ICONEXCLAMATION);
        }
    }
    PostMessageToMainWindow(WM_JOBSTATE, JOB_IDLE, 0);
}

int RunJoin(const JoinOptions& options)
{
    UseLanguage(options.lang);
    ConsoleHost host(options.answers.Answer());

    const std::string packed = Absolute(options.packed);
    const std::string out = Absolute(options.out);
    unsigned char header[16] = {};
    if (LookUpFile(packed) != FileLookup::Exists) {
        host.PrintLine(FormatText(LoadString(IDS_CANNOT_OPEN_FILE).c_str(), options.packed.c_str()));
        return EXIT_FAILED;
    }
    if (!CheckPackedHeader(packed, header)) {
        host.PrintLine(FormatText(LoadString(IDS_CLI_NOT_A_SET).c_str(), options.packed.c_str()));
        return EXIT_FAILED;
    }
    // The output must not be a file of the set it is made from.
    const std::vector<std::string> setFiles = SetFiles(packed);
    for (const std::string& file : setFiles) {
        if (IsSameFile(file, out)) {
            host.PrintLine(FormatText(LoadString(IDS_CLI_JOIN_INTO_SET).c_str(), options.out.c_str()));
            return EXIT_FAILED;
        }
    }

    // A manifest beside the set must vouch for every volume found beside it.
    const std::string manifestPath = ManifestPath(packed);
    std::vector<ManifestEntry> manifest;
    const bool hasManifest = LookUpFile(manifestPath) == FileLookup::Exists;
    if (hasManifest) {
        if (!ReadManifest(manifestPath, manifest)) {
            host.PrintLine(FormatText(LoadString(IDS_CLI_MANIFEST_DAMAGED).c_str(), manifestPath.c_str()));
            return EXIT_FAILED;
        }
        for (const std::string& file : setFiles) {
            if (LookUpFile(file) == FileLookup::Exists &&
                CheckFileAgainstManifest(manifest, file) != ManifestMatch::Matches) {
                host.PrintLine(FormatText(LoadString(IDS_CLI_MANIFEST_MISMATCH).c_str(), file.c_str(),
                                          manifestPath.c_str()));
                return EXIT_FAILED;
            }
        }
    }

    if (!CheckExistingFile(out)) {
        host.PrintLine(LoadString(IDS_CLI_JOIN_FAILED));
        return EXIT_FAILED;
    }
    g_volumeSearchDirs.clear();
    for (const std::string& folder : options.volumeDirs)
        g_volumeSearchDirs.push_back(Absolute(folder));
    // The joined stream is written beside the output, so that the rename cannot cross file
    // systems and the set's own folder may be read-only.
    const std::string outFolder = SplitPath(out).dir;
    g_strUnpackFolder = outFolder.empty() ? CurrentDirectory() : outFolder;
    g_bJoinSucceeded = 0;
    const bool started = StartWorkerThread([packed, out] { JoinWorker(packed, out); });
    if (started)
        host.RunUntilJobEnds();
    g_strUnpackFolder.clear();
    if (!started || !g_bJoinSucceeded) {
        host.PrintLine(LoadString(IDS_CLI_JOIN_FAILED));
        return EXIT_FAILED;
    }

    // The output gets a manifest of its own when the set had one, unless it would replace it.
    const std::string outManifest = ManifestPath(out);
    const ManifestEntry* project = hasManifest ? FindProjectEntry(manifest, setFiles) : nullptr;
    if (project && !IsSameFile(outManifest, manifestPath) && outManifest != manifestPath) {
        const std::string digest = DigestOfFile(out);
        if (digest.empty() ||
            !WriteManifest(outManifest, {*project, {digest, FileNameOf(out)}})) {
            host.PrintLine(FormatText(LoadString(IDS_CLI_MANIFEST_FAILED).c_str(), outManifest.c_str()));
            return EXIT_FAILED;
        }
        host.PrintLine(FormatText(LoadString(IDS_CLI_MANIFEST_WRITTEN).c_str(), outManifest.c_str()));
    }
    return EXIT_OK;
}

void AddJoinCommand(CLI::App& app, int& exitStatus)
{
    auto options = std::make_shared<JoinOptions>();
    CLI::App* cmd = app.add_subcommand(
        "join", "Write the single packed file of the set that PACKED begins to OUT, as unpack "
                "joins it, without decompressing.");
    AddAnswerOptions(*cmd, options->answers,
                     "Answer OK to every question (overwrite OUT, look for a missing volume)");
    AddVolumeDirOption(*cmd, options->volumeDirs);
    AddLanguageOption(*cmd, options->lang);
    cmd->add_option("PACKED", options->packed, "The first volume of the set (.0KX)")->required();
    cmd->add_option("OUT", options->out, "The single packed file to write")->required();
    cmd->callback([options, &exitStatus] { exitStatus = RunJoin(*options); });
}

const CommandRegistration registration(50, AddJoinCommand);

} // namespace
