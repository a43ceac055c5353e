// Splitting a packed file into volumes, on real files.
#include <sys/stat.h>

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

TEST(PackedFormat, HeaderBytes)
{
    const std::string header = Header(3);
    EXPECT_EQ(header, std::string("#ZunPack1.0a#\0\x03\x00", 16));
    int count = 0;
    EXPECT_TRUE(ReadPackedFileHeader(reinterpret_cast<const unsigned char*>(header.data()), count));
    EXPECT_EQ(count, 3);
    EXPECT_EQ(Header(32767).substr(14), std::string("\xFF\x7F", 2));
    const unsigned char negative[16] = {'#', 'Z', 'u', 'n', 'P', 'a', 'c', 'k', '1', '.', '0',
                                        'a', '#', 0, 0x00, 0x80};
    EXPECT_TRUE(ReadPackedFileHeader(negative, count));
    EXPECT_EQ(count, -32768);
    const unsigned char noTerminator[16] = {'#', 'Z', 'u', 'n', 'P', 'a', 'c', 'k', '1', '.', '0',
                                            'a', '#', 'x', 1, 0};
    EXPECT_FALSE(ReadPackedFileHeader(noTerminator, count));
}

TEST(PackedFormat, VolumeNames)
{
    struct Row { int index; const char* ext; };
    const Row rows[] = {{0, ".0KX"}, {1, ".1KX"}, {9, ".9KX"}, {10, ".10X"}, {99, ".99X"},
                        {100, ".100"}, {999, ".999"}, {1000, ".1000"}, {32766, ".32766"}};
    for (const Row& row : rows)
        EXPECT_EQ(VolumeExtension(".0KX", row.index), row.ext) << row.index;
    EXPECT_EQ(VolumePath("/d/report.0KX", 10), "/d/report.10X");
    EXPECT_EQ(VolumePath("/d.x/report.0KX", 100), "/d.x/report.100");
}

TEST_F(Split, VolumeSizesAndCountMatchTheFilesWritten)
{
    struct Row { std::int64_t stream; int volume; std::vector<std::size_t> sizes; };
    const Row rows[] = {
        {0, 1000, {16}},
        {100, 1000, {116}},
        {984, 1000, {1000}},            // S + 16 = V
        {990, 1000, {1006}},            // S mod V in (V - 16, V): the count is of the files
        {999, 1000, {1015}},            // written, not ceil((S + 16) / V)
        {1000, 1000, {1016, 0}},        // S = V: an empty last volume
        {1990, 1000, {1016, 990}},      // the same with two volumes
        {2000, 1000, {1016, 1000, 0}},  // S = 2V
        {25000, 10000, {10016, 10000, 5000}},
        {30000, 10000, {10016, 10000, 10000, 0}},
        {23456, 12345, {12361, 11111}},  // volumes that are not whole chunks
    };
    for (const Row& row : rows) {
        TempDir folder;
        const std::string packed = folder / "P.0KX";
        const std::string stream = MakeTestData(static_cast<std::size_t>(row.stream), false, 3);
        WriteFileBytes(packed, stream);
        const int count = static_cast<int>(row.sizes.size());
        EXPECT_EQ(SplitPackedFile(packed, row.volume), 1) << row.stream;

        const std::string label = std::to_string(row.stream) + "/" + std::to_string(row.volume);
        const std::string volume0 = ReadFileBytes(packed);
        EXPECT_EQ(volume0.substr(0, 16), Header(count)) << label;
        std::string names;
        for (int i = 0; i < count; ++i) {
            const std::string path = VolumePath(packed, i);
            EXPECT_EQ(ReadFileBytes(path).size(), row.sizes[static_cast<std::size_t>(i)]) << label << " volume " << i;
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
    ASSERT_EQ(SplitPackedFile(packed, 10), 1);
    EXPECT_EQ(ReadFileBytes(dir / "P.10X").size(), 10u);
    EXPECT_EQ(ReadFileBytes(dir / "P.100").size(), 5u);
    EXPECT_EQ(ReadFileBytes(packed).substr(14, 2), std::string("\x65\x00", 2)); // 101 volumes
    EXPECT_FALSE(FileExists(dir / "P.101"));
}

TEST_F(Split, TheTemporaryFileLiesInThePackedFilesFolder)
{
    TempDir elsewhere;
    setenv("TMPDIR", elsewhere.Path().c_str(), 1);
    setenv("TMP", elsewhere.Path().c_str(), 1);
    WriteFileBytes(dir / "P.0KX", "stream");
    ASSERT_EQ(SplitPackedFile(dir / "P.0KX", 1000), 1);
    unsetenv("TMPDIR");
    unsetenv("TMP");
    ASSERT_EQ(g_fileNames.size(), 2u);
    EXPECT_EQ(g_fileNames[0].rfind(dir / "tmp_", 0), 0u) << g_fileNames[0];
    EXPECT_EQ(g_fileNames[1], dir / "P.0KX");
    EXPECT_FALSE(FileExists(g_fileNames[0]));
}

TEST_F(Split, APackJobWithSplitLogsEveryVolumeAndKeepsTheStream)
{
    const std::string data = MakeTestData(3000, false, 11);
    WriteFileBytes(dir / "p.kmx", data);
    const std::string stream = ImplodeBytes(data);
    ASSERT_GT(stream.size(), 2000u);
    ASSERT_LT(stream.size(), 4000u);
    ASSERT_EQ(PackAndWait(host, dir / "p.kmx", 1, 2000), 1);

    char ratio[32];
    std::snprintf(ratio, sizeof ratio, "%0.2f", double(stream.size()) * 100.0 / 3000.0);
    EXPECT_EQ(host.LogText(),
              std::string(kPackStart) + "\r\n" + "Original File size = 3000 bytes.\r\nCompressed size = " +
                  std::to_string(stream.size()) + " bytes ( " + ratio + ")" + "\r\n" + "\r\n" +
                  "\r\n **************     Splitting File     **************\r\n" + "\r\n" +
                  "Creating split file  " + (dir / "p.0KX") + "..." + "Done" + "\r\n" +
                  "Creating split file  " + (dir / "p.1KX") + "..." + "Done" + "\r\n" + kPackEnd);
    EXPECT_EQ(host.States(), (std::vector<long>{JOB_COMPRESSING, JOB_SPLITTING, JOB_IDLE}));
    EXPECT_EQ(host.Count(HostEvent::Done), 1);
    EXPECT_EQ(ListFolder(dir.Path()), "p.0KX p.1KX p.kmx");
    EXPECT_EQ(JoinSet(dir / "p.0KX", 2), stream);
    EXPECT_EQ(g_bPackSucceeded, 1);
}

TEST_F(Split, DecliningAnExistingVolumeRemovesEverythingOfThisSplit)
{
    const std::string data = MakeTestData(3000, false, 11);
    WriteFileBytes(dir / "p.kmx", data);
    WriteFileBytes(dir / "p.1KX", "from an earlier split");
    host.AnswerNextBoxes({IDCANCEL});
    ASSERT_EQ(PackAndWait(host, dir / "p.kmx", 1, 2000), 1);
    EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{"File '" + (dir / "p.1KX") +
                                                        "' already exists. Okay to overwrite this file?"});
    const std::string log = host.LogText();
    EXPECT_NE(log.find("p.0KX...Done\r\n" + std::string(kAborted) + kPackEnd), std::string::npos) << log;
    EXPECT_EQ(ListFolder(dir.Path()), "p.1KX p.kmx");
    EXPECT_EQ(ReadFileBytes(dir / "p.kmx"), data);
    EXPECT_EQ(ReadFileBytes(dir / "p.1KX"), "from an earlier split");
    EXPECT_EQ(g_bPackSucceeded, 0);
}

TEST_F(Split, AVolumeThatCannotBeCreatedLeavesNoSet)
{
    // A folder holds the name of volume 1: the user agrees, but it cannot be opened as a file.
    WriteFileBytes(dir / "P.0KX", MakeTestData(2500, false));
    ASSERT_EQ(mkdir((dir / "P.1KX").c_str(), 0755), 0);
    host.AnswerNextBoxes({IDOK});
    EXPECT_EQ(SplitPackedFile(dir / "P.0KX", 1000), 0);
    ASSERT_EQ(host.BoxTexts().size(), 2u);
    EXPECT_EQ(host.BoxTexts()[1], "Unable to open file '" + (dir / "P.1KX") + "' for writing, aborting...");
    EXPECT_EQ(ListFolder(dir.Path()), "P.1KX"); // volume 0 and the temporary file removed
}

TEST_F(Split, AnIOErrorRemovesEveryFileOfTheSplit)
{
    struct Row { const char* label; void (*arm)(); const char* box; };
    const Row rows[] = {
        {"write of volume 1", [] { FailNthWrite(3); }, "Disk Error - File Write Error"}, // header, vol 0, vol 1
        {"read of the stream", [] { FailReadsAfterBytes(1500); }, "Disk Error - File Read Error"},
    };
    for (const Row& row : rows) {
        TempDir folder;
        host.ClearEvents();
        WriteFileBytes(folder / "P.0KX", MakeTestData(2500, false));
        row.arm();
        EXPECT_EQ(SplitPackedFile(folder / "P.0KX", 1000), 0) << row.label;
        DisarmFileFaults();
        EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{row.box}) << row.label;
        EXPECT_EQ(host.LogText(), "\r\nCreating split file  " + (folder / "P.0KX") + "...Done\r\n" +
                                      "Creating split file  " + (folder / "P.1KX") + "..." +
                                      "\r\nFile I/O error...aborting operation\r\n")
            << row.label;
        EXPECT_EQ(ListFolder(folder.Path()), "") << row.label;
    }
}

TEST_F(Split, MoreThan32767VolumesAreRefusedBeforeAnythingMoves)
{
    const std::string stream = MakeTestData(40000, false);
    WriteFileBytes(dir / "P.0KX", stream);
    EXPECT_EQ(SplitPackedFile(dir / "P.0KX", 1), 0);
    ASSERT_EQ(host.BoxTexts().size(), 1u);
    EXPECT_EQ(host.BoxTexts()[0],
              "Splitting '" + (dir / "P.0KX") + "' into volumes of 1 bytes would need 40001 "
              "volumes; a set holds at most 32767. Choose a larger volume size.");
    EXPECT_EQ(ListFolder(dir.Path()), "P.0KX");
    EXPECT_EQ(ReadFileBytes(dir / "P.0KX"), stream);
    EXPECT_EQ(VolumeCountFor(32766, 1), 32767);
    EXPECT_EQ(VolumeCountFor(32767, 1), 32768);
}

TEST_F(Split, APackedFileThatCannotBeMovedStaysAndIsReported)
{
    EXPECT_EQ(SplitPackedFile(dir / "P.0KX", 1000), 0);
    EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{
                                   "Unable to open file '" + (dir / "P.0KX") + "' for reading, aborting..."});
    EXPECT_EQ(host.LogText(), "");
    EXPECT_EQ(ListFolder(dir.Path()), "");
}
