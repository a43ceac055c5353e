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
// Prefix of the joined temporary file.
constexpr const char* kJoinTempPrefix = "zunj";

bool CanOpenForReading(const std::string& path)
{
    const int fd = OpenRegularInput(path);
    if (fd < 0)
        return false;
    close(fd);
    return true;
}

bool IsKindError(int error) { return error == ESPIPE || error == ENODEV || error == EISDIR; }

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
    AppendStatus(FormatText(LoadString(IDS_VOLUME_NOT_FOUND_NAMED).c_str(), expected.c_str()) + "\r\n");
    AppendStatusId(IDS_VOLUME_NOT_FOUND);
    AppendStatus("\r\n");
    AppendStatusId(IDS_UNPACK_FAILED);
}

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

bool BuildVolumeList(const std::string& packedPath, int count, const std::vector<std::string>& searchDirs,
                     JoinInfo& found)
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
        const std::string name = parts.name + "." + ext;
        std::string unusable;
        int error = 0;
        std::string path = LookForVolume(parts.drive + parts.dir, name, unusable, error);
        for (std::size_t d = 0; path.empty() && d < searchDirs.size(); ++d)
            path = LookForVolume(searchDirs[d], name, unusable, error);
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
                const std::string problem = CheckChosenVolume(volumes, index, count, choice, searchDirs);
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
        shape.sizes.push_back(stat(volume.c_str(), &info) == 0 ? static_cast<std::int64_t>(info.st_size) : -1);
    }
    const std::size_t count = shape.sizes.size();
    if (count < 2)
        return shape;
    // Volume 0 less its header and every middle volume each say what V is. The size most of
    // them agree on is V, so that the one volume cut short or grown is the one named, not its
    // sound neighbours. With two witnesses that differ (a set of three), the larger is taken:
    // a copy cut short is the common damage, and no volume but the last may be shorter than V.
    std::vector<std::int64_t> witnesses{shape.sizes[0] - static_cast<std::int64_t>(PACKED_HEADER_SIZE)};
    for (std::size_t i = 1; i + 1 < count; ++i)
        witnesses.push_back(shape.sizes[i]);
    std::size_t bestVotes = 0;
    for (const std::int64_t candidate : witnesses) {
        const auto votes = static_cast<std::size_t>(std::count(witnesses.begin(), witnesses.end(), candidate));
        if (votes > bestVotes || (votes == bestVotes && candidate > shape.volumeSize)) {
            bestVotes = votes;
            shape.volumeSize = candidate;
        }
    }
    for (std::size_t i = 1; i + 1 < count; ++i)
        if (shape.sizes[i] != shape.volumeSize)
            shape.oddVolumes.push_back(static_cast<int>(i));
    shape.firstWrong = shape.sizes[0] != shape.volumeSize + static_cast<std::int64_t>(PACKED_HEADER_SIZE);
    shape.lastTooLong = shape.sizes.back() > shape.volumeSize;
    return shape;
}

std::vector<std::string> DescribeSetShape(const SetShape& shape, const std::vector<std::string>& volumes)
{
    std::vector<std::string> lines;
    const std::size_t count = shape.sizes.size();
    if (count < 2 || volumes.size() != count)
        return lines;
    if (shape.firstWrong)
        lines.push_back(FormatText(LoadString(IDS_CHECK_FIRST_SIZE).c_str(), volumes[0].c_str(),
                                   static_cast<long>(shape.sizes[0]),
                                   static_cast<long>(shape.volumeSize + static_cast<std::int64_t>(PACKED_HEADER_SIZE))));
    for (int i : shape.oddVolumes)
        lines.push_back(FormatText(LoadString(IDS_CHECK_MIDDLE_SIZE).c_str(), static_cast<long>(i),
                                   volumes[static_cast<std::size_t>(i)].c_str(),
                                   static_cast<long>(shape.sizes[static_cast<std::size_t>(i)]),
                                   static_cast<long>(count - 2), static_cast<long>(shape.volumeSize)));
    if (shape.lastTooLong)
        lines.push_back(FormatText(LoadString(IDS_CHECK_LAST_SIZE).c_str(), volumes.back().c_str(),
                                   static_cast<long>(shape.sizes.back()), static_cast<long>(shape.volumeSize)));
    return lines;
}

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
                                 : CreateExclusiveStream(folder, kJoinTempPrefix, "wb", tempName);
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
            ShowMessageBoxOwnedByMain(FormatText(LoadString(IDS_CANNOT_READ_FILE).c_str(), name.c_str(),
                                                 InputErrorText(errno).c_str()),
                                      MB_OK | MB_ICONEXCLAMATION);
            AppendStatusId(IDS_VOLUME_NOT_FOUND);
            AppendStatus("\r\n");
            break;
        }
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
    return JoinSet(packedPath, folder.empty() ? SplitPath(packedPath).dir : folder, searchDirs, tempName,
                   found, nullptr);
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
        const PathParts parts = SplitPath(volumesSoFar.front());
        std::vector<std::string> folders{parts.drive + parts.dir};
        folders.insert(folders.end(), searchDirs.begin(), searchDirs.end());
        for (int j = index + 1; j < count; ++j) {
            const std::string name = parts.name + "." + JoinedVolumeExtension(j);
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
                ShowMessageBoxOwnedByMain(
                    FormatText(LoadString(IDS_JOIN_INTO_VOLUME).c_str(), request.outPath.c_str(),
                               static_cast<long>(i)),
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
    const bool joined = JoinSet(request.packedPath, outFolder.empty() ? CurrentDirectory() : outFolder,
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
        finishing = std::make_unique<CancelHold>(); // from the rename on: the output and its manifest
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
                                             request.outPath.c_str(), SystemErrorText(EISDIR).c_str()),
                                  MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    // The worker locks the names and asks about the output.
    JoinOutcome* answer = &outcome;
    return StartWorkerThread([request, answer] { JoinWorker(request, *answer); });
}
