// The unpack job.
//
// The decoder writes into a file created exclusively beside the project file, and that file is
// renamed over the project file only when explode has decoded the stream up to its end code
// and every byte reached the disk. Whatever goes wrong (a damaged or truncated stream, a read
// or write error), the project file that was there before stays as it was, and no incomplete
// file is left under its name.
#include "engine/unpackjob.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "codec/codec.h"
#include "engine/codecwork.h"
#include "engine/fileutil.h"
#include "engine/format.h"
#include "engine/jobcontext.h"
#include "engine/joblock.h"
#include "engine/join.h"
#include "engine/manifest.h"
#include "engine/names.h"
#include "engine/packjob.h"
#include "engine/recovery.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/strings.h"
#include "platform/thread.h"
#include "resources/textids.h"

namespace {

struct MemoryStream {
    const unsigned char* data;
    std::size_t size;
    std::size_t pos;
    std::size_t written;
};

} // namespace

std::string GetBaseName(const std::string& path)
{
    return SplitPath(path).name;
}

std::string GetDirectory(const std::string& path)
{
    const PathParts parts = SplitPath(path);
    return parts.drive + parts.dir;
}

bool IsEmptyFileStream(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    // One byte more than the stream is read, so that a longer file is told apart.
    unsigned char bytes[5] = {};
    const std::size_t got = ReadBytes(bytes, sizeof bytes, file);
    const bool failed = StreamFailed(file);
    CloseStream(file);
    return !failed && IsEmptyStream(bytes, got);
}

bool IsEmptyStream(const unsigned char* bytes, std::size_t length)
{
    if (length != 4)
        return false;
    // Decode it with one padding byte behind, which lifts it over the decoder's minimum: it is
    // the empty stream when the end code comes first and nothing was written.
    unsigned char padded[5] = {bytes[0], bytes[1], bytes[2], bytes[3], 0};
    MemoryStream stream{padded, sizeof padded, 0, 0};
    CodecWorkArea& work = JobCodecWorkArea();
    const unsigned result = explode(
        [](unsigned char* buf, unsigned* size, void* param) -> unsigned {
            auto& s = *static_cast<MemoryStream*>(param);
            const std::size_t n = std::min<std::size_t>(*size, s.size - s.pos);
            std::memcpy(buf, s.data + s.pos, n);
            s.pos += n;
            return static_cast<unsigned>(n);
        },
        [](unsigned char*, unsigned* size, void* param) {
            static_cast<MemoryStream*>(param)->written += *size;
        },
        work.bytes, &stream);
    return result == CODEC_OK && stream.written == 0;
}

bool StreamRestores(unsigned codecResult, std::int64_t unread, bool emptyStream,
                    const SetShape* setShape)
{
    if (setShape && (!setShape->oddVolumes.empty() || setShape->firstWrong))
        return false;
    // An end code with much of the input still unread is no end the compressor wrote: the
    // decoder ran into damaged data, where the bits of an end code turn up by chance. A
    // little data behind the end code (the padding of a transfer) is allowed.
    return emptyStream || (codecResult == CODEC_OK && unread < UNPACK_TRAILING_LIMIT);
}

namespace {

// Decodes source (the joined file or the packed file itself) into the project file outputName.
// setShape measures the volumes of a joined set (null for a single packed file): a set that
// lost data inside its stream is decoded but never restored (StreamRestores).
void DecompressFile(const UnpackRequest& request, UnpackOutcome& outcome, const std::string& source,
                    const std::string& outputName, const SetShape* setShape)
{
    // The file the user chose, named in the report of a damaged stream.
    const std::string& packedPath = request.packedPath;
    PostJobState(JOB_DECOMPRESSING);
    AppendStatus("\r\n");

    // The restored file is written beside the project file and renamed over it at the end
    // (through a link, where the file lies), or written straight into a device. A new one
    // takes the packed file's permission bits, a replaced one keeps its own.
    std::FILE* in = OpenRegularInputStream(source);
    if (!in) {
        ShowDiskErrorBox(IDS_READ_ERROR, IDS_CANNOT_READ_FILE, source, errno);
        return;
    }
    UseLargeInputBuffer(in); // the decoder asks for 2 KB at a time
    OutputFile out;
    if (!out.Open(outputName, TEMP_FILE_PREFIX, packedPath)) {
        ReportOutputOpenError(out, outputName, errno);
        CloseStream(in);
        return;
    }

    const bool checkDigest = !request.expectedDigest.empty();
    Sha256 restoredDigest;
    ExpandContext context;
    context.pIn = in;
    context.pOut = out.Stream();
    context.pRestoredDigest = checkDigest ? &restoredDigest : nullptr;
    context.nInTotal = GetFileLength(in);
    context.nLeft = static_cast<std::uint64_t>(context.nInTotal);

    const unsigned result = explode(ExpandRead, ExpandWrite, JobCodecWorkArea().bytes, &context);
    outcome.decoded = true;
    outcome.codecResult = result;

    const std::int64_t compressedLength = GetFileLength(in);
    const std::int64_t restoredLength = static_cast<std::int64_t>(context.nWritten);
    CloseStream(in);
    if (StreamFailed(out.Stream()))
        context.bWriteFailed = true;

    const std::int64_t unread = context.nInTotal - static_cast<std::int64_t>(context.nInRead);
    const bool complete = StreamRestores(
        result, unread,
        result == CODEC_TOO_SHORT && compressedLength == 4 && IsEmptyFileStream(source), setShape);
    if (CancelRequested()) {
        out.Abandon();
        AppendStatusId(IDS_JOB_CANCELLED);
    } else if (context.bReadFailed) {
        out.Abandon();
        ShowMessageBoxOwnedByMain(LoadString(IDS_READ_ERROR), MB_OK | MB_ICONEXCLAMATION);
        AppendStatusId(IDS_READ_ERROR);
    } else if (context.bWriteFailed) {
        out.Abandon();
        AppendStatusId(IDS_WRITE_ERROR);
        if (context.nWriteError != 0)
            AppendStatus("\r\n" + FormatText(LoadString(IDS_CANNOT_WRITE_FILE).c_str(),
                                             outputName.c_str(),
                                             SystemErrorText(context.nWriteError).c_str()));
    } else if (!complete) {
        outcome.damaged = true;
        outcome.restoredBytes = restoredLength;
        const std::string broken = outputName + ".broken";
        // An older file of that name is replaced only when the user agrees, like any other.
        const bool keep = request.keepBroken &&
                          (result == CODEC_STREAM_ENDED || result == CODEC_OK) &&
                          !out.WritesStraight();
        if (keep && AskBeforeReplacing(broken) && out.Commit(broken)) {
            outcome.brokenPath = broken;
        } else {
            out.Abandon();
            if (keep && LookUpFile(broken) == FileLookup::Exists)
                AppendStatus(FormatText(LoadString(IDS_BROKEN_NOT_KEPT).c_str(), broken.c_str()) +
                             "\r\n");
        }
        // Volumes of the right sizes and a stream that stops short: the last one lost its end.
        if (setShape && setShape->Sound() && result != CODEC_OK && !outcome.join.volumes.empty())
            AppendStatus(FormatText(LoadString(IDS_CHECK_LAST_CUT_SHORT).c_str(),
                                    outcome.join.volumes.back().c_str()) +
                         "\r\n");
        ShowBox(IDS_INVALID_FILE_FORMAT, packedPath);
        AppendStatus(FormatText(LoadString(IDS_INVALID_FILE_FORMAT).c_str(), packedPath.c_str()));
    } else if (checkDigest &&
               !RestoredBytesMatchManifest(restoredDigest.FinalHex(), request.expectedDigest,
                                           request.manifestPath)) {
        // Decoded to its end code, yet not the bytes that were packed: the project file
        // that was there stays.
        outcome.damaged = true;
        out.Abandon();
    } else if (!out.Commit()) {
        const int error = errno;
        if (CancelRequested()) {
            AppendStatusId(IDS_JOB_CANCELLED);
        } else {
            AppendStatusId(IDS_WRITE_ERROR);
            AppendStatus("\r\n" + FormatText(LoadString(IDS_CANNOT_WRITE_FILE).c_str(),
                                             outputName.c_str(), SystemErrorText(error).c_str()));
        }
    } else {
        outcome.restored = true;
        outcome.restoredBytes = restoredLength;
        AppendStatus(
            FormatSizeReport(restoredLength, static_cast<std::uint64_t>(compressedLength)));
        // The project file keeps the packed file's base name: a file of the same name in
        // another letter case stays beside it, and the user may be looking at that one.
        for (const std::string& other : OtherCaseNamesOf(outputName))
            AppendStatus("\r\n" + FormatText(LoadString(IDS_RESTORED_OTHER_CASE).c_str(),
                                             other.c_str(), outputName.c_str()));
    }
    AppendStatus("\r\n");
}

// The worker. request.packedPath is the trimmed, absolute path; shown is the project file's
// name in the question about it.
void UnpackWorker(const UnpackRequest& request, UnpackOutcome& outcome, const std::string& shown)
{
    const std::string& packedPath = request.packedPath;
    // The set is read while no one replaces it, and the project file is this job's to write:
    // both locked before the question about the project file.
    JobLocks locks;
    if (!locks.Take(
            {{packedPath, NameLockMode::Shared}, {outcome.projectPath, NameLockMode::Exclusive}})) {
        ReportJobEnded(JobKind::Unpack, false);
        PostJobState(JOB_IDLE);
        return;
    }
    // The old project file stays in place: the restored one replaces it by a rename.
    const std::string projectExt = ProjectExtensionFor(packedPath);
    if (const ReplaceAnswer answer = CheckExistingFile(outcome.projectPath, shown, projectExt);
        !answer) {
        LogCheckRefusal(answer);
        ReportJobEnded(JobKind::Unpack, false);
        PostJobState(JOB_IDLE);
        return;
    }
    outcome.started = true;
    // The job measures the packed file and each volume: a folder, a device or a FIFO is no
    // packed file (and reading one might never end).
    // Recovery files beside the set may rebuild a lost or damaged file of it (volume 0 too)
    // into a folder of their own, from where the set is then joined.
    RecoveryWorkFolder recovery;
    RecoveryExamination examination;
    std::string joinFrom = packedPath;
    if (const std::string refusal = NotRegularInputRefusal(packedPath); !refusal.empty()) {
        ShowMessageBoxOwnedByMain(refusal, MB_OK | MB_ICONEXCLAMATION);
    } else if (!RebuildForUnpack(recovery, packedPath, request.volumeSearchDirs, joinFrom,
                                 examination)) {
        if (CancelRequested())
            AppendStatusId(IDS_JOB_CANCELLED);
    } else if (std::FILE* probe = OpenRegularInputStream(joinFrom)) {
        CloseStream(probe);
        PostJobState(JOB_JOINING);
        std::string tempName;
        // The joined stream goes where it always does, even when the set is read from the
        // recovery's work folder.
        const std::string joinFolder =
            request.intoFolder.empty() ? GetDirectory(packedPath) : request.intoFolder;
        if (JoinVolumes(joinFrom, joinFolder, request.volumeSearchDirs, tempName, outcome.join)) {
            const std::string& source = tempName.empty() ? joinFrom : tempName;
            // A volume of the wrong size leaves a gap in the stream (or adds to it), and a
            // decoder running through it may still meet an end code by chance.
            const SetShape shape = tempName.empty() ? SetShape{} : MeasureSet(outcome.join.volumes);
            DecompressFile(request, outcome, source, outcome.projectPath,
                           tempName.empty() ? nullptr : &shape);
            if (!tempName.empty())
                std::remove(tempName.c_str());
        } else if (CancelRequested()) {
            AppendStatusId(IDS_JOB_CANCELLED);
        }
    } else {
        const int error = errno;
        ShowMessageBoxOwnedByMain(
            FormatText(LoadString(IDS_CANNOT_OPEN_FILE).c_str(), packedPath.c_str()) + "\n" +
                FormatText(LoadString(IDS_SYSTEM_REASON).c_str(), SystemErrorText(error).c_str()),
            MB_OK | MB_ICONEXCLAMATION);
    }

    // Recovery files that could have helped: how to get par2, or why they could not be used.
    const std::string unused =
        outcome.restored ? std::string() : DescribeUnusedRecovery(examination);
    if (!unused.empty())
        AppendStatus("\r\n" + unused + "\r\n");
    ReportJobEnded(JobKind::Unpack, outcome.restored != 0, IDS_UNPACK_END);
    SendJobBusyEnded();
    PostJobState(JOB_IDLE);
}

} // namespace

std::string RestoreFolder(const UnpackRequest& request)
{
    std::string folder = request.intoFolder.empty() ? GetDirectory(AbsolutePath(request.packedPath))
                                                    : request.intoFolder;
    if (folder.empty())
        folder = ".";
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

int RestoreFolderError(const UnpackRequest& request)
{
    // Creating a file in a folder takes the right to write it and to enter it.
    return access(RestoreFolder(request).c_str(), W_OK | X_OK) == 0 ? 0 : errno;
}

bool StartUnpackJob(const UnpackRequest& request, UnpackOutcome& outcome)
{
    outcome = UnpackOutcome{};

    // The absolute path names the packed file and everything the job writes: the job never
    // changes the current directory, so two unpacks in one process each restore their own
    // file, whatever ran between them.
    const std::string path = AbsolutePath(request.packedPath);

    UnpackRequest job = request;
    if (request.checkManifest) {
        // Named as given, as the front end names it in its lines.
        const ManifestCheck manifest = ExamineManifest(request.packedPath);
        if (!manifest.strWarning.empty())
            AppendStatus(
                FormatText(LoadString(IDS_CLI_WARNING).c_str(), manifest.strWarning.c_str()) +
                "\r\n");
        if (const ManifestEntry* project = manifest.Project()) {
            job.expectedDigest = project->strDigest;
            job.manifestPath = manifest.strPath;
        }
    }

    AppendStatusId(IDS_UNPACK_START);

    const std::string projectPath = ProjectNameFor(path, request.intoFolder);
    outcome.projectPath = projectPath;

    // A packed file named like its own project file would be replaced by what it holds.
    if (IsSameFile(path, projectPath)) {
        ShowBox(IDS_UNPACK_SAME_FILE, path);
        AppendStatusId(IDS_STOPPED_BY_PROGRAM);
        return false;
    }
    // The question names the file as the user knows it: by its name in the packed file's
    // folder, or by its path in the folder it is restored into.
    // The worker asks, once it holds the names.
    const std::string shown =
        request.intoFolder.empty() ? GetBaseName(path) + ProjectExtensionFor(path) : projectPath;

    job.packedPath = path;
    UnpackOutcome* answer = &outcome;
    if (!StartWorkerThread([job, answer, shown] { UnpackWorker(job, *answer, shown); })) {
        AppendStatusId(IDS_UNPACK_FAILED);
        return false;
    }
    return true;
}
