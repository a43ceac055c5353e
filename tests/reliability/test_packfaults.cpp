// Failing writes (ENOSPC) and reads (EIO) at every position of a pack and of a split pack of
// about 1 MB, injected through the platform's fault seam into the real job with the test host.
// After each fault: the job ends and reports it, the project file is untouched, and the folder
// holds nothing but the project file (no packed file, no volume, no temporary file).
#include <sys/stat.h>

#include <vector>

#include "codec/codec.h"
#include "engine/packedformat.h"
#include "engine/split.h"
#include "tests/engine/enginefixture.h"
#include "tests/engine/packhelpers.h"
#include "tests/reliability/faultcases.h"

namespace {

constexpr std::size_t kProjectSize = 1000 * 1000;
constexpr int kVolumeSize = 60000;

// The program's lines around the line that names the file and the system's reason.
const char* kWriteErrorLines = "\r\n\r\nDisk Error - File Write Error\r\nCannot write '";
const char* kReadErrorLines = "\r\n\r\nDisk Error - File Read Error\r\nCannot read '";
const char* kSplitFailedLines = "\r\nFile I/O error...aborting operation\r\n";

// The sizes of the codec's writes for some input: the pack job hands each to the disk as one
// write, so a fault at write n hits exactly one of them.
std::vector<unsigned> CodecWriteSizes(const std::string& data)
{
    static CodecWorkArea work;
    work = CodecWorkArea{};
    return ImplodeMemory(data.data(), data.size(), CODEC_BINARY, 4096, work.bytes).writes;
}

class PackFaults : public EngineTest {
protected:
    static void SetUpTestSuite()
    {
        project = new std::string(MakeTestData(kProjectSize, true, 9));
        stream = new std::string(ImplodeBytes(*project));
        writes = new std::vector<unsigned>(CodecWriteSizes(*project));
    }
    static void TearDownTestSuite()
    {
        delete project;
        delete stream;
        delete writes;
    }

    std::string ProjectPath() const { return dir / "work.kmx"; }

    // Packs with the fault armed by arm; returns whether the job said it succeeded.
    template <class Arm>
    bool PackWithFault(Arm arm, int split)
    {
        host.ClearEvents();
        ++m_runs;
        arm();
        PackOutcome pack;
        PackAndWait(host, pack, ProjectPath(), split, kVolumeSize);
        DisarmFileFaults();
        return pack.succeeded;
    }

    // After a failed pack or split: the job ended, the project file is as it was, and it is
    // the only file left.
    void ExpectNothingButTheProjectFile(const std::string& what)
    {
        SCOPED_TRACE(what);
        ExpectJobEnded(host, kPackEnd);
        EXPECT_EQ(ListFolder(dir.Path()), "work.kmx");
        EXPECT_TRUE(ReadFileBytes(ProjectPath()) == *project);
    }

    // The stream packed and split into volumes of kVolumeSize: (volume index, bytes).
    static std::string VolumeBytes(int index, int count)
    {
        std::string bytes;
        if (index == 0) {
            const auto header = MakePackedFileHeader(count);
            bytes.assign(reinterpret_cast<const char*>(header.data()), header.size());
        }
        const std::size_t from = static_cast<std::size_t>(index) * kVolumeSize;
        if (from < stream->size())
            bytes += stream->substr(from, kVolumeSize);
        return bytes;
    }

    static int VolumeCount()
    {
        return static_cast<int>(
            VolumeCountFor(static_cast<std::int64_t>(stream->size()), kVolumeSize));
    }

    // The split's writes: the 16 header bytes, then each volume's data in pieces of at most
    // 10000 bytes (an empty last volume gets none).
    static std::vector<unsigned> SplitWriteSizes()
    {
        std::vector<unsigned> pieces{PACKED_HEADER_SIZE};
        for (std::size_t left = stream->size(); left > 0;) {
            const std::size_t volume = std::min<std::size_t>(left, kVolumeSize);
            for (std::size_t inVolume = volume; inVolume > 0;) {
                const std::size_t piece = std::min<std::size_t>(inVolume, SPLIT_CHUNK_SIZE);
                pieces.push_back(static_cast<unsigned>(piece));
                inVolume -= piece;
            }
            left -= volume;
        }
        return pieces;
    }

    void ExpectCompleteSet()
    {
        const int count = VolumeCount();
        for (int i = 0; i < count; ++i)
            EXPECT_TRUE(ReadFileBytes(VolumePath(dir / "work.0KX", i)) == VolumeBytes(i, count))
                << i;
        EXPECT_FALSE(FileExists(VolumePath(dir / "work.0KX", count)));
    }

    static std::string* project;
    static std::string* stream;
    static std::vector<unsigned>* writes;

    void SetUp() override { WriteFileBytes(ProjectPath(), *project); }
    // The number of jobs run, for the test report (--gtest_output).
    void TearDown() override { RecordProperty("jobs", m_runs); }
    int m_runs = 0;
};

std::string* PackFaults::project = nullptr;
std::string* PackFaults::stream = nullptr;
std::vector<unsigned>* PackFaults::writes = nullptr;

// The byte offsets at which a write budget runs out: at the start, inside and at the end of
// each piece of the given sizes laid end to end from base, and one byte before the end.
std::vector<std::uint64_t> BudgetsOverPieces(std::uint64_t base,
                                             const std::vector<unsigned>& pieces)
{
    std::vector<std::uint64_t> budgets;
    std::uint64_t at = base;
    for (unsigned piece : pieces) {
        budgets.push_back(at);
        budgets.push_back(at + piece / 2);
        at += piece;
    }
    budgets.push_back(at - 1);
    return budgets;
}

} // namespace

TEST_F(PackFaults, EveryWriteOfAPackFails)
{
    ASSERT_GT(writes->size(), 50u) << "the fixture should make many codec writes";
    const std::size_t total = writes->size();
    for (unsigned n = 1; n <= total; ++n) {
        const bool ok = PackWithFault([n] { FailNthWrite(n); }, 0);
        EXPECT_FALSE(ok) << "write " << n;
        EXPECT_TRUE(Contains(host.LogText(), kWriteErrorLines)) << "write " << n;
        EXPECT_FALSE(Contains(host.LogText(), "Original File size")) << "write " << n;
        ExpectNothingButTheProjectFile("write " + std::to_string(n) + " of " +
                                       std::to_string(total));
    }
    // One write more than the pack makes: the fault never fires and the pack is whole.
    ASSERT_TRUE(PackWithFault([total] { FailNthWrite(static_cast<unsigned>(total + 1)); }, 0));
    EXPECT_TRUE(ReadFileBytes(dir / "work.0KX") == *stream);
    EXPECT_EQ(ListFolder(dir.Path()), "work.0KX work.kmx");
}

TEST_F(PackFaults, TheDiskFillsUpAtAnyByteOfAPack)
{
    for (std::uint64_t budget : BudgetsOverPieces(0, *writes)) {
        EXPECT_FALSE(PackWithFault([budget] { FailWritesAfterBytes(budget); }, 0)) << budget;
        EXPECT_TRUE(Contains(host.LogText(), kWriteErrorLines)) << budget;
        ExpectNothingButTheProjectFile("full after " + std::to_string(budget) + " bytes");
    }
    ASSERT_TRUE(PackWithFault([] { FailWritesAfterBytes(stream->size()); }, 0));
    EXPECT_TRUE(ReadFileBytes(dir / "work.0KX") == *stream);
}

TEST_F(PackFaults, AFailedPackKeepsTheOldPackedFile)
{
    // The user agreed to overwrite (both questions), but the new packed file cannot be written
    // whole: the old one stays as it was, not truncated and not removed.
    const std::string old = "an older packed file";
    for (unsigned n : {1u, 40u, static_cast<unsigned>(writes->size())}) {
        WriteFileBytes(dir / "work.0KX", old);
        host.AnswerNextBoxes({IDOK, IDOK});
        EXPECT_FALSE(PackWithFault([n] { FailNthWrite(n); }, 0)) << n;
        ExpectJobEnded(host, kPackEnd);
        EXPECT_EQ(ReadFileBytes(dir / "work.0KX"), old) << n;
        EXPECT_EQ(ListFolder(dir.Path()), "work.0KX work.kmx") << n;
    }
}

TEST_F(PackFaults, AFolderUnderTheFinalNameIsRefusedBeforeTheCompression)
{
    // A folder under the packed file's name (not empty, so that nothing can replace it) is
    // found before anything is written and named with the system's reason. A rename that
    // fails for real is the preloaded fault library's (test_cli_faults.py).
    ASSERT_EQ(mkdir((dir / "work.0KX").c_str(), 0755), 0);
    WriteFileBytes(dir / "work.0KX/inside", "x");
    host.AnswerNextBoxes({IDOK, IDOK});
    EXPECT_FALSE(PackWithFault([] {}, 0));
    ExpectJobEnded(host, kPackEnd);
    EXPECT_TRUE(AnyBoxSays(host, "Disk Error - File Write Error\nCannot write '" +
                                     (dir / "work.0KX") + "': Is a directory"));
    EXPECT_EQ(ListFolder(dir.Path()), "work.0KX work.kmx");
    EXPECT_EQ(ReadFileBytes(dir / "work.0KX/inside"), "x");
    EXPECT_TRUE(ReadFileBytes(ProjectPath()) == *project);
}

TEST_F(PackFaults, EveryReadOfTheProjectFileFails)
{
    // The compressor asks for 4096 bytes at a time: fail at the start, inside and at the end
    // of each request, and at the read that would find the end of the file.
    std::vector<unsigned> requests(kProjectSize / 4096 + 1, 4096);
    for (std::uint64_t budget : BudgetsOverPieces(0, requests)) {
        if (budget > kProjectSize)
            budget = kProjectSize;
        EXPECT_FALSE(PackWithFault([budget] { FailReadsAfterBytes(budget); }, 0)) << budget;
        EXPECT_TRUE(Contains(host.LogText(), kReadErrorLines)) << budget;
        EXPECT_FALSE(Contains(host.LogText(), "Original File size")) << budget;
        ExpectNothingButTheProjectFile("read fails after " + std::to_string(budget) + " bytes");
    }
}

TEST_F(PackFaults, EveryWriteOfASplitFails)
{
    // The writes of the split come after the codec's: the header of volume 0, then the
    // 10000-byte pieces of each volume.
    const unsigned packWrites = static_cast<unsigned>(writes->size());
    ASSERT_GE(VolumeCount(), 3) << "the fixture should make a set of several volumes";
    const unsigned splitWrites = static_cast<unsigned>(SplitWriteSizes().size());
    for (unsigned n = packWrites + 1; n <= packWrites + splitWrites; ++n) {
        EXPECT_FALSE(PackWithFault([n] { FailNthWrite(n); }, 1)) << n;
        EXPECT_TRUE(AnyBoxSays(host, "Disk Error - File Write Error")) << n;
        EXPECT_TRUE(Contains(host.LogText(), kSplitFailedLines)) << n;
        ExpectNothingButTheProjectFile("split write " + std::to_string(n - packWrites));
    }
    const unsigned beyond = packWrites + splitWrites + 1;
    ASSERT_TRUE(PackWithFault([beyond] { FailNthWrite(beyond); }, 1));
    ExpectCompleteSet();
}

TEST_F(PackFaults, TheDiskFillsUpAtAnyByteOfASplit)
{
    // The packed stream is written by the pack, then read where it lies by the split: the
    // budget runs out in the header or in a piece of a volume.
    for (std::uint64_t budget : BudgetsOverPieces(stream->size(), SplitWriteSizes())) {
        EXPECT_FALSE(PackWithFault([budget] { FailWritesAfterBytes(budget); }, 1)) << budget;
        EXPECT_TRUE(AnyBoxSays(host, "Disk Error - File Write Error")) << budget;
        ExpectNothingButTheProjectFile("split full after " +
                                       std::to_string(budget - stream->size()));
    }
    const std::uint64_t enough = stream->size() + PACKED_HEADER_SIZE + stream->size();
    ASSERT_TRUE(PackWithFault([enough] { FailWritesAfterBytes(enough); }, 1));
    ExpectCompleteSet();
}

TEST_F(PackFaults, EveryReadOfTheSplitFails)
{
    // The split reads the pack's stream back in 10000-byte pieces.
    std::vector<unsigned> pieces = SplitWriteSizes();
    pieces.erase(pieces.begin());
    const std::uint64_t projectReads = kProjectSize;
    for (std::uint64_t budget : BudgetsOverPieces(projectReads, pieces)) {
        // Exactly the project file's bytes: the pack's own read at the end of the file fails.
        if (budget == projectReads)
            ++budget;
        EXPECT_FALSE(PackWithFault([budget] { FailReadsAfterBytes(budget); }, 1)) << budget;
        EXPECT_TRUE(AnyBoxSays(host, "Disk Error - File Read Error")) << budget;
        EXPECT_TRUE(Contains(host.LogText(), kSplitFailedLines)) << budget;
        ExpectNothingButTheProjectFile("split read fails after " +
                                       std::to_string(budget - projectReads));
    }
}
