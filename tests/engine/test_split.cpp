// Splitting a packed file into volumes, on real files.
#include <map>
#include <sstream>
#include <sys/stat.h>

#include "engine/format.h"
#include "engine/packedformat.h"
#include "engine/split.h"
#include "platform/paths.h"
#include "tests/engine/enginefixture.h"
#include "tests/engine/packhelpers.h"

using Split = EngineTest;

namespace {

std::string Header(int count)
{
    const auto bytes = MakePackedFileHeader(count);
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// The stream that a set holds: volume 0 without its header, then every other volume.
std::string JoinSet(const std::string& packedPath, int count)
{
    std::string stream = ReadFileBytes(packedPath).substr(PACKED_HEADER_SIZE);
    for (int i = 1; i < count; ++i)
        stream += ReadFileBytes(VolumePath(packedPath, i));
    return stream;
}

} // namespace

TEST_F(Split, VolumeSizesAndCountMatchTheFilesWritten)
{
    struct Row {
        std::int64_t stream;
        int volume;
        std::vector<std::size_t> sizes;
    };
    const Row rows[] = {
        {0, 1000, {16}},
        {100, 1000, {116}},
        {984, 1000, {1000}},           // S + 16 = V
        {990, 1000, {1006}},           // S mod V in (V - 16, V): the count is of the files
        {999, 1000, {1015}},           // written, not ceil((S + 16) / V)
        {1000, 1000, {1016, 0}},       // S = V: an empty last volume
        {1990, 1000, {1016, 990}},     // the same with two volumes
        {2000, 1000, {1016, 1000, 0}}, // S = 2V
        {25000, 10000, {10016, 10000, 5000}},
        {30000, 10000, {10016, 10000, 10000, 0}},
        {23456, 12345, {12361, 11111}}, // volumes that are not whole chunks
    };
    for (const Row& row : rows) {
        TempDir folder;
        const std::string packed = folder / "P.0KX";
        const std::string stream = MakeTestData(static_cast<std::size_t>(row.stream), false, 3);
        WriteFileBytes(packed, stream);
        const int count = static_cast<int>(row.sizes.size());
        EXPECT_TRUE(SplitPackedFile(packed, row.volume)) << row.stream;

        const std::string label = std::to_string(row.stream) + "/" + std::to_string(row.volume);
        const std::string volume0 = ReadFileBytes(packed);
        EXPECT_EQ(volume0.substr(0, 16), Header(count)) << label;
        std::string names;
        for (int i = 0; i < count; ++i) {
            const std::string path = VolumePath(packed, i);
            EXPECT_EQ(ReadFileBytes(path).size(), row.sizes[static_cast<std::size_t>(i)])
                << label << " volume " << i;
            names += (i ? " P." : "P.") + SplitPath(path).ext.substr(1);
        }
        EXPECT_EQ(ListFolder(folder.Path()), names) << label; // the temporary file is gone
        EXPECT_EQ(JoinSet(packed, count), stream) << label;
        EXPECT_EQ(VolumeCountFor(row.stream, row.volume), count) << label;
    }
    EXPECT_TRUE(host.BoxTexts().empty());
}

TEST_F(Split, VolumesTenAndOneHundredAreNamedByTheRule)
{
    const std::string packed = dir / "P.0KX";
    WriteFileBytes(packed, MakeTestData(1005, false));
    ASSERT_TRUE(SplitPackedFile(packed, 10));
    EXPECT_EQ(ReadFileBytes(dir / "P.10X").size(), 10u);
    EXPECT_EQ(ReadFileBytes(dir / "P.100").size(), 5u);
    EXPECT_EQ(ReadFileBytes(packed).substr(14, 2), std::string("\x65\x00", 2)); // 101 volumes
    EXPECT_FALSE(FileExists(dir / "P.101"));
}

TEST_F(Split, VolumesAreWrittenInThePackedFilesFolder)
{
    TempDir elsewhere;
    setenv("TMPDIR", elsewhere.Path().c_str(), 1);
    setenv("TMP", elsewhere.Path().c_str(), 1);
    WriteFileBytes(dir / "P.0KX", "stream");
    // While the volume is written, it is a temporary file beside the packed file.
    std::vector<std::string> during;
    host.WhenProgressMoves([&](int) { during.push_back(ListFolder(dir.Path())); });
    ASSERT_TRUE(SplitPackedFile(dir / "P.0KX", 1000));
    host.WhenProgressMoves(nullptr);
    unsetenv("TMPDIR");
    unsetenv("TMP");
    ASSERT_FALSE(during.empty());
    EXPECT_NE(during.front().find("tmp_"), std::string::npos) << during.front();
    EXPECT_EQ(ListFolder(dir.Path()).find("tmp_"), std::string::npos) << ListFolder(dir.Path());
    EXPECT_EQ(ListFolder(elsewhere.Path()), "");
    EXPECT_EQ(ReadFileBytes(dir / "P.0KX"), Header(1) + "stream");
}

TEST_F(Split, APackJobWithSplitLogsEveryVolumeAndKeepsTheStream)
{
    const std::string data = MakeTestData(3000, false, 11);
    WriteFileBytes(dir / "p.kmx", data);
    const std::string stream = ImplodeBytes(data);
    ASSERT_GT(stream.size(), 2000u);
    ASSERT_LT(stream.size(), 4000u);
    PackOutcome pack;
    ASSERT_EQ(PackAndWait(host, pack, dir / "p.kmx", 1, 2000), 1);

    char ratio[32];
    std::snprintf(ratio, sizeof ratio, "%0.2f", double(stream.size()) * 100.0 / 3000.0);
    EXPECT_EQ(host.LogText(),
              std::string(kPackStart) + "\r\n" +
                  "Original File size = 3000 bytes.\r\nCompressed size = " +
                  std::to_string(stream.size()) + " bytes ( " + ratio + ")" + "\r\n" + "\r\n" +
                  "\r\n **************     Splitting File     **************\r\n" + "\r\n" +
                  "Creating split file  " + (dir / "p.0KX") + "..." + "Done" + "\r\n" +
                  "Creating split file  " + (dir / "p.1KX") + "..." + "Done" + "\r\n" + kPackEnd);
    EXPECT_EQ(host.States(), (std::vector<long>{JOB_COMPRESSING, JOB_SPLITTING, JOB_IDLE}));
    EXPECT_EQ(host.Count(HostEvent::Done), 1);
    EXPECT_EQ(ListFolder(dir.Path()), "p.0KX p.1KX p.kmx");
    EXPECT_EQ(JoinSet(dir / "p.0KX", 2), stream);
    EXPECT_TRUE(pack.succeeded);
}

TEST_F(Split, DecliningAnExistingVolumeIsAskedBeforeAnythingIsWritten)
{
    const std::string data = MakeTestData(3000, false, 11);
    WriteFileBytes(dir / "p.kmx", data);
    WriteFileBytes(dir / "p.1KX", "from an earlier split");
    host.AnswerNextBoxes({IDCANCEL});
    PackOutcome pack;
    ASSERT_EQ(PackAndWait(host, pack, dir / "p.kmx", 1, 2000), 1);
    EXPECT_EQ(host.BoxTexts(),
              std::vector<std::string>{"File '" + (dir / "p.1KX") +
                                       "' already exists. Okay to overwrite this file?"});
    const std::string log = host.LogText();
    EXPECT_EQ(log.find("Creating split file"), std::string::npos) << log;
    EXPECT_NE(log.find(std::string(kAborted) +
                       "No volume of the new set was kept; the files that held the set's names are "
                       "as they were.\r\n" +
                       kPackEnd),
              std::string::npos)
        << log;
    EXPECT_EQ(ListFolder(dir.Path()), "p.1KX p.kmx");
    EXPECT_EQ(ReadFileBytes(dir / "p.kmx"), data);
    EXPECT_EQ(ReadFileBytes(dir / "p.1KX"), "from an earlier split");
    EXPECT_FALSE(pack.succeeded);
}

TEST_F(Split, AVolumeNameHeldByAFolderIsRefusedBeforeAnythingIsWritten)
{
    const std::string stream = MakeTestData(2500, false);
    WriteFileBytes(dir / "P.0KX", stream);
    ASSERT_EQ(mkdir((dir / "P.1KX").c_str(), 0755), 0);
    host.AnswerNextBoxes({IDOK});
    EXPECT_FALSE(SplitPackedFile(dir / "P.0KX", 1000));
    ASSERT_EQ(host.BoxTexts().size(), 2u);
    EXPECT_EQ(host.BoxTexts()[1],
              "Unable to open file '" + (dir / "P.1KX") + "' for writing, aborting...");
    EXPECT_EQ(ListFolder(dir.Path()), "P.0KX P.1KX");
    EXPECT_EQ(ReadFileBytes(dir / "P.0KX"), stream);
}

TEST_F(Split, AnIOErrorLeavesThePackedFileAsItWas)
{
    struct Row {
        const char* label;
        void (*arm)();
        const char* box;
    };
    const Row rows[] = {
        {"write of volume 1", [] { FailNthWrite(3); },
         "Disk Error - File Write Error"}, // header, vol 0, vol 1
        {"read of the stream", [] { FailReadsAfterBytes(1500); }, "Disk Error - File Read Error"},
    };
    for (const Row& row : rows) {
        TempDir folder;
        host.ClearEvents();
        const std::string stream = MakeTestData(2500, false);
        WriteFileBytes(folder / "P.0KX", stream);
        row.arm();
        EXPECT_FALSE(SplitPackedFile(folder / "P.0KX", 1000)) << row.label;
        DisarmFileFaults();
        EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{row.box}) << row.label;
        EXPECT_EQ(host.LogText(), "\r\nCreating split file  " + (folder / "P.0KX") + "...Done\r\n" +
                                      "Creating split file  " + (folder / "P.1KX") + "..." +
                                      "\r\nFile I/O error...aborting operation\r\n'" +
                                      (folder / "P.0KX") +
                                      "' was left as it was; no volume of a new set was kept.\r\n")
            << row.label;
        EXPECT_EQ(ListFolder(folder.Path()), "P.0KX") << row.label;
        EXPECT_EQ(ReadFileBytes(folder / "P.0KX"), stream) << row.label;
    }
}

TEST_F(Split, MoreThan32767VolumesAreRefusedBeforeAnythingMoves)
{
    const std::string stream = MakeTestData(40000, false);
    WriteFileBytes(dir / "P.0KX", stream);
    EXPECT_FALSE(SplitPackedFile(dir / "P.0KX", 1));
    ASSERT_EQ(host.BoxTexts().size(), 1u);
    EXPECT_EQ(host.BoxTexts()[0],
              "Splitting '" + (dir / "P.0KX") +
                  "' into volumes of 1 bytes would need 40001 "
                  "volumes; a set holds at most 32767. Choose a larger volume size.");
    EXPECT_EQ(ListFolder(dir.Path()), "P.0KX");
    EXPECT_EQ(ReadFileBytes(dir / "P.0KX"), stream);
    EXPECT_EQ(VolumeCountFor(32766, 1), 32767);
    EXPECT_EQ(VolumeCountFor(32767, 1), 32768);
}

TEST_F(Split, APackedFileThatCannotBeOpenedIsReported)
{
    EXPECT_FALSE(SplitPackedFile(dir / "P.0KX", 1000));
    EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{"Unable to open file '" + (dir / "P.0KX") +
                                                        "' for reading, aborting..."});
    EXPECT_EQ(ListFolder(dir.Path()), "");
}

namespace {

// Every file of the folder with its bytes.
std::map<std::string, std::string> Snapshot(const std::string& folder)
{
    std::map<std::string, std::string> files;
    std::istringstream names(ListFolder(folder));
    for (std::string name; names >> name;)
        files[name] = ReadFileBytes(folder + "/" + name);
    return files;
}

} // namespace

TEST_F(Split, APackOverAnOlderSetKeepsItWholeUntilTheNewSetIsComplete)
{
    // An older set of four volumes; the new pack also needs four (incompressible data).
    WriteFileBytes(dir / "p.kmx", MakeTestData(7000, false, 5));
    host.AnswerNextBoxes({});
    PackOutcome pack;
    ASSERT_EQ(PackAndWait(host, pack, dir / "p.kmx", 1, 2000), 1);
    ASSERT_TRUE(pack.succeeded);
    const std::map<std::string, std::string> older = Snapshot(dir.Path());
    ASSERT_EQ(older.size(), 5u) << ListFolder(dir.Path());
    const std::string data = MakeTestData(7000, false, 6);
    WriteFileBytes(dir / "p.kmx", data);
    std::map<std::string, std::string> before = older;
    before["p.kmx"] = data;
    const std::int64_t stream = static_cast<std::int64_t>(ImplodeBytes(data).size());

    struct Row {
        const char* label;
        std::initializer_list<int> answers; // p.0KX, then p.1KX to p.3KX
        void (*arm)(std::int64_t stream);
    };
    const Row rows[] = {
        {"No to volume 1", {IDOK, IDCANCEL}, [](std::int64_t) {}},
        {"No to volume 3", {IDOK, IDOK, IDOK, IDCANCEL}, [](std::int64_t) {}},
        {"disk full in volume 2",
         {IDOK, IDOK, IDOK, IDOK},
         [](std::int64_t s) {
             FailWritesAfterBytes(static_cast<std::uint64_t>(s + 16 + 4000 + 700));
         }},
        {"read error in volume 1",
         {IDOK, IDOK, IDOK, IDOK},
         [](std::int64_t s) {
             FailReadsAfterBytes(static_cast<std::uint64_t>(7000 + 2500 + 0 * s));
         }},
    };
    for (const Row& row : rows) {
        host.ClearEvents();
        host.AnswerNextBoxes(row.answers);
        row.arm(stream);
        ASSERT_EQ(PackAndWait(host, pack, dir / "p.kmx", 1, 2000), 1) << row.label;
        DisarmFileFaults();
        EXPECT_FALSE(pack.succeeded) << row.label;
        EXPECT_EQ(Snapshot(dir.Path()), before) << row.label << ": " << ListFolder(dir.Path());
        EXPECT_NE(host.LogText().find("No volume of the new set was kept; the files that held the "
                                      "set's names are as they were.\r\n"),
                  std::string::npos)
            << row.label << host.LogText();
    }

    // Asked again, in a process that has unpacked before (the questions once removed the
    // older volume 0 at once then).
    host.ClearEvents();
    host.AnswerNextBoxes({IDOK, IDCANCEL});
    ASSERT_EQ(PackAndWait(host, pack, dir / "p.kmx", 1, 2000), 1);
    EXPECT_FALSE(pack.succeeded);
    EXPECT_EQ(Snapshot(dir.Path()), before) << "after an unpack: " << ListFolder(dir.Path());

    // The same pack without a fault replaces the older set whole.
    host.ClearEvents();
    host.AnswerNextBoxes({IDOK, IDOK, IDOK, IDOK});
    ASSERT_EQ(PackAndWait(host, pack, dir / "p.kmx", 1, 2000), 1);
    EXPECT_TRUE(pack.succeeded);
    EXPECT_EQ(ListFolder(dir.Path()), "p.0KX p.1KX p.2KX p.3KX p.kmx");
    EXPECT_EQ(JoinSet(dir / "p.0KX", 4), ImplodeBytes(data));
}

TEST_F(Split, TheVolumesOfTheReplacedSetBeyondTheNewCountAreRemoved)
{
    WriteFileBytes(dir / "p.kmx", MakeTestData(7000, false, 5));
    ASSERT_EQ(PackAndWait(host, dir / "p.kmx", 1, 2000), 1);
    ASSERT_EQ(ListFolder(dir.Path()), "p.0KX p.1KX p.2KX p.3KX p.kmx");
    const std::string data = MakeTestData(3000, false, 6);
    WriteFileBytes(dir / "p.kmx", data);
    WriteFileBytes(dir / "p.7KX", "not of the older set: its header counts four volumes");

    host.ClearEvents();
    host.AnswerNextBoxes({IDOK, IDOK});
    PackOutcome pack;
    ASSERT_EQ(PackAndWait(host, pack, dir / "p.kmx", 1, 2000), 1);
    EXPECT_TRUE(pack.succeeded);
    EXPECT_EQ(ListFolder(dir.Path()), "p.0KX p.1KX p.7KX p.kmx");
    EXPECT_EQ(JoinSet(dir / "p.0KX", 2), ImplodeBytes(data));
    for (const char* gone : {"p.2KX", "p.3KX"})
        EXPECT_NE(host.LogText().find("Removed '" + (dir / gone) +
                                      "': a volume of the set this one replaced.\r\n"),
                  std::string::npos)
            << gone << host.LogText();
}

TEST_F(Split, APackThatWouldNeedTooManyVolumesLeavesNoPackedFile)
{
    WriteFileBytes(dir / "p.kmx", MakeTestData(40000, false));
    WriteFileBytes(dir / "p.0KX", "an older packed file");
    host.AnswerNextBoxes({IDOK});
    PackOutcome pack;
    ASSERT_EQ(PackAndWait(host, pack, dir / "p.kmx", 1, 1), 1);
    EXPECT_FALSE(pack.succeeded);
    ASSERT_EQ(host.BoxTexts().size(), 2u);
    EXPECT_NE(host.BoxTexts()[1].find("a set holds at most 32767"), std::string::npos)
        << host.BoxTexts()[1];
    EXPECT_EQ(ListFolder(dir.Path()), "p.0KX p.kmx");
    EXPECT_EQ(ReadFileBytes(dir / "p.0KX"), "an older packed file");
}

TEST_F(Split, AnOlderSetIsAskedAboutOnceWithYesToAll)
{
    // A pack over an older set used to ask once for every volume: 120 questions for a set of
    // floppies. The question about the packed file offers "Yes to all" for the volumes there;
    // OK there asks once more, at the first volume, offering it for the rest.
    WriteFileBytes(dir / "p.kmx", MakeTestData(7000, false, 5));
    ASSERT_EQ(PackAndWait(host, dir / "p.kmx", 1, 2000), 1);
    ASSERT_EQ(ListFolder(dir.Path()), "p.0KX p.1KX p.2KX p.3KX p.kmx");
    const std::string data = MakeTestData(7000, false, 6);
    WriteFileBytes(dir / "p.kmx", data);
    const std::string more =
        "\n\nMore files of this set are already there (%ld). Yes to all replaces "
        "them too, without asking again.";
    auto question = [&](const char* name, long others) {
        std::string text =
            "File '" + (dir / name) + "' already exists. Okay to overwrite this file?";
        return others > 0 ? text + FormatText(more.c_str(), others) : text;
    };
    struct Row {
        const char* label;
        std::initializer_list<int> answers;
        std::vector<std::string> asked;
    };
    const Row rows[] = {
        {"Yes to all at the packed file", {IDYESTOALL}, {question("p.0KX", 3)}},
        {"OK, then Yes to all at volume 1",
         {IDOK, IDYESTOALL},
         {question("p.0KX", 3), question("p.1KX", 2)}},
    };
    for (const Row& row : rows) {
        host.ClearEvents();
        host.AnswerNextBoxes(row.answers);
        PackOutcome pack;
        ASSERT_EQ(PackAndWait(host, pack, dir / "p.kmx", 1, 2000), 1) << row.label;
        EXPECT_TRUE(pack.succeeded) << row.label << host.LogText();
        EXPECT_EQ(host.BoxTexts(), row.asked) << row.label;
        for (const HostEvent& event : host.Events()) {
            if (event.kind == HostEvent::MessageBox) {
                EXPECT_EQ(event.value, long(MB_OKCANCEL | MB_ICONEXCLAMATION | MB_YESTOALL))
                    << row.label;
            }
        }
        EXPECT_EQ(host.UnscriptedBoxes(), 0) << row.label;
        EXPECT_EQ(ListFolder(dir.Path()), "p.0KX p.1KX p.2KX p.3KX p.kmx") << row.label;
        EXPECT_EQ(JoinSet(dir / "p.0KX", 4), ImplodeBytes(data)) << row.label;
    }

    // A whole pack offers no Yes to all: it takes only its own name.
    host.ClearEvents();
    host.AnswerNextBoxes({IDOK});
    ASSERT_EQ(PackAndWait(host, dir / "p.kmx"), 1);
    EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{question("p.0KX", 0)});
}
