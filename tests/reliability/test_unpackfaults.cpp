// Failing writes (ENOSPC) and reads (EIO) at every position of an unpack of about 1 MB, whole
// and from a split set, injected through the platform's fault seam into the real job with the
// test host. After each fault: the job ends and reports it, the old project file is as it
// was, the packed file and its volumes are untouched, and no joined or decoded temporary file
// is left.
#include <sys/stat.h>

#include <vector>

#include "codec/codec.h"
#include "engine/join.h"
#include "engine/packedformat.h"
#include "engine/unpackjob.h"
#include "platform/paths.h"
#include "tests/engine/enginefixture.h"
#include "tests/engine/packhelpers.h"
#include "tests/reliability/faultcases.h"

namespace {

constexpr std::size_t kProjectSize = 1000 * 1000;
constexpr std::size_t kVolumeSize = 60000;
constexpr std::size_t kJoinPiece = 2000;
const char* kUnpackEnd = "\r\n ********* Package Expansion Complete *********\r\n";
const std::string kOldProject = "the project file as it was before the unpack";

// The sizes of the decoder's writes for a stream: the unpack job hands each to the disk as one
// write.
std::vector<unsigned> DecodeWriteSizes(const std::string& stream)
{
    static CodecWorkArea work;
    return ExplodeMemory(stream.data(), stream.size(), work.bytes).writes;
}

class UnpackFaults : public EngineTest {
protected:
    static void SetUpTestSuite()
    {
        project = new std::string(MakeTestData(kProjectSize, true, 21));
        stream = new std::string(ImplodeBytes(*project));
    }
    static void TearDownTestSuite()
    {
        delete project;
        delete stream;
    }

    UnpackFaults() : m_startFolder(CurrentDirectory()) {}
    ~UnpackFaults() override { ChangeDirectory(m_startFolder); }

    std::string PackedPath() const { return dir / "work.0KX"; }
    std::string ProjectPath() const { return dir / "work.KMX"; }

    // Starts the unpack of PackedPath(); outcome tells how it went once the job has ended.
    void StartUnpack()
    {
        UnpackRequest request;
        request.packedPath = PackedPath();
        StartUnpackJob(request, outcome);
    }

    // The set of kVolumeSize volumes as the split writes it; returns the volumes' data sizes.
    std::vector<std::size_t> WriteSet()
    {
        const std::size_t count = stream->size() / kVolumeSize + 1;
        std::vector<std::size_t> sizes;
        for (std::size_t i = 0; i < count; ++i) {
            const std::string part =
                stream->substr(std::min(stream->size(), i * kVolumeSize), kVolumeSize);
            std::string bytes = part;
            if (i == 0) {
                const auto header = MakePackedFileHeader(static_cast<int>(count));
                bytes.insert(0, reinterpret_cast<const char*>(header.data()), header.size());
            }
            WriteFileBytes(VolumePath(PackedPath(), static_cast<int>(i)), bytes);
            sizes.push_back(part.size());
        }
        return sizes;
    }

    template <class Arm>
    bool UnpackWithFault(Arm arm)
    {
        WriteFileBytes(ProjectPath(), kOldProject);
        host.ClearEvents();
        host.AnswerNextBoxes({IDOK}); // overwrite the old project file
        ++m_runs;
        arm();
        StartUnpack();
        host.RunUntilJobEnds();
        DisarmFileFaults();
        ChangeDirectory(m_startFolder);
        return outcome.restored != 0;
    }

    void ExpectOldProjectKept(const std::string& what, const std::string& inputs)
    {
        SCOPED_TRACE(what);
        ExpectJobEnded(host, kUnpackEnd);
        EXPECT_EQ(ReadFileBytes(ProjectPath()), kOldProject);
        EXPECT_EQ(ListFolder(dir.Path()), inputs + " work.KMX");
        EXPECT_FALSE(Contains(host.LogText(), "Original File size"));
    }

    // The number of jobs run, for the test report (--gtest_output).
    void TearDown() override { RecordProperty("jobs", m_runs); }

    static std::string* project;
    static std::string* stream;
    int m_runs = 0;
    UnpackOutcome outcome;

private:
    std::string m_startFolder;
};

std::string* UnpackFaults::project = nullptr;
std::string* UnpackFaults::stream = nullptr;

} // namespace

TEST_F(UnpackFaults, EveryWriteOfAnUnpackFails)
{
    WriteFileBytes(PackedPath(), *stream);
    const std::size_t total = DecodeWriteSizes(*stream).size();
    ASSERT_GT(total, 100u);
    for (unsigned n = 1; n <= total; ++n) {
        EXPECT_FALSE(UnpackWithFault([n] { FailNthWrite(n); })) << n;
        EXPECT_TRUE(Contains(host.LogText(), "Disk Error - File Write Error")) << n;
        ExpectOldProjectKept("write " + std::to_string(n), "work.0KX");
    }
    const unsigned beyond = static_cast<unsigned>(total + 1);
    ASSERT_TRUE(UnpackWithFault([beyond] { FailNthWrite(beyond); }));
    EXPECT_TRUE(ReadFileBytes(ProjectPath()) == *project);
    EXPECT_EQ(ListFolder(dir.Path()), "work.0KX work.KMX");
}

TEST_F(UnpackFaults, EveryWriteOfASetUnpackFails)
{
    // The join writes each volume's data in pieces of 2000 bytes into the joined file, then
    // the decoder writes the project file.
    const std::vector<std::size_t> sizes = WriteSet();
    const std::string inputs = ListFolder(dir.Path());
    std::size_t joinWrites = 0;
    for (std::size_t size : sizes)
        joinWrites += (size + kJoinPiece - 1) / kJoinPiece;
    const std::size_t total = joinWrites + DecodeWriteSizes(*stream).size();
    for (unsigned n = 1; n <= total; ++n) {
        EXPECT_FALSE(UnpackWithFault([n] { FailNthWrite(n); })) << n;
        if (n <= joinWrites) { // the join: a box, and the join's failure in the log
            EXPECT_TRUE(AnyBoxSays(host, "Disk Error - File Write Error")) << n;
            EXPECT_TRUE(Contains(host.LogText(), "Error during package expansion")) << n;
        } else {
            EXPECT_TRUE(Contains(host.LogText(), "Disk Error - File Write Error")) << n;
        }
        ExpectOldProjectKept("set write " + std::to_string(n), inputs);
    }
    const unsigned beyond = static_cast<unsigned>(total + 1);
    ASSERT_TRUE(UnpackWithFault([beyond] { FailNthWrite(beyond); }));
    EXPECT_TRUE(ReadFileBytes(ProjectPath()) == *project);
    EXPECT_EQ(ListFolder(dir.Path()), inputs + " work.KMX");
}

TEST_F(UnpackFaults, TheDiskFillsUpAtAnyByteOfASetUnpack)
{
    WriteSet();
    const std::string inputs = ListFolder(dir.Path());
    // Written in all: the joined stream, then the project file.
    const std::uint64_t total = stream->size() + kProjectSize;
    std::vector<std::uint64_t> budgets;
    for (std::uint64_t b = 0; b < total; b += 7919)
        budgets.push_back(b);
    for (std::uint64_t b : {std::uint64_t(stream->size()) - 1, std::uint64_t(stream->size()),
                            std::uint64_t(stream->size()) + 1, total - 1})
        budgets.push_back(b);
    for (std::uint64_t budget : budgets) {
        EXPECT_FALSE(UnpackWithFault([budget] { FailWritesAfterBytes(budget); })) << budget;
        EXPECT_TRUE(AnyBoxSays(host, "Disk Error - File Write Error") ||
                    Contains(host.LogText(), "Disk Error - File Write Error"))
            << budget;
        ExpectOldProjectKept("full after " + std::to_string(budget), inputs);
    }
    ASSERT_TRUE(UnpackWithFault([total] { FailWritesAfterBytes(total); }));
    EXPECT_TRUE(ReadFileBytes(ProjectPath()) == *project);
}

TEST_F(UnpackFaults, AFolderUnderTheFinalNameIsRefusedWithItsReason)
{
    // A folder under the project file's name (not empty): the decoded file cannot take it, and
    // the box says so. A rename that fails for real is test_cli_faults.py's.
    WriteFileBytes(PackedPath(), *stream);
    ASSERT_EQ(mkdir(ProjectPath().c_str(), 0755), 0);
    WriteFileBytes(ProjectPath() + "/inside", kOldProject);
    host.AnswerNextBoxes({IDOK});
    StartUnpack();
    host.RunUntilJobEnds();
    EXPECT_FALSE(outcome.restored);
    ExpectJobEnded(host, kUnpackEnd);
    EXPECT_TRUE(AnyBoxSays(host, "Disk Error - File Write Error\nCannot write '" + ProjectPath() +
                                     "': Is a directory"));
    EXPECT_EQ(ListFolder(dir.Path()), "work.0KX work.KMX");
    EXPECT_EQ(ReadFileBytes(ProjectPath() + "/inside"), kOldProject);
}

// Reads fail after every budget in steps through all the bytes an unpack reads: the header
// check, the volumes (set) and the stream the decoder reads. The job must fail at each until
// the budget covers everything it reads.
TEST_F(UnpackFaults, EveryReadOfAnUnpackFails)
{
    struct Row {
        const char* name;
        bool set;
    };
    for (const Row& row : {Row{"whole", false}, Row{"set", true}}) {
        SCOPED_TRACE(row.name);
        if (row.set)
            WriteSet();
        else
            WriteFileBytes(PackedPath(), *stream);
        const std::string inputs = ListFolder(dir.Path());
        // Whole: the 16 header bytes, then the stream. Set: the header, the volumes' bytes
        // (the 16 header bytes again), then the joined stream.
        const std::uint64_t needed =
            row.set ? 16 + (16 + stream->size()) + stream->size() : 16 + stream->size();
        std::uint64_t budget = 0;
        int failures = 0;
        bool restored = false;
        for (; budget <= needed + 2000; budget += (budget < 40 ? 1 : 1013)) {
            const std::uint64_t b = budget;
            restored = UnpackWithFault([b] { FailReadsAfterBytes(b); });
            if (restored)
                break;
            ++failures;
            // A read that fails in the header check makes the file look like a bare stream,
            // which then cannot be read either; in the join the box names the read error and
            // the log ends with the join's failure.
            const std::string log = host.LogText();
            EXPECT_TRUE(Contains(log, "Disk Error - File Read Error") ||
                        Contains(log, "Error during package expansion") ||
                        Contains(log, "Invalid file format"))
                << budget;
            EXPECT_TRUE(AnyBoxSays(host, "Disk Error - File Read Error") ||
                        AnyBoxSays(host, "Invalid file format"))
                << budget;
            ExpectOldProjectKept("read fails after " + std::to_string(budget), inputs);
        }
        ASSERT_TRUE(restored) << "not restored with every read allowed: " << host.LogText();
        EXPECT_GE(budget, needed) << "restored although a read failed";
        EXPECT_GT(failures, 100);
        EXPECT_TRUE(ReadFileBytes(ProjectPath()) == *project);
        std::remove(ProjectPath().c_str());
        for (int i = 0; i < 30; ++i)
            std::remove(VolumePath(PackedPath(), i).c_str());
    }
}
