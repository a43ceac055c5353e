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
        LogLine(DescribeVerdict(report, packedPath));
        bool manifestMatches = true;
        if (hasManifest) {
            const ManifestFindings findings = CheckAgainstManifest(report, outcome->manifest);
            for (const std::string& line : findings.lines)
                LogLine(line);
            manifestMatches = findings.bMatches;
        }
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
