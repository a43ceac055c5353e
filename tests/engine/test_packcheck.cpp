// Testing packed files without restoring them.
#include <unistd.h>

#include "engine/join.h"
#include "engine/packcheck.h"
#include "engine/packedformat.h"
#include "engine/unpackjob.h"
#include "tests/engine/enginefixture.h"
#include "tests/engine/packhelpers.h"

namespace {

std::string Header(int count)
{
    const auto bytes = MakePackedFileHeader(count);
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// Volumes of the stream as the splitting writes them: header + V bytes, V bytes, ..., the rest.
std::vector<std::string> SetOf(const std::string& stream, std::size_t volumeSize)
{
    const std::size_t count = stream.size() / volumeSize + 1;
    std::vector<std::string> volumes;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string part = stream.substr(std::min(stream.size(), i * volumeSize), volumeSize);
        volumes.push_back(i == 0 ? Header(static_cast<int>(count)) + part : part);
    }
    return volumes;
}

// The test of the packed file at path, asked for nothing else.
PackedFileReport CheckPackedPath(const std::string& path)
{
    CheckRequest request;
    request.packedPath = path;
    return CheckPackedFile(request);
}

class PackCheck : public EngineTest {
protected:
    void WriteVolumes(const std::vector<std::string>& volumes)
    {
        for (std::size_t i = 0; i < volumes.size(); ++i)
            WriteFileBytes(VolumePath(dir / "p.0KX", static_cast<int>(i)), volumes[i]);
    }
};

} // namespace

TEST_F(PackCheck, SoundFilesAndSetsPassWithoutWarnings)
{
    const std::string data = MakeTestData(30000, false);
    const std::string stream = ImplodeBytes(data);
    struct Row {
        const char* label;
        std::vector<std::string> volumes;
        int count;
        std::size_t restored;
    };
    const Row rows[] = {
        {"single file", {stream}, 0, data.size()},
        {"set of one", {Header(1) + stream}, 1, data.size()},
        {"set of two", SetOf(stream, 20000), 2, data.size()},
        {"set of four", SetOf(stream, 9000), 4, data.size()},
        {"set with an empty last volume", SetOf(stream, stream.size() / 3), 4, data.size()},
        {"empty file's stream", {ImplodeBytes("")}, 0, 0},
        {"empty file's stream in a set", {Header(1) + ImplodeBytes("")}, 1, 0},
    };
    for (const Row& row : rows) {
        TempDir folder;
        for (std::size_t i = 0; i < row.volumes.size(); ++i)
            WriteFileBytes(VolumePath(folder / "p.0KX", static_cast<int>(i)), row.volumes[i]);
        const std::string before = ListFolder(folder.Path());
        const PackedFileReport report = CheckPackedPath(folder / "p.0KX");
        EXPECT_EQ(report.verdict, PackedFileReport::Sound) << row.label;
        EXPECT_EQ(report.volumeCount, row.count) << row.label;
        EXPECT_EQ(report.restoredBytes, row.restored) << row.label;
        EXPECT_EQ(report.warnings, std::vector<std::string>{}) << row.label;
        EXPECT_EQ(ListFolder(folder.Path()), before) << row.label; // nothing written
    }
    EXPECT_TRUE(host.BoxTexts().empty());
}

TEST_F(PackCheck, DamagedFilesGetTheirVerdict)
{
    const std::string stream = ImplodeBytes(MakeTestData(30000, false));
    struct Row {
        const char* label;
        std::vector<std::string> volumes;
        PackedFileReport::Verdict verdict;
    };
    const Row rows[] = {
        {"single file without its last byte",
         {stream.substr(0, stream.size() - 1)},
         PackedFileReport::StreamEnded},
        {"last volume cut short",
         {Header(2) + stream.substr(0, 20000), stream.substr(20000, 10)},
         PackedFileReport::StreamEnded},
        {"empty file", {""}, PackedFileReport::TooShort},
        {"16-byte header alone", {Header(1)}, PackedFileReport::TooShort},
        {"foreign file", {"plain text, no stream at all"}, PackedFileReport::NotAStream},
        {"count 0", {Header(0) + stream}, PackedFileReport::BadCount},
        {"negative count", {Header(-2) + stream}, PackedFileReport::BadCount},
    };
    for (const Row& row : rows) {
        TempDir folder;
        for (std::size_t i = 0; i < row.volumes.size(); ++i)
            WriteFileBytes(VolumePath(folder / "p.0KX", static_cast<int>(i)), row.volumes[i]);
        EXPECT_EQ(CheckPackedPath(folder / "p.0KX").verdict, row.verdict) << row.label;
    }
    EXPECT_EQ(CheckPackedPath(dir / "missing.0KX").verdict, PackedFileReport::CannotOpen);
}

// The test command fails exactly the sets the unpack job refuses to restore, the empty
// file's stream among them.
TEST_F(PackCheck, FailsWhatTheUnpackJobRefuses)
{
    const std::string stream = ImplodeBytes(MakeTestData(30000, false));
    const std::string empty = ImplodeBytes("");
    std::vector<std::string> shortMiddle = SetOf(stream, 9000);
    shortMiddle[2].erase(100, 50);
    struct Row {
        const char* label;
        std::vector<std::string> volumes;
        bool sound;
    };
    const Row rows[] = {
        {"sound set", SetOf(stream, 9000), true},
        {"a middle volume lost bytes", shortMiddle, false},
        {"empty file's stream", {Header(1) + empty}, true},
        // Volume 0 is one byte shorter than the others with its header: data went missing,
        // even though what is left joins into the empty file's four bytes.
        {"empty file's stream from volumes of the wrong size",
         {Header(3) + empty.substr(0, 1), empty.substr(1, 2), empty.substr(3)},
         false},
    };
    for (const Row& row : rows) {
        TempDir folder;
        for (std::size_t i = 0; i < row.volumes.size(); ++i)
            WriteFileBytes(VolumePath(folder / "p.0KX", static_cast<int>(i)), row.volumes[i]);
        const PackedFileReport report = CheckPackedPath(folder / "p.0KX");
        EXPECT_EQ(report.verdict == PackedFileReport::Sound, row.sound) << row.label;
        UnpackRequest unpack;
        unpack.packedPath = folder / "p.0KX";
        UnpackOutcome unpacked;
        StartUnpackJob(unpack, unpacked);
        host.RunUntilJobEnds();
        EXPECT_EQ(unpacked.restored != 0, row.sound) << row.label;
    }
}

TEST_F(PackCheck, AMissingVolumeIsAskedForLikeTheUnpackJobDoes)
{
    const std::string stream = ImplodeBytes(MakeTestData(30000, false));
    std::vector<std::string> volumes = SetOf(stream, 9000);
    WriteVolumes(volumes);
    ASSERT_EQ(std::remove((dir / "p.2KX").c_str()), 0);

    host.AnswerNextBoxes({IDCANCEL});
    const PackedFileReport missing = CheckPackedPath(dir / "p.0KX");
    EXPECT_EQ(missing.verdict, PackedFileReport::VolumeMissing);
    EXPECT_EQ(missing.missingVolume, 2);
    EXPECT_EQ(missing.missingName, dir / "p.2KX");

    // Located by hand: sound, but the set's own names hold fewer volumes than the header says.
    WriteFileBytes(dir / "copy of volume 2", volumes[2]);
    host.AnswerNextBoxes({IDOK});
    host.AnswerNextFindFile(dir / "copy of volume 2");
    const PackedFileReport located = CheckPackedPath(dir / "p.0KX");
    EXPECT_EQ(located.verdict, PackedFileReport::Sound);
    EXPECT_EQ(located.warnings,
              std::vector<std::string>{
                  "The header counts 4 volumes, but only 2 were found under the set's names."});
}

TEST_F(PackCheck, TheShapeOfASetIsCheckedAgainstWhatSplittingWrites)
{
    const std::string stream = ImplodeBytes(MakeTestData(30000, false));
    const std::vector<std::string> good = SetOf(stream, 9000); // 9016, 9000, 9000, rest
    ASSERT_EQ(good.size(), 4u);
    const std::string p = dir / "p.0KX";
    // sound: whether the set may still be unpacked; what lost or added data inside the stream
    // is never sound, as the unpack job refuses it, whatever the decoder makes of it.
    struct Row {
        const char* label;
        void (*change)(std::vector<std::string>&);
        std::vector<std::string> warnings;
        bool sound;
    };
    const Row rows[] = {
        {"data behind the end code",
         [](std::vector<std::string>& v) { v[3] += "x"; },
         {"There is data behind the stream's end code, in the last volume ('" + VolumePath(p, 3) +
          "')."},
         true},
        {"a middle volume of another size",
         [](std::vector<std::string>& v) { v[2] += "xy"; },
         {"Volume 2 ('" + VolumePath(p, 2) +
          "') is 9002 bytes; volumes 1 to 2 should all be 9000 bytes."},
         false},
        {"volume 0 too short",
         [](std::vector<std::string>& v) { v[0].resize(9010); },
         {"Volume 0 ('" + p +
          "') is 9010 bytes; it should be 9016, 16 bytes more than the others."},
         false},
        {"the last volume too long",
         [](std::vector<std::string>& v) { v[3] = std::string(9500, 'z'); },
         {"The last volume ('" + VolumePath(p, 3) +
          "') is 9500 bytes, longer than the 9000 of the others."},
         false},
        {"a volume beyond the count",
         [](std::vector<std::string>& v) { v.push_back("stray"); },
         {"A volume beyond the header's count is there: '" + VolumePath(p, 4) + "'."},
         true},
    };
    for (const Row& row : rows) {
        std::vector<std::string> volumes = good;
        row.change(volumes);
        for (int i = 0; i < 5; ++i)
            std::remove(VolumePath(p, i).c_str());
        WriteVolumes(volumes);
        const PackedFileReport report = CheckPackedPath(p);
        EXPECT_EQ(report.warnings, row.warnings) << row.label;
        EXPECT_EQ(report.verdict == PackedFileReport::Sound, row.sound) << row.label;
    }
}

TEST_F(PackCheck, TrailingDataIsSeenAfterStreamsOfEveryLength)
{
    // Wherever the end code's last bits fall in their byte, one byte more is noticed and the
    // exact stream is not.
    for (std::size_t size : {0u, 1u, 2u, 3u, 5u, 7u, 100u, 4095u, 4096u, 4097u, 10001u}) {
        const std::string stream =
            ImplodeBytes(MakeTestData(size, size % 2 == 0, static_cast<unsigned>(size)));
        WriteFileBytes(dir / "p.0KX", stream);
        EXPECT_TRUE(CheckPackedPath(dir / "p.0KX").warnings.empty()) << size;
        WriteFileBytes(dir / "p.0KX", stream + '\0');
        const PackedFileReport report = CheckPackedPath(dir / "p.0KX");
        EXPECT_EQ(report.warnings,
                  std::vector<std::string>{"There is data behind the stream's end code."})
            << size;
        EXPECT_EQ(report.restoredBytes, size) << size;
        EXPECT_EQ(report.verdict, PackedFileReport::Sound) << size;
        // More than a read's worth of input left unread behind the end code is no padding: the
        // end code was met by chance in damaged data, and the file is not unpacked.
        WriteFileBytes(dir / "p.0KX", stream + std::string(4096, '\0'));
        EXPECT_EQ(CheckPackedPath(dir / "p.0KX").verdict, PackedFileReport::Damaged) << size;
    }
}
