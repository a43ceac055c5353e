// The test job: its report in the outcome, and in the Status log when asked for.
#include <algorithm>
#include <cstdio>

#include "engine/format.h"
#include "engine/manifest.h"
#include "engine/sha256.h"
#include "engine/testjob.h"
#include "platform/strings.h"
#include "resources/textids.h"
#include "tests/engine/enginefixture.h"
#include "tests/engine/packhelpers.h"

namespace {

class TestJob : public EngineTest {
protected:
    TestOutcome Run(bool logReport = false)
    {
        CheckRequest request;
        request.packedPath = dir / "p.0KX";
        request.logReport = logReport;
        TestOutcome outcome;
        EXPECT_TRUE(StartTestJob(request, outcome));
        host.RunUntilJobEnds();
        return outcome;
    }

    const std::string data = MakeTestData(20000, false);
};

std::string Sha256Hex(const std::string& bytes)
{
    Sha256 digest;
    digest.Update(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    return digest.FinalHex();
}

std::string Warning(const std::string& text)
{
    return FormatText(LoadString(IDS_CLI_WARNING).c_str(), text.c_str());
}

} // namespace

TEST_F(TestJob, TheOutcomeHoldsTheReportAndItsVerdict)
{
    const std::string foreign = "written by hand\n";
    struct Row {
        const char* label;
        std::string packed;   // the bytes of p.0KX
        std::string manifest; // p.sha256 beside it, or nothing
        bool ours;            // write our own manifest of the sound packed bytes
        bool sound;
        std::size_t manifestLines;
        bool foreignWarning;
    };
    const std::string stream = ImplodeBytes(data);
    const Row rows[] = {
        {"sound, no manifest", stream, "", false, true, 0, false},
        {"sound, a manifest not ours", stream, foreign, false, true, 0, true},
        {"sound, our manifest", stream, "", true, true, 1, false},
        {"cut short", stream.substr(0, stream.size() / 2), "", false, false, 0, false},
    };
    for (const Row& row : rows) {
        for (const char* name : {"p.0KX", "p.sha256"})
            std::remove((dir / name).c_str());
        WriteFileBytes(dir / "p.0KX", row.packed);
        if (!row.manifest.empty())
            WriteFileBytes(dir / "p.sha256", row.manifest);
        if (row.ours) {
            ASSERT_TRUE(WriteManifest(dir / "p.sha256", {{Sha256Hex(data), "p.kmx"},
                                                         {DigestOfFile(dir / "p.0KX"), "p.0KX"}}))
                << row.label;
        }
        const TestOutcome outcome = Run();
        EXPECT_TRUE(outcome.started) << row.label;
        EXPECT_EQ(outcome.sound, row.sound) << row.label;
        EXPECT_EQ(outcome.streamSound, row.sound) << row.label;
        EXPECT_FALSE(outcome.cancelled) << row.label;
        EXPECT_EQ(outcome.manifestLines.size(), row.manifestLines) << row.label;
        EXPECT_EQ(outcome.warnings.size(), row.foreignWarning ? 1U : 0U) << row.label;
        EXPECT_FALSE(outcome.verdict.empty()) << row.label;
        if (!row.manifest.empty()) {
            EXPECT_EQ(ReadFileBytes(dir / "p.sha256"), row.manifest) << row.label; // left alone
        }
    }
    // The console shows nothing of the report through the log: it prints the outcome itself.
    EXPECT_EQ(host.LogText(), "");
}

TEST_F(TestJob, AManifestThatNoLongerMatchesFailsASoundStream)
{
    WriteFileBytes(dir / "p.0KX", ImplodeBytes(data));
    ASSERT_TRUE(WriteManifest(dir / "p.sha256", {{Sha256Hex(data + "x"), "p.kmx"},
                                                 {DigestOfFile(dir / "p.0KX"), "p.0KX"}}));
    const TestOutcome outcome = Run();
    EXPECT_TRUE(outcome.streamSound);
    EXPECT_FALSE(outcome.sound);
    EXPECT_EQ(outcome.manifestLines,
              std::vector<std::string>{FormatText(
                  LoadString(IDS_CLI_TEST_RESTORED_MISMATCH).c_str(), (dir / "p.sha256").c_str())});
}

// The window's log: its start line, then after the decoding the manifest's warning, the check's
// warnings, the verdict and the findings, in that order (the console's order).
TEST_F(TestJob, TheLogGetsTheReportAfterTheDecoding)
{
    WriteFileBytes(dir / "p.0KX", ImplodeBytes(data) + "tail");
    WriteFileBytes(dir / "p.sha256", "written by hand\n");
    const TestOutcome outcome = Run(true);
    ASSERT_EQ(outcome.warnings.size(), 2U);
    EXPECT_EQ(outcome.warnings[1], Warning(LoadString(IDS_CHECK_TRAILING_DATA)));
    EXPECT_EQ(host.LogText(), LoadString(IDS_TEST_START) + "\r\n" + outcome.warnings[0] + "\r\n" +
                                  outcome.warnings[1] + "\r\n" + outcome.verdict + "\r\n");
    // The decoding ran between the start line and the report.
    const auto& events = host.Events();
    const auto firstProgress = std::find_if(events.begin(), events.end(), [](const HostEvent& e) {
        return e.kind == HostEvent::Progress;
    });
    ASSERT_NE(firstProgress, events.end());
    EXPECT_EQ(std::count_if(events.begin(), firstProgress,
                            [](const HostEvent& e) { return e.kind == HostEvent::Log; }),
              1);
    EXPECT_EQ(host.States().back(), JOB_IDLE);
    EXPECT_EQ(host.Count(HostEvent::Done), 1);
}

TEST_F(TestJob, ACancelLogsThatTheTestWasCancelledInsteadOfAVerdict)
{
    WriteFileBytes(dir / "p.0KX", ImplodeBytes(data));
    RequestCancel();
    const TestOutcome outcome = Run(true);
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_FALSE(outcome.streamSound);
    EXPECT_EQ(host.LogText(), LoadString(IDS_TEST_START) + "\r\n" + LoadString(IDS_JOB_CANCELLED));
}
