#include "engine/split.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/fileutil.h"
#include "engine/format.h"
#include "engine/jobcontext.h"
#include "engine/joblock.h"
#include "engine/manifest.h"
#include "engine/packedformat.h"
#include "engine/volumeplan.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/strings.h"
#include "platform/thread.h"
#include "resources/textids.h"

namespace {

void LogIoError()
{
    AppendStatus("\r\n");
    // A cancel request fails the next read or write on purpose: that is no disk error.
    AppendStatusId(CancelRequested() ? IDS_JOB_CANCELLED : IDS_IO_ERROR);
    AppendStatus("\r\n");
}

bool IsDirectory(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The count of the set whose volume 0 is path, 0 when path is no set's first volume, or -1 with
// errno set when it exists but cannot be read.
int SetCountAt(const std::string& path)
{
    const PackedHeaderRead read = ReadPackedHeaderOf(path);
    if (read.bReadFailed) {
        errno = read.nError;
        return -1;
    }
    return read.bHeader && read.nCount > 0 ? read.nCount : 0;
}

// One volume on its way to its final name.
struct PendingVolume {
    std::string strPath;   // the final name (a link followed to the file it names)
    OutputTarget target;   // what the final name holds now
    std::string strTemp;   // where it is written
    std::string strBackup; // where the file that held the name waits, or empty
    bool bInPlace = false; // renamed to its final name
};

// Moves the file that holds the volume's name aside, to a temporary name of its own.
bool MoveAside(PendingVolume& volume)
{
    if (LookUpFile(volume.strPath) != FileLookup::Exists)
        return true;
    const int fd =
        CreateExclusiveFile(SplitPath(volume.strPath).dir, TEMP_FILE_PREFIX, volume.strBackup);
    if (fd < 0) {
        volume.strBackup.clear();
        return false;
    }
    close(fd);
    if (std::rename(volume.strPath.c_str(), volume.strBackup.c_str()) != 0) {
        const int error = errno;
        std::remove(volume.strBackup.c_str());
        volume.strBackup.clear();
        errno = error;
        return false;
    }
    return true;
}

// Puts the volume under its final name, replacing whatever is still there.
bool PutInPlace(PendingVolume& volume)
{
    if (std::rename(volume.strTemp.c_str(), volume.strPath.c_str()) != 0)
        return false;
    volume.bInPlace = true;
    return true;
}

// Undoes MoveAside and PutInPlace for every volume: the files that held the names get them back.
void PutBack(std::vector<PendingVolume>& volumes)
{
    for (auto it = volumes.rbegin(); it != volumes.rend(); ++it) {
        if (it->bInPlace)
            std::remove(it->strPath.c_str());
        if (!it->strBackup.empty())
            std::rename(it->strBackup.c_str(), it->strPath.c_str());
        std::remove(it->strTemp.c_str());
    }
}

// Writes one volume (the header first for volume 0) from the stream; false after a read or
// write error, which has been shown and logged.
bool WriteVolume(std::FILE* stream, std::FILE* volume, bool first, int count, std::int64_t bytes,
                 std::int64_t& copied, std::int64_t total, int& percent)
{
    bool written = true;
    if (first) {
        const auto header = MakePackedFileHeader(count);
        written = WriteBytes(header.data(), header.size(), volume) == header.size();
    }
    unsigned char buffer[SPLIT_CHUNK_SIZE];
    bool shortRead = false;
    while (written && bytes > 0) {
        const std::size_t want = bytes < static_cast<std::int64_t>(sizeof buffer)
                                     ? static_cast<std::size_t>(bytes)
                                     : sizeof buffer;
        const std::size_t got = ReadBytes(buffer, want, stream);
        if (got > 0 && WriteBytes(buffer, got, volume) < got)
            written = false;
        bytes -= static_cast<std::int64_t>(got);
        copied += static_cast<std::int64_t>(got);
        if (total > 0 && copied * 100 / total != percent) {
            percent = static_cast<int>(copied * 100 / total);
            SetProgress(percent);
        }
        if (got < want) {
            shortRead = true; // an error, or a stream that became shorter than it was
            break;
        }
    }
    // Buffered data reaches the disk at the flush: a full disk shows there at the latest.
    const bool flushed = std::fflush(volume) == 0;
    const int readOk = CheckStream(stream, IDS_READ_ERROR);
    if (readOk && shortRead)
        ShowMessageBoxOwnedByMain(LoadString(IDS_READ_ERROR), MB_OK | MB_ICONEXCLAMATION);
    const int writeOk = written && flushed ? CheckStream(volume, IDS_WRITE_ERROR) : 0;
    if (!written || !flushed)
        ShowMessageBoxOwnedByMain(LoadString(IDS_WRITE_ERROR), MB_OK | MB_ICONEXCLAMATION);
    const bool closed = CloseWrittenStream(volume) == 0;
    if (writeOk && !closed)
        ShowMessageBoxOwnedByMain(LoadString(IDS_WRITE_ERROR), MB_OK | MB_ICONEXCLAMATION);
    return readOk && !shortRead && writeOk && closed;
}

} // namespace

bool SplitIntoVolumes(const SplitRequest& request, SplitOutcome& outcome)
{
    outcome = SplitOutcome{};
    // The volumes written so far under their temporary names.
    std::vector<std::string> temporaries;
    const bool usersFile = request.owner == SplitRequest::UsersPackedFile;
    const std::string& packedPath = request.packedPath;
    const int volumeSize = request.volumeSize;

    // What a split that ends early leaves, said last.
    auto endEarly = [&](std::FILE* stream) {
        if (stream)
            CloseStream(stream);
        for (const std::string& name : temporaries)
            std::remove(name.c_str());
        if (!usersFile)
            std::remove(request.streamPath.c_str());
        AppendStatus(
            usersFile ? FormatText(LoadString(IDS_SPLIT_LEFT_AS_IT_WAS).c_str(), packedPath.c_str())
                      : LoadString(IDS_SPLIT_OLD_FILES_KEPT));
        AppendStatus("\r\n");
        return false;
    };

    std::FILE* stream = volumeSize > 0 ? std::fopen(request.streamPath.c_str(), "rb") : nullptr;
    if (!stream) {
        ShowBox(IDS_CANNOT_OPEN_FOR_READING, packedPath);
        return endEarly(nullptr);
    }
    UseLargeInputBuffer(stream);
    struct stat source {};
    const std::int64_t streamLength = StreamLength(stream);
    if (streamLength < 0 || fstat(fileno(stream), &source) != 0) {
        ShowBox(IDS_CANNOT_OPEN_FOR_READING, packedPath);
        return endEarly(stream);
    }

    // Refuse a set the 16-bit count cannot describe before anything is asked or written.
    const std::int64_t volumes = VolumeCountFor(streamLength, volumeSize);
    outcome.volumeCount = volumes;
    if (volumes > MAX_VOLUMES) {
        ShowMessageBoxOwnedByMain(FormatText(LoadString(IDS_SPLIT_TOO_MANY_VOLUMES).c_str(),
                                             packedPath.c_str(), static_cast<long>(volumeSize),
                                             static_cast<long>(volumes)),
                                  MB_OK | MB_ICONEXCLAMATION);
        return endEarly(stream);
    }
    const int count = static_cast<int>(volumes);

    // Every question first. Volume 0 takes the packed file's own name, which the caller has
    // settled (the user's file, or the name the pack was allowed to write). The files under the
    // other names (an older set's volumes, most often) are asked about once: the question
    // about the first of them offers "Yes to all" for the rest.
    std::vector<PendingVolume> pending(static_cast<std::size_t>(count));
    std::vector<bool> held(static_cast<std::size_t>(count), false);
    long heldAfter = 0; // names after the one asked about that hold a file
    for (int index = 1; index < count; ++index) {
        held[static_cast<std::size_t>(index)] =
            LookUpFile(VolumePath(packedPath, index)) == FileLookup::Exists;
        heldAfter += held[static_cast<std::size_t>(index)] ? 1 : 0;
    }
    ReplaceAnswers answers;
    answers.yesToAll = request.replaceAll;
    for (int index = 0; index < count; ++index) {
        PendingVolume& volume = pending[static_cast<std::size_t>(index)];
        // As every output: a link is written through to the file it names, and stays a link.
        const std::string name = VolumePath(packedPath, index);
        volume.target = ExamineOutput(name);
        struct stat entry {};
        volume.strPath =
            lstat(name.c_str(), &entry) == 0 && S_ISLNK(entry.st_mode) ? volume.target.path : name;
        if (volume.target.kind == OutputKind::Straight) {
            // A device or a FIFO under a volume's name cannot take a volume by a rename.
            ShowBoxWithReason(IDS_CANNOT_OPEN_FOR_WRITING, VolumePath(packedPath, index), ENOTSUP);
            return endEarly(stream);
        }
        if (index == 0)
            continue;
        if (held[static_cast<std::size_t>(index)])
            --heldAfter;
        if (!AskBeforeReplacing(volume.strPath, answers, heldAfter)) {
            // Only an answer is the user's abort; an invalid name was refused with its box.
            if (LookUpFile(volume.strPath) == FileLookup::Exists) {
                outcome.declined = true;
                AppendStatusId(IDS_ABORTED_BY_USER);
            }
            return endEarly(stream);
        }
        if (IsDirectory(volume.strPath)) {
            ShowBox(IDS_CANNOT_OPEN_FOR_WRITING, volume.strPath);
            return endEarly(stream);
        }
    }
    // An older set under the same name: its volumes beyond the new count go with it.
    // When that file cannot be read, which volumes are the older set's is unknown: nothing is
    // replaced rather than leaving some of them beside the new set.
    const int oldCount = usersFile ? 0 : SetCountAt(packedPath);
    if (oldCount < 0) {
        ShowBoxWithReason(IDS_CANNOT_OPEN_FOR_READING, packedPath, errno);
        LogIoError();
        return endEarly(stream);
    }

    AppendStatus("\r\n");
    std::int64_t copied = 0;
    int percent = -1; // shown by whole percent of the stream's bytes
    for (int index = 0; index < count; ++index) {
        PendingVolume& volume = pending[static_cast<std::size_t>(index)];
        std::FILE* out = CreateExclusiveStream(SplitPath(volume.strPath).dir, TEMP_FILE_PREFIX,
                                               "wb", volume.strTemp);
        if (!out) {
            ShowBoxWithReason(IDS_CANNOT_OPEN_FOR_WRITING, volume.strPath, errno);
            return endEarly(stream);
        }
        temporaries.push_back(volume.strTemp);
        // A new volume keeps the privacy of the stream it is cut from; one that replaces a file
        // keeps that file's permission bits, owner and extended attributes.
        if (volume.target.kind == OutputKind::ReplaceFile)
            KeepReplacedFileAttributes(fileno(out), volume.strPath);
        else
            fchmod(fileno(out), source.st_mode & 0777);
        AppendStatusId(IDS_CREATING_SPLIT_FILE);
        AppendStatus(FormatText(" %s...", volume.strPath.c_str()));
        const std::int64_t bytes = std::min<std::int64_t>(
            volumeSize, streamLength - static_cast<std::int64_t>(index) * volumeSize);
        if (!WriteVolume(stream, out, index == 0, count, bytes, copied, streamLength, percent)) {
            LogIoError();
            return endEarly(stream);
        }
        AppendStatusId(IDS_DONE);
        AppendStatus("\r\n");
    }
    CloseStream(stream);
    stream = nullptr;
    // From the first rename on, the set is put in place whole (or the old one put back): a
    // cancel waits for the end, so that no mixture of the two sets stays behind.
    CancelHold finishing;

    // The set takes its names, volume 0 last. The user's single packed file keeps its name
    // until volume 0 replaces it; it heads no set, so no volume beside it can pass for one. An
    // older set's volume 0 goes aside first: while the other names change hands, no header
    // makes a mixture of the two sets pass for a set.
    // The name whose rename failed, and why, for the message.
    std::string failedName;
    int renameError = 0;
    auto placedOrNoted = [&](bool ok, const PendingVolume& volume) {
        if (!ok && failedName.empty()) {
            renameError = errno;
            failedName = volume.strPath;
        }
        return ok;
    };
    bool placed = usersFile || placedOrNoted(MoveAside(pending[0]), pending[0]);
    for (int index = 1; placed && index < count; ++index) {
        PendingVolume& volume = pending[static_cast<std::size_t>(index)];
        placed = placedOrNoted(MoveAside(volume) && PutInPlace(volume), volume);
    }
    if (placed)
        placed = placedOrNoted(PutInPlace(pending[0]), pending[0]);
    if (!placed) {
        PutBack(pending);
        ShowDiskErrorBox(IDS_WRITE_ERROR, IDS_CANNOT_WRITE_FILE, failedName, renameError);
        LogIoError();
        temporaries.clear(); // put back or in place: none is this split's to remove
        return endEarly(nullptr);
    }
    for (const PendingVolume& volume : pending)
        if (!volume.strBackup.empty())
            std::remove(volume.strBackup.c_str());
    for (int index = count; index < oldCount; ++index) {
        const std::string orphan = VolumePath(packedPath, index);
        if (std::remove(orphan.c_str()) == 0) {
            outcome.removedOrphans.push_back(orphan);
            AppendStatus(FormatText(LoadString(IDS_SPLIT_ORPHAN_REMOVED).c_str(), orphan.c_str()));
            AppendStatus("\r\n");
        }
    }
    if (!usersFile)
        std::remove(request.streamPath.c_str());
    outcome.complete = true;
    return true;
}

bool SplitPackedFile(const std::string& packedPath, int volumeSize)
{
    SplitRequest request;
    request.packedPath = packedPath;
    request.streamPath = packedPath;
    request.volumeSize = volumeSize;
    request.owner = SplitRequest::UsersPackedFile;
    SplitOutcome outcome;
    return SplitIntoVolumes(request, outcome);
}

bool RunSplitStep(const std::string& streamPath, const std::string& packedPath, int volumeSize,
                  bool replaceAll)
{
    PostJobState(JOB_SPLITTING);
    AppendStatus("\r\n");
    AppendStatusId(IDS_SPLIT_START);
    SplitRequest request;
    request.packedPath = packedPath;
    request.streamPath = streamPath;
    request.volumeSize = volumeSize;
    request.owner = SplitRequest::JobsOwnStream;
    request.replaceAll = replaceAll;
    // A folder without room for the volumes is refused before any is written.
    if (!ReportRoom(RoomForSplit(streamPath, packedPath, volumeSize))) {
        std::remove(streamPath.c_str());
        AppendStatusId(IDS_SPLIT_OLD_FILES_KEPT);
        AppendStatus("\r\n");
        return false;
    }
    SplitOutcome outcome;
    return SplitIntoVolumes(request, outcome);
}

namespace {

void SplitWorker(const SplitRequest& request, SplitOutcome& outcome)
{
    PostJobState(JOB_SPLITTING);
    AppendStatus("\r\n");
    AppendStatusId(IDS_SPLIT_START);
    const std::string& packedPath = request.packedPath;

    // The set's name is this job's until it ends: another program writing it waits, and so
    // does one reading it.
    JobLocks locks;
    if (!locks.Take({{packedPath, NameLockMode::Exclusive}})) {
        outcome = SplitOutcome{};
        AppendStatus(FormatText(LoadString(IDS_SPLIT_LEFT_AS_IT_WAS).c_str(), packedPath.c_str()));
        AppendStatus("\r\n");
        ReportJobEnded(JobKind::Split, false);
        PostJobState(JOB_IDLE);
        return;
    }
    // Looked at again now that no one else writes it: another program may have made it a set
    // while this job waited, and a set's volume 0 is no stream to cut.
    if (request.owner == SplitRequest::UsersPackedFile && ReadPackedHeaderOf(packedPath).bHeader) {
        outcome = SplitOutcome{};
        ShowBox(IDS_CLI_ALREADY_A_SET, packedPath);
        AppendStatus(FormatText(LoadString(IDS_SPLIT_LEFT_AS_IT_WAS).c_str(), packedPath.c_str()));
        AppendStatus("\r\n");
        ReportJobEnded(JobKind::Split, false);
        PostJobState(JOB_IDLE);
        return;
    }
    const ManifestCheck manifest = ExamineManifest(packedPath);
    bool ready = ManifestVouchesFor(manifest, {packedPath});
    if (ready && !ReportRoom(RoomForSplit(request.streamPath, packedPath, request.volumeSize)))
        ready = false;
    if (!ready) {
        outcome = SplitOutcome{};
        outcome.manifestMismatch = manifest.kind == ManifestCheck::Ours;
        AppendStatus(FormatText(LoadString(IDS_SPLIT_LEFT_AS_IT_WAS).c_str(), packedPath.c_str()));
        AppendStatus("\r\n");
    } else if (SplitIntoVolumes(request, outcome) && manifest.kind == ManifestCheck::Ours) {
        // The set is in place: its manifest follows it, whatever a cancel says.
        CancelHold finishing;
        const ManifestEntry project = *manifest.Project();
        if (WriteSetManifest(packedPath, project.strName, project.strDigest)) {
            outcome.manifestPath = manifest.strPath;
        } else {
            // Its line for the single packed file no longer describes anything: better none.
            std::remove(manifest.strPath.c_str());
            outcome.manifestFailed = true;
        }
    }
    if (outcome.complete && request.recovery.Wanted())
        outcome.recoveryWritten = WriteRecoveryFiles(packedPath, request.recovery,
                                                     request.volumeSize, outcome.recoveryFiles);
    else if (outcome.complete)
        RemoveStaleRecoveryFiles(packedPath);
    PostJobState(JOB_IDLE);
    ReportJobEnded(JobKind::Split, outcome.complete);
}

} // namespace

bool StartSplitJob(const SplitRequest& request, SplitOutcome& outcome)
{
    outcome = SplitOutcome{};
    SplitOutcome* answer = &outcome;
    return StartWorkerThread([request, answer] { SplitWorker(request, *answer); });
}
