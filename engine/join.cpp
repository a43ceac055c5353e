#include "engine/join.h"

#include <cctype>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>

#include "engine/format.h"
#include "engine/jobcontext.h"
#include "engine/packedformat.h"
#include "engine/unpackjob.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/strings.h"
#include "resources/textids.h"

std::vector<std::string> g_volumeSearchDirs;
JoinInfo g_lastJoin;

namespace {

// Every read and write of the join moves this many bytes at most: the only data it holds.
constexpr std::size_t JOIN_CHUNK_SIZE = 2000;
// Prefix of the joined temporary file.
constexpr const char* kJoinTempPrefix = "zunj";

void ShowBox(unsigned id, const std::string& path)
{
    ShowMessageBoxOwnedByMain(FormatText(LoadString(id).c_str(), path.c_str()),
                              MB_OK | MB_ICONEXCLAMATION);
}

bool CanOpenForReading(const std::string& path)
{
    std::FILE* probe = std::fopen(path.c_str(), "rb");
    if (!probe)
        return false;
    std::fclose(probe);
    return true;
}

bool EqualIgnoringCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// The volume's path in dir when it can be opened there, else empty.
std::string LookForVolume(const std::string& dir, const std::string& name)
{
    const std::string found = FindFileIgnoringCase(dir, name);
    return !found.empty() && CanOpenForReading(found) ? found : std::string();
}

void LogMissingVolume()
{
    AppendStatusId(IDS_VOLUME_NOT_FOUND);
    AppendStatus("\r\n");
    AppendStatusId(IDS_UNPACK_FAILED);
}

// Copies one volume to the end of the joined file. A read or write error is shown (boxes 1220
// and 1221) and ends this volume's copy; it returns false then.
bool AppendVolume(std::FILE* volume, bool skipHeader, std::FILE* joined)
{
    unsigned char buffer[JOIN_CHUNK_SIZE];
    if (skipHeader) {
        unsigned char header[PACKED_HEADER_SIZE];
        ReadBytes(header, sizeof header, volume);
    }
    for (;;) {
        const std::size_t got = ReadBytes(buffer, sizeof buffer, volume);
        if (!CheckStream(volume, IDS_READ_ERROR))
            return false;
        if (got > 0)
            WriteBytes(buffer, got, joined);
        if (!CheckStream(joined, IDS_WRITE_ERROR))
            return false;
        if (got < sizeof buffer)
            return true; // the end of the volume: a short read without an error
    }
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

bool CheckPackedHeader(const std::string& path, unsigned char header[16])
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    const std::size_t got = ReadBytes(header, PACKED_HEADER_SIZE, file);
    const bool readWhole = got == PACKED_HEADER_SIZE && !StreamFailed(file);
    CloseStream(file);
    int count = 0;
    return readWhole && ReadPackedFileHeader(header, count);
}

bool BuildVolumeList(const std::string& packedPath, int count, std::vector<std::string>& volumes)
{
    volumes.clear();
    g_lastJoin = JoinInfo{};
    g_lastJoin.nVolumes = count;
    const PathParts parts = SplitPath(packedPath);
    for (int index = 0; index < count; ++index) {
        // Volume 0 is the file whose header was just read, whatever its extension.
        if (index == 0) {
            volumes.push_back(packedPath);
            continue;
        }
        const std::string ext = JoinedVolumeExtension(index);
        const std::string name = parts.name + "." + ext;
        std::string path = LookForVolume(parts.drive + parts.dir, name);
        for (std::size_t d = 0; path.empty() && d < g_volumeSearchDirs.size(); ++d)
            path = LookForVolume(g_volumeSearchDirs[d], name);
        if (!path.empty()) {
            volumes.push_back(path);
            continue;
        }

        const std::string expected = MakePath(parts.drive, parts.dir, parts.name, ext);
        if (ShowMessageBoxOwnedByMain(
                FormatText(LoadString(IDS_FIND_VOLUME_QUESTION).c_str(), expected.c_str()),
                MB_OKCANCEL | MB_ICONEXCLAMATION) == IDOK) {
            FindVolumeRequest request;
            request.pszExt = ext.c_str();
            request.pszName = parts.name.c_str();
            request.nVolume = index;
            request.nVolumes = count;
            char* chosen = reinterpret_cast<char*>(
                SendMessageToMainWindow(WM_FINDFILE, 0, reinterpret_cast<LPARAM>(&request)));
            if (chosen) {
                volumes.emplace_back(chosen);
                std::free(chosen);
                continue;
            }
        }
        g_lastJoin.nMissingVolume = index;
        g_lastJoin.strMissingName = expected;
        LogMissingVolume();
        return false;
    }
    g_lastJoin.volumes = volumes;
    return true;
}

SetShape MeasureSet(const std::vector<std::string>& volumes)
{
    SetShape shape;
    for (const std::string& volume : volumes) {
        struct stat info {};
        shape.sizes.push_back(stat(volume.c_str(), &info) == 0 ? static_cast<std::int64_t>(info.st_size) : -1);
    }
    const std::size_t count = shape.sizes.size();
    if (count < 2)
        return shape;
    shape.nVolumeSize = count >= 3 ? shape.sizes[1] : shape.sizes[0] - static_cast<std::int64_t>(PACKED_HEADER_SIZE);
    for (std::size_t i = 1; i + 1 < count; ++i)
        if (shape.sizes[i] != shape.nVolumeSize)
            shape.oddVolumes.push_back(static_cast<int>(i));
    shape.bFirstWrong = shape.sizes[0] != shape.nVolumeSize + static_cast<std::int64_t>(PACKED_HEADER_SIZE);
    shape.bLastTooLong = shape.sizes.back() > shape.nVolumeSize;
    return shape;
}

bool JoinVolumes(const std::string& packedPath, std::string& tempName)
{
    tempName.clear();
    unsigned char header[PACKED_HEADER_SIZE] = {};
    if (!CheckPackedHeader(packedPath, header))
        return true;
    int count = 0;
    ReadPackedFileHeader(header, count);
    if (count <= 0) {
        // No set has fewer than one volume: the header is damaged, and joining nothing would
        // pass an empty stream off as an empty project file.
        g_lastJoin = JoinInfo{};
        g_lastJoin.nVolumes = count;
        ShowBox(IDS_INVALID_FILE_NAME, packedPath);
        AppendStatus(FormatText(LoadString(IDS_INVALID_FILE_NAME).c_str(), packedPath.c_str()));
        AppendStatus("\r\n");
        AppendStatusId(IDS_UNPACK_FAILED);
        return false;
    }

    std::vector<std::string> volumes;
    if (!BuildVolumeList(packedPath, count, volumes))
        return false;

    // The joined file is created exclusively beside the packed file, so that no other file can
    // be taken for it or written through it.
    const std::string folder = g_strUnpackFolder.empty() ? SplitPath(packedPath).dir : g_strUnpackFolder;
    std::FILE* joined = CreateExclusiveStream(folder, kJoinTempPrefix, "wb", tempName);
    bool failed = false;
    if (!joined) {
        // The folder is named with the system's reason (a read-only folder, say), not the
        // pattern of a temporary name that the user never chose.
        const int error = errno;
        std::string shown = folder.empty() ? std::string(".") : folder;
        if (shown.size() > 1 && shown.back() == '/')
            shown.pop_back();
        ShowDiskErrorBox(IDS_WRITE_ERROR, IDS_CANNOT_CREATE_IN_FOLDER, shown, error);
        AppendStatus("\r\n");
        tempName.clear();
        failed = true;
    }

    for (int index = 0; joined && index < count; ++index) {
        const std::string& name = volumes[static_cast<std::size_t>(index)];
        std::FILE* volume = std::fopen(name.c_str(), "rb");
        if (!volume) {
            failed = true;
            ShowBox(IDS_CANNOT_OPEN_FILE, name);
            AppendStatusId(IDS_VOLUME_NOT_FOUND);
            AppendStatus("\r\n");
            break;
        }
        AppendStatus(FormatText(LoadString(IDS_APPENDING_FILE).c_str(), name.c_str()));
        // A read or write error ends this volume's copy, but the later volumes are still
        // appended, each with its own line, before the failure is logged.
        if (!AppendVolume(volume, index == 0, joined))
            failed = true;
        CloseStream(volume);
        AppendStatusId(IDS_DONE);
        AppendStatus("\r\n");
    }

    if (joined) {
        // Buffered data reaches the disk only here: a full disk may show here first.
        const bool flushed = std::fflush(joined) == 0 && !StreamFailed(joined);
        if (CloseWrittenStream(joined) != 0 || !flushed) {
            if (!failed)
                ShowMessageBoxOwnedByMain(LoadString(IDS_WRITE_ERROR), MB_OK | MB_ICONEXCLAMATION);
            failed = true;
        }
    }
    if (failed) {
        AppendStatusId(IDS_UNPACK_FAILED);
        if (!tempName.empty())
            std::remove(tempName.c_str());
        tempName.clear();
        return false;
    }
    return true;
}
