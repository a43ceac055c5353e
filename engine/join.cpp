#include "engine/join.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <dirent.h>
#include <functional>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/fileutil.h"
#include "engine/format.h"
#include "engine/jobcontext.h"
#include "engine/joblock.h"
#include "engine/manifest.h"
#include "engine/packedformat.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/strings.h"
#include "platform/thread.h"
#include "resources/textids.h"

namespace {

// Every read and write of the join moves this many bytes at most: the only data it holds.
constexpr std::size_t JOIN_CHUNK_SIZE = 2000;

// The join's progress: bytes copied of the whole set, shown by whole percent.
struct JoinProgress {
    std::int64_t total = 0;
    std::int64_t copied = 0;
    int percent = -1;

    void Add(std::size_t bytes)
    {
        copied += static_cast<std::int64_t>(bytes);
        if (total <= 0)
            return;
        const int now = static_cast<int>(std::min<std::int64_t>(100, copied * 100 / total));
        if (now != percent) {
            percent = now;
            SetProgress(now);
        }
    }
};

// An existing output that is neither a regular file nor a folder: a device, a FIFO, a socket.
bool IsSpecialFile(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode);
}

// Copies one volume to the end of the joined file. A read or write error is shown (boxes 1220
// and 1221) and ends this volume's copy; it returns false then.
bool AppendVolume(std::FILE* volume, bool skipHeader, std::FILE* joined, JoinProgress& progress)
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
        progress.Add(got);
        if (got < sizeof buffer)
            return true; // the end of the volume: a short read without an error
    }
}

} // namespace

namespace {

// The join itself: into a temporary file created in folder, or, when straightInto names an
// output that is not a regular file (a device, a FIFO), straight into it. approve, when set,
// sees the volumes actually found before anything is written and may end the join (it reports
// why).
bool JoinSet(const std::string& packedPath, const std::string& folder,
             const std::vector<std::string>& searchDirs, std::string& tempName, JoinInfo& found,
             const std::function<bool(const std::vector<std::string>&)>& approve,
             const std::string& straightInto = std::string())
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
        found = JoinInfo{};
        found.volumeCount = count;
        ShowBox(IDS_INVALID_FILE_FORMAT, packedPath);
        AppendStatus(FormatText(LoadString(IDS_INVALID_FILE_FORMAT).c_str(), packedPath.c_str()));
        AppendStatus("\r\n");
        AppendStatusId(IDS_UNPACK_FAILED);
        return false;
    }

    if (!BuildVolumeList(packedPath, count, searchDirs, found))
        return false;
    const std::vector<std::string>& volumes = found.volumes;
    if (approve && !approve(volumes)) {
        AppendStatusId(IDS_UNPACK_FAILED);
        return false;
    }
    // A volume of the wrong size is named before the join, whatever the decoder makes of the
    // stream later: it is the disk to copy again.
    for (const std::string& line : DescribeSetShape(MeasureSet(volumes), volumes)) {
        AppendStatus(line);
        AppendStatus("\r\n");
    }

    JoinProgress progress;
    for (const std::string& volume : volumes)
        progress.total += std::max<std::int64_t>(FileLength(volume), 0);
    progress.total -= static_cast<std::int64_t>(PACKED_HEADER_SIZE);

    // The joined file is created exclusively, so that no other file can be taken for it or
    // written through it.
    const bool straight = !straightInto.empty();
    std::FILE* joined = straight ? std::fopen(straightInto.c_str(), "wb")
                                 : CreateExclusiveStream(folder, TEMP_FILE_PREFIX, "wb", tempName);
    bool failed = false;
    if (!joined && straight) {
        ShowBoxWithReason(IDS_CANNOT_OPEN_FOR_WRITING, straightInto, errno);
        AppendStatus("\r\n");
        failed = true;
    } else if (!joined) {
        // The folder is named with the system's reason (a read-only folder, say), not the
        // pattern of a temporary name that the user never chose.
        const int error = errno;
        std::string shown = folder.empty() ? std::string(".") : folder;
        if (shown.size() > 1 && shown.back() == '/')
            shown.pop_back();
        ReportDiskError(IDS_WRITE_ERROR, IDS_CANNOT_CREATE_IN_FOLDER, shown, error);
        tempName.clear();
        failed = true;
    }

    for (int index = 0; joined && index < count; ++index) {
        const std::string& name = volumes[static_cast<std::size_t>(index)];
        std::FILE* volume = OpenRegularInputStream(name);
        if (!volume) {
            failed = true;
            ShowMessageBoxOwnedByMain(FormatText(LoadString(IDS_CANNOT_READ_FILE).c_str(),
                                                 name.c_str(), InputErrorText(errno).c_str()),
                                      MB_OK | MB_ICONEXCLAMATION);
            AppendStatusId(IDS_VOLUME_NOT_FOUND);
            AppendStatus("\r\n");
            break;
        }
        UseLargeInputBuffer(volume); // read in chunks of JOIN_CHUNK_SIZE
        AppendStatus(FormatText(LoadString(IDS_APPENDING_FILE).c_str(), name.c_str()));
        // A read or write error ends this volume's copy, but the later volumes are still
        // appended, each with its own line, before the failure is logged.
        if (!AppendVolume(volume, index == 0, joined, progress))
            failed = true;
        CloseStream(volume);
        AppendStatusId(IDS_DONE);
        AppendStatus("\r\n");
    }

    if (joined) {
        // Buffered data reaches the disk only here: a full disk may show here first.
        const bool flushed = std::fflush(joined) == 0 && !StreamFailed(joined);
        // A device or a FIFO cannot be forced to a disk; its close still reports its errors.
        const int closed = straight ? CloseStream(joined) : CloseWrittenStream(joined);
        if (closed != 0 || !flushed) {
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

} // namespace

bool JoinVolumes(const std::string& packedPath, const std::string& folder,
                 const std::vector<std::string>& searchDirs, std::string& tempName, JoinInfo& found)
{
    // Beside the packed file unless the caller names a folder.
    return JoinSet(packedPath, folder.empty() ? SplitPath(packedPath).dir : folder, searchDirs,
                   tempName, found, nullptr);
}

namespace {

void JoinWorker(const JoinRequest& request, JoinOutcome& outcome)
{
    // The output's name is this job's, and the set is read while no one replaces it: both
    // locked before the question about the output.
    JobLocks locks;
    if (!locks.Take({{request.packedPath, NameLockMode::Shared},
                     {request.outPath, NameLockMode::Exclusive}})) {
        ReportJobEnded(JobKind::Join, false);
        PostJobState(JOB_IDLE);
        return;
    }
    // A device or a FIFO is written to, not replaced: nothing to ask.
    if (!IsSpecialFile(request.outPath) && !AskBeforeReplacing(request.outPath)) {
        // Only an answer is the user's abort; an invalid name was refused with its box.
        if (LookUpFile(request.outPath) == FileLookup::Exists)
            AppendStatusId(IDS_ABORTED_BY_USER);
        ReportJobEnded(JobKind::Join, false);
        PostJobState(JOB_IDLE);
        return;
    }
    outcome.started = true;
    PostJobState(JOB_JOINING);
    const ManifestCheck manifest = ExamineManifest(request.packedPath);
    auto approve = [&](const std::vector<std::string>& volumes) {
        // The output must not be a file of the set, however that file was found.
        for (std::size_t i = 0; i < volumes.size(); ++i) {
            if (volumes[i] == request.outPath || IsSameFile(volumes[i], request.outPath)) {
                outcome.intoSet = true;
                ShowMessageBoxOwnedByMain(FormatText(LoadString(IDS_JOIN_INTO_VOLUME).c_str(),
                                                     request.outPath.c_str(), static_cast<long>(i)),
                                          MB_OK | MB_ICONEXCLAMATION);
                return false;
            }
        }
        // A manifest of ours beside the set vouches for every volume joined.
        return ManifestVouchesFor(manifest, volumes);
    };

    // The joined stream is written beside the output, so that the rename cannot cross file
    // systems and the set's own folder may be read-only. An output that is no regular file
    // (a device, a FIFO) is written straight and never replaced.
    // As every output: a link is written through to the file it names, and stays a link.
    const OutputTarget target = ExamineOutput(request.outPath);
    const std::string outFolder = SplitPath(target.path).dir;
    const bool straight = IsSpecialFile(request.outPath);
    std::string tempName;
    std::unique_ptr<CancelHold> finishing;
    const bool joined =
        JoinSet(request.packedPath, outFolder.empty() ? CurrentDirectory() : outFolder,
                request.volumeSearchDirs, tempName, outcome.join, approve,
                straight ? request.outPath : std::string());
    if (joined && straight) {
        outcome.joined = true;
    } else if (joined && !tempName.empty()) {
        // A new output keeps the privacy of the set it was joined from; a replaced file keeps
        // its own permission bits, owner and extended attributes.
        const int fd = open(tempName.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            ApplyOutputAttributes(fd, target, request.packedPath);
            close(fd);
        }
        finishing =
            std::make_unique<CancelHold>(); // from the rename on: the output and its manifest
        if (std::rename(tempName.c_str(), target.path.c_str()) == 0) {
            outcome.joined = true;
        } else {
            const int error = errno;
            std::remove(tempName.c_str());
            ShowDiskErrorBox(IDS_WRITE_ERROR, IDS_CANNOT_WRITE_FILE, request.outPath, error);
            AppendStatusId(IDS_UNPACK_FAILED);
        }
    }

    // The output gets a manifest of its own when the set had one of ours, unless a file of that
    // name is the set's manifest or is not ours.
    const ManifestEntry* project = manifest.Project();
    const std::string outManifest = ManifestPath(request.outPath);
    if (outcome.joined && !straight && project && outManifest != manifest.strPath &&
        !IsSameFile(outManifest, manifest.strPath)) {
        const ManifestCheck existing = ExamineManifest(request.outPath);
        const std::string digest = DigestOfFile(request.outPath);
        if (existing.kind != ManifestCheck::None && existing.kind != ManifestCheck::Ours) {
            AppendStatus(existing.strWarning);
            AppendStatus("\r\n");
        } else if (digest.empty() ||
                   !WriteManifest(outManifest, {*project, {digest, FileNameOf(request.outPath)}})) {
            outcome.manifestFailed = true;
        } else {
            outcome.manifestPath = outManifest;
        }
    }
    PostJobState(JOB_IDLE);
    ReportJobEnded(JobKind::Join, outcome.joined);
}

} // namespace

bool StartJoinJob(const JoinRequest& request, JoinOutcome& outcome)
{
    outcome = JoinOutcome{};
    // A folder cannot take the joined file: refused before any question or any volume read.
    if (ExamineOutput(request.outPath).kind == OutputKind::Folder) {
        ShowMessageBoxOwnedByMain(FormatText(LoadString(IDS_CANNOT_WRITE_FILE).c_str(),
                                             request.outPath.c_str(),
                                             SystemErrorText(EISDIR).c_str()),
                                  MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    // The worker locks the names and asks about the output.
    JoinOutcome* answer = &outcome;
    return StartWorkerThread([request, answer] { JoinWorker(request, *answer); });
}
