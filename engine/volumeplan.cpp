#include "engine/volumeplan.h"

#include <algorithm>
#include <cstring>
#include <sys/stat.h>

#include "codec/codec.h"
#include "engine/codecwork.h"
#include "engine/fileutil.h"
#include "engine/format.h"
#include "engine/jobcontext.h"
#include "engine/packedformat.h"
#include "platform/diskspace.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/strings.h"
#include "resources/textids.h"

namespace {

std::string FolderOf(const std::string& path)
{
    const std::string dir = SplitPath(path).dir;
    return dir.empty() ? std::string(".") : dir;
}

} // namespace

std::vector<PlannedVolume> PlanVolumes(const std::string& packedPath, std::int64_t streamLength,
                                       int volumeSize)
{
    std::vector<PlannedVolume> plan;
    if (volumeSize <= 0) {
        plan.push_back({packedPath, streamLength});
        return plan;
    }
    // A set of more than MAX_VOLUMES volumes is refused by the split; the plan names one
    // volume beyond the limit at most, which is enough to show it.
    const std::int64_t count =
        std::min<std::int64_t>(VolumeCountFor(streamLength, volumeSize), MAX_VOLUMES + 1);
    for (std::int64_t i = 0; i < count; ++i) {
        std::int64_t size = std::min<std::int64_t>(volumeSize, streamLength - i * volumeSize);
        if (i == 0)
            size += static_cast<std::int64_t>(PACKED_HEADER_SIZE);
        plan.push_back({VolumePath(packedPath, static_cast<int>(i)), size});
    }
    return plan;
}

int MeasureStreamLength(const std::string& projectPath, std::int64_t& streamLength,
                        unsigned threads)
{
    std::FILE* project = OpenRegularInputStream(projectPath);
    if (!project)
        return 0;
    UseLargeInputBuffer(project);
    std::FILE* nowhere = std::fopen("/dev/null", "wb");
    if (!nowhere) {
        CloseStream(project);
        return 0;
    }
    const CompressContext context = CompressLikeThePackJob(project, nowhere, threads);

    CloseStream(project);
    CloseStream(nowhere);
    if (context.bReadFailed)
        return 0;
    streamLength = static_cast<std::int64_t>(context.nCompressed);
    return 1;
}

std::int64_t WorstCaseStreamLength(std::int64_t projectLength)
{
    return projectLength + projectLength / 4 + 64;
}

RoomCheck RoomForPack(const std::string& packedPath, std::int64_t streamLength, int volumeSize)
{
    RoomCheck check;
    check.strFolder = FolderOf(packedPath);
    const FolderSpace space = FreeSpaceInFolder(check.strFolder);
    check.nAvailable = space.nAvailable;

    // The stream is written whole under a temporary name; the old packed file of that name
    // stays until the new one takes its place. A split then copies the stream into volumes,
    // all of them under temporary names, while the stream and the old set still exist.
    std::int64_t needed = BytesOnDisk(streamLength, space.nBlockSize);
    if (volumeSize > 0)
        for (const PlannedVolume& volume : PlanVolumes(packedPath, streamLength, volumeSize))
            needed += BytesOnDisk(volume.nSize, space.nBlockSize);
    check.nNeeded = needed;
    return check;
}

RoomCheck RoomForSplit(const std::string& streamPath, const std::string& packedPath, int volumeSize)
{
    RoomCheck check;
    check.strFolder = FolderOf(packedPath);
    const FolderSpace space = FreeSpaceInFolder(check.strFolder);
    check.nAvailable = space.nAvailable;

    // Every volume is new bytes: the stream and the files the volumes replace stay until the
    // set is complete.
    const std::int64_t streamLength = std::max<std::int64_t>(FileLength(streamPath), 0);
    std::int64_t needed = 0;
    for (const PlannedVolume& volume : PlanVolumes(packedPath, streamLength, volumeSize))
        needed += BytesOnDisk(volume.nSize, space.nBlockSize);
    check.nNeeded = needed;
    return check;
}

int ReportRoom(const RoomCheck& check)
{
    if (check.Enough())
        return 1;
    const std::string text =
        FormatText(LoadString(IDS_NO_ROOM).c_str(), check.strFolder.c_str(),
                   static_cast<long long>(check.nNeeded), static_cast<long long>(check.nAvailable));
    ShowMessageBoxOwnedByMain(text, MB_OK | MB_ICONEXCLAMATION);
    // Logged too, so that a saved log keeps the reason; the console prints the two once.
    AppendStatus(text + "\r\n");
    return 0;
}

int CheckRoomForSplitPack(const std::string& projectPath, const std::string& packedPath,
                          int volumeSize, unsigned threads, const std::function<void(bool)>& quiet)
{
    if (RoomForPack(packedPath,
                    WorstCaseStreamLength(std::max<std::int64_t>(FileLength(projectPath), 0)),
                    volumeSize)
            .Enough())
        return 1;
    std::int64_t streamLength = 0;
    if (quiet)
        quiet(true);
    const int measured = MeasureStreamLength(projectPath, streamLength, threads);
    if (quiet)
        quiet(false);
    if (!measured)
        return 1;
    return ReportRoom(RoomForPack(packedPath, streamLength, volumeSize));
}
