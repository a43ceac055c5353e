#include "platform/filelock.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "platform/files.h"

namespace {

// The folder and the name of a path, the folder resolved through links, so that every way of
// writing a path (relative, through a linked folder, a link to the file) meets the same lock.
void ResolveName(const std::string& path, std::string& dir, std::string& name)
{
    std::string full = path;
    if (char* real = realpath(path.c_str(), nullptr)) {
        full = real;
        std::free(real);
    }
    const std::size_t slash = full.rfind('/');
    dir = slash == std::string::npos ? std::string(".") : full.substr(0, slash == 0 ? 1 : slash);
    name = slash == std::string::npos ? full : full.substr(slash + 1);
    if (char* real = realpath(dir.c_str(), nullptr)) {
        dir = real;
        std::free(real);
    }
}

// True when the name still leads to the file that fd has open.
bool StillNamed(int fd, const std::string& lockPath)
{
    struct stat held {
    }, named{};
    return fstat(fd, &held) == 0 && stat(lockPath.c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

} // namespace

NameLock::~NameLock()
{
    Release();
}

std::string NameLock::LockFileFor(const std::string& path)
{
    std::string dir, name;
    ResolveName(path, dir, name);
    return (dir == "/" ? std::string() : dir) + "/." + name + ".lock";
}

NameLockResult NameLock::TryLock(const std::string& path, NameLockMode mode)
{
    Release();
    const std::string lockPath = LockFileFor(path);
    // A few rounds at most: each round that loses the file to a remover finds the new one.
    for (int round = 0; round < 100; ++round) {
        // 0666 before the umask: every user who may write the folder may lock its names.
        int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM))
            fd = open(lockPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
        if (fd < 0)
            return NameLockResult::Unlocked;
        struct stat info {};
        if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            // Something else under the lock file's name: not ours to lock or remove.
            close(fd);
            return NameLockResult::Unlocked;
        }
        const int operation = (mode == NameLockMode::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
        int locked;
        do {
            locked = flock(fd, operation);
        } while (locked != 0 && errno == EINTR);
        if (locked != 0) {
            const int error = errno;
            close(fd);
            return error == EWOULDBLOCK ? NameLockResult::Busy : NameLockResult::Unlocked;
        }
        if (StillNamed(fd, lockPath)) {
            m_fd = fd;
            m_lockPath = lockPath;
            return NameLockResult::Locked;
        }
        close(fd); // removed by its last holder after we opened it: take the new one
    }
    return NameLockResult::Unlocked;
}

void NameLock::Release()
{
    if (m_fd < 0)
        return;
    // Only an exclusive holder removes the file: no one else holds it, and whoever waits for
    // it finds it unnamed and starts again. A shared holder tries to become the only one.
    if (flock(m_fd, LOCK_EX | LOCK_NB) == 0 && StillNamed(m_fd, m_lockPath))
        unlink(m_lockPath.c_str());
    close(m_fd);
    m_fd = -1;
    m_lockPath.clear();
}

bool NameLock::PauseOrCancelled()
{
    // A tenth of a second in small steps: a cancel is seen at once, and the lock soon after
    // its holder lets go of it.
    for (int step = 0; step < 10; ++step) {
        if (CancelRequested())
            return true;
        struct timespec pause {
            0, 10 * 1000 * 1000
        };
        nanosleep(&pause, nullptr);
    }
    return CancelRequested();
}
