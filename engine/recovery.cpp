// Recovery files through par2.
//
// The block layout is ours to choose. For a set, a volume is cut into (at most) 20 blocks, so
// that "N volumes' worth" is N times the blocks of the largest volume, and a few flipped bytes
// cost one block each, not a whole volume. A whole packed file is cut into about 1000 blocks,
// so that a percentage is counted in blocks of a tenth of a percent. The recovery blocks are
// spread evenly over as many files as it takes for each to fit on a disk of the set: par2
// repeats the set's descriptions in every file, so the size of each is measured, not guessed,
// and par2 runs again with more files when one came out too large.
#include "engine/recovery.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "engine/fileutil.h"
#include "engine/format.h"
#include "engine/jobcontext.h"
#include "engine/join.h"
#include "engine/manifest.h"
#include "engine/packedformat.h"
#include "platform/files.h"
#include "platform/mainwindow.h"
#include "platform/paths.h"
#include "platform/strings.h"
#include "platform/subprocess.h"
#include "resources/textids.h"

namespace {

// Blocks a volume is cut into, at most.
constexpr std::int64_t kBlocksPerVolume = 20;
// Blocks a whole packed file is cut into, about.
constexpr std::int64_t kBlocksPerFile = 1000;
// The smallest block of a whole packed file: smaller ones cost more in packet headers than
// they save.
constexpr std::int64_t kSmallestBlock = 512;
// The most source blocks a PAR2 set describes.
constexpr std::int64_t kMaxSourceBlocks = 32768;
// What a recovery block costs in its file beyond its own bytes: the packet's header (64
// bytes) and the block's number (4).
constexpr std::int64_t kRecoveryPacketOverhead = 68;
// Runs of par2 to find a number of files that each fit on a disk.
constexpr int kLayoutAttempts = 4;

void LogLine(const std::string& text)
{
    AppendStatus(text + "\r\n");
}

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::int64_t CeilDiv(std::int64_t a, std::int64_t b)
{
    return (a + b - 1) / b;
}

std::vector<std::string> NamesIn(const std::string& folder)
{
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return names;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

// Removes a folder this module made, with the files in it (it makes no folders inside).
void RemoveFolder(const std::string& folder)
{
    for (const std::string& name : NamesIn(folder))
        std::remove(MakePath("", folder, name, "").c_str());
    rmdir(folder.c_str());
}

// The last line par2 wrote that says something, for a message.
std::string LastWords(const std::string& output)
{
    // par2 rewrites its progress in place with carriage returns: each is a line of its own.
    std::string last;
    for (std::string& line : SplitLines(output, "\r\n")) {
        while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back())))
            line.pop_back();
        if (!line.empty())
            last = std::move(line);
    }
    return last;
}

// What a run of par2 that did not succeed comes to, in words.
std::string RunFailure(const ProgramRun& run)
{
    if (run.cancelled) {
        std::string text = LoadString(IDS_JOB_CANCELLED);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        return text;
    }
    if (!run.started)
        return FormatText(LoadString(IDS_RECOVERY_PROGRAM_FAILED).c_str(),
                          SystemErrorText(run.startError).c_str());
    std::string words = LastWords(run.output);
    if (words.empty())
        words = run.exited ? FormatText("exit status %d", run.exitStatus)
                           : FormatText("signal %d", run.signal);
    return FormatText(LoadString(IDS_RECOVERY_PROGRAM_FAILED).c_str(), words.c_str());
}

// The volume number of a set's file name (p.0KX 0, p.12X 12, p.123 123), -1 for another name.
int VolumeNumberOf(const std::string& fileName, const std::string& baseName)
{
    const PathParts parts = SplitPath(fileName);
    if (!EqualIgnoringCase(parts.name, baseName) || parts.ext.size() != 4)
        return -1;
    const std::string ext = Lower(parts.ext.substr(1));
    std::size_t digits = 0;
    while (digits < ext.size() && std::isdigit(static_cast<unsigned char>(ext[digits])))
        ++digits;
    if (digits == 0)
        return -1;
    const int number = std::atoi(ext.substr(0, digits).c_str());
    return EqualIgnoringCase(JoinedVolumeExtension(number), ext) ? number : -1;
}

struct Layout {
    std::int64_t blockSize = 0;
    std::int64_t recoveryBlocks = 0;
    std::int64_t files = 1;
};

// The block size and recovery block count for the set's files (their sizes).
bool PlanLayout(const std::vector<std::int64_t>& sizes, const RecoveryAmount& amount,
                int volumeSize, Layout& layout)
{
    const std::int64_t largest = sizes.empty() ? 0 : *std::max_element(sizes.begin(), sizes.end());
    if (volumeSize > 0) {
        const auto count = static_cast<std::int64_t>(sizes.size());
        const std::int64_t perVolume =
            std::max<std::int64_t>(1, std::min(kBlocksPerVolume, kMaxSourceBlocks / count));
        layout.blockSize = CeilDiv(std::max<std::int64_t>(largest, 1), perVolume);
    } else {
        layout.blockSize = std::max(kSmallestBlock, CeilDiv(largest, kBlocksPerFile));
    }
    layout.blockSize = CeilDiv(layout.blockSize, 4) * 4; // PAR2 blocks are whole 4-byte words
    std::int64_t sourceBlocks = 0;
    for (const std::int64_t size : sizes)
        sourceBlocks += std::max<std::int64_t>(1, CeilDiv(size, layout.blockSize));
    layout.recoveryBlocks =
        amount.volumes > 0
            ? amount.volumes * CeilDiv(std::max<std::int64_t>(largest, 1), layout.blockSize)
            : std::max<std::int64_t>(1, CeilDiv(sourceBlocks * amount.percent, 100));
    layout.files = 1;
    if (volumeSize > 0) {
        const std::int64_t perFile = volumeSize / (layout.blockSize + kRecoveryPacketOverhead);
        if (perFile < 1)
            return false;
        layout.files = CeilDiv(layout.recoveryBlocks, perFile);
    }
    return sourceBlocks <= kMaxSourceBlocks;
}

// Runs par2 create into folder for the files; true when it made them.
ProgramRun CreateInto(const std::string& program, const std::string& folder,
                      const std::string& baseFolder, const std::string& indexName,
                      const std::vector<std::string>& files, const Layout& layout, bool uniform)
{
    std::vector<std::string> args{"create",
                                  "-q",
                                  "-s" + std::to_string(layout.blockSize),
                                  "-c" + std::to_string(layout.recoveryBlocks),
                                  "-n" + std::to_string(layout.files),
                                  "-B" + baseFolder};
    if (uniform)
        args.push_back("-u");
    args.push_back("--");
    args.push_back(MakePath("", folder, indexName, ""));
    for (const std::string& file : files)
        args.push_back(AbsolutePath(file));
    return RunProgram(program, args);
}

// Gives the recovery files in folder the permission bits of the packed file, then their names
// beside it: the volume files first, the index last, so that NAME.par2 appears only beside a
// whole set of them. On a failure the files already placed go again. Returns the final names.
bool PlaceRecoveryFiles(const std::string& folder, const std::string& indexName,
                        const std::string& packedPath, std::vector<std::string>& placed, int& error)
{
    std::vector<std::string> names = NamesIn(folder);
    std::stable_partition(names.begin(), names.end(),
                          [&](const std::string& name) { return name != indexName; });
    const std::string setFolder = SplitPath(packedPath).dir;
    for (const std::string& name : names) {
        const std::string from = MakePath("", folder, name, "");
        const std::string to = setFolder.empty() ? name : MakePath("", setFolder, name, "");
        const int fd = open(from.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            CopyPermissionBits(fd, packedPath);
            close(fd);
        }
        if (std::rename(from.c_str(), to.c_str()) != 0) {
            error = errno;
            for (const std::string& done : placed)
                std::remove(done.c_str());
            placed.clear();
            return false;
        }
        placed.push_back(to);
    }
    return true;
}

} // namespace

bool ParseRecoveryAmount(const std::string& text, RecoveryAmount& amount)
{
    amount = RecoveryAmount{};
    const bool percent = !text.empty() && text.back() == '%';
    const std::string digits = percent ? text.substr(0, text.size() - 1) : text;
    if (digits.empty() || digits.size() > 3 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const int value = std::atoi(digits.c_str());
    if (value < 1 || value > (percent ? 100 : 99))
        return false;
    (percent ? amount.percent : amount.volumes) = value;
    return true;
}

std::string RecoveryIndexPath(const std::string& packedPath)
{
    const PathParts parts = SplitPath(packedPath);
    return MakePath(parts.drive, parts.dir, parts.name, ".par2");
}

bool IsRecoveryFileName(const std::string& fileName, const std::string& baseName)
{
    const std::string name = Lower(fileName);
    const std::string base = Lower(baseName) + ".";
    const std::string ending = ".par2";
    if (name.size() < base.size() + 4 || name.compare(0, base.size(), base) != 0)
        return false;
    const std::string rest = name.substr(base.size());
    if (rest == "par2")
        return true;
    // volA+B.par2
    if (rest.size() <= 3 + ending.size() || rest.compare(0, 3, "vol") != 0 ||
        rest.compare(rest.size() - ending.size(), ending.size(), ending) != 0)
        return false;
    const std::string numbers = rest.substr(3, rest.size() - 3 - ending.size());
    const std::size_t plus = numbers.find('+');
    const auto allDigits = [](const std::string& part) {
        return !part.empty() && part.find_first_not_of("0123456789") == std::string::npos;
    };
    return plus != std::string::npos && allDigits(numbers.substr(0, plus)) &&
           allDigits(numbers.substr(plus + 1));
}

std::vector<std::string> FindRecoveryFiles(const std::string& packedPath,
                                           const std::vector<std::string>& searchDirs)
{
    const PathParts parts = SplitPath(packedPath);
    std::vector<std::string> folders{parts.dir};
    folders.insert(folders.end(), searchDirs.begin(), searchDirs.end());
    std::vector<std::string> found;
    std::vector<std::string> seen; // lower-case names already found
    for (const std::string& folder : folders) {
        for (const std::string& name : NamesIn(folder.empty() ? "." : folder)) {
            if (!IsRecoveryFileName(name, parts.name) ||
                std::find(seen.begin(), seen.end(), Lower(name)) != seen.end())
                continue;
            const std::string path = folder.empty() ? name : MakePath("", folder, name, "");
            if (CheckRegularInput(path) != 0)
                continue; // a FIFO or a folder of that name is no recovery file
            seen.push_back(Lower(name));
            found.push_back(path);
        }
    }
    // The index first: the texts name it, and par2 is given it.
    std::stable_partition(found.begin(), found.end(), [&](const std::string& path) {
        return EqualIgnoringCase(FileNameOf(path), parts.name + ".par2");
    });
    return found;
}

void RemoveStaleRecoveryFiles(const std::string& packedPath)
{
    for (const std::string& path : FindRecoveryFiles(packedPath))
        if (std::remove(path.c_str()) == 0)
            LogLine(FormatText(LoadString(IDS_RECOVERY_STALE_REMOVED).c_str(), path.c_str()));
}

bool WriteRecoveryFiles(const std::string& packedPath, const RecoveryAmount& amount, int volumeSize,
                        std::vector<std::string>& written)
{
    written.clear();
    AppendStatus("\r\n");
    LogLine(LoadString(IDS_RECOVERY_START));
    const std::vector<std::string> older = FindRecoveryFiles(packedPath);
    // Whatever happens, recovery files of the set this one replaced go: they would rebuild
    // volumes of that set.
    auto notWritten = [&](const std::string& why) {
        LogLine(FormatText(LoadString(IDS_RECOVERY_NOT_WRITTEN).c_str(), why.c_str()));
        RemoveStaleRecoveryFiles(packedPath);
        return false;
    };
    const std::string program = FindProgramOnPath(RECOVERY_PROGRAM);
    if (program.empty())
        return notWritten(LoadString(IDS_RECOVERY_NO_PROGRAM));

    const std::vector<std::string> files = SetFiles(packedPath);
    std::vector<std::int64_t> sizes;
    for (const std::string& file : files)
        sizes.push_back(std::max<std::int64_t>(0, FileLength(file)));
    Layout layout;
    if (!PlanLayout(sizes, amount, volumeSize, layout))
        return notWritten(
            FormatText(LoadString(IDS_RECOVERY_TOO_LARGE).c_str(), static_cast<long>(volumeSize)));

    // par2 writes into a folder of the job's own beside the set: the files get their names by
    // a rename on the same file system, and a failed or cancelled run leaves nothing.
    const std::string setFolder = SplitPath(packedPath).dir;
    std::string pattern = setFolder + TEMP_FILE_PREFIX + "XXXXXX";
    if (!mkdtemp(&pattern[0]))
        return notWritten(FormatText(LoadString(IDS_CANNOT_CREATE_IN_FOLDER).c_str(),
                                     setFolder.empty() ? "." : setFolder.c_str(),
                                     SystemErrorText(errno).c_str()));
    const std::string folder = AbsolutePath(pattern);
    const std::string indexName = FileNameOf(RecoveryIndexPath(packedPath));
    // par2 keeps the names relative to this folder: the bare file names.
    const std::string baseFolder = setFolder.empty() ? CurrentDirectory() : AbsolutePath(setFolder);

    SetProgress(0);
    bool fits = false;
    ProgramRun run;
    for (int attempt = 0; attempt < kLayoutAttempts && !fits; ++attempt) {
        for (const std::string& name : NamesIn(folder))
            std::remove(MakePath("", folder, name, "").c_str());
        run = CreateInto(program, folder, baseFolder, indexName, files, layout, volumeSize > 0);
        if (!run.Succeeded())
            break;
        // Each file must fit on a disk of the set. When one does not, what par2 adds to each
        // file beyond its blocks is now known, and the blocks are spread over more files.
        std::int64_t largest = 0;
        for (const std::string& name : NamesIn(folder))
            largest = std::max(largest, FileLength(MakePath("", folder, name, "")));
        fits = volumeSize <= 0 || largest <= volumeSize;
        if (!fits) {
            const std::int64_t perFileBefore = CeilDiv(layout.recoveryBlocks, layout.files);
            const std::int64_t overhead =
                largest - perFileBefore * (layout.blockSize + kRecoveryPacketOverhead);
            const std::int64_t perFile = (volumeSize - std::max<std::int64_t>(0, overhead)) /
                                         (layout.blockSize + kRecoveryPacketOverhead);
            if (perFile < 1)
                break;
            layout.files = std::max(layout.files + 1, CeilDiv(layout.recoveryBlocks, perFile));
        }
    }
    SetProgress(100);
    if (!run.Succeeded() || !fits) {
        RemoveFolder(folder);
        return notWritten(!run.Succeeded() ? RunFailure(run)
                                           : FormatText(LoadString(IDS_RECOVERY_TOO_LARGE).c_str(),
                                                        static_cast<long>(volumeSize)));
    }

    // From the first rename on, the recovery files are put in place whole.
    CancelHold finishing;
    int error = 0;
    if (!PlaceRecoveryFiles(folder, indexName, packedPath, written, error)) {
        RemoveFolder(folder);
        return notWritten(FormatText(LoadString(IDS_CANNOT_WRITE_FILE).c_str(),
                                     RecoveryIndexPath(packedPath).c_str(),
                                     SystemErrorText(error).c_str()));
    }
    RemoveFolder(folder);
    for (const std::string& path : written)
        LogLine(FormatText(LoadString(IDS_RECOVERY_FILE_WRITTEN).c_str(), path.c_str(),
                           static_cast<long long>(FileLength(path))));
    // Older recovery files under names the new ones did not take.
    for (const std::string& old : older) {
        const bool replaced =
            std::any_of(written.begin(), written.end(), [&](const std::string& path) {
                return FileNameOf(path) == FileNameOf(old);
            });
        if (!replaced && std::remove(old.c_str()) == 0)
            LogLine(FormatText(LoadString(IDS_RECOVERY_STALE_REMOVED).c_str(), old.c_str()));
    }
    const std::string index = RecoveryIndexPath(packedPath);
    if (amount.volumes > 0)
        LogLine(FormatText(LoadString(IDS_RECOVERY_COVERS_VOLUMES).c_str(),
                           static_cast<long>(amount.volumes), index.c_str()));
    else
        LogLine(FormatText(LoadString(IDS_RECOVERY_COVERS_PERCENT).c_str(),
                           static_cast<long>(amount.percent), index.c_str()));
    return true;
}

// ---- Using the recovery files ----------------------------------------------------------------

RecoveryWorkFolder::~RecoveryWorkFolder()
{
    if (!m_folder.empty())
        RemoveFolder(m_folder);
}

std::string RecoveryWorkFolder::PathOf(const std::string& name) const
{
    return MakePath("", m_folder, name, "");
}

RecoveryExamination RecoveryWorkFolder::Examine(const std::string& packedPath,
                                                const std::vector<std::string>& searchDirs)
{
    RecoveryExamination examination;
    const std::vector<std::string> files = FindRecoveryFiles(packedPath, searchDirs);
    if (files.empty())
        return examination;
    examination.recoveryFile = files.front();
    m_shownIndex = files.front();
    m_packedBase = SplitPath(packedPath).name;
    m_program = FindProgramOnPath(RECOVERY_PROGRAM);
    if (m_program.empty()) {
        examination.kind = RecoveryExamination::ProgramMissing;
        return examination;
    }
    // The folder is the system's temporary one: a test writes nothing beside the set, which
    // may lie on a read-only disk.
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/packtool-recovery-XXXXXX";
    if (!mkdtemp(&pattern[0])) {
        examination.kind = RecoveryExamination::Unusable;
        examination.reason = SystemErrorText(errno);
        return examination;
    }
    m_folder = pattern;
    for (const std::string& file : files) {
        if (symlink(AbsolutePath(file).c_str(), PathOf(FileNameOf(file)).c_str()) != 0) {
            examination.kind = RecoveryExamination::Unusable;
            examination.reason = SystemErrorText(errno);
            return examination;
        }
    }
    m_index = PathOf(FileNameOf(files.front()));

    // The first run names the files the recovery data describes; they are then linked in from
    // beside the set or from the search folders, in any letter case, and verified.
    RecoveryExamination first = Verify();
    if (first.kind == RecoveryExamination::Unusable || first.kind == RecoveryExamination::Cancelled)
        return first;
    std::vector<std::string> folders{SplitPath(packedPath).dir};
    folders.insert(folders.end(), searchDirs.begin(), searchDirs.end());
    bool linked = false;
    for (const DamagedFile& target : first.damaged) {
        if (target.name.find('/') != std::string::npos ||
            LookUpFile(PathOf(target.name)) == FileLookup::Exists)
            continue;
        for (const std::string& folder : folders) {
            const std::string found = FindFileIgnoringCase(folder, target.name);
            // par2 would wait on a FIFO for ever: only a regular file is given to it.
            if (!found.empty() && CheckRegularInput(found) == 0) {
                linked = symlink(AbsolutePath(found).c_str(), PathOf(target.name).c_str()) == 0 ||
                         linked;
                break;
            }
        }
    }
    return linked ? Verify() : first;
}

RecoveryExamination RecoveryWorkFolder::Verify()
{
    RecoveryExamination examination;
    examination.recoveryFile = m_shownIndex;
    const ProgramRun run = RunProgram(m_program, {"verify", "-q", m_index});
    if (run.cancelled) {
        examination.kind = RecoveryExamination::Cancelled;
        return examination;
    }
    // Its report: a line per file, "Target: "NAME" - found.", "- missing." or "- damaged.
    // Found X of Y data blocks.", and "You need N more recovery blocks" when it cannot repair.
    std::vector<DamagedFile> targets;
    std::vector<bool> sound;
    std::size_t start = 0;
    const std::string& out = run.output;
    while (start < out.size()) {
        std::size_t end = out.find('\n', start);
        if (end == std::string::npos)
            end = out.size();
        const std::string line = out.substr(start, end - start);
        start = end + 1;
        const std::size_t open = line.find("Target: \"");
        const std::size_t close = open == std::string::npos ? open : line.find("\" - ", open + 9);
        if (close != std::string::npos) {
            DamagedFile target;
            target.name = line.substr(open + 9, close - open - 9);
            const std::string state = line.substr(close + 4);
            target.missing = state.compare(0, 7, "missing") == 0;
            std::sscanf(state.c_str(), "damaged. Found %ld of %ld", &target.blocksFound,
                        &target.blocksTotal);
            targets.push_back(target);
            sound.push_back(state.compare(0, 5, "found") == 0);
        }
        long more = 0;
        if (std::sscanf(line.c_str(), "You need %ld more recovery", &more) == 1)
            examination.blocksShort = more;
    }
    // par2 checks files on several threads and reports them in the order it finishes them.
    std::vector<std::size_t> order(targets.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return std::make_pair(VolumeNumberOf(targets[a].name, m_packedBase), targets[a].name) <
               std::make_pair(VolumeNumberOf(targets[b].name, m_packedBase), targets[b].name);
    });
    for (const std::size_t i : order) {
        targets[i].volume = targets.size() > 1 ? VolumeNumberOf(targets[i].name, m_packedBase) : -1;
        if (!sound[i])
            examination.damaged.push_back(targets[i]);
    }
    if (!run.exited || run.exitStatus > 2 || targets.empty()) {
        examination.kind = RecoveryExamination::Unusable;
        examination.reason = run.started ? LastWords(run.output) : SystemErrorText(run.startError);
        examination.damaged.clear();
        return examination;
    }
    examination.kind = run.exitStatus == 0   ? RecoveryExamination::Sound
                       : run.exitStatus == 1 ? RecoveryExamination::Repairable
                                             : RecoveryExamination::NotRepairable;
    if (examination.kind == RecoveryExamination::Sound)
        examination.damaged.clear();
    return examination;
}

bool RecoveryWorkFolder::Rebuild(std::string& reason)
{
    const ProgramRun run = RunProgram(m_program, {"repair", "-q", m_index});
    if (run.Succeeded())
        return true;
    reason = RunFailure(run);
    return false;
}

std::vector<std::string> DescribeDamage(const RecoveryExamination& examination)
{
    std::vector<std::string> lines;
    for (const DamagedFile& file : examination.damaged) {
        const char* name = file.name.c_str();
        if (file.volume >= 0)
            lines.push_back(file.missing
                                ? FormatText(LoadString(IDS_RECOVERY_VOLUME_MISSING).c_str(),
                                             static_cast<long>(file.volume), name)
                                : FormatText(LoadString(IDS_RECOVERY_VOLUME_DAMAGED).c_str(),
                                             static_cast<long>(file.volume), name, file.blocksFound,
                                             file.blocksTotal));
        else
            lines.push_back(file.missing
                                ? FormatText(LoadString(IDS_RECOVERY_FILE_MISSING).c_str(), name)
                                : FormatText(LoadString(IDS_RECOVERY_FILE_DAMAGED).c_str(), name,
                                             file.blocksFound, file.blocksTotal));
    }
    return lines;
}

std::string DescribeRecoveryVerdict(const RecoveryExamination& examination, const std::string& file)
{
    const char* index = examination.recoveryFile.c_str();
    if (examination.kind == RecoveryExamination::NotRepairable)
        return FormatText(LoadString(IDS_RECOVERY_NOT_REPAIRABLE).c_str(), file.c_str(), index,
                          examination.blocksShort);
    std::vector<int> volumes;
    for (const DamagedFile& damaged : examination.damaged)
        if (damaged.volume >= 0)
            volumes.push_back(damaged.volume);
    if (volumes.size() != examination.damaged.size() || volumes.empty())
        return FormatText(LoadString(IDS_RECOVERY_REPAIRABLE_WHOLE).c_str(), file.c_str(), index);
    if (volumes.size() == 1)
        return FormatText(LoadString(IDS_RECOVERY_REPAIRABLE_ONE).c_str(), file.c_str(),
                          static_cast<long>(volumes.front()), index);
    std::string list;
    for (const int volume : volumes)
        list += (list.empty() ? "" : ", ") + std::to_string(volume);
    return FormatText(LoadString(IDS_RECOVERY_REPAIRABLE_MANY).c_str(), file.c_str(), list.c_str(),
                      index);
}

std::string DescribeUnusedRecovery(const RecoveryExamination& examination)
{
    const char* index = examination.recoveryFile.c_str();
    if (examination.kind == RecoveryExamination::ProgramMissing)
        return FormatText(LoadString(IDS_RECOVERY_NEED_PROGRAM).c_str(), index);
    if (examination.kind == RecoveryExamination::Unusable)
        return FormatText(LoadString(IDS_RECOVERY_UNUSABLE).c_str(), index,
                          examination.reason.c_str());
    return {};
}

bool RebuildForUnpack(RecoveryWorkFolder& folder, const std::string& packedPath,
                      const std::vector<std::string>& searchDirs, std::string& joinFrom,
                      RecoveryExamination& examination)
{
    examination = folder.Examine(packedPath, searchDirs);
    const char* index = examination.recoveryFile.c_str();
    switch (examination.kind) {
    case RecoveryExamination::Cancelled: return false;
    case RecoveryExamination::Sound:
        LogLine(FormatText(LoadString(IDS_RECOVERY_ALL_MATCH).c_str(), index));
        return true;
    case RecoveryExamination::NotRepairable:
        for (const std::string& line : DescribeDamage(examination))
            LogLine(line);
        LogLine(FormatText(LoadString(IDS_RECOVERY_CANNOT_REBUILD).c_str(), index,
                           examination.blocksShort));
        return true;
    case RecoveryExamination::Repairable: break;
    default: return true; // no recovery files, or none that can be used: the job goes on as ever
    }

    // The question names what is damaged; the log then says what was rebuilt, or that nothing was.
    std::string damage;
    for (const std::string& line : DescribeDamage(examination))
        damage += (damage.empty() ? "" : "\n") + line;
    const std::string question =
        FormatText(LoadString(IDS_RECOVERY_ASK_REBUILD).c_str(), damage.c_str(), index);
    if (ShowMessageBoxOwnedByMain(question, MB_OKCANCEL | MB_ICONEXCLAMATION) != IDOK) {
        if (CancelRequested())
            return false;
        for (const std::string& line : DescribeDamage(examination))
            LogLine(line);
        LogLine(LoadString(IDS_RECOVERY_NOT_REBUILT));
        return true;
    }
    std::string reason;
    if (!folder.Rebuild(reason)) {
        if (CancelRequested())
            return false;
        LogLine(FormatText(LoadString(IDS_RECOVERY_REBUILD_FAILED).c_str(), reason.c_str()));
        return true;
    }
    // A manifest of ours vouches for every volume: a rebuilt one must have its checksum.
    const ManifestCheck manifest = ExamineManifest(packedPath);
    for (const DamagedFile& file : examination.damaged) {
        const std::string rebuilt = folder.PathOf(file.name);
        if (manifest.kind == ManifestCheck::Ours &&
            CheckFileAgainstManifest(manifest.entries, rebuilt) == ManifestMatch::Differs) {
            const std::string text = FormatText(LoadString(IDS_RECOVERY_REBUILT_MISMATCH).c_str(),
                                                file.name.c_str(), manifest.strPath.c_str());
            ShowMessageBoxOwnedByMain(text, MB_OK | MB_ICONEXCLAMATION);
            LogLine(text);
            return false;
        }
        LogLine(file.volume >= 0
                    ? FormatText(LoadString(IDS_RECOVERY_REBUILT_VOLUME).c_str(),
                                 static_cast<long>(file.volume), file.name.c_str(), index)
                    : FormatText(LoadString(IDS_RECOVERY_REBUILT_FILE).c_str(), file.name.c_str(),
                                 index));
    }
    LogLine(FormatText(LoadString(IDS_RECOVERY_SET_UNTOUCHED).c_str(), index));
    // The set is read from the work folder from now on: its volume 0 is the packed file's
    // name there (the name the recovery data gives it).
    const std::string first = FileNameOf(packedPath);
    for (const std::string& name : NamesIn(SplitPath(folder.PathOf(first)).dir))
        if (EqualIgnoringCase(name, first))
            joinFrom = folder.PathOf(name);
    return true;
}
