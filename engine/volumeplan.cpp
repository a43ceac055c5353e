#include "engine/volumeplan.h"

#include <algorithm>
#include <cstring>
#include <sys/stat.h>

#include "codec/codec.h"
#include "engine/codecwork.h"
#include "engine/format.h"
#include "engine/jobcontext.h"
#include "engine/packedformat.h"
#include "engine/packjob.h"
#include "platform/diskspace.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/strings.h"
#include "resources/textids.h"

namespace {

std::int64_t SizeOnDiskOf(const std::string& path)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return 0;
    return static_cast<std::int64_t>(info.st_blocks) * 512;
}

std::int64_t LengthOf(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<std::int64_t>(info.st_size) : -1;
}

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

int MeasureStreamLength(const std::string& projectPath, std::int64_t& streamLength)
{
    std::FILE* project = std::fopen(projectPath.c_str(), "rb");
    if (!project)
        return 0;
    std::FILE* nowhere = std::fopen("/dev/null", "wb");
    if (!nowhere) {
        CloseStream(project);
        return 0;
    }
    const CodecContext context = CompressLikeThePackJob(project, nowhere);

    CloseStream(project);
    CloseStream(nowhere);
    if (context.bReadFailed)
        return 0;
    streamLength = static_cast<std::int64_t>(context.nCounter);
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

    // The stream is first written whole under a temporary name; the old packed file of that
    // name is removed before (the user agreed to replace it).
    const std::int64_t stream = BytesOnDisk(streamLength, space.nBlockSize);
    const std::int64_t oldPacked = SizeOnDiskOf(packedPath);
    std::int64_t needed = stream - oldPacked;
    if (volumeSize > 0) {
        // At the split's end the stream still exists beside every volume; each old volume of
        // the same name has been replaced by then.
        std::int64_t volumes = 0;
        std::int64_t replaced = 0;
        for (const PlannedVolume& volume : PlanVolumes(packedPath, streamLength, volumeSize)) {
            volumes += BytesOnDisk(volume.nSize, space.nBlockSize);
            replaced += SizeOnDiskOf(volume.strPath);
        }
        needed = std::max(needed, stream + volumes - replaced);
    }
    check.nNeeded = std::max<std::int64_t>(needed, 0);
    return check;
}

RoomCheck RoomForSplit(const std::string& packedPath, int volumeSize)
{
    RoomCheck check;
    check.strFolder = FolderOf(packedPath);
    const FolderSpace space = FreeSpaceInFolder(check.strFolder);
    check.nAvailable = space.nAvailable;

    // The packed file is moved aside and stays until the last volume is written: the volumes
    // are all new bytes, less the old volumes 1 and on that they replace.
    const std::int64_t streamLength = std::max<std::int64_t>(LengthOf(packedPath), 0);
    std::int64_t needed = 0;
    const std::vector<PlannedVolume> plan = PlanVolumes(packedPath, streamLength, volumeSize);
    for (std::size_t i = 0; i < plan.size(); ++i) {
        needed += BytesOnDisk(plan[i].nSize, space.nBlockSize);
        if (i > 0)
            needed -= SizeOnDiskOf(plan[i].strPath);
    }
    check.nNeeded = std::max<std::int64_t>(needed, 0);
    return check;
}

int ReportRoom(const RoomCheck& check)
{
    if (check.Enough())
        return 1;
    ShowMessageBoxOwnedByMain(FormatText(LoadString(IDS_NO_ROOM).c_str(), check.strFolder.c_str(),
                                         static_cast<long long>(check.nNeeded),
                                         static_cast<long long>(check.nAvailable)),
                              MB_OK | MB_ICONEXCLAMATION);
    return 0;
}
