// The pack job on real files, through the test host.
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/codecwork.h"
#include "tests/engine/enginefixture.h"
#include "tests/engine/packhelpers.h"

using PackJob = EngineTest;

namespace {

std::string SizeReport(std::size_t original, std::size_t packed)
{
    char ratio[32];
    std::snprintf(ratio, sizeof ratio, "%0.2f",
                  original ? double(packed) * 100.0 / double(original) : 0.0);
    return "Original File size = " + std::to_string(original) +
           " bytes.\r\nCompressed size = " + std::to_string(packed) + " bytes ( " + ratio + ")";
}

std::string OverwriteQuestion(const std::string& path)
{
    return "File '" + path + "' already exists. Okay to overwrite this file?";
}

} // namespace

TEST_F(PackJob, SuccessfulPackWritesTheStreamAndLogsExactly)
{
    const std::string data = MakeTestData(400, true);
    WriteFileBytes(dir / "p.kmx", data);
    PackOutcome pack;
    ASSERT_EQ(PackAndWait(host, pack, dir / "p.kmx"), 1);

    const std::string packed = ReadFileBytes(dir / "p.0KX");
    EXPECT_EQ(packed, ImplodeBytes(data));
    EXPECT_EQ(ReadFileBytes(dir / "p.kmx"), data);
    EXPECT_EQ(ListFolder(dir.Path()), "p.0KX p.kmx"); // no temporary file left
    EXPECT_EQ(host.LogText(), std::string(kPackStart) + "\r\n" + SizeReport(400, packed.size()) +
                                  "\r\n" + kPackEnd);
    EXPECT_TRUE(host.BoxTexts().empty());
    EXPECT_TRUE(pack.succeeded);
    EXPECT_EQ(pack.packedPath, dir / "p.0KX");
}

TEST_F(PackJob, PackedNameIsTheProjectNameWithZeroKX)
{
    struct Row {
        const char* project;
        const char* packed;
    };
    const Row rows[] = {{"name.kmx", "name.0KX"},
                        {"noext", "noext.0KX"},
                        {"a.b.KMX", "a.b.0KX"},
                        {"odd*?.kmx", "odd*?.0KX"}};
    for (const Row& row : rows) {
        WriteFileBytes(dir / row.project, "data");
        ASSERT_EQ(PackAndWait(host, dir / row.project), 1) << row.project;
        EXPECT_TRUE(FileExists(dir / row.packed)) << row.project;
    }
    EXPECT_TRUE(host.BoxTexts().empty()); // "odd*?" is no pattern matching the other files
}

TEST_F(PackJob, StatesInOrderAndDoneOnceAfterTheLastRead)
{
    WriteFileBytes(dir / "p.kmx", MakeTestData(100000, false));
    ASSERT_EQ(PackAndWait(host, dir / "p.kmx"), 1);
    EXPECT_EQ(host.States(), (std::vector<long>{JOB_COMPRESSING, JOB_IDLE}));
    EXPECT_EQ(host.Count(HostEvent::Done), 1);

    const auto& events = host.Events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front().kind, HostEvent::JobState);
    int lastBusy = -1, done = -1, idle = -1;
    for (int i = 0; i < static_cast<int>(events.size()); ++i) {
        if (events[i].kind == HostEvent::Busy)
            lastBusy = i;
        if (events[i].kind == HostEvent::Done)
            done = i;
        if (events[i].kind == HostEvent::JobState && events[i].value == JOB_IDLE)
            idle = i;
    }
    EXPECT_LT(lastBusy, done);
    EXPECT_LT(done, idle);
    EXPECT_EQ(events.back().kind, HostEvent::Log);
    EXPECT_EQ(events.back().text, kPackEnd);
    EXPECT_EQ(g_nJobState, JOB_IDLE);
}

TEST_F(PackJob, ProgressRisesToOneHundredOnAMultiBlockFile)
{
    WriteFileBytes(dir / "p.kmx", MakeTestData(50000, true)); // 13 blocks of 4096 bytes
    ASSERT_EQ(PackAndWait(host, dir / "p.kmx"), 1);
    std::vector<long> progress;
    for (const HostEvent& e : host.Events())
        if (e.kind == HostEvent::Progress)
            progress.push_back(e.value);
    // One position for each of the 13 reads that move the bar (4096 of 50000 bytes is 8 %).
    EXPECT_EQ(progress, (std::vector<long>{8, 16, 24, 32, 40, 49, 57, 65, 73, 81, 90, 98, 100}));
    EXPECT_EQ(host.Count(HostEvent::Busy), static_cast<int>(progress.size()));
}

TEST_F(PackJob, EmptyProjectGivesTheShortestStreamAndAZeroRatio)
{
    WriteFileBytes(dir / "e.kmx", "");
    ASSERT_EQ(PackAndWait(host, dir / "e.kmx"), 1);
    const std::string packed = ReadFileBytes(dir / "e.0KX");
    EXPECT_EQ(packed.size(), 4u);
    EXPECT_EQ(packed, ImplodeBytes(""));
    EXPECT_EQ(host.LogText(),
              std::string(kPackStart) + "\r\n" +
                  "Original File size = 0 bytes.\r\nCompressed size = 4 bytes ( 0.00)" + "\r\n" +
                  kPackEnd);
    for (const HostEvent& e : host.Events()) {
        if (e.kind == HostEvent::Progress) {
            EXPECT_EQ(e.value, 0);
        }
    }
}

TEST_F(PackJob, ExistingPackedFileIsAskedAboutOnce)
{
    // The question used to be asked by the start of the job and again by its worker.
    const std::string data = MakeTestData(3000, true);
    WriteFileBytes(dir / "p.kmx", data);
    WriteFileBytes(dir / "p.0KX", "old packed file");
    host.AnswerNextBoxes({IDOK});
    ASSERT_EQ(PackAndWait(host, dir / "p.kmx"), 1);
    EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{OverwriteQuestion(dir / "p.0KX")});
    EXPECT_EQ(ReadFileBytes(dir / "p.0KX"), ImplodeBytes(data));
    EXPECT_EQ(host.UnscriptedBoxes(), 0);
}

TEST_F(PackJob, DecliningTheQuestionEndsTheJobCleanly)
{
    WriteFileBytes(dir / "p.kmx", "data");
    WriteFileBytes(dir / "p.0KX", "old");
    host.AnswerNextBoxes({IDCANCEL});
    PackOutcome pack;
    ASSERT_EQ(PackAndWait(host, pack, dir / "p.kmx"), 1);
    EXPECT_EQ(host.BoxTexts().size(), 1u);
    EXPECT_EQ(host.LogText(), std::string(kPackStart) + kAborted + kPackEnd);
    EXPECT_EQ(host.States(), (std::vector<long>{JOB_COMPRESSING, JOB_IDLE}));
    EXPECT_EQ(host.Count(HostEvent::Done), 0); // no wait cursor was begun
    EXPECT_EQ(ReadFileBytes(dir / "p.0KX"), "old");
    EXPECT_FALSE(pack.succeeded);
    EXPECT_EQ(host.UnscriptedBoxes(), 0);
}

TEST_F(PackJob, AfterAnUnpackTheOldPackedFileStaysUntilTheNewOneReplacesIt)
{
    // After an unpack, an agreed overwrite used to delete the old packed file (or an older
    // set's volume 0) at the question, before anything new was written.
    const std::string data = MakeTestData(3000, true);
    WriteFileBytes(dir / "p.kmx", data);
    WriteFileBytes(dir / "p.0KX", "old");
    host.AnswerNextBoxes({IDOK});
    FailNthWrite(1);
    PackOutcome pack;
    ASSERT_EQ(PackAndWait(host, pack, dir / "p.kmx"), 1);
    DisarmFileFaults();
    EXPECT_EQ(ReadFileBytes(dir / "p.0KX"), "old");
    EXPECT_FALSE(pack.succeeded);

    host.ClearEvents();
    host.AnswerNextBoxes({IDOK});
    ASSERT_EQ(PackAndWait(host, dir / "p.kmx"), 1);
    EXPECT_EQ(ReadFileBytes(dir / "p.0KX"), ImplodeBytes(data));

    host.ClearEvents();
    host.AnswerNextBoxes({IDCANCEL});
    ASSERT_EQ(PackAndWait(host, dir / "p.kmx"), 1);
    EXPECT_EQ(ReadFileBytes(dir / "p.0KX"), ImplodeBytes(data));
}

TEST_F(PackJob, AWriteFailureRemovesThePackedFileAndLogsIt)
{
    struct Row {
        const char* label;
        void (*arm)();
    };
    const Row rows[] = {
        {"disk full after 3000 bytes", [] { FailWritesAfterBytes(3000); }},
        {"first write fails", [] { FailNthWrite(1); }},
        {"third write fails", [] { FailNthWrite(3); }},
    };
    WriteFileBytes(dir / "p.kmx", MakeTestData(200000, false)); // many 2048-byte writes
    for (const Row& row : rows) {
        host.ClearEvents();
        row.arm();
        PackOutcome pack;
        ASSERT_EQ(PackAndWait(host, pack, dir / "p.kmx"), 1) << row.label;
        DisarmFileFaults();
        EXPECT_EQ(host.LogText(), std::string(kPackStart) + "\r\n" + "\r\n" +
                                      "Disk Error - File Write Error" + "\r\n" + "Cannot write '" +
                                      (dir / "p.0KX") + "': No space left on device\r\n" +
                                      "File I/O error...aborting operation" + "\r\n" + kPackEnd)
            << row.label;
        EXPECT_TRUE(host.BoxTexts().empty()) << row.label;
        EXPECT_EQ(ListFolder(dir.Path()), "p.kmx") << row.label;
        EXPECT_EQ(host.Count(HostEvent::Done), 1) << row.label;
        EXPECT_FALSE(pack.succeeded) << row.label;
    }
}

TEST_F(PackJob, AReadErrorDuringCompressionIsReportedNotPackedAsSuccess)
{
    WriteFileBytes(dir / "p.kmx", MakeTestData(100000, true));
    const std::string failedLog = std::string(kPackStart) + "\r\n" + "\r\n" +
                                  "Disk Error - File Read Error" + "\r\n" + "Cannot read '" +
                                  (dir / "p.kmx") + "': Input/output error\r\n" +
                                  "File I/O error...aborting operation" + "\r\n" + kPackEnd;

    FailReadsAfterBytes(10000);
    PackOutcome pack;
    ASSERT_EQ(PackAndWait(host, pack, dir / "p.kmx"), 1);
    DisarmFileFaults();
    EXPECT_EQ(host.LogText(), failedLog);
    EXPECT_FALSE(FileExists(dir / "p.0KX"));
    EXPECT_FALSE(pack.succeeded);
}

TEST_F(PackJob, AProjectFileThatIsNoRegularFileIsRefusedBeforeAnythingIsAsked)
{
    // A folder, a FIFO (whose open would wait for a writer) and a device (endless data).
    ASSERT_EQ(mkdir((dir / "d.kmx").c_str(), 0755), 0);
    ASSERT_EQ(mkfifo((dir / "f.kmx").c_str(), 0644), 0);
    ASSERT_EQ(symlink("/dev/zero", (dir / "z.kmx").c_str()), 0);
    WriteFileBytes(dir / "d.0KX", "old");
    const struct {
        const char* name;
        const char* reason;
    } rows[] = {{"d.kmx", "it is a folder"},
                {"f.kmx", "it is a FIFO or a socket"},
                {"z.kmx", "it is a device"}};
    for (const auto& row : rows) {
        host.ClearEvents();
        EXPECT_EQ(PackAndWait(host, dir / row.name), 0) << row.name;
        EXPECT_EQ(host.BoxTexts(),
                  std::vector<std::string>{
                      "'" + (dir / row.name) + "' is not a regular file (" + row.reason +
                      "): project files and packed files must be regular files."})
            << row.name;
        EXPECT_EQ(host.LogText(), "") << row.name;
    }
    EXPECT_EQ(ListFolder(dir.Path()), "d.0KX d.kmx f.kmx z.kmx");
    EXPECT_EQ(ReadFileBytes(dir / "d.0KX"), "old");
}

TEST_F(PackJob, AProjectFileThatCannotBeOpenedLeavesNoPackedFile)
{
    ASSERT_EQ(PackAndWait(host, dir / "missing.kmx"), 1);
    EXPECT_EQ(host.BoxTexts(),
              std::vector<std::string>{"Disk Error - File Read Error\nCannot read '" +
                                       (dir / "missing.kmx") + "': No such file or directory"});
    EXPECT_EQ(host.LogText(), std::string(kPackStart) + kPackEnd);
    EXPECT_EQ(host.States(), (std::vector<long>{JOB_COMPRESSING, JOB_IDLE}));
    EXPECT_EQ(ListFolder(dir.Path()), "");
}

TEST_F(PackJob, APackedNameThatCannotBeReplacedFailsAndKeepsWhatWasThere)
{
    // A folder under the packed name, left in place by the question before any unpack: it is
    // named with the system's reason before anything is compressed.
    WriteFileBytes(dir / "p.kmx", "data");
    ASSERT_EQ(mkdir((dir / "p.0KX").c_str(), 0755), 0);
    WriteFileBytes(dir / "p.0KX/inside", "kept");
    host.AnswerNextBoxes({IDOK});
    PackOutcome pack;
    ASSERT_EQ(PackAndWait(host, pack, dir / "p.kmx"), 1);
    ASSERT_EQ(host.BoxTexts().size(), 2u);
    EXPECT_EQ(host.BoxTexts()[1], "Disk Error - File Write Error\nCannot write '" +
                                      (dir / "p.0KX") + "': Is a directory");
    EXPECT_EQ(host.LogText(), std::string(kPackStart) + kPackEnd);
    EXPECT_EQ(ListFolder(dir.Path()), "p.0KX p.kmx");
    EXPECT_EQ(ReadFileBytes(dir / "p.0KX/inside"), "kept");
    EXPECT_FALSE(pack.succeeded);
}

TEST_F(PackJob, AProjectFileThatIsItsOwnPackedFileIsRefused)
{
    WriteFileBytes(dir / "self.0KX", "precious");
    WriteFileBytes(dir / "target.0KX", "also precious");
    ASSERT_EQ(symlink("target.0KX", (dir / "target.kmx").c_str()), 0);
    for (const char* name : {"self.0KX", "target.kmx"}) {
        host.ClearEvents();
        EXPECT_EQ(PackAndWait(host, dir / name), 0) << name;
        ASSERT_EQ(host.BoxTexts().size(), 1u) << name;
        EXPECT_NE(host.BoxTexts()[0].find("would be its own packed file"), std::string::npos);
        EXPECT_NE(host.BoxTexts()[0].find(dir / name), std::string::npos);
    }
    EXPECT_EQ(ReadFileBytes(dir / "self.0KX"), "precious");
    EXPECT_EQ(ReadFileBytes(dir / "target.0KX"), "also precious");
    host.AnswerNextBoxes({IDOK});
    EXPECT_EQ(PackAndWait(host, dir / "self.0KX"), 0);
    EXPECT_EQ(ReadFileBytes(dir / "self.0KX"), "precious");
}

TEST_F(PackJob, TheSameFilePacksToTheSameBytesWhateverTheWorkAreaHeld)
{
    const std::string data = MakeTestData(70000, true, 7);
    WriteFileBytes(dir / "p.kmx", data);
    std::memset(JobCodecWorkArea().bytes, 0xA5, CODEC_WORK_SIZE); // what another job left
    ASSERT_EQ(PackAndWait(host, dir / "p.kmx"), 1);
    const std::string first = ReadFileBytes(dir / "p.0KX");
    std::memset(JobCodecWorkArea().bytes, 0x5A, CODEC_WORK_SIZE);
    host.AnswerNextBoxes({IDOK, IDOK});
    ASSERT_EQ(PackAndWait(host, dir / "p.kmx"), 1);
    EXPECT_EQ(ReadFileBytes(dir / "p.0KX"), first);
    EXPECT_EQ(first, ImplodeBytes(data));
}

TEST(SizeReport, SixtyFourBitSizesAndTheRatio)
{
    SetLanguage(Language::English);
    EXPECT_EQ(FormatSizeReport(400, 100),
              "Original File size = 400 bytes.\r\nCompressed size = 100 bytes ( 25.00)");
    EXPECT_EQ(
        FormatSizeReport(5368709120LL, 3221225472ULL),
        "Original File size = 5368709120 bytes.\r\nCompressed size = 3221225472 bytes ( 60.00)");
    EXPECT_EQ(FormatSizeReport(0, 4),
              "Original File size = 0 bytes.\r\nCompressed size = 4 bytes ( 0.00)");
    SetLanguage(Language::Japanese);
    EXPECT_EQ(FormatSizeReport(1000, 400),
              "ｵﾘｼﾞﾅﾙﾌｧｲﾙｻｲｽﾞ = 1000ﾊﾞｲﾄ.\r\n圧縮ﾌｧｲﾙｻｲｽﾞ = 400 ﾊﾞｲﾄ ( 40.00)");
    SetLanguage(Language::English);
}

TEST(CodecCallbacks, ExpandReadsStopAtTheBytesLeft)
{
    TempDir dir;
    WriteFileBytes(dir / "in", "0123456789");
    ExpandContext context;
    context.pIn = std::fopen((dir / "in").c_str(), "rb");
    context.nLeft = 6;
    context.nInTotal = 6;
    unsigned char buf[16];
    unsigned want = 4;
    EXPECT_EQ(ExpandRead(buf, &want, &context), 4u);
    want = 10;
    EXPECT_EQ(ExpandRead(buf, &want, &context), 2u);
    EXPECT_EQ(want, 2u); // the request is cut down and written back
    want = 10;
    EXPECT_EQ(ExpandRead(buf, &want, &context), 0u);
    EXPECT_EQ(context.nInRead, 6u);
    std::fclose(context.pIn);
}
