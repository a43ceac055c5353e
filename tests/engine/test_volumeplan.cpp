// The volume plan and the free-space check, against what the jobs really write.
#include "engine/packedformat.h"
#include "engine/volumeplan.h"
#include "platform/diskspace.h"
#include "platform/paths.h"
#include "resources/textids.h"
#include "tests/engine/enginefixture.h"
#include "tests/engine/packhelpers.h"

namespace {

class VolumePlan : public EngineTest {
protected:
    ~VolumePlan() override { OverrideFreeSpace(-1); }
};

// The files of the folder other than the project file, each with its size, in volume order.
std::vector<PlannedVolume> WrittenSet(const std::string& packedPath)
{
    std::vector<PlannedVolume> set;
    for (int i = 0; FileExists(VolumePath(packedPath, i)); ++i)
        set.push_back({VolumePath(packedPath, i),
                       static_cast<std::int64_t>(ReadFileBytes(VolumePath(packedPath, i)).size())});
    return set;
}

} // namespace

TEST_F(VolumePlan, MeasuredLengthIsTheStreamThePackWrites)
{
    for (const bool compressible : {true, false}) {
        const std::string data = MakeTestData(70000, compressible, 5);
        WriteFileBytes(dir / "p.kmx", data);
        std::int64_t length = 0;
        ASSERT_EQ(MeasureStreamLength(dir / "p.kmx", length), 1);
        EXPECT_EQ(length, static_cast<std::int64_t>(ImplodeBytes(data).size()));
        EXPECT_LE(length, WorstCaseStreamLength(static_cast<std::int64_t>(data.size())));
    }
    std::int64_t length = 0;
    EXPECT_EQ(MeasureStreamLength(dir / "missing.kmx", length), 0);
}

TEST_F(VolumePlan, PlanEqualsTheSetASplitWrites)
{
    const std::string data = MakeTestData(60000, false, 9);
    const auto streamLength = static_cast<std::int64_t>(ImplodeBytes(data).size());
    // Volume sizes around the cases the layout treats apart: one volume, a stream that is a
    // whole number of volumes (an empty last volume), a remainder within 16 bytes of a volume,
    // and many small volumes.
    const std::int64_t sizes[] = {streamLength + 16,
                                  streamLength + 15,
                                  streamLength,
                                  streamLength / 2,
                                  streamLength - 10,
                                  20000,
                                  1000};
    for (const std::int64_t volumeSize : sizes) {
        TempDir folder;
        WriteFileBytes(folder / "p.kmx", data);
        const std::string packed = folder / "p.0KX";
        PackOutcome pack;
        ASSERT_EQ(PackAndWait(host, pack, folder / "p.kmx", 1, static_cast<int>(volumeSize)), 1);
        ASSERT_TRUE(pack.succeeded) << volumeSize;

        const std::vector<PlannedVolume> plan =
            PlanVolumes(packed, streamLength, static_cast<int>(volumeSize));
        const std::vector<PlannedVolume> written = WrittenSet(packed);
        ASSERT_EQ(plan.size(), written.size()) << volumeSize;
        for (std::size_t i = 0; i < plan.size(); ++i) {
            EXPECT_EQ(plan[i].strPath, written[i].strPath) << volumeSize;
            EXPECT_EQ(plan[i].nSize, written[i].nSize) << volumeSize << " volume " << i;
        }
    }
}

TEST_F(VolumePlan, SplitStepRefusesAFolderWithoutRoomBeforeAnyVolume)
{
    const std::string data = MakeTestData(30000, false, 2);
    WriteFileBytes(dir / "p.kmx", data);
    const auto streamLength = static_cast<std::int64_t>(ImplodeBytes(data).size());
    // Room for the volumes but one byte: the stream already lies beside them.
    OverrideFreeSpace(streamLength + 16 - 1);
    PackOutcome pack;
    ASSERT_EQ(PackAndWait(host, pack, dir / "p.kmx", 1, 10000), 1);

    EXPECT_FALSE(pack.succeeded);
    ASSERT_EQ(host.BoxTexts().size(), 1u);
    EXPECT_NE(host.BoxTexts()[0].find("not enough room in '" + dir.Path() + "/'"),
              std::string::npos)
        << host.BoxTexts()[0];
    EXPECT_NE(host.BoxTexts()[0].find(std::to_string(streamLength + 16) + " bytes are needed, " +
                                      std::to_string(streamLength + 15) + " bytes are free"),
              std::string::npos)
        << host.BoxTexts()[0];
    // A failed pack leaves no packed file: no volume, no stream, no temporary file.
    EXPECT_EQ(ListFolder(dir.Path()), "p.kmx");
    EXPECT_EQ(host.LogText().find("Creating split file"), std::string::npos);

    // With exactly the room it needs, the same split goes through.
    OverrideFreeSpace(streamLength + 16);
    ASSERT_EQ(PackAndWait(host, pack, dir / "p.kmx", 1, 10000), 1);
    EXPECT_TRUE(pack.succeeded);
}

TEST_F(VolumePlan, RoomForPackCountsTheStreamTwiceAndFullBlocks)
{
    OverrideFreeSpace(1000000, 4096);
    // Stream of 25000 bytes in volumes of 10000: 10016, 10000, 5000 bytes.
    const RoomCheck whole = RoomForPack(dir / "p.0KX", 25000, 0);
    EXPECT_EQ(whole.nNeeded, 28672); // 7 blocks
    const RoomCheck split = RoomForPack(dir / "p.0KX", 25000, 10000);
    EXPECT_EQ(split.nNeeded, 28672 + 12288 + 12288 + 8192);
    EXPECT_TRUE(split.Enough());
    OverrideFreeSpace(28672 + 12288 + 12288 + 8192 - 1, 4096);
    EXPECT_FALSE(RoomForPack(dir / "p.0KX", 25000, 10000).Enough());

    // An old set of the same names stays until the new one is complete: it frees no room.
    WriteFileBytes(dir / "p.0KX", std::string(20000, 'x'));
    WriteFileBytes(dir / "p.1KX", std::string(20000, 'x'));
    EXPECT_EQ(RoomForPack(dir / "p.0KX", 25000, 10000).nNeeded, split.nNeeded);
}
