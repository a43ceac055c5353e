#include "engine/testjob.h"

#include "engine/format.h"
#include "engine/jobcontext.h"
#include "engine/manifest.h"
#include "engine/recovery.h"
#include "platform/files.h"
#include "platform/mainwindow.h"
#include "platform/strings.h"
#include "platform/thread.h"
#include "resources/textids.h"

namespace {

std::string WarningLine(const std::string& warning)
{
    return FormatText(LoadString(IDS_CLI_WARNING).c_str(), warning.c_str());
}

void LogLine(const std::string& text)
{
    AppendStatus(text + "\r\n");
}

void LogReport(const TestOutcome& outcome)
{
    AppendStatus("\r\n");
    if (outcome.cancelled) {
        AppendStatusId(IDS_JOB_CANCELLED);
        return;
    }
    for (const std::string& line : outcome.warnings)
        LogLine(line);
    LogLine(outcome.verdict);
    for (const std::string& line : outcome.manifestLines)
        LogLine(line);
    for (const std::string& line : outcome.recoveryLines)
        LogLine(line);
}

void TestWorker(CheckRequest request, TestOutcome& outcome)
{
    // The decoded bytes are checked only against a manifest of ours; any other file of that
    // name is left alone, with a warning.
    const ManifestCheck manifest = ExamineManifest(request.packedPath);
    const bool hasManifest = manifest.kind == ManifestCheck::Ours;
    request.restoredDigest = hasManifest;
    if (!manifest.strWarning.empty())
        outcome.warnings.push_back(WarningLine(manifest.strWarning));
    // Recovery files know each file of the set by its checksum: what they find damaged needs
    // no decoding (nor a question for a missing volume), and what they can rebuild is said.
    RecoveryWorkFolder recovery;
    const RecoveryExamination examination =
        recovery.Examine(request.packedPath, request.volumeSearchDirs);
    if (examination.Damaged()) {
        outcome.cancelled = CancelRequested();
        for (const std::string& line : DescribeDamage(examination))
            outcome.warnings.push_back(WarningLine(line));
        outcome.verdict = DescribeRecoveryVerdict(examination, request.packedPath);
        outcome.repairable = examination.kind == RecoveryExamination::Repairable;
        outcome.report.verdict = PackedFileReport::Damaged;
    } else {
        const PackedFileReport report = CheckPackedFile(request);
        // A read that failed on purpose makes the verdict blame the file.
        outcome.cancelled = CancelRequested() || examination.kind == RecoveryExamination::Cancelled;
        for (const std::string& warning : report.warnings)
            outcome.warnings.push_back(WarningLine(warning));
        outcome.verdict = DescribeVerdict(report, request.packedPath);
        if (examination.kind == RecoveryExamination::Sound)
            outcome.recoveryLines.push_back(FormatText(LoadString(IDS_RECOVERY_ALL_MATCH).c_str(),
                                                       examination.recoveryFile.c_str()));
        else if (report.verdict != PackedFileReport::Sound &&
                 !DescribeUnusedRecovery(examination).empty())
            outcome.warnings.push_back(WarningLine(DescribeUnusedRecovery(examination)));
        bool manifestMatches = true;
        if (hasManifest) {
            ManifestFindings findings = CheckAgainstManifest(report, manifest);
            outcome.manifestLines = std::move(findings.lines);
            manifestMatches = findings.bMatches;
        }
        outcome.streamSound = report.verdict == PackedFileReport::Sound;
        outcome.sound = outcome.streamSound && manifestMatches;
        outcome.manifestVouched = hasManifest && manifestMatches && outcome.streamSound;
        outcome.report = report;
    }
    if (request.logReport)
        LogReport(outcome);
    SendJobBusyEnded();
    PostJobState(JOB_IDLE);
    ReportJobEnded(JobKind::Test, outcome.sound && !outcome.cancelled);
}

} // namespace

bool StartTestJob(const CheckRequest& request, TestOutcome& outcome)
{
    // Cleared field by field: a test run again starts from nothing.
    outcome.started = false;
    outcome.warnings.clear();
    outcome.verdict.clear();
    outcome.manifestLines.clear();
    outcome.recoveryLines.clear();
    outcome.repairable = false;
    outcome.streamSound = false;
    outcome.sound = false;
    outcome.cancelled = false;
    outcome.report = PackedFileReport();
    outcome.manifestVouched = false;
    if (request.logReport)
        AppendStatusId(IDS_TEST_START);
    SendJobState(JOB_DECOMPRESSING);
    TestOutcome* result = &outcome;
    outcome.started = true;
    if (!StartWorkerThread([request, result] { TestWorker(request, *result); })) {
        outcome.started = false;
        SendJobState(JOB_IDLE);
        return false;
    }
    return true;
}
