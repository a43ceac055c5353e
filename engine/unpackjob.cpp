// The unpack job.
//
// The decoder writes into a file created exclusively beside the project file, and that file is
// renamed over the project file only when explode has decoded the stream up to its end code
// and every byte reached the disk. Whatever goes wrong (a damaged or truncated stream, a read
// or write error), the project file that was there before stays as it was, and no incomplete
// file is left under its name.
#include "engine/unpackjob.h"

#include <algorithm>
#include <cstring>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "codec/codec.h"
#include "engine/codecwork.h"
#include "engine/format.h"
#include "engine/jobcontext.h"
#include "engine/join.h"
#include "engine/manifest.h"
#include "engine/packjob.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/strings.h"
#include "platform/thread.h"
#include "resources/textids.h"

int g_bKeepBroken = 0;
std::string g_strUnpackFolder;
UnpackOutcome g_unpackOutcome;

namespace {

// Prefix of the file the decoder writes before it becomes the project file.
constexpr const char* kOutputTempPrefix = "tmp_";

std::string Trim(const std::string& text)
{
    const char* blanks = " \t\r\n\v\f";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    const std::size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

bool EqualsIgnoringCase(const std::string& a, const char* b)
{
    const std::size_t n = std::strlen(b);
    if (a.size() != n)
        return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

void ShowBox(unsigned id, const std::string& path)
{
    ShowMessageBoxOwnedByMain(FormatText(LoadString(id).c_str(), path.c_str()),
                              MB_OK | MB_ICONEXCLAMATION);
}

// The project file of a packed file: its folder and base name with the project extension.
std::string ProjectPathFor(const std::string& packedPath)
{
    if (!g_strUnpackFolder.empty())
        return MakePath("", g_strUnpackFolder, GetBaseName(packedPath), g_strProjectExt);
    return GetDirectory(packedPath) + GetBaseName(packedPath) + g_strProjectExt;
}

struct MemoryStream {
    const unsigned char* data;
    std::size_t size;
    std::size_t pos;
    std::size_t written;
};

} // namespace

std::string GetBaseName(const std::string& path) { return SplitPath(path).name; }

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
    CodecWorkArea& work = SharedCodecWorkArea();
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

int StartUnpackJob(const std::string& packedPath)
{
    g_unpackOutcome = UnpackOutcome{};

    // The trimmed path, made absolute against the folder we start from, names the packed file
    // wherever the current directory goes afterwards.
    std::string path = Trim(packedPath);
    if (!path.empty() && path.front() != '/') {
        const std::string current = CurrentDirectory();
        if (!current.empty())
            path = MakePath("", current, path, "");
    }
    const bool changed = ChangeDirectory(GetDirectory(path));

    AppendStatusId(IDS_UNPACK_START);

    g_strPackedExt = SplitPath(path).ext;
    g_strProjectExt = EqualsIgnoringCase(g_strPackedExt, ".0RV") ? ".RVN" : ".KMX";

    const std::string projectPath = ProjectPathFor(path);
    g_unpackOutcome.strProjectPath = projectPath;

    // A packed file named like its own project file would be replaced by what it holds.
    if (IsSameFile(path, projectPath)) {
        ShowBox(IDS_UNPACK_SAME_FILE, path);
        AppendStatusId(IDS_ABORTED_BY_USER);
        return 1;
    }
    // The question names the file as the user knows it: by its name in the packed file's
    // folder, which is now the current directory.
    const std::string asked =
        changed && g_strUnpackFolder.empty() ? GetBaseName(path) + g_strProjectExt : projectPath;
    if (!CheckExistingFile(asked)) {
        AppendStatusId(IDS_ABORTED_BY_USER);
        return 1;
    }

    if (!StartWorkerThread([path] { UnpackWorker(path); })) {
        AppendStatusId(IDS_UNPACK_FAILED);
        return 1;
    }
    return 1;
}

void UnpackWorker(const std::string& packedPath)
{
    g_unpackOutcome.bStarted = 1;
    if (std::FILE* probe = std::fopen(packedPath.c_str(), "rb")) {
        std::fclose(probe);
        PostMessageToMainWindow(WM_JOBSTATE, JOB_JOINING, 0);
        std::string tempName;
        if (JoinVolumes(packedPath, tempName)) {
            const std::string& source = tempName.empty() ? packedPath : tempName;
            // A volume of the wrong size leaves a gap in the stream (or adds to it), and a
            // decoder running through it may still meet an end code by chance.
            bool setDamaged = false;
            if (!tempName.empty()) {
                const SetShape shape = MeasureSet(g_lastJoin.volumes);
                setDamaged = !shape.oddVolumes.empty() || shape.bFirstWrong;
            }
            DecompressFile(source, ProjectPathFor(packedPath), packedPath, setDamaged);
            if (!tempName.empty())
                std::remove(tempName.c_str());
        }
    } else {
        ShowBox(IDS_CANNOT_OPEN_FILE, packedPath);
    }

    AppendStatusId(IDS_UNPACK_END);
    SendMessageToMainWindow(WM_JOBDONE, 0, 0);
    PostMessageToMainWindow(WM_JOBSTATE, JOB_IDLE, 0);
}

void DecompressFile(const std::string& source, const std::string& outputName,
                    const std::string& packedPath, bool setDamaged)
{
    PostMessageToMainWindow(WM_JOBSTATE, JOB_DECOMPRESSING, 0);
    AppendStatus("\r\n");

    // An existing project file reached through a link is replaced where it lies, as writing
    // through the link would have, and the new file keeps the old one's permissions.
    std::string output = outputName;
    struct stat existing {};
    const bool exists = stat(outputName.c_str(), &existing) == 0;
    if (exists) {
        if (char* target = realpath(outputName.c_str(), nullptr)) {
            output = target;
            std::free(target);
        }
    }

    // A project file that may not be written stays as it is, as a failed open would leave it.
    const bool outputWritable = LookUpFile(output) != FileLookup::Exists ||
                                access(output.c_str(), W_OK) == 0;
    std::string tempPath;
    std::FILE* out = outputWritable
        ? CreateExclusiveStream(GetDirectory(output), kOutputTempPrefix, "wb+", tempPath)
        : nullptr;
    if (out && exists)
        fchmod(fileno(out), existing.st_mode & 07777);
    std::FILE* in = std::fopen(source.c_str(), "rb");
    if (!CheckStream(out, IDS_WRITE_ERROR) || !CheckStream(in, IDS_READ_ERROR)) {
        if (in)
            CloseStream(in);
        if (out) {
            CloseStream(out);
            std::remove(tempPath.c_str());
        }
        return;
    }

    CodecContext context;
    context.pIn = in;
    context.pOut = out;
    context.nMode = 0;
    context.nInTotal = GetFileLength(in);
    context.nCounter = static_cast<std::uint64_t>(context.nInTotal);
    context.nInRead = 0;

    const unsigned result = explode(CodecRead, CodecWrite, SharedCodecWorkArea().bytes, &context);
    g_unpackOutcome.bDecoded = 1;
    g_unpackOutcome.nCodecResult = result;

    const std::int64_t compressedLength = GetFileLength(in);
    // Buffered data reaches the disk only now: a full disk may show here first.
    if (std::fflush(out) != 0 || StreamFailed(out))
        context.bWriteFailed = 1;
    const std::int64_t restoredLength = GetFileLength(out);
    CloseStream(in);
    if (CloseWrittenStream(out) != 0)
        context.bWriteFailed = 1;

    // An end code with much of the input still unread is no end the compressor wrote: the
    // decoder ran into damaged data (a gap in a set, say), where the bits of an end code turn
    // up by chance. A little data behind the end code (the padding of a transfer) is allowed.
    const std::int64_t unread = context.nInTotal - static_cast<std::int64_t>(context.nInRead);
    const bool complete = !setDamaged &&
                          ((result == CODEC_OK && unread < UNPACK_TRAILING_LIMIT) ||
                           (result == CODEC_TOO_SHORT && compressedLength == 4 &&
                            IsEmptyFileStream(source)));
    if (context.bReadFailed) {
        std::remove(tempPath.c_str());
        ShowMessageBoxOwnedByMain(LoadString(IDS_READ_ERROR), MB_OK | MB_ICONEXCLAMATION);
        AppendStatusId(IDS_READ_ERROR);
    } else if (context.bWriteFailed) {
        std::remove(tempPath.c_str());
        AppendStatusId(IDS_WRITE_ERROR);
    } else if (!complete) {
        g_unpackOutcome.bDamaged = 1;
        g_unpackOutcome.nRestoredBytes = restoredLength;
        const std::string broken = outputName + ".broken";
        // An older file of that name is replaced only when the user agrees, like any other.
        const bool keep = g_bKeepBroken && (result == CODEC_STREAM_ENDED || result == CODEC_OK);
        if (keep && AskBeforeReplacing(broken) && std::rename(tempPath.c_str(), broken.c_str()) == 0) {
            g_unpackOutcome.strBrokenPath = broken;
        } else {
            std::remove(tempPath.c_str());
            if (keep && LookUpFile(broken) == FileLookup::Exists)
                AppendStatus(FormatText(LoadString(IDS_BROKEN_NOT_KEPT).c_str(), broken.c_str()) + "\r\n");
        }
        ShowBox(IDS_INVALID_FILE_NAME, packedPath);
        AppendStatus(FormatText(LoadString(IDS_INVALID_FILE_NAME).c_str(), packedPath.c_str()));
    } else if (!RestoredBytesMatchManifest()) {
        // Decoded to its end code, yet not the bytes that were packed: the project file
        // that was there stays.
        g_unpackOutcome.bDamaged = 1;
        std::remove(tempPath.c_str());
    } else if (std::rename(tempPath.c_str(), output.c_str()) != 0) {
        std::remove(tempPath.c_str());
        AppendStatusId(IDS_WRITE_ERROR);
    } else {
        g_unpackOutcome.bRestored = 1;
        g_unpackOutcome.nRestoredBytes = restoredLength;
        AppendStatus(FormatSizeReport(restoredLength, static_cast<std::uint64_t>(compressedLength)));
    }
    AppendStatus("\r\n");
}
