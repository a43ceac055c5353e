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
    SendJobBusyEnded();
    PostJobState(JOB_IDLE);
    ReportJobEnded(JobKind::Test, sound);
}

} // namespace

bool StartTestJob(const std::string& packedPath, const std::shared_ptr<TestOutcome>& outcome)
{
    outcome->bSound = false;
    AppendStatusId(IDS_TEST_START);
    outcome->manifest = ExamineManifest(packedPath);
    if (!outcome->manifest.strWarning.empty())
        LogLine(FormatText(LoadString(IDS_CLI_WARNING).c_str(), outcome->manifest.strWarning.c_str()));
    SendJobState(JOB_DECOMPRESSING);
    if (!StartWorkerThread([packedPath, outcome] { TestWorker(packedPath, outcome); })) {
        SendJobState(JOB_IDLE);
        return false;
    }
    return true;
}
