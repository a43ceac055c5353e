#include "platform/files.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "platform/jobscope.h"
#include "platform/paths.h"
#include "platform/threadlocal.h"

namespace {

constexpr std::uint64_t kUnarmed = UINT64_MAX;

std::atomic<std::uint64_t> g_writeBudget{kUnarmed}; // bytes that may still be written
std::atomic<unsigned> g_writesUntilFault{0};        // 0: off; 1: the next write fails
std::atomic<std::uint64_t> g_readBudget{kUnarmed};
std::atomic<std::uint64_t> g_writesSeen{0};    // writes since the seam was disarmed
std::atomic<std::uint64_t> g_cancelAtWrite{0}; // 0: off; n: the n-th write cancels

// The cancel request. A lock-free atomic is safe to set from a signal handler.
std::atomic<bool> g_cancel{false};
static_assert(std::atomic<bool>::is_always_lock_free,
              "the cancel flag is set from signal handlers");
// The jobs that are putting their result in place (CancelHold): a cancel waits for them.
std::atomic<int> g_cancelHolds{0};

// Streams on which a seam fault or a short write happened. stdio's own error indicator
// cannot be set from outside, so the failures we cause or see are remembered here.
std::mutex g_failedMutex;
std::set<std::FILE*> g_failedStreams;
// The buffers given by UseLargeOutputBuffer and UseLargeInputBuffer, freed when their stream
// is closed by CloseStream.
std::map<std::FILE*, std::unique_ptr<char[]>> g_outputBuffers;

void MarkFailed(std::FILE* stream)
{
    std::lock_guard<std::mutex> lock(g_failedMutex);
    g_failedStreams.insert(stream);
}

// Takes up to count bytes from an armed budget; returns how many may pass.
std::size_t TakeFromBudget(std::atomic<std::uint64_t>& budget, std::size_t count)
{
    std::uint64_t left = budget.load();
    while (left != kUnarmed) {
        const std::uint64_t granted = left < count ? left : count;
        if (budget.compare_exchange_weak(left, left - granted))
            return static_cast<std::size_t>(granted);
    }
    return count;
}

void ReturnToBudget(std::atomic<std::uint64_t>& budget, std::size_t unused)
{
    std::uint64_t left = budget.load();
    while (left != kUnarmed && !budget.compare_exchange_weak(left, left + unused)) {
    }
}

// The folder part of a path with its trailing '/', or empty (the current folder).
std::string SplitDir(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string RandomSuffix()
{
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    PACKTOOL_THREAD_LOCAL std::mt19937_64 engine{std::random_device{}() ^
                                                 (static_cast<std::uint64_t>(getpid()) << 32)};
    std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof(kChars)) - 2);
    std::string suffix(6, 'x');
    for (char& c : suffix)
        c = kChars[pick(engine)];
    return suffix;
}

} // namespace

FileLookup LookUpFile(const std::string& path)
{
    if (path.empty())
        return FileLookup::InvalidName;
    struct stat info {};
    if (lstat(path.c_str(), &info) == 0)
        return FileLookup::Exists;
    switch (errno) {
    case ENOENT: return FileLookup::Missing;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case EINVAL: return FileLookup::InvalidName;
    default:
        // Something is there that we may not look at (EACCES and the like): treat it as an
        // existing file, so that nothing is written over it without a question.
        return FileLookup::Exists;
    }
}

bool IsSameFile(const std::string& a, const std::string& b)
{
    struct stat infoA {
    }, infoB{};
    if (stat(a.c_str(), &infoA) != 0 || stat(b.c_str(), &infoB) != 0)
        return false;
    return infoA.st_dev == infoB.st_dev && infoA.st_ino == infoB.st_ino;
}

int CreateExclusiveFile(const std::string& dir, const std::string& prefix, std::string& pathOut)
{
    std::string base = dir.empty() ? std::string(".") : dir;
    if (base.back() != '/')
        base += '/';
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = base + prefix + RandomSuffix();
        // 0666 before the umask: the file may become a user's packed file under its final name.
        const int fd = open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            pathOut = candidate;
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    errno = EEXIST;
    return -1;
}

std::FILE* CreateExclusiveStream(const std::string& dir, const std::string& prefix,
                                 const char* mode, std::string& pathOut)
{
    std::string path;
    const int fd = CreateExclusiveFile(dir, prefix, path);
    if (fd < 0)
        return nullptr;
    std::FILE* stream = fdopen(fd, mode);
    if (!stream) {
        const int saved = errno;
        close(fd);
        unlink(path.c_str());
        errno = saved;
        return nullptr;
    }
    pathOut = path;
    return stream;
}

std::string CurrentDirectory()
{
    std::string buffer(PATH_MAX, '\0');
    if (!getcwd(buffer.data(), buffer.size()))
        return {};
    buffer.resize(std::char_traits<char>::length(buffer.c_str()));
    return buffer;
}

std::string AbsolutePath(const std::string& path)
{
    if (path.empty() || path.front() == '/')
        return path;
    const std::string current = CurrentDirectory();
    return current.empty() ? path : MakePath("", current, path, "");
}

bool ChangeDirectory(const std::string& path)
{
    return chdir(path.c_str()) == 0;
}

std::int64_t StreamLength(std::FILE* stream)
{
    std::int64_t length = -1;
    if (fseeko(stream, 0, SEEK_END) == 0)
        length = static_cast<std::int64_t>(ftello(stream));
    fseeko(stream, 0, SEEK_SET);
    return length;
}

std::size_t ReadBytes(void* buffer, std::size_t count, std::FILE* stream)
{
    if (CancelRequested()) {
        MarkFailed(stream);
        errno = ECANCELED;
        return 0;
    }
    const std::size_t allowed = TakeFromBudget(g_readBudget, count);
    const std::size_t got = std::fread(buffer, 1, allowed, stream);
    // The budget counts the bytes read, not the bytes asked for: a read that meets the end of
    // the file gives back what it did not use.
    if (got < allowed)
        ReturnToBudget(g_readBudget, allowed - got);
    if (allowed < count && got == allowed) {
        MarkFailed(stream);
        errno = EIO;
    }
    return got;
}

std::size_t WriteBytes(const void* buffer, std::size_t count, std::FILE* stream)
{
    if (CancelRequested()) {
        MarkFailed(stream);
        errno = ECANCELED;
        return 0;
    }
    const std::uint64_t seen = ++g_writesSeen;
    if (seen == g_cancelAtWrite.load()) {
        RequestCancel();
        MarkFailed(stream);
        errno = ECANCELED;
        return 0;
    }
    unsigned nth = g_writesUntilFault.load();
    while (nth != 0 && !g_writesUntilFault.compare_exchange_weak(nth, nth - 1)) {
    }
    if (nth == 1) {
        MarkFailed(stream);
        errno = ENOSPC;
        return 0;
    }
    const std::size_t allowed = TakeFromBudget(g_writeBudget, count);
    const std::size_t put = std::fwrite(buffer, 1, allowed, stream);
    if (put < count) {
        MarkFailed(stream);
        if (put == allowed)
            errno = ENOSPC;
    }
    return put;
}

bool StreamFailed(std::FILE* stream)
{
    if (!stream)
        return true;
    if (std::ferror(stream))
        return true;
    std::lock_guard<std::mutex> lock(g_failedMutex);
    return g_failedStreams.count(stream) != 0;
}

void ForgetStream(std::FILE* stream)
{
    std::lock_guard<std::mutex> lock(g_failedMutex);
    g_failedStreams.erase(stream);
}

int CloseStream(std::FILE* stream)
{
    if (!stream)
        return 0;
    ForgetStream(stream);
    // The buffer is taken out of the table before the close and freed only after it, since the
    // close flushes from it; the closed stream's address is not looked at again.
    std::unique_ptr<char[]> buffer;
    {
        std::lock_guard<std::mutex> lock(g_failedMutex);
        const auto found = g_outputBuffers.find(stream);
        if (found != g_outputBuffers.end()) {
            buffer = std::move(found->second);
            g_outputBuffers.erase(found);
        }
    }
    return std::fclose(stream);
}

int CloseWrittenStream(std::FILE* stream, bool replacesFile)
{
    if (!stream)
        return 0;
    const bool flushed = std::fflush(stream) == 0;
    const bool synced = flushed && (!replacesFile || fsync(fileno(stream)) == 0);
    const int error = errno;
    const bool closed = CloseStream(stream) == 0;
    if (!(flushed && synced))
        errno = error;
    return flushed && synced && closed ? 0 : -1;
}

void UseLargeOutputBuffer(std::FILE* stream)
{
    if (!stream)
        return;
    // The C library takes the size only with a buffer of the caller's: given none, it keeps
    // its own 4 KB.
    // Not zeroed: the C library writes every byte before it reads it, and clearing 256 KB
    // that is overwritten anyway is a cost every command pays at its start.
    std::unique_ptr<char[]> buffer(new char[OUTPUT_BUFFER_SIZE]);
    if (std::setvbuf(stream, buffer.get(), _IOFBF, OUTPUT_BUFFER_SIZE) != 0)
        return;
    // The standard streams are flushed by exit after every static object is gone: their
    // buffer lives as long as the process.
    if (stream == stdout || stream == stderr) {
        buffer.release();
        return;
    }
    std::lock_guard<std::mutex> lock(g_failedMutex);
    g_outputBuffers[stream] = std::move(buffer);
}

void UseLargeInputBuffer(std::FILE* stream)
{
    // setvbuf works alike for reading; standard input keeps its buffer for good as well.
    UseLargeOutputBuffer(stream);
}

std::string SystemErrorText(int error)
{
    return std::strerror(error);
}

OutputTarget ExamineOutput(const std::string& path)
{
    OutputTarget target;
    target.path = path;
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        target.kind = OutputKind::NewFile; // nothing there, or a link that points nowhere
        return target;
    }
    if (S_ISDIR(info.st_mode)) {
        target.kind = OutputKind::Folder;
    } else if (S_ISREG(info.st_mode)) {
        target.kind = OutputKind::ReplaceFile;
        target.mode = info.st_mode & 07777;
        // A file reached through a link is replaced where it lies, as writing through the
        // link would have done; the link stays a link.
        if (char* real = realpath(path.c_str(), nullptr)) {
            target.path = real;
            std::free(real);
        }
    } else {
        target.kind = OutputKind::Straight;
    }
    return target;
}

void CopyPermissionBits(int fd, const std::string& source)
{
    struct stat info {};
    if (source.empty() || stat(source.c_str(), &info) != 0)
        return;
    fchmod(fd, info.st_mode & 0777);
}

namespace {

// 0 for a regular file, else the error that names what it is instead.
int ErrorForFileKind(mode_t mode)
{
    if (S_ISREG(mode))
        return 0;
    if (S_ISDIR(mode))
        return EISDIR;
    if (S_ISFIFO(mode) || S_ISSOCK(mode))
        return ESPIPE;
    return ENODEV;
}

} // namespace

void KeepReplacedFileAttributes(int fd, const std::string& replaced)
{
    struct stat info {};
    if (stat(replaced.c_str(), &info) != 0)
        return;
    // The owner first: a change of owner clears the set-user-ID and set-group-ID bits, which
    // the mode then sets again. Without the right to give the file away, the owner stays ours
    // and the group is given where we are a member of it.
    if (fchown(fd, info.st_uid, info.st_gid) != 0 &&
        fchown(fd, static_cast<uid_t>(-1), info.st_gid) != 0) {
        // Neither: the replacement stays ours, in our group.
    }
    fchmod(fd, info.st_mode & 07777);

    const ssize_t listed = listxattr(replaced.c_str(), nullptr, 0);
    if (listed <= 0)
        return;
    std::string names(static_cast<std::size_t>(listed), '\0');
    const ssize_t got = listxattr(replaced.c_str(), names.data(), names.size());
    if (got <= 0)
        return;
    names.resize(static_cast<std::size_t>(got));
    for (std::size_t at = 0; at < names.size();) {
        const std::string name = names.c_str() + at;
        at += name.size() + 1;
        if (name.rfind("user.", 0) != 0 && name.rfind("security.", 0) != 0)
            continue;
        const ssize_t size = getxattr(replaced.c_str(), name.c_str(), nullptr, 0);
        if (size < 0)
            continue;
        std::string value(static_cast<std::size_t>(size), '\0');
        const ssize_t read = getxattr(replaced.c_str(), name.c_str(), value.data(), value.size());
        if (read >= 0)
            fsetxattr(fd, name.c_str(), value.data(), static_cast<std::size_t>(read), 0);
    }
}

void ApplyOutputAttributes(int fd, const OutputTarget& target, const std::string& modeSource)
{
    if (target.kind == OutputKind::ReplaceFile)
        KeepReplacedFileAttributes(fd, target.path);
    else
        CopyPermissionBits(fd, modeSource);
}

int CheckRegularInput(const std::string& path)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0)
        return errno;
    return ErrorForFileKind(info.st_mode);
}

int OpenRegularInput(const std::string& path)
{
    // A look first, so that a device is not even opened (opening one may do something).
    const int kind = CheckRegularInput(path);
    if (kind != 0) {
        errno = kind;
        return -1;
    }
    // O_NONBLOCK: a FIFO put under the name since the look opens at once instead of waiting
    // for a writer; what the descriptor holds is then checked, and the flag cleared for the
    // regular file's reads.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat info {};
    int error = fstat(fd, &info) != 0 ? errno : ErrorForFileKind(info.st_mode);
    if (error == 0) {
        const int flags = fcntl(fd, F_GETFL);
        if (flags == -1 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
            error = errno;
    }
    if (error != 0) {
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

std::FILE* OpenRegularInputStream(const std::string& path)
{
    const int fd = OpenRegularInput(path);
    if (fd < 0)
        return nullptr;
    std::FILE* stream = fdopen(fd, "rb");
    if (!stream) {
        const int error = errno;
        close(fd);
        errno = error;
    }
    return stream;
}

OutputFile::~OutputFile()
{
    Abandon();
}

bool OutputFile::Open(const std::string& path, const std::string& tempPrefix,
                      const std::string& modeSource)
{
    Abandon();
    m_folderFailed = false;
    m_target = ExamineOutput(path);
    switch (m_target.kind) {
    case OutputKind::Folder: errno = EISDIR; return false;
    case OutputKind::Straight: {
        // No O_TRUNC and no O_CREAT: the thing is there and is written as it is.
        const int fd = open(m_target.path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            return false;
        m_stream = fdopen(fd, "wb");
        if (!m_stream) {
            const int error = errno;
            close(fd);
            errno = error;
            return false;
        }
        UseLargeOutputBuffer(m_stream);
        return true;
    }
    case OutputKind::ReplaceFile:
        // A file that may not be written stays as it is, as a failed open would leave it.
        if (access(m_target.path.c_str(), W_OK) != 0)
            return false;
        break;
    case OutputKind::NewFile: break;
    }
    const int fd = CreateExclusiveFile(SplitDir(m_target.path), tempPrefix, m_tempPath);
    if (fd < 0) {
        m_tempPath.clear();
        m_folderFailed = true;
        return false;
    }
    ApplyOutputAttributes(fd, m_target, modeSource);
    m_stream = fdopen(fd, "wb+");
    if (!m_stream) {
        const int error = errno;
        close(fd);
        unlink(m_tempPath.c_str());
        m_tempPath.clear();
        errno = error;
        return false;
    }
    UseLargeOutputBuffer(m_stream);
    return true;
}

std::string OutputFile::Folder() const
{
    const std::string dir = SplitDir(m_target.path);
    return dir.empty() ? std::string(".") : dir.substr(0, dir.size() > 1 ? dir.size() - 1 : 1);
}

bool OutputFile::Commit(const std::string& otherName)
{
    if (!m_stream) {
        errno = EBADF;
        return false;
    }
    // A write that failed before has told its caller its reason; here it is only a failure.
    int error = StreamFailed(m_stream) ? EIO : 0;
    std::FILE* stream = m_stream;
    m_stream = nullptr;
    if (CloseWrittenStream(stream, m_target.kind == OutputKind::ReplaceFile) != 0 && error == 0)
        error = errno != 0 ? errno : EIO;
    if (error == 0 && CancelRequested())
        error = ECANCELED;
    if (error == 0 && !m_tempPath.empty() &&
        std::rename(m_tempPath.c_str(), (otherName.empty() ? m_target.path : otherName).c_str()) !=
            0)
        error = errno;
    if (error != 0) {
        if (!m_tempPath.empty())
            unlink(m_tempPath.c_str());
        m_tempPath.clear();
        errno = error;
        return false;
    }
    m_tempPath.clear();
    return true;
}

void OutputFile::Abandon()
{
    if (m_stream) {
        CloseStream(m_stream);
        m_stream = nullptr;
    }
    if (!m_tempPath.empty()) {
        unlink(m_tempPath.c_str());
        m_tempPath.clear();
    }
}

void RequestCancel()
{
    g_cancel.store(true);
}
bool CancelRequested()
{
    const JobScope* scope = JobScope::Current();
    return (g_cancel.load() || (scope && scope->CancelRequested())) && g_cancelHolds.load() == 0;
}
void ClearCancelRequest()
{
    g_cancel.store(false);
}

CancelHold::CancelHold()
{
    ++g_cancelHolds;
}
CancelHold::~CancelHold()
{
    --g_cancelHolds;
}

void FailWritesAfterBytes(std::uint64_t bytes)
{
    g_writeBudget.store(bytes);
}
void FailNthWrite(unsigned n)
{
    g_writesUntilFault.store(n);
}
void FailReadsAfterBytes(std::uint64_t bytes)
{
    g_readBudget.store(bytes);
}

void CancelAtNthWrite(std::uint64_t n)
{
    g_cancelAtWrite.store(n);
}
std::uint64_t WritesSinceDisarm()
{
    return g_writesSeen.load();
}

void DisarmFileFaults()
{
    g_writesSeen.store(0);
    g_cancelAtWrite.store(0);
    g_writeBudget.store(kUnarmed);
    g_writesUntilFault.store(0);
    g_readBudget.store(kUnarmed);
}
