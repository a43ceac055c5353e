// The unpack job and the joining of volumes, on real files made by the real pack job, through
// the test host.
#include <algorithm>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "codec/codec.h"
#include "engine/join.h"
#include "engine/packedformat.h"
#include "engine/unpackjob.h"
#include "platform/paths.h"
#include "tests/engine/enginefixture.h"
#include "tests/engine/packhelpers.h"

namespace {

const char* kUnpackStart = "\r\n********** Starting Package Expansion  **********\r\n";
const char* kUnpackEnd = "\r\n ********* Package Expansion Complete *********\r\n";
const char* kMissing = "Unable to open/find a file in the package set... aborting operation";

// The line that names a volume nobody found, before kMissing.
std::string NotFound(const std::string& volume)
{
    return "The set's file '" + volume +
           "' was not found, and no file was chosen in its place.\r\n";
}
const char* kExpansionError = "Error during package expansion... aborting\r\n";

std::string SizeReport(std::size_t original, std::size_t packed)
{
    char ratio[32];
    std::snprintf(ratio, sizeof ratio, "%0.2f",
                  original ? double(packed) * 100.0 / double(original) : 0.0);
    return "Original File size = " + std::to_string(original) +
           " bytes.\r\nCompressed size = " + std::to_string(packed) + " bytes ( " + ratio + ")";
}

std::string Appending(const std::string& path)
{
    return "Appending file '" + path + "'...Done\r\n";
}

std::string InvalidFormat(const std::string& path)
{
    return "Invalid file format [" + path + "], aborting...";
}

std::string Header(int count)
{
    const auto bytes = MakePackedFileHeader(count);
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// Writes a split set of the stream by the format's rule: volume 0 = header + V bytes, ...
void WriteSet(const std::string& packedPath, const std::string& stream, std::size_t volumeSize)
{
    const std::size_t count = stream.size() / volumeSize + 1;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string part = stream.substr(std::min(stream.size(), i * volumeSize), volumeSize);
        WriteFileBytes(VolumePath(packedPath, static_cast<int>(i)),
                       i == 0 ? Header(static_cast<int>(count)) + part : part);
    }
}

class UnpackJob : public EngineTest {
protected:
    UnpackJob() : m_startFolder(CurrentDirectory()) {}
    ~UnpackJob() override
    {
        // Some tests move the current directory into the test's folder, which goes away.
        ChangeDirectory(m_startFolder);
    }

    // Unpacks packedPath as request asks; outcome tells how it went.
    void Unpack(const std::string& packedPath)
    {
        request.packedPath = packedPath;
        StartUnpackJob(request, outcome);
        host.RunUntilJobEnds();
    }

    std::string Sub(const std::string& name) const
    {
        const std::string path = dir / name;
        mkdir(path.c_str(), 0755);
        return path;
    }

    UnpackRequest request;
    UnpackOutcome outcome;

private:
    std::string m_startFolder;
};

} // namespace

TEST_F(UnpackJob, PackThenUnpackRestoresEveryFileByteForByte)
{
    struct Row {
        std::size_t size;
        bool text;
        int volumeSize;
        int expectedVolumes;
    };
    // expectedVolumes 0: a whole packed file. Sizes around the codec's blocks (4096 bytes of
    // input, 2048 of output) and the volume sizes; several MB at every disk size.
    const Row rows[] = {
        {0, true, 0, 0},
        {1, false, 0, 0},
        {4095, false, 0, 0},
        {4096, false, 0, 0},
        {4097, true, 0, 0},
        {8193, false, 0, 0},
        {0, true, 1440000, 1},
        {1, false, 360000, 1},
        {2048, false, 1000, 3},
        {5000, false, 3000, 2},
        {9000, false, 3000, 4},
        {30000, false, 2000, 17},
        {3000000, false, 1440000, 3},
        {3000000, false, 1200000, 3},
        {3000000, false, 720000, 5},
        {3000000, false, 360000, 10},
        {3000000, true, 0, 0},
    };
    int n = 0;
    for (const Row& row : rows) {
        const std::string folder = Sub("r" + std::to_string(n++));
        const std::string label =
            std::to_string(row.size) + " bytes, volumes of " + std::to_string(row.volumeSize);
        const std::string data = MakeTestData(row.size, row.text, static_cast<unsigned>(n));
        WriteFileBytes(folder + "/p.kmx", data);
        PackOutcome pack;
        ASSERT_EQ(PackAndWait(host, pack, folder + "/p.kmx", row.volumeSize > 0, row.volumeSize), 1)
            << label;
        ASSERT_TRUE(pack.succeeded) << label;
        if (row.expectedVolumes > 0) {
            EXPECT_TRUE(FileExists(VolumePath(folder + "/p.0KX", row.expectedVolumes - 1)))
                << label;
            EXPECT_FALSE(FileExists(VolumePath(folder + "/p.0KX", row.expectedVolumes))) << label;
        }

        host.ClearEvents();
        Unpack(folder + "/p.0KX");
        EXPECT_EQ(outcome.restored, 1) << label;
        EXPECT_TRUE(ReadFileBytes(folder + "/p.KMX") == data) << label;
        EXPECT_TRUE(host.BoxTexts().empty()) << label;
        EXPECT_EQ(host.States(), (std::vector<long>{JOB_JOINING, JOB_DECOMPRESSING, JOB_IDLE}))
            << label;
        // Nothing but the project file, its packed file or set and the restored file.
        std::vector<std::string> names = {"p.0KX", "p.KMX", "p.kmx"};
        for (int i = 1; i < row.expectedVolumes; ++i)
            names.push_back(VolumePath("p.0KX", i));
        std::sort(names.begin(), names.end());
        std::string expected;
        for (const std::string& name : names)
            expected += (expected.empty() ? "" : " ") + name;
        EXPECT_EQ(ListFolder(folder), expected) << label;
    }
}

TEST_F(UnpackJob, TwoVolumeUnpackLogsEachVolumeThenTheSizes)
{
    const std::string data = MakeTestData(5000, false);
    WriteFileBytes(dir / "p.kmx", data);
    ASSERT_EQ(PackAndWait(host, dir / "p.kmx", 1, 4000), 1);
    const std::size_t streamSize =
        ReadFileBytes(dir / "p.0KX").size() - 16 + ReadFileBytes(dir / "p.1KX").size();
    ASSERT_FALSE(FileExists(dir / "p.2KX"));

    host.ClearEvents();
    Unpack(dir / "p.0KX");
    // The project file p.kmx is still there: a different file from the restored p.KMX here,
    // which the log points out.
    EXPECT_EQ(host.LogText(), std::string(kUnpackStart) + Appending(dir / "p.0KX") +
                                  Appending(dir / "p.1KX") + "\r\n" + SizeReport(5000, streamSize) +
                                  "\r\nNote: '" + (dir / "p.kmx") +
                                  "' is there too, a different file whose "
                                  "name differs from '" +
                                  (dir / "p.KMX") + "' only in letter case." + "\r\n" + kUnpackEnd);
    std::vector<std::string> panes;
    for (const HostEvent& e : host.Events())
        if (e.kind == HostEvent::Pane)
            panes.push_back(e.text);
    EXPECT_EQ(panes,
              (std::vector<std::string>{"Joining file...", "Decompressing file...", "Ready"}));
    EXPECT_EQ(host.Count(HostEvent::Done), 1);
    EXPECT_EQ(g_nJobState, JOB_IDLE);
}

TEST_F(UnpackJob, SingleFileAndCountOneSetBothRestoreWithoutLeftovers)
{
    const std::string data = MakeTestData(3000, true);
    const std::string stream = ImplodeBytes(data);
    WriteFileBytes(dir / "single.0KX", stream);
    WriteFileBytes(dir / "set.0KX", Header(1) + stream);

    Unpack(dir / "single.0KX");
    EXPECT_EQ(host.LogText(), std::string(kUnpackStart) + "\r\n" + SizeReport(3000, stream.size()) +
                                  "\r\n" + kUnpackEnd);
    host.ClearEvents();
    Unpack(dir / "set.0KX");
    EXPECT_EQ(host.LogText(), std::string(kUnpackStart) + Appending(dir / "set.0KX") + "\r\n" +
                                  SizeReport(3000, stream.size()) + "\r\n" + kUnpackEnd);
    EXPECT_EQ(ReadFileBytes(dir / "single.KMX"), data);
    EXPECT_EQ(ReadFileBytes(dir / "set.KMX"), data);
    EXPECT_EQ(ListFolder(dir.Path()),
              "set.0KX set.KMX single.0KX single.KMX"); // no joined file left
}

TEST_F(UnpackJob, ProjectExtensionFollowsThePackedExtension)
{
    struct Row {
        const char* packed;
        const char* project;
    };
    const Row rows[] = {{"a.0RV", "a.RVN"}, {"b.0rv", "b.RVN"},    {"c.0Rv", "c.RVN"},
                        {"d.0KX", "d.KMX"}, {"e.0kx", "e.KMX"},    {"f.dat", "f.KMX"},
                        {"g", "g.KMX"},     {"h.x.0RV", "h.x.RVN"}};
    const std::string stream = ImplodeBytes("rows and columns");
    for (const Row& row : rows) {
        WriteFileBytes(dir / row.packed, stream);
        Unpack(dir / row.packed);
        EXPECT_EQ(ReadFileBytes(dir / row.project), "rows and columns") << row.packed;
    }
}

TEST_F(UnpackJob, ANameIsUsedAsGivenBlanksIncludedAndARelativeNameIsAccepted)
{
    // A blank is part of a name: " p.0KX" is another file than p.0KX. (The window trims what
    // was typed in its field before the job gets it.)
    const std::string stream = ImplodeBytes("typed by hand");
    const std::string folder = Sub("sub dir");
    WriteFileBytes(dir / "p.0KX", ImplodeBytes("the other file"));
    WriteFileBytes(dir / " p.0KX", stream);
    ASSERT_TRUE(ChangeDirectory(dir.Path()));
    Unpack(" p.0KX");
    EXPECT_EQ(ReadFileBytes(dir / " p.KMX"), "typed by hand");
    EXPECT_FALSE(FileExists(dir / "p.KMX"));
    EXPECT_TRUE(host.BoxTexts().empty());

    // Relative to the current directory, which the job leaves where it was.
    WriteFileBytes(folder + "/q.0KX", stream);
    Unpack("sub dir/q.0KX");
    EXPECT_EQ(ReadFileBytes(folder + "/q.KMX"), "typed by hand");
    EXPECT_EQ(CurrentDirectory(), dir.Path());
}

TEST_F(UnpackJob, TwoUnpacksFromTwoFoldersInOneProcessEachRestoreTheirOwnFile)
{
    // Two packed files of one name in two folders, named relative to the current directory,
    // unpacked one after the other as the desktop program does: the first must not move the
    // current directory under the second, which would restore the wrong file.
    const std::string a = Sub("a");
    const std::string b = Sub("b");
    WriteFileBytes(a + "/p.0KX", ImplodeBytes("the project of folder a"));
    WriteFileBytes(b + "/p.0KX", ImplodeBytes("the project of folder b"));
    WriteFileBytes(dir / "p.0KX", ImplodeBytes("the project of the start folder"));
    ASSERT_TRUE(ChangeDirectory(dir.Path()));
    for (const char* name : {"a/p.0KX", "b/p.0KX", "p.0KX"}) {
        Unpack(name);
        EXPECT_EQ(CurrentDirectory(), dir.Path()) << name;
    }
    EXPECT_EQ(ReadFileBytes(a + "/p.KMX"), "the project of folder a");
    EXPECT_EQ(ReadFileBytes(b + "/p.KMX"), "the project of folder b");
    EXPECT_EQ(ReadFileBytes(dir / "p.KMX"), "the project of the start folder");
    EXPECT_EQ(host.UnscriptedBoxes(), 0);
}

TEST_F(UnpackJob, AnExistingProjectFileIsAskedAboutAndReplacedOnlyWhenAllowed)
{
    WriteFileBytes(dir / "p.0KX", ImplodeBytes("new contents"));
    WriteFileBytes(dir / "p.KMX", "old contents");

    host.AnswerNextBoxes({IDCANCEL});
    Unpack(dir / "p.0KX");
    EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{
                                   "File 'p.KMX' already exists. Okay to overwrite this file?"});
    EXPECT_EQ(host.LogText(), std::string(kUnpackStart) + kAborted);
    EXPECT_EQ(host.States(), std::vector<long>{JOB_IDLE}); // the worker asked, and ended at once
    EXPECT_EQ(ReadFileBytes(dir / "p.KMX"), "old contents");

    host.ClearEvents();
    host.AnswerNextBoxes({IDOK});
    Unpack(dir / "p.0KX");
    EXPECT_EQ(ReadFileBytes(dir / "p.KMX"), "new contents");
    EXPECT_EQ(ListFolder(dir.Path()), "p.0KX p.KMX");
}

TEST_F(UnpackJob, APackedFileNamedLikeItsProjectFileIsRefused)
{
    WriteFileBytes(dir / "p.KMX", ImplodeBytes("self"));
    Unpack(dir / "p.KMX");
    ASSERT_EQ(host.BoxTexts().size(), 1u);
    EXPECT_NE(host.BoxTexts()[0].find("would be restored over itself"), std::string::npos);
    EXPECT_EQ(ReadFileBytes(dir / "p.KMX"), ImplodeBytes("self"));
    EXPECT_EQ(outcome.started, 0);
}

TEST_F(UnpackJob, APackedFileThatCannotBeOpenedEndsWithTheBanner)
{
    Unpack(dir / "missing.0KX");
    EXPECT_EQ(host.BoxTexts(),
              std::vector<std::string>{"Unable to open the file '" + (dir / "missing.0KX") +
                                       "'.\nReason: No such file or directory"});
    EXPECT_EQ(host.LogText(), std::string(kUnpackStart) + kUnpackEnd);
    EXPECT_EQ(host.States(), (std::vector<long>{JOB_IDLE}));
    EXPECT_EQ(ListFolder(dir.Path()), "");
}

TEST_F(UnpackJob, MissingVolumeIsAskedForAndAPathElsewhereJoinsCorrectly)
{
    const std::string data = MakeTestData(9000, false);
    WriteFileBytes(dir / "p.kmx", data);
    ASSERT_EQ(PackAndWait(host, dir / "p.kmx", 1, 3000), 1); // volumes 0 to 3
    const std::string elsewhere = Sub("elsewhere");
    ASSERT_EQ(std::rename((dir / "p.2KX").c_str(), (elsewhere + "/renamed").c_str()), 0);

    host.ClearEvents();
    host.AnswerNextBoxes({IDOK});
    host.AnswerNextFindFile(elsewhere + "/renamed");
    Unpack(dir / "p.0KX");
    EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{"Unable to open file '" + (dir / "p.2KX") +
                                                        "'. Try to find it yourself?"});
    std::vector<std::string> asked;
    for (const HostEvent& e : host.Events())
        if (e.kind == HostEvent::FindFile)
            asked.push_back(e.text);
    EXPECT_EQ(asked, std::vector<std::string>{"p.2KX"});
    EXPECT_NE(host.LogText().find(Appending(dir / "p.1KX") + Appending(elsewhere + "/renamed") +
                                  Appending(dir / "p.3KX")),
              std::string::npos);
    EXPECT_EQ(ReadFileBytes(dir / "p.KMX"), data);
}

TEST_F(UnpackJob, MissingVolumeFoundInASearchFolderOrUnderOtherCaseWithoutAQuestion)
{
    const std::string data = MakeTestData(9000, false);
    WriteFileBytes(dir / "p.kmx", data);
    ASSERT_EQ(PackAndWait(host, dir / "p.kmx", 1, 3000), 1);
    const std::string disk2 = Sub("disk2");
    ASSERT_EQ(std::rename((dir / "p.2KX").c_str(), (disk2 + "/p.2KX").c_str()), 0);
    ASSERT_EQ(std::rename((dir / "p.3KX").c_str(), (dir / "p.3kx").c_str()), 0);
    request.volumeSearchDirs = {Sub("disk1"), disk2};

    host.ClearEvents();
    Unpack(dir / "p.0KX");
    EXPECT_TRUE(host.BoxTexts().empty());
    EXPECT_NE(host.LogText().find(Appending(disk2 + "/p.2KX") + Appending(dir / "p.3kx")),
              std::string::npos);
    EXPECT_EQ(ReadFileBytes(dir / "p.KMX"), data);
}

TEST_F(UnpackJob, MissingVolumeNotLocatedEndsTheJobWithNothingLeft)
{
    struct Row {
        const char* label;
        std::initializer_list<int> boxes;
        bool chooserCancelled;
    };
    const Row rows[] = {{"Cancel to the question", {IDCANCEL}, false},
                        {"OK, then the chooser cancelled", {IDOK}, true}};
    const std::string data = MakeTestData(9000, false);
    WriteFileBytes(dir / "p.kmx", data);
    ASSERT_EQ(PackAndWait(host, dir / "p.kmx", 1, 3000), 1);
    ASSERT_EQ(std::remove((dir / "p.1KX").c_str()), 0);
    WriteFileBytes(dir / "p.KMX", "old project");
    for (const Row& row : rows) {
        host.ClearEvents();
        host.AnswerNextBoxes({IDOK}); // overwrite p.KMX
        host.AnswerNextBoxes(row.boxes);
        if (row.chooserCancelled)
            host.AnswerNextFindFile("");
        Unpack(dir / "p.0KX");
        EXPECT_EQ(host.LogText(), std::string(kUnpackStart) + NotFound(dir / "p.1KX") + kMissing +
                                      "\r\n" + kExpansionError + kUnpackEnd)
            << row.label;
        EXPECT_EQ(host.Count(HostEvent::FindFile), row.chooserCancelled ? 1 : 0) << row.label;
        EXPECT_EQ(host.UnscriptedBoxes(), 0) << row.label;
        EXPECT_EQ(ListFolder(dir.Path()), "p.0KX p.2KX p.3KX p.KMX p.kmx") << row.label;
        EXPECT_EQ(ReadFileBytes(dir / "p.KMX"), "old project") << row.label;
        EXPECT_EQ(outcome.join.missingVolume, 1) << row.label;
        EXPECT_EQ(outcome.join.volumeCount, 4) << row.label;
        EXPECT_EQ(outcome.restored, 0) << row.label;
    }
}

TEST_F(UnpackJob, AChosenFileThatCannotBeTheMissingVolumeIsRefusedAndAskedForAgain)
{
    // A set of four volumes of 3000 bytes: p.0KX (3016), p.1KX, p.2KX (3000), p.3KX (less).
    const std::string data = MakeTestData(9000, false);
    WriteFileBytes(dir / "p.kmx", data);
    ASSERT_EQ(PackAndWait(host, dir / "p.kmx", 1, 3000), 1);
    ASSERT_EQ(ListFolder(dir.Path()), "p.0KX p.1KX p.2KX p.3KX p.kmx");
    ASSERT_EQ(symlink((dir / "p.0KX").c_str(), (dir / "link.0KX").c_str()), 0);
    WriteFileBytes(dir / "short.bin", "100 bytes would not do");
    WriteFileBytes(dir / "long.bin", std::string(3001, 'x'));

    struct Row {
        int missing;        // the volume moved away to elsewhere.NKX
        std::string chosen; // the first answer of the chooser
        std::string why;    // the box that refuses it
    };
    const std::vector<Row> rows = {
        {1, dir / "p.0KX",
         "'" + (dir / "p.0KX") + "' is already volume 0 of this set ('" + (dir / "p.0KX") + "')."},
        {1, dir / "link.0KX",
         "'" + (dir / "link.0KX") + "' is already volume 0 of this set ('" + (dir / "p.0KX") +
             "')."},
        {1, dir / "p.2KX",
         "'" + (dir / "p.2KX") + "' is already volume 2 of this set ('" + (dir / "p.2KX") + "')."},
        {2, dir / "p.1KX",
         "'" + (dir / "p.1KX") + "' is already volume 1 of this set ('" + (dir / "p.1KX") + "')."},
        {1, dir / "short.bin",
         "'" + (dir / "short.bin") + "' is 22 bytes; volume 1 of this set is 3000 bytes."},
        {3, dir / "long.bin",
         "'" + (dir / "long.bin") +
             "' is 3001 bytes; volume 3, the last of this set, is at most 3000 bytes."},
        {1, dir / "gone.1KX", "'" + (dir / "gone.1KX") + "' cannot be opened as a file."},
        {1, dir.Path(), "'" + dir.Path() + "' cannot be opened as a file."},
    };
    for (const Row& row : rows) {
        const std::string name = "p." + JoinedVolumeExtension(row.missing);
        const std::string moved = dir / ("elsewhere." + JoinedVolumeExtension(row.missing));
        ASSERT_EQ(std::rename((dir / name).c_str(), moved.c_str()), 0);
        WriteFileBytes(dir / "p.KMX", "old project");
        host.ClearEvents();
        host.AnswerNextBoxes({IDOK, IDOK});
        host.AnswerNextFindFile(row.chosen);
        host.AnswerNextFindFile(moved);
        Unpack(dir / "p.0KX");

        const std::vector<std::string> boxes = host.BoxTexts();
        ASSERT_EQ(boxes.size(), 3u) << row.chosen; // the project file, the missing volume, why not
        EXPECT_EQ(boxes[2], row.why + " Choose another file.") << row.chosen;
        EXPECT_EQ(host.Count(HostEvent::FindFile), 2) << row.chosen;
        EXPECT_EQ(outcome.restored, 1) << row.chosen << host.LogText();
        EXPECT_EQ(ReadFileBytes(dir / "p.KMX"), data) << row.chosen;
        ASSERT_EQ(std::rename(moved.c_str(), (dir / name).c_str()), 0);
    }
}

TEST_F(UnpackJob, AChooserThatKeepsChoosingAVolumeOfTheSetEndsWithTheVolumeMissing)
{
    WriteFileBytes(dir / "p.kmx", MakeTestData(9000, false));
    ASSERT_EQ(PackAndWait(host, dir / "p.kmx", 1, 3000), 1);
    ASSERT_EQ(std::remove((dir / "p.1KX").c_str()), 0);
    WriteFileBytes(dir / "p.KMX", "old project");

    host.ClearEvents();
    host.AnswerNextBoxes({IDOK, IDOK});
    host.AnswerNextFindFile(dir / "p.2KX");
    host.AnswerNextFindFile(""); // then the user gives up
    Unpack(dir / "p.0KX");
    EXPECT_EQ(host.Count(HostEvent::FindFile), 2);
    EXPECT_EQ(host.LogText(), std::string(kUnpackStart) + NotFound(dir / "p.1KX") + kMissing +
                                  "\r\n" + kExpansionError + kUnpackEnd);
    EXPECT_EQ(ListFolder(dir.Path()), "p.0KX p.2KX p.3KX p.KMX p.kmx");
    EXPECT_EQ(ReadFileBytes(dir / "p.KMX"), "old project");
    EXPECT_EQ(outcome.join.missingVolume, 1);
}

TEST_F(UnpackJob, AReadErrorInVolumeTwoOfFourStillAppendsTheRestThenFails)
{
    WriteFileBytes(dir / "p.kmx", MakeTestData(9000, false));
    ASSERT_EQ(PackAndWait(host, dir / "p.kmx", 1, 3000), 1);
    const std::size_t volume0 = ReadFileBytes(dir / "p.0KX").size();
    ASSERT_EQ(volume0, 3016u);
    WriteFileBytes(dir / "p.KMX", "old project");

    host.ClearEvents();
    host.AnswerNextBoxes({IDOK});
    // Reads asked for: the header test (16), volume 0's header (16) and its 3000 data bytes
    // in two reads of 2000; the next 1000 bytes fall in volume 1.
    FailReadsAfterBytes(16 + 16 + 2 * 2000 + 1000);
    Unpack(dir / "p.0KX");
    DisarmFileFaults();
    EXPECT_EQ(host.LogText(), std::string(kUnpackStart) + Appending(dir / "p.0KX") +
                                  Appending(dir / "p.1KX") + Appending(dir / "p.2KX") +
                                  Appending(dir / "p.3KX") + kExpansionError + kUnpackEnd);
    const std::vector<std::string> boxes = host.BoxTexts();
    ASSERT_GE(boxes.size(), 2u);
    EXPECT_EQ(boxes[1], "Disk Error - File Read Error");
    EXPECT_EQ(ReadFileBytes(dir / "p.KMX"), "old project");
    EXPECT_EQ(ListFolder(dir.Path()), "p.0KX p.1KX p.2KX p.3KX p.KMX p.kmx");
}

TEST_F(UnpackJob, DamagedInputIsReportedAndTheOldProjectFileKept)
{
    const std::string data = MakeTestData(20000, false);
    const std::string stream = ImplodeBytes(data);
    std::string flippedSignature = Header(1) + stream;
    flippedSignature[3] ^= 0x04;
    std::string flippedDict = stream;
    flippedDict[1] ^= 0x01; // dictionary code 6 becomes 7
    std::string negativeCount = Header(1) + stream;
    negativeCount[15] ^= static_cast<char>(0x80);

    // A set's volumes, volume 0 first. A decoder running through the wrong bytes of a gap
    // meets an end code by chance long before the input ends: the data left behind shows it.
    struct Row {
        const char* label;
        std::vector<std::string> volumes;
    };
    const Row rows[] = {
        {"single file without its last byte", {stream.substr(0, stream.size() - 1)}},
        {"single file cut in half", {stream.substr(0, stream.size() / 2)}},
        {"last volume cut short", {Header(2) + stream.substr(0, 15000), stream.substr(15000, 100)}},
        {"last volume empty", {Header(2) + stream.substr(0, 15000), ""}},
        {"volume 0 cut short", {Header(1) + stream.substr(0, 9000)}},
        {"a gap: volume 1 of 3 cut short",
         {Header(3) + stream.substr(0, 9000), stream.substr(9000, 1000), stream.substr(18000)}},
        {"data behind the end code", {stream + std::string(5000, '\0')}},
        {"bit flipped in the signature", {flippedSignature}},
        {"bit flipped in the dictionary code", {flippedDict}},
        {"negative count", {negativeCount}},
        {"count 0", {Header(0) + stream}},
        {"foreign file", {"This is a text file, not a packed file at all.\r\n"}},
        {"empty file", {""}},
        {"16-byte header alone", {Header(1)}},
        {"too short to be a stream", {std::string("\x00\x06\x01", 3)}},
    };
    for (const Row& row : rows) {
        TempDir folder;
        const std::string packed = folder / "p.0KX";
        for (std::size_t i = 0; i < row.volumes.size(); ++i)
            WriteFileBytes(VolumePath(packed, static_cast<int>(i)), row.volumes[i]);
        WriteFileBytes(folder / "p.KMX", "old project");
        const std::string before = ListFolder(folder.Path());
        host.ClearEvents();
        host.AnswerNextBoxes({IDOK});
        Unpack(packed);

        EXPECT_TRUE(ReadFileBytes(folder / "p.KMX") == "old project") << row.label;
        EXPECT_EQ(ListFolder(folder.Path()), before) << row.label;
        EXPECT_EQ(host.LogText().find("Original File size"), std::string::npos) << row.label;
        const std::vector<std::string> boxes = host.BoxTexts();
        ASSERT_EQ(boxes.size(), 2u) << row.label;
        EXPECT_EQ(boxes[1], InvalidFormat(packed)) << row.label;
        EXPECT_NE(host.LogText().find(InvalidFormat(packed)), std::string::npos) << row.label;
        EXPECT_EQ(host.LogText().substr(host.LogText().size() - std::strlen(kUnpackEnd)),
                  kUnpackEnd)
            << row.label;
        EXPECT_EQ(outcome.restored, 0) << row.label;
        EXPECT_EQ(host.States().back(), JOB_IDLE) << row.label;
        ChangeDirectory(dir.Path());
    }
}

TEST_F(UnpackJob, TheEmptyStreamRestoresAnEmptyProjectFile)
{
    WriteFileBytes(dir / "e.0KX", ImplodeBytes(""));
    ASSERT_EQ(ReadFileBytes(dir / "e.0KX").size(), 4u);
    WriteFileBytes(dir / "e.KMX", "old project");
    host.AnswerNextBoxes({IDOK});
    Unpack(dir / "e.0KX");
    EXPECT_TRUE(FileExists(dir / "e.KMX"));
    EXPECT_EQ(ReadFileBytes(dir / "e.KMX"), "");
    EXPECT_EQ(host.LogText(),
              std::string(kUnpackStart) + "\r\n" + SizeReport(0, 4) + "\r\n" + kUnpackEnd);
    EXPECT_EQ(outcome.restored, 1);

    // Four bytes that are not the empty stream stay an error.
    WriteFileBytes(dir / "f.0KX", std::string("\x00\x06\x00\x00", 4));
    Unpack(dir / "f.0KX");
    EXPECT_FALSE(FileExists(dir / "f.KMX"));
    EXPECT_EQ(outcome.restored, 0);
}

TEST_F(UnpackJob, KeepBrokenKeepsWhatATruncatedStreamDecoded)
{
    const std::string data = MakeTestData(20000, false);
    const std::string stream = ImplodeBytes(data);
    WriteFileBytes(dir / "p.0KX", stream.substr(0, stream.size() - 1));
    request.keepBroken = true;
    Unpack(dir / "p.0KX");
    EXPECT_FALSE(FileExists(dir / "p.KMX"));
    const std::string broken = ReadFileBytes(dir / "p.KMX.broken");
    EXPECT_GT(broken.size(), 16000u); // all whole 4096-byte pieces before the cut
    EXPECT_EQ(broken, data.substr(0, broken.size()));
    EXPECT_EQ(outcome.brokenPath, dir / "p.KMX.broken");
    EXPECT_EQ(outcome.codecResult, CODEC_STREAM_ENDED);
}

TEST_F(UnpackJob, AWriteErrorWhileDecompressingLeavesNoOutput)
{
    const std::string data = MakeTestData(50000, false);
    WriteFileBytes(dir / "p.0KX", ImplodeBytes(data));
    WriteFileBytes(dir / "p.KMX", "old project");
    host.AnswerNextBoxes({IDOK});
    FailWritesAfterBytes(10000);
    Unpack(dir / "p.0KX");
    DisarmFileFaults();
    EXPECT_EQ(host.LogText(), std::string(kUnpackStart) + "\r\n" + "Disk Error - File Write Error" +
                                  "\r\n" + "Cannot write '" + (dir / "p.KMX") +
                                  "': No space left on device" + "\r\n" + kUnpackEnd);
    EXPECT_EQ(ReadFileBytes(dir / "p.KMX"), "old project");
    EXPECT_EQ(ListFolder(dir.Path()), "p.0KX p.KMX");
}

TEST_F(UnpackJob, AWriteErrorWhileJoiningRemovesTheJoinedFile)
{
    WriteFileBytes(dir / "p.0KX", Header(2) + std::string(3000, 'x'));
    WriteFileBytes(dir / "p.1KX", std::string(3000, 'y'));
    FailNthWrite(1);
    Unpack(dir / "p.0KX");
    DisarmFileFaults();
    // The first write fails; the joined file's error stays, so every later volume shows it too.
    EXPECT_EQ(host.BoxTexts(), std::vector<std::string>(2, "Disk Error - File Write Error"));
    EXPECT_EQ(host.LogText(), std::string(kUnpackStart) + Appending(dir / "p.0KX") +
                                  Appending(dir / "p.1KX") + kExpansionError + kUnpackEnd);
    EXPECT_EQ(ListFolder(dir.Path()), "p.0KX p.1KX");
}

TEST_F(UnpackJob, ASetOfMoreThanTenVolumesFindsVolumeTenAsTenX)
{
    const std::string data = MakeTestData(12000, false);
    const std::string stream = ImplodeBytes(data);
    WriteSet(dir / "r.0KX", stream, 1000);
    ASSERT_TRUE(FileExists(dir / "r.10X"));
    ASSERT_TRUE(FileExists(dir / "r.12X"));
    Unpack(dir / "r.0KX");
    EXPECT_NE(host.LogText().find(Appending(dir / "r.10X")), std::string::npos);
    EXPECT_EQ(ReadFileBytes(dir / "r.KMX"), data);
}

TEST_F(UnpackJob, PaddingBehindTheEndCodeIsAllowedButNotAWholeRead)
{
    // A transfer may pad a file to its block size; more than one read of the decoder behind
    // the end code is no padding but a stream that ended by chance in damaged data.
    const std::string data = MakeTestData(10000, true);
    const std::string stream = ImplodeBytes(data);
    WriteFileBytes(dir / "padded.0KX", stream + std::string(127, '\x1A'));
    WriteFileBytes(dir / "long.0KX", stream + std::string(4096, '\x1A'));
    Unpack(dir / "padded.0KX");
    EXPECT_EQ(ReadFileBytes(dir / "padded.KMX"), data);
    Unpack(dir / "long.0KX");
    EXPECT_FALSE(FileExists(dir / "long.KMX"));
    EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{InvalidFormat(dir / "long.0KX")});
}

TEST_F(UnpackJob, AReplacedProjectFileKeepsItsPermissionsAndItsLink)
{
    WriteFileBytes(dir / "p.0KX", ImplodeBytes("new contents"));
    WriteFileBytes(dir / "private", "old contents");
    ASSERT_EQ(chmod((dir / "private").c_str(), 0600), 0);
    ASSERT_EQ(symlink("private", (dir / "p.KMX").c_str()), 0);
    host.AnswerNextBoxes({IDOK});
    Unpack(dir / "p.0KX");
    struct stat link {
    }, target{};
    ASSERT_EQ(lstat((dir / "p.KMX").c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));
    ASSERT_EQ(stat((dir / "private").c_str(), &target), 0);
    EXPECT_EQ(target.st_mode & 07777, 0600u);
    EXPECT_EQ(ReadFileBytes(dir / "private"), "new contents");
    EXPECT_EQ(ListFolder(dir.Path()), "p.0KX p.KMX private");
}

TEST_F(UnpackJob, ASetWhoseFirstVolumeIsNamedZeroRVStartsFromThatFile)
{
    // Volume 0 is the file the user chose, whatever its extension; the others follow the set's
    // names from 1KX on.
    const std::string data = MakeTestData(5000, false);
    const std::string stream = ImplodeBytes(data);
    WriteFileBytes(dir / "r.0RV", Header(2) + stream.substr(0, 3000));
    WriteFileBytes(dir / "r.1KX", stream.substr(3000));
    Unpack(dir / "r.0RV");
    EXPECT_TRUE(host.BoxTexts().empty());
    EXPECT_NE(host.LogText().find(Appending(dir / "r.0RV") + Appending(dir / "r.1KX")),
              std::string::npos);
    EXPECT_EQ(ReadFileBytes(dir / "r.RVN"), data);
}
