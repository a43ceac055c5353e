#include "shell/testjob.h"

#include <vector>

#include "engine/format.h"
#include "engine/jobcontext.h"
#include "engine/packcheck.h"
#include "platform/files.h"
#include "platform/mainwindow.h"
#include "platform/strings.h"
#include "platform/thread.h"
#include "resources/textids.h"

namespace {

void LogLine(const std::string& text)
{
    AppendStatus(text + "\r\n");
}

// Each file of the set against the manifest, then the decoded bytes against the project
// file's line: one line per mismatch, or one line that all match. False on a mismatch.
bool LogManifestFindings(const PackedFileReport& report, const ManifestCheck& manifest,
                         const std::string& restoredDigest)
{
    bool matches = true;
    for (const std::string& volume : report.volumes) {
        const ManifestMatch match = CheckFileAgainstManifest(manifest.entries, volume);
        if (match == ManifestMatch::Matches)
            continue;
        matches = false;
        const unsigned id =
            match == ManifestMatch::NotListed ? IDS_CLI_MANIFEST_NOT_LISTED : IDS_CLI_MANIFEST_MISMATCH;
        LogLine(FormatText(LoadString(id).c_str(), volume.c_str(), manifest.strPath.c_str()));
    }
    const ManifestEntry* project = FindProjectEntry(manifest.entries, report.volumes);
    const bool decoded = report.verdict == PackedFileReport::Sound;
    if (project && decoded && project->strDigest != restoredDigest) {
        matches = false;
        LogLine(FormatText(LoadString(IDS_CLI_TEST_RESTORED_MISMATCH).c_str(), manifest.strPath.c_str()));
    }
    if (matches && !report.volumes.empty())
        LogLine(FormatText(LoadString(project && decoded ? IDS_CLI_MANIFEST_ALL_MATCH
                                                         : IDS_CLI_MANIFEST_SET_MATCHES)
                               .c_str(),
                           static_cast<long>(report.volumes.size()), manifest.strPath.c_str()));
    return matches;
}

void TestWorker(const std::string& packedPath, const std::shared_ptr<TestOutcome>& outcome)
{
    // The decoded bytes are checked only against a manifest of ours.
    const bool hasManifest = outcome->manifest.kind == ManifestCheck::Ours;
    CheckRequest request;
    request.strPackedPath = packedPath;
    request.bRestoredDigest = hasManifest;
    const PackedFileReport report = CheckPackedFile(request);
    AppendStatus("\r\n");
    bool sound = false;
    if (CancelRequested()) {
        // A read failed on purpose: the verdict would blame the file.
        AppendStatusId(IDS_JOB_CANCELLED);
    } else {
        for (const std::string& warning : report.warnings)
            LogLine(FormatText(LoadString(IDS_CLI_WARNING).c_str(), warning.c_str()));
        LogLine(DescribeVerdict(report, packedPath.c_str()));
        const bool manifestMatches =
            !hasManifest || LogManifestFindings(report, outcome->manifest, report.strRestoredDigest);
        sound = report.verdict == PackedFileReport::Sound && manifestMatches;
    }
    outcome->bSound = sound;
    SendMessageToMainWindow(WM_JOBDONE, 0, 0);
    PostMessageToMainWindow(WM_JOBSTATE, JOB_IDLE, 0);
}

} // namespace

bool StartTestJob(const std::string& packedPath, const std::shared_ptr<TestOutcome>& outcome)
{
    outcome->bSound = false;
    AppendStatusId(IDS_TEST_START);
    outcome->manifest = ExamineManifest(packedPath);
    if (!outcome->manifest.strWarning.empty())
        LogLine(FormatText(LoadString(IDS_CLI_WARNING).c_str(), outcome->manifest.strWarning.c_str()));
    SendMessageToMainWindow(WM_JOBSTATE, JOB_DECOMPRESSING, 0);
    if (!StartWorkerThread([packedPath, outcome] { TestWorker(packedPath, outcome); })) {
        SendMessageToMainWindow(WM_JOBSTATE, JOB_IDLE, 0);
        return false;
    }
    return true;
}
