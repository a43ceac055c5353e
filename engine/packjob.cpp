// The pack job.
//
// The packed file is written under a temporary name in its own folder and renamed to its
// final name only when the whole stream has been written and read without error: a final
// name never holds an incomplete packed file, and a failed pack leaves no empty or truncated
// file behind (an old packed file that the user agreed to overwrite stays as it was).
#include "engine/packjob.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "codec/codec.h"
#include "codec/implode_parallel.h"
#include "engine/codecwork.h"
#include "engine/fileutil.h"
#include "engine/format.h"
#include "engine/jobcontext.h"
#include "engine/joblock.h"
#include "engine/manifest.h"
#include "engine/names.h"
#include "engine/packedformat.h"
#include "engine/recovery.h"
#include "engine/split.h"
#include "engine/volumeplan.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/strings.h"
#include "platform/thread.h"
#include "resources/textids.h"

namespace {

// Logs a failed read or write: the program's disk error, the file and the system's reason
// (when known), then "File I/O error...aborting operation".
void LogFailure(unsigned diskErrorId, const std::string& path, int error)
{
    AppendStatus("\r\n");
    // A cancel request fails the next read or write on purpose: that is no disk error.
    if (CancelRequested()) {
        AppendStatusId(IDS_JOB_CANCELLED);
        return;
    }
    AppendStatusId(diskErrorId);
    AppendStatus("\r\n");
    if (error != 0) {
        const unsigned detailId =
            diskErrorId == IDS_READ_ERROR ? IDS_CANNOT_READ_FILE : IDS_CANNOT_WRITE_FILE;
        AppendStatus(
            FormatText(LoadString(detailId).c_str(), path.c_str(), SystemErrorText(error).c_str()));
        AppendStatus("\r\n");
    }
    AppendStatusId(IDS_IO_ERROR);
    AppendStatus("\r\n");
}

bool SameTime(const struct timespec& a, const struct timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// True when the project file was written, or its name given to another file, between the two
// looks at it: before the first read (before) and after the last one (now, of the same open file).
bool ProjectFileChanged(const struct stat& before, const struct stat& now, const std::string& path)
{
    if (now.st_size != before.st_size || !SameTime(now.st_mtim, before.st_mtim) ||
        !SameTime(now.st_ctim, before.st_ctim))
        return true;
    struct stat named {};
    return stat(path.c_str(), &named) != 0 || named.st_dev != before.st_dev ||
           named.st_ino != before.st_ino;
}

// The volumes 1 to oldCount - 1 of the set whose volume 0 a whole packed file has just replaced:
// they belonged to that set, and beside the new file they would pass for a part of it. The
// project file itself is never one of them.
void RemoveOlderVolumes(const std::string& packedPath, int oldCount, const std::string& projectPath)
{
    for (int index = 1; index < oldCount; ++index) {
        const std::string orphan = VolumePath(packedPath, index);
        struct stat info {};
        if (lstat(orphan.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
            IsSameFile(orphan, projectPath))
            continue;
        if (std::remove(orphan.c_str()) == 0) {
            AppendStatus(FormatText(LoadString(IDS_SPLIT_ORPHAN_REMOVED).c_str(), orphan.c_str()));
            AppendStatus("\r\n");
        }
    }
}

// The worker's own steps after the banner; returns 1 when the packed file was written. With a
// split to follow, the stream stays under its temporary name, streamPath, for the split to cut
// into volumes: an older packed file or set keeps its names until the new set is complete.
int CompressProjectFile(const PackRequest& request, PackOutcome& outcome, std::string& streamPath)
{
    const std::string& projectPath = request.projectPath;
    const std::string& packedPath = outcome.packedPath;
    std::FILE* project = OpenRegularInputStream(projectPath);
    if (!project) {
        ShowDiskErrorBox(IDS_READ_ERROR, IDS_CANNOT_READ_FILE, projectPath, errno);
        return 0;
    }
    // The project file as the pack begins, to tell afterwards whether anything wrote it.
    struct stat before {};
    const bool measured = fstat(fileno(project), &before) == 0;

    // Without a split, the packed file is written beside its name and renamed at the end (or
    // written straight into a device), and a new one takes the project file's permission bits.
    // With a split, the stream is only the split's input: a temporary file of the job's own.
    OutputFile packed;
    std::FILE* out = nullptr;
    std::string tempPath;
    if (request.split) {
        // The volumes are renamed into place: a device under the packed name is never replaced.
        if (ExamineOutput(packedPath).kind == OutputKind::Straight) {
            ShowDiskErrorBox(IDS_WRITE_ERROR, IDS_CANNOT_WRITE_FILE, packedPath, ENOTSUP);
            CloseStream(project);
            return 0;
        }
        const std::string folder = SplitPath(packedPath).dir;
        out = CreateExclusiveStream(folder, TEMP_FILE_PREFIX, "wb+", tempPath);
        if (!out) {
            ShowDiskErrorBox(IDS_WRITE_ERROR, IDS_CANNOT_CREATE_IN_FOLDER,
                             folder.empty() ? "." : folder, errno);
            CloseStream(project);
            return 0;
        }
        // The volumes take the stream's permission bits: the project file's, as a whole
        // packed file does.
        CopyPermissionBits(fileno(out), projectPath);
        UseLargeOutputBuffer(out);
    } else {
        if (!packed.Open(packedPath, TEMP_FILE_PREFIX, projectPath)) {
            ShowOutputOpenError(packed, packedPath, errno);
            CloseStream(project);
            return 0;
        }
        out = packed.Stream();
    }

    Sha256 digest;
    const bool wantDigest = request.writeManifest;
    CompressContext context =
        CompressLikeThePackJob(project, out, request.threads, wantDigest ? &digest : nullptr);
    // A project file that another program changes while it is packed gives a stream of
    // neither version: its size when the pack began, the bytes read and its size now agree,
    // and so do its times of change (a program that saves in place keeps the size), and its
    // name still leads to the file that was read (a program that saves by a rename). The size
    // now is looked at whatever the count read says, so the message gives it.
    struct stat now {};
    const bool measuredNow = fstat(fileno(project), &now) == 0;
    const bool changed =
        !context.bReadFailed && (static_cast<std::int64_t>(context.nInRead) != context.nInTotal ||
                                 !measured || !measuredNow || now.st_size != context.nInTotal ||
                                 ProjectFileChanged(before, now, projectPath));
    const std::int64_t sizeNow = measuredNow ? static_cast<std::int64_t>(now.st_size) : -1;
    CloseStream(project);
    if (StreamFailed(out))
        context.bWriteFailed = true;
    const bool failed = context.bWriteFailed || context.bReadFailed || changed;
    if (request.split) {
        // Read back by the split at once: nothing to force to the disk.
        if (CloseWrittenStream(out, false) != 0 && !failed) {
            context.bWriteFailed = true;
            context.nWriteError = errno;
        }
        if (failed || context.bWriteFailed)
            std::remove(tempPath.c_str());
    } else if (failed) {
        packed.Abandon();
    } else {
        // An older set under the packed file's name: which of its volumes go with it is read
        // from its volume 0 before the new file replaces it. When that cannot be read, nothing
        // is replaced rather than leaving volumes of that set beside the new file.
        const PackedHeaderRead older =
            packed.ReplacesFile() ? ReadPackedHeaderOf(packed.FinalPath()) : PackedHeaderRead{};
        const int oldCount = older.bHeader && older.nCount > 1 ? older.nCount : 0;
        if (older.bReadFailed) {
            packed.Abandon();
            context.bWriteFailed = true;
            context.nWriteError = older.nError;
        } else if (CancelRequested()) {
            packed.Abandon();
            context.bWriteFailed = true;
            context.nWriteError = ECANCELED;
        } else {
            // From the rename on, the older set is replaced whole: a cancel waits for the end.
            CancelHold finishing;
            if (!packed.Commit()) {
                context.bWriteFailed = true;
                context.nWriteError = errno;
            } else {
                RemoveOlderVolumes(packed.FinalPath(), oldCount, projectPath);
            }
        }
    }
    AppendStatus("\r\n");

    if (changed && !CancelRequested()) {
        const std::string text =
            FormatText(LoadString(IDS_FILE_CHANGED).c_str(), projectPath.c_str(),
                       static_cast<long long>(context.nInTotal),
                       static_cast<long long>(context.nInRead), static_cast<long long>(sizeNow));
        ShowMessageBoxOwnedByMain(text, MB_OK | MB_ICONEXCLAMATION);
        AppendStatus("\r\n" + text + "\r\n");
        return 0;
    }
    if (context.bWriteFailed || context.bReadFailed || changed) {
        if (context.bWriteFailed)
            LogFailure(IDS_WRITE_ERROR, packedPath, context.nWriteError);
        else
            LogFailure(IDS_READ_ERROR, projectPath, context.nReadError);
        return 0;
    }

    if (request.writeManifest)
        outcome.projectDigest = digest.FinalHex();
    AppendStatus(FormatSizeReport(context.nInTotal, context.nCompressed));
    AppendStatus("\r\n");
    if (request.split)
        streamPath = tempPath;
    return 1;
}

} // namespace

std::string FormatSizeReport(std::int64_t originalSize, std::uint64_t compressedSize)
{
    const double ratio = originalSize > 0 ? static_cast<double>(compressedSize) * 100.0 /
                                                static_cast<double>(originalSize)
                                          : 0.0;
    return FormatText(LoadString(IDS_SIZE_REPORT).c_str(), static_cast<long>(originalSize),
                      static_cast<long>(compressedSize), ratio);
}

namespace {

// With a split, the volume names after the packed file's that hold a file now (an older set's
// volumes, most often): the question about the packed file offers "Yes to all" for them. A
// whole packed file takes only its own name.
long OtherVolumesHeld(const PackRequest& request, const PackOutcome& outcome)
{
    long held = 0;
    if (!request.split || LookUpFile(outcome.packedPath) != FileLookup::Exists)
        return 0;
    for (int index = 1; index < MAX_VOLUMES &&
                        LookUpFile(VolumePath(outcome.packedPath, index)) == FileLookup::Exists;
         ++index)
        ++held;
    return held;
}

// The worker. Ends itself; the job posts JOB_IDLE as its last state, then reports its end.
void PackWorker(const PackRequest& request, PackOutcome& outcome)
{
    outcome.succeeded = false;
    PostJobState(JOB_COMPRESSING);
    AppendStatusId(IDS_PACK_START);

    // The packed file's name is this job's until it ends: another pack of a project file of the
    // same base name, a split or a join into it waits, and so does an unpack or a test of it.
    JobLocks locks;
    bool succeeded = false;
    ReplaceAnswers answers;
    if (!locks.Take({{outcome.packedPath, NameLockMode::Exclusive}})) {
        // Cancelled while another program held the name: nothing was asked or written.
    } else if (const ReplaceAnswer answer = AskBeforeReplacing(outcome.packedPath, answers,
                                                               OtherVolumesHeld(request, outcome));
               !answer) {
        LogCheckRefusal(answer);
    } else {
        std::string streamPath;
        // A folder without room for the set is refused before anything is compressed.
        const bool roomy = !request.split || !request.checkRoomFirst ||
                           CheckRoomForSplitPack(request.projectPath, outcome.packedPath,
                                                 request.volumeSize, request.threads) != 0;
        succeeded = roomy && CompressProjectFile(request, outcome, streamPath) != 0;
        if (succeeded && request.split)
            succeeded =
                RunSplitStep(streamPath, outcome.packedPath, request.volumeSize, answers.yesToAll);
        // Recovery files follow the set they describe; older ones went with the set they described.
        if (succeeded && request.recovery.Wanted())
            outcome.recoveryWritten =
                WriteRecoveryFiles(outcome.packedPath, request.recovery,
                                   request.split ? request.volumeSize : 0, outcome.recoveryFiles);
        else if (succeeded)
            RemoveStaleRecoveryFiles(outcome.packedPath);
        // The new set is in place: what is left of the older one goes, whatever a cancel says.
        CancelHold finishing;
        // Checksums of the set this pack replaced would fail every later check of the new one.
        if (succeeded && !request.writeManifest)
            RemoveStaleManifest(outcome.packedPath);
        outcome.succeeded = succeeded;
        SendJobBusyEnded();
    }

    PostJobState(JOB_IDLE);
    ReportJobEnded(JobKind::Pack, outcome.succeeded, IDS_PACK_END);
    // The set is complete and sound whether or not its checksums can be written: their line
    // follows the closing banner. The name is still this job's, so no other job replaces the
    // set under the manifest.
    if (succeeded && request.writeManifest) {
        CancelHold finishing;
        const std::string manifestPath = ManifestPath(outcome.packedPath);
        outcome.manifestWritten =
            WriteManifestAfterPack(outcome.packedPath, request.projectPath, outcome.projectDigest);
        const unsigned id =
            outcome.manifestWritten ? IDS_CLI_MANIFEST_WRITTEN : IDS_CLI_MANIFEST_FAILED;
        AppendStatus(FormatText(LoadString(id).c_str(), manifestPath.c_str()) + "\r\n");
    }
}

} // namespace

namespace {

// True when path's extension, ignoring case, is that of a volume of the set that packedPath
// begins (0KX ... 9KX, 10X ... 99X, 100 ... for a .0KX set; the .nRV volumes alike).
bool IsVolumeNameOf(const std::string& path, const std::string& packedPath)
{
    const PathParts parts = SplitPath(path);
    const PathParts packed = SplitPath(packedPath);
    if (!EqualIgnoringCase(parts.name, packed.name))
        return false;
    for (const char* first : {".0KX", ".0RV"})
        for (int index = 0; index < MAX_VOLUMES; ++index)
            if (EqualIgnoringCase(parts.ext, SplitPath(VolumePath(packed.name + first, index)).ext))
                return true;
    return false;
}

} // namespace

bool StartPackJob(const PackRequest& request, PackOutcome& outcome)
{
    outcome = PackOutcome{};
    const std::string& projectPath = request.projectPath;
    const PathParts parts = SplitPath(projectPath);
    outcome.packedPath = PackedNameFor(projectPath);

    // A project file that is its own packed file (named .0KX, or a link to it) would be
    // destroyed by its own pack: refuse it before anything is asked or opened.
    if (IsSameFile(projectPath, outcome.packedPath)) {
        ShowMessageBoxOwnedByMain(
            FormatText(LoadString(IDS_PACK_SAME_FILE).c_str(), projectPath.c_str()),
            MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    // A folder, a device or a FIFO has no size to pack from, and reading /dev/zero or a FIFO
    // would never end: refused before anything is asked or created. A name that is not there
    // is reported by the worker when it opens it.
    if (const std::string refusal = NotRegularInputRefusal(projectPath); !refusal.empty()) {
        ShowMessageBoxOwnedByMain(refusal, MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    // A project file named like a volume of the set a split would write (p.1KX, p.12X, ...)
    // would become a part of that set: refused before anything is written.
    if (request.split && IsVolumeNameOf(projectPath, outcome.packedPath)) {
        ShowMessageBoxOwnedByMain(FormatText(LoadString(IDS_PACK_PROJECT_IS_VOLUME).c_str(),
                                             projectPath.c_str(), outcome.packedPath.c_str()),
                                  MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    // The old packed file (or an older set's volume 0) is asked about by the worker, once it
    // holds the name, and never removed: the new one replaces it by a rename once complete.
    // The worker packs the project file under the name it was given, rebuilt from its parts.
    PackRequest job = request;
    job.projectPath = MakePath(parts);
    PackOutcome* answer = &outcome;
    return StartWorkerThread([job, answer] { PackWorker(job, *answer); });
}
