#include "engine/split.h"

#include <sys/stat.h>
#include <unistd.h>

#include "engine/format.h"
#include "engine/jobcontext.h"
#include "engine/packjob.h"
#include "engine/volumeplan.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/strings.h"
#include "resources/textids.h"

namespace {

void ShowBox(unsigned id, const std::string& path)
{
    ShowMessageBoxOwnedByMain(FormatText(LoadString(id).c_str(), path.c_str()),
                              MB_OK | MB_ICONEXCLAMATION);
}

std::int64_t FileSize(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<std::int64_t>(info.st_size) : -1;
}

void RemoveFiles(const std::vector<std::string>& names)
{
    for (const std::string& name : names)
        std::remove(name.c_str());
}

} // namespace

int RunSplitStep()
{
    PostMessageToMainWindow(WM_JOBSTATE, JOB_SPLITTING, 0);
    AppendStatus("\r\n");
    AppendStatusId(IDS_SPLIT_START);
    // A folder without room for the volumes is refused before any is written.
    if (!ReportRoom(RoomForSplit(g_strPackedPath, g_nVolumeSize)))
        return 0;
    return SplitPackedFile(std::string(g_strPackedPath), g_nVolumeSize);
}

std::FILE* MoveToTempFile(const std::string& path)
{
    // The temporary name is taken by creating the file exclusively in the packed file's own
    // folder; the rename then replaces that empty file, and cannot cross file systems.
    std::string tempPath;
    const int fd = CreateExclusiveFile(SplitPath(path).dir, "tmp_", tempPath);
    if (fd < 0)
        return nullptr;
    close(fd);
    if (std::rename(path.c_str(), tempPath.c_str()) != 0) {
        std::remove(tempPath.c_str());
        return nullptr;
    }
    std::FILE* stream = std::fopen(tempPath.c_str(), "rb");
    if (!stream) {
        // Put the packed file back under its own name rather than leave it under a temporary one.
        std::rename(tempPath.c_str(), path.c_str());
        return nullptr;
    }
    g_fileNames.push_back(tempPath);
    return stream;
}

int WriteVolumeHeader(const std::string& path,
                      const std::array<unsigned char, PACKED_HEADER_SIZE>& header)
{
    std::FILE* volume = std::fopen(path.c_str(), "wb");
    if (!CheckStream(volume, IDS_WRITE_ERROR))
        return 0;
    WriteBytes(header.data(), header.size(), volume);
    const bool flushed = std::fflush(volume) == 0;
    const int ok = CheckStream(volume, IDS_WRITE_ERROR);
    const bool closed = CloseStream(volume) == 0;
    if (ok && !(flushed && closed)) {
        ShowMessageBoxOwnedByMain(LoadString(IDS_WRITE_ERROR), MB_OK | MB_ICONEXCLAMATION);
        return 0;
    }
    return ok;
}

std::size_t ReadChunk(std::size_t count, unsigned char* buffer, std::FILE* source)
{
    return ReadBytes(buffer, count, source);
}

void CopyVolumeData(std::int64_t wanted, unsigned char* buffer, std::size_t bufferSize,
                    std::FILE* source, std::FILE* dest)
{
    std::int64_t remaining = wanted;
    while (remaining > 0) {
        const std::size_t want = remaining < static_cast<std::int64_t>(bufferSize)
            ? static_cast<std::size_t>(remaining) : bufferSize;
        const std::size_t got = ReadChunk(want, buffer, source);
        if (got > 0 && WriteBytes(buffer, got, dest) < got)
            return;
        remaining -= static_cast<std::int64_t>(got);
        // A short read is the end of the file or a read error; either ends this volume.
        if (got < want)
            return;
    }
}

int SplitPackedFile(const std::string& packedPath, int volumeSize)
{
    g_fileNames.clear();

    // Refuse a set the 16-bit count cannot describe before anything is moved.
    const std::int64_t streamLength = FileSize(packedPath);
    if (volumeSize > 0 && streamLength >= 0) {
        const std::int64_t volumes = VolumeCountFor(streamLength, volumeSize);
        if (volumes > MAX_VOLUMES) {
            ShowMessageBoxOwnedByMain(
                FormatText(LoadString(IDS_SPLIT_TOO_MANY_VOLUMES).c_str(), packedPath.c_str(),
                           static_cast<long>(volumeSize), static_cast<long>(volumes)),
                MB_OK | MB_ICONEXCLAMATION);
            return 0;
        }
    }

    std::FILE* temp = volumeSize > 0 ? MoveToTempFile(packedPath) : nullptr;
    if (!temp) {
        ShowBox(IDS_CANNOT_OPEN_FOR_READING, packedPath);
        return 0;
    }

    AppendStatus("\r\n");
    bool failed = false;
    bool stop = false;
    unsigned char buffer[SPLIT_CHUNK_SIZE];
    // Volume 0 carries the header that makes the volumes a set. It is written under a
    // temporary name and takes its own name only when every volume is complete: a split that
    // is cut off (killed, power lost) then never leaves volumes that pass for a whole set,
    // such as the first volumes of this set followed by the rest of an older one.
    std::string firstVolumeTemp;
    for (int index = 0; !stop; ++index) {
        const std::string volumePath = VolumePath(packedPath, index);
        if (!CheckExistingFile(volumePath)) {
            AppendStatusId(IDS_ABORTED_BY_USER);
            failed = true;
            break;
        }

        std::FILE* volume = nullptr;
        if (index == 0) {
            // Volume 0 counts as this split's as soon as it is created (its name was free since
            // the move), so that a failed header write removes it too.
            g_fileNames.push_back(volumePath);
            const std::int64_t count = VolumeCountFor(FileSize(g_fileNames.front()), volumeSize);
            const int fd = CreateExclusiveFile(SplitPath(volumePath).dir, "tmp_", firstVolumeTemp);
            if (fd >= 0) {
                close(fd);
                if (WriteVolumeHeader(firstVolumeTemp, MakePackedFileHeader(static_cast<int>(count))))
                    volume = std::fopen(firstVolumeTemp.c_str(), "ab");
            }
        } else {
            volume = std::fopen(volumePath.c_str(), "wb");
            if (volume)
                g_fileNames.push_back(volumePath);
        }
        if (!volume) {
            ShowBox(IDS_CANNOT_OPEN_FOR_WRITING, volumePath);
            failed = true;
            break;
        }

        AppendStatusId(IDS_CREATING_SPLIT_FILE);
        AppendStatus(FormatText(" %s...", volumePath.c_str()));
        CopyVolumeData(volumeSize, buffer, sizeof(buffer), temp, volume);

        // Buffered data reaches the disk at the flush: a full disk shows there at the latest.
        const bool flushed = std::fflush(volume) == 0;
        const int readOk = CheckStream(temp, IDS_READ_ERROR);
        const int writeOk = flushed ? CheckStream(volume, IDS_WRITE_ERROR) : 0;
        if (!flushed)
            ShowMessageBoxOwnedByMain(LoadString(IDS_WRITE_ERROR), MB_OK | MB_ICONEXCLAMATION);
        const bool closed = CloseWrittenStream(volume) == 0;
        if (!readOk || !writeOk || !closed) {
            failed = true;
            AppendStatus("\r\n");
            AppendStatusId(IDS_IO_ERROR);
            AppendStatus("\r\n");
            break;
        }
        AppendStatusId(IDS_DONE);
        AppendStatus("\r\n");
        if (std::feof(temp))
            stop = true;
    }
    CloseStream(temp);

    if (!failed && std::rename(firstVolumeTemp.c_str(), g_fileNames[1].c_str()) != 0) {
        failed = true;
        ShowMessageBoxOwnedByMain(LoadString(IDS_WRITE_ERROR), MB_OK | MB_ICONEXCLAMATION);
        AppendStatus("\r\n");
        AppendStatusId(IDS_IO_ERROR);
        AppendStatus("\r\n");
    }
    if (failed) {
        if (!firstVolumeTemp.empty())
            std::remove(firstVolumeTemp.c_str());
        RemoveFiles(g_fileNames);
        return 0;
    }
    std::remove(g_fileNames.front().c_str());
    return 1;
}
