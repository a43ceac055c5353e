// The job context: reporting, the job state, CheckStream and the overwrite check.
#include <cstdio>
#include <sys/stat.h>

#include "resources/textids.h"
#include "tests/engine/enginefixture.h"

using JobContext = EngineTest;

TEST_F(JobContext, AppendStatusSkipsEmptyTextsAndShowsTheRest)
{
    AppendStatus("");
    AppendStatusId(12345); // no such text: empty
    EXPECT_EQ(host.Count(HostEvent::Log), 0);
    AppendStatus("abc\r\n");
    AppendStatusId(1218);
    EXPECT_EQ(host.Count(HostEvent::Log), 2);
    EXPECT_EQ(host.LogText(), "abc\r\nDone");

    host.SetHasStatusLog(false); // no log: nothing shown, nothing reported
    AppendStatus("lost");
    EXPECT_EQ(host.LogText(), "abc\r\nDone");
}

TEST_F(JobContext, SetJobStateShowsTheStateTextAndStoresAnyValue)
{
    struct Row {
        int state;
        const char* pane;
    };
    const Row rows[] = {{1, "Compressing file..."},
                        {2, "Splitting file..."},
                        {3, "Decompressing file..."},
                        {4, "Joining file..."},
                        {5, ""},
                        {0, "Ready"}};
    for (const Row& row : rows) {
        host.ClearEvents();
        SetJobState(row.state);
        ASSERT_EQ(host.Count(HostEvent::Pane), 1);
        EXPECT_EQ(host.Events()[0].text, row.pane);
        EXPECT_EQ(g_nJobState, row.state);
    }
    SetLanguage(Language::Japanese);
    SetJobState(0);
    EXPECT_EQ(host.Events().back().text, "準備完了");
}

TEST_F(JobContext, EnableWhenIdle)
{
    struct Cmd : CommandUpdate {
        bool enabled = false;
        void Enable(bool e) override { enabled = e; }
    } cmd;
    g_nJobState = JOB_SPLITTING;
    EnableWhenIdle(cmd);
    EXPECT_FALSE(cmd.enabled);
    g_nJobState = JOB_IDLE;
    EnableWhenIdle(cmd);
    EXPECT_TRUE(cmd.enabled);
}

TEST_F(JobContext, CheckStreamFailsOnErrorsNotOnEndOfFile)
{
    WriteFileBytes(dir / "f", "ab");
    std::FILE* f = std::fopen((dir / "f").c_str(), "rb");
    char buf[8];
    EXPECT_EQ(std::fread(buf, 1, sizeof buf, f), 2u);
    ASSERT_TRUE(std::feof(f));
    EXPECT_EQ(CheckStream(f, 1220), 1);
    std::fclose(f);
    EXPECT_EQ(CheckStream(nullptr, -1), 0); // silent
    EXPECT_EQ(host.Count(HostEvent::MessageBox), 0);
    EXPECT_EQ(CheckStream(nullptr, 1221), 0);
    EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{"Disk Error - File Write Error"});
    EXPECT_EQ(host.Events().back().value, long(MB_OK | MB_ICONEXCLAMATION));
}

TEST_F(JobContext, CheckExistingFileAsksAndDeletesOnlyWithoutTheKeptExtension)
{
    const std::string path = dir / "p.0KX";
    EXPECT_TRUE(CheckExistingFile(path, path, "")); // missing: no question
    EXPECT_EQ(host.Count(HostEvent::MessageBox), 0);

    WriteFileBytes(path, "old");
    struct Row {
        const char* projectExt;
        int answer;
        int result;
        bool stays;
    };
    const Row rows[] = {
        {"", IDCANCEL, 0, true},
        {"", IDOK, 1, true}, // no extension to keep: left for the caller to write over
        {".KMX", IDCANCEL, 0, true},
        {".KMX", IDOK, 1, false}, // a path without the kept extension: deleted
    };
    for (const Row& row : rows) {
        WriteFileBytes(path, "old");
        host.ClearEvents();
        host.AnswerNextBoxes({row.answer});
        EXPECT_EQ(bool(CheckExistingFile(path, path, row.projectExt)), row.result != 0)
            << row.projectExt << row.answer;
        EXPECT_EQ(FileExists(path), row.stays) << row.projectExt << row.answer;
        ASSERT_EQ(host.BoxTexts().size(), 1u);
        EXPECT_EQ(host.BoxTexts()[0],
                  "File '" + path + "' already exists. Okay to overwrite this file?");
        EXPECT_EQ(host.Events()[0].value, long(MB_OKCANCEL | MB_ICONEXCLAMATION));
    }
    // A path that contains the kept extension is never deleted by the check.
    WriteFileBytes(dir / "r.KMX", "project");
    host.AnswerNextBoxes({IDOK});
    EXPECT_TRUE(CheckExistingFile(dir / "r.KMX", dir / "r.KMX", ".KMX"));
    EXPECT_TRUE(FileExists(dir / "r.KMX"));
}

TEST_F(JobContext, CheckExistingFileRefusesInvalidNamesAndUndeletableFiles)
{
    WriteFileBytes(dir / "plain", "x");
    const std::string invalid = dir / "plain/below.0KX";
    EXPECT_EQ(CheckExistingFile(invalid, invalid, ".KMX").refusal, CheckRefusal::ByProgram);
    EXPECT_EQ(host.BoxTexts(),
              std::vector<std::string>{"Cannot write '" + invalid + "': Not a directory"});

    // A non-empty folder under the packed name cannot be removed.
    host.ClearEvents();
    ASSERT_EQ(mkdir((dir / "d.0KX").c_str(), 0755), 0);
    WriteFileBytes(dir / "d.0KX/inside", "x");
    host.AnswerNextBoxes({IDOK});
    EXPECT_EQ(CheckExistingFile(dir / "d.0KX", dir / "d.0KX", ".KMX").refusal,
              CheckRefusal::ByProgram);
    ASSERT_EQ(host.BoxTexts().size(), 2u);
    EXPECT_EQ(host.BoxTexts()[1], "Error removing file '" + (dir / "d.0KX") +
                                      "', aborting...\nReason: Directory not empty");
    EXPECT_TRUE(FileExists(dir / "d.0KX/inside"));
}

TEST_F(JobContext, CheckExistingFileTakesWildcardsLiterally)
{
    WriteFileBytes(dir / "a1.0KX", "x");
    EXPECT_TRUE(CheckExistingFile(dir / "a?.0KX", dir / "a?.0KX", ".KMX"));
    EXPECT_TRUE(CheckExistingFile(dir / "*.0KX", dir / "*.0KX", ".KMX"));
    EXPECT_EQ(host.Count(HostEvent::MessageBox), 0);
}

TEST_F(JobContext, WithoutAHostJobsStillRunAndBoxesAnswerSafely)
{
    SetMainWindowHost(nullptr);
    AppendStatus("x");
    SetProgress(5);
    SendJobBusy();
    PostJobState(JOB_COMPRESSING);
    ReportJobEnded(JobKind::Pack, true, IDS_PACK_END);
    EXPECT_EQ(ShowMessageBoxOwnedByMain("q", MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(ShowMessageBoxOwnedByMain("i", MB_OK), IDOK);
    SetMainWindowHost(&host);
    EXPECT_TRUE(host.Events().empty());
}
