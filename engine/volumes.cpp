// Finding, checking and measuring the volumes of a set: what the unpack, test and join jobs
// and the window's volume chooser know about a set before any of its data is read.
#include "engine/volumes.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/fileutil.h"
#include "engine/format.h"
#include "engine/jobcontext.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/strings.h"
#include "resources/textids.h"

namespace {

bool CanOpenForReading(const std::string& path)
{
    const int fd = OpenRegularInput(path);
    if (fd < 0)
        return false;
    close(fd);
    return true;
}

bool IsKindError(int error)
{
    return error == ESPIPE || error == ENODEV || error == EISDIR;
}

// The volume's path in dir when it can be opened there, else empty. A FIFO, a device or a
// folder of the volume's name is no volume that anyone could mean to choose instead: its path
// and the reason are given in unusable, so that the set is refused with them.
std::string LookForVolume(const std::string& dir, const std::string& name, std::string& unusable,
                          int& error)
{
    const std::string found = FindFileIgnoringCase(dir, name);
    if (found.empty())
        return {};
    const int fd = OpenRegularInput(found);
    if (fd >= 0) {
        close(fd);
        return found;
    }
    if (IsKindError(errno) && unusable.empty()) {
        unusable = found;
        error = errno;
    }
    return {};
}

// The log names the volume, so that a saved log still says which disk to look for.
void LogMissingVolume(const std::string& expected)
{
    AppendStatus(FormatText(LoadString(IDS_VOLUME_NOT_FOUND_NAMED).c_str(), expected.c_str()) +
                 "\r\n");
    AppendStatusId(IDS_VOLUME_NOT_FOUND);
    AppendStatus("\r\n");
    AppendStatusId(IDS_UNPACK_FAILED);
}

} // namespace

std::string JoinedVolumeExtension(int index)
{
    return VolumeExtension(".0KX", index).substr(1);
}

std::string FindFileIgnoringCase(const std::string& dir, const std::string& name)
{
    const std::string exact = MakePath("", dir, name, "");
    if (LookUpFile(exact) == FileLookup::Exists)
        return exact;
    DIR* folder = opendir(dir.empty() ? "." : dir.c_str());
    if (!folder)
        return {};
    std::string found;
    while (const dirent* entry = readdir(folder)) {
        if (EqualIgnoringCase(entry->d_name, name)) {
            found = MakePath("", dir, entry->d_name, "");
            break;
        }
    }
    closedir(folder);
    return found;
}

bool CheckPackedHeader(const std::string& path, unsigned char header[PACKED_HEADER_SIZE])
{
    const PackedHeaderRead read = ReadPackedHeaderOf(path);
    std::memcpy(header, read.bytes.data(), PACKED_HEADER_SIZE);
    return read.bHeader;
}

bool BuildVolumeList(const std::string& packedPath, int count,
                     const std::vector<std::string>& searchDirs, JoinInfo& found)
{
    found = JoinInfo{};
    found.volumeCount = count;
    std::vector<std::string>& volumes = found.volumes;
    const PathParts parts = SplitPath(packedPath);
    for (int index = 0; index < count; ++index) {
        // Volume 0 is the file whose header was just read, whatever its extension.
        if (index == 0) {
            volumes.push_back(packedPath);
            continue;
        }
        const std::string ext = JoinedVolumeExtension(index);
        const std::string name = VolumeFileName(packedPath, index);
        std::string unusable;
        int error = 0;
        std::string path;
        for (const std::string& folder : VolumeFolders(packedPath, searchDirs))
            if (path.empty())
                path = LookForVolume(folder, name, unusable, error);
        if (!path.empty()) {
            volumes.push_back(path);
            continue;
        }
        if (!unusable.empty()) {
            // Opening it might never end (a FIFO) or read forever (/dev/zero).
            found.badVolume = index;
            found.badPath = unusable;
            found.badError = error;
            ShowMessageBoxOwnedByMain(FormatText(LoadString(IDS_VOLUME_NOT_REGULAR).c_str(),
                                                 static_cast<long>(index), unusable.c_str(),
                                                 InputErrorText(error).c_str()),
                                      MB_OK | MB_ICONEXCLAMATION);
            AppendStatusId(IDS_UNPACK_FAILED);
            return false;
        }

        const std::string expected = MakePath(parts.drive, parts.dir, parts.name, ext);
        if (ShowMessageBoxOwnedByMain(
                FormatText(LoadString(IDS_FIND_VOLUME_QUESTION).c_str(), expected.c_str()),
                MB_OKCANCEL | MB_ICONEXCLAMATION) == IDOK) {
            FindVolumeRequest request;
            request.strExt = ext;
            request.strName = parts.name;
            request.nVolume = index;
            request.nVolumes = count;
            request.pFound = &volumes;
            // A file that cannot be this volume is refused with the reason, and the user
            // chooses again, until a fitting one or none.
            std::string accepted;
            for (;;) {
                const std::optional<std::string> chosen = FindVolumeThroughMain(request);
                if (!chosen)
                    break;
                const std::string& choice = *chosen;
                const std::string problem =
                    CheckChosenVolume(volumes, index, count, choice, searchDirs);
                if (problem.empty()) {
                    accepted = choice;
                    break;
                }
                ShowMessageBoxOwnedByMain(problem, MB_OK | MB_ICONEXCLAMATION);
            }
            if (!accepted.empty()) {
                volumes.push_back(accepted);
                continue;
            }
        }
        found.missingVolume = index;
        found.missingName = expected;
        LogMissingVolume(expected);
        return false;
    }
    return true;
}

SetShape MeasureSet(const std::vector<std::string>& volumes)
{
    SetShape shape;
    for (const std::string& volume : volumes) {
        struct stat info {};
        shape.sizes.push_back(
            stat(volume.c_str(), &info) == 0 ? static_cast<std::int64_t>(info.st_size) : -1);
    }
    const std::size_t count = shape.sizes.size();
    if (count < 2)
        return shape;
    // Volume 0 less its header and every middle volume each say what V is. The size most of
    // them agree on is V, so that the one volume cut short or grown is the one named, not its
    // sound neighbours. With two witnesses that differ (a set of three), the larger is taken:
    // a copy cut short is the common damage, and no volume but the last may be shorter than V.
    std::vector<std::int64_t> witnesses{shape.sizes[0] -
                                        static_cast<std::int64_t>(PACKED_HEADER_SIZE)};
    for (std::size_t i = 1; i + 1 < count; ++i)
        witnesses.push_back(shape.sizes[i]);
    std::size_t bestVotes = 0;
    for (const std::int64_t candidate : witnesses) {
        const auto votes =
            static_cast<std::size_t>(std::count(witnesses.begin(), witnesses.end(), candidate));
        if (votes > bestVotes || (votes == bestVotes && candidate > shape.volumeSize)) {
            bestVotes = votes;
            shape.volumeSize = candidate;
        }
    }
    for (std::size_t i = 1; i + 1 < count; ++i)
        if (shape.sizes[i] != shape.volumeSize)
            shape.oddVolumes.push_back(static_cast<int>(i));
    shape.firstWrong =
        shape.sizes[0] != shape.volumeSize + static_cast<std::int64_t>(PACKED_HEADER_SIZE);
    shape.lastTooLong = shape.sizes.back() > shape.volumeSize;
    return shape;
}

std::vector<std::string> DescribeSetShape(const SetShape& shape,
                                          const std::vector<std::string>& volumes)
{
    std::vector<std::string> lines;
    const std::size_t count = shape.sizes.size();
    if (count < 2 || volumes.size() != count)
        return lines;
    if (shape.firstWrong)
        lines.push_back(FormatText(
            LoadString(IDS_CHECK_FIRST_SIZE).c_str(), volumes[0].c_str(),
            static_cast<long>(shape.sizes[0]),
            static_cast<long>(shape.volumeSize + static_cast<std::int64_t>(PACKED_HEADER_SIZE))));
    for (int i : shape.oddVolumes)
        lines.push_back(FormatText(LoadString(IDS_CHECK_MIDDLE_SIZE).c_str(), static_cast<long>(i),
                                   volumes[static_cast<std::size_t>(i)].c_str(),
                                   static_cast<long>(shape.sizes[static_cast<std::size_t>(i)]),
                                   static_cast<long>(count - 2),
                                   static_cast<long>(shape.volumeSize)));
    if (shape.lastTooLong)
        lines.push_back(FormatText(LoadString(IDS_CHECK_LAST_SIZE).c_str(), volumes.back().c_str(),
                                   static_cast<long>(shape.sizes.back()),
                                   static_cast<long>(shape.volumeSize)));
    return lines;
}

std::string CheckChosenVolume(const std::vector<std::string>& volumesSoFar, int index, int count,
                              const std::string& chosen, const std::vector<std::string>& searchDirs)
{
    auto same = [&](const std::string& a, const std::string& b) {
        return a == b || IsSameFile(a, b);
    };
    for (std::size_t j = 0; j < volumesSoFar.size(); ++j)
        if (same(chosen, volumesSoFar[j]))
            return FormatText(LoadString(IDS_VOLUME_ALREADY_IN_SET).c_str(), chosen.c_str(),
                              static_cast<long>(j), volumesSoFar[j].c_str());
    if (!volumesSoFar.empty()) {
        const std::vector<std::string> folders = VolumeFolders(volumesSoFar.front(), searchDirs);
        for (int j = index + 1; j < count; ++j) {
            const std::string name = VolumeFileName(volumesSoFar.front(), j);
            for (const std::string& folder : folders) {
                const std::string later = MakePath("", folder, name, "");
                if (IsSameFile(chosen, later))
                    return FormatText(LoadString(IDS_VOLUME_ALREADY_IN_SET).c_str(), chosen.c_str(),
                                      static_cast<long>(j), later.c_str());
            }
        }
    }

    struct stat info {};
    if (stat(chosen.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || !CanOpenForReading(chosen))
        return FormatText(LoadString(IDS_VOLUME_NOT_A_FILE).c_str(), chosen.c_str());
    const std::int64_t size = static_cast<std::int64_t>(info.st_size);
    const std::int64_t first = volumesSoFar.empty() ? -1 : FileLength(volumesSoFar.front());
    if (first < 0 || count < 2)
        return {};
    const std::int64_t volumeSize = first - static_cast<std::int64_t>(PACKED_HEADER_SIZE);
    if (index < count - 1 && size != volumeSize)
        return FormatText(LoadString(IDS_VOLUME_WRONG_SIZE).c_str(), chosen.c_str(),
                          static_cast<long long>(size), static_cast<long>(index),
                          static_cast<long long>(volumeSize));
    if (index == count - 1 && size > volumeSize)
        return FormatText(LoadString(IDS_VOLUME_TOO_LONG).c_str(), chosen.c_str(),
                          static_cast<long long>(size), static_cast<long>(index),
                          static_cast<long long>(volumeSize));
    return {};
}

std::vector<std::string> VolumeFolders(const std::string& packedPath,
                                       const std::vector<std::string>& searchDirs)
{
    const PathParts parts = SplitPath(packedPath);
    std::vector<std::string> folders{parts.drive + parts.dir};
    folders.insert(folders.end(), searchDirs.begin(), searchDirs.end());
    return folders;
}

std::string VolumeFileName(const std::string& packedPath, int index)
{
    return SplitPath(packedPath).name + "." + JoinedVolumeExtension(index);
}

std::string FindVolumeFile(const std::string& packedPath, int index,
                           const std::vector<std::string>& searchDirs)
{
    const std::string name = VolumeFileName(packedPath, index);
    for (const std::string& folder : VolumeFolders(packedPath, searchDirs))
        if (std::string found = FindFileIgnoringCase(folder, name); !found.empty())
            return found;
    return {};
}
