#include "platform/diskspace.h"

#include <atomic>
#include <sys/statvfs.h>

namespace {

std::atomic<std::int64_t> g_nOverrideAvailable{-1};
std::atomic<std::int64_t> g_nOverrideBlockSize{1};

} // namespace

FolderSpace FreeSpaceInFolder(const std::string& dir)
{
    FolderSpace space;
    const std::int64_t forced = g_nOverrideAvailable.load();
    if (forced >= 0) {
        space.nAvailable = forced;
        space.nBlockSize = g_nOverrideBlockSize.load();
        return space;
    }
    struct statvfs info {};
    if (statvfs(dir.empty() ? "." : dir.c_str(), &info) != 0)
        return space;
    const auto fragment = static_cast<std::int64_t>(info.f_frsize ? info.f_frsize : info.f_bsize);
    space.nBlockSize = fragment > 0 ? fragment : 1;
    space.nAvailable = static_cast<std::int64_t>(info.f_bavail) * space.nBlockSize;
    return space;
}

std::int64_t BytesOnDisk(std::int64_t length, std::int64_t blockSize)
{
    if (length <= 0)
        return 0;
    if (blockSize <= 1)
        return length;
    return (length + blockSize - 1) / blockSize * blockSize;
}

void OverrideFreeSpace(std::int64_t available, std::int64_t blockSize)
{
    g_nOverrideBlockSize.store(blockSize > 0 ? blockSize : 1);
    g_nOverrideAvailable.store(available);
}
