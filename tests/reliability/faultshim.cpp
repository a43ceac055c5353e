// A preloaded library that makes the file operations of a real program fail on cue, for the
// tests that run packtool-cli as a user does. It stands in front of the C library's fwrite,
// fread and rename; only regular files are affected, never the standard streams. Set by
// environment variables:
//   FAULTSHIM_LOG=path          append one line per read or write on a regular file:
//                               "w <bytes> <path>" or "r <bytes> <path>"
//   FAULTSHIM_WRITE_NTH=n       the n-th write on a regular file fails whole (ENOSPC)
//   FAULTSHIM_WRITE_AFTER=n     the disk is full after n bytes written to regular files
//   FAULTSHIM_READ_MATCH=text   read faults only on files whose path contains text
//   FAULTSHIM_READ_AFTER=n      reads fail (EIO) once n bytes were read from matching files
//   FAULTSHIM_RENAME_FAIL=1     every rename fails (EIO)
//   FAULTSHIM_RENAME_NTH=n      the n-th rename fails (EIO)
//   FAULTSHIM_SIGNAL=s          with one of the next two: the signal s is sent to the
//   FAULTSHIM_SIGNAL_WRITE_NTH=n  program itself just before its n-th write on a regular file,
//   FAULTSHIM_SIGNAL_READ_NTH=n   or just before its n-th read of one; the operation then goes
//                               on as the program's signal handling lets it
// Renames are logged too ("n 0 <to>"), so that a test can count them.
#include <dlfcn.h>
#include <sys/stat.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using FwriteFn = size_t (*)(const void*, size_t, size_t, FILE*);
using FreadFn = size_t (*)(void*, size_t, size_t, FILE*);
using RenameFn = int (*)(const char*, const char*);

template <class Fn>
Fn Next(const char* name)
{
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

std::uint64_t EnvNumber(const char* name)
{
    const char* text = std::getenv(name);
    return text && *text ? std::strtoull(text, nullptr, 10) : UINT64_MAX;
}

bool IsRegularFile(FILE* stream, char* path, std::size_t pathSize)
{
    const int fd = fileno(stream);
    struct stat info {};
    // The standard streams stay untouched even when they are redirected to files.
    if (fd <= 2 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, path, pathSize - 1);
    path[n > 0 ? n : 0] = '\0';
    return true;
}

void Log(char kind, std::size_t bytes, const char* path)
{
    const char* logPath = std::getenv("FAULTSHIM_LOG");
    if (!logPath || !*logPath)
        return;
    // Through the descriptor, not stdio, so that the log writes pass none of our own hooks.
    char line[PATH_MAX + 64];
    const int length = std::snprintf(line, sizeof line, "%c %zu %s\n", kind, bytes, path);
    FILE* log = std::fopen(logPath, "a");
    if (!log)
        return;
    ::write(fileno(log), line, static_cast<std::size_t>(length));
    std::fclose(log);
}

// A failed read or write of the C library sets the stream's error indicator; so does a fault
// of ours (glibc keeps it in the stream's flags).
void SetStreamError(FILE* stream)
{
    stream->_flags |= 0x20; // _IO_ERR_SEEN
}

std::uint64_t g_writes = 0;
std::uint64_t g_written = 0;
std::uint64_t g_read = 0;
std::uint64_t g_reads = 0;

// Sends FAULTSHIM_SIGNAL to the process when the count of operations reaches the number in the
// variable. To the process, not to the calling thread: the write or read is usually a worker's,
// and workers block the stop signals, so a signal raised in that thread would never arrive.
void SignalAt(const char* variable, std::uint64_t count)
{
    if (count != EnvNumber(variable))
        return;
    const std::uint64_t signal = EnvNumber("FAULTSHIM_SIGNAL");
    if (signal != UINT64_MAX)
        ::kill(::getpid(), static_cast<int>(signal));
}

} // namespace

extern "C" size_t fwrite(const void* buffer, size_t size, size_t count, FILE* stream)
{
    static const FwriteFn real = Next<FwriteFn>("fwrite");
    char path[PATH_MAX];
    if (size == 0 || !IsRegularFile(stream, path, sizeof path))
        return real(buffer, size, count, stream);
    const std::uint64_t bytes = static_cast<std::uint64_t>(size) * count;
    Log('w', bytes, path);
    ++g_writes;
    SignalAt("FAULTSHIM_SIGNAL_WRITE_NTH", g_writes);
    if (g_writes == EnvNumber("FAULTSHIM_WRITE_NTH")) {
        SetStreamError(stream);
        errno = ENOSPC;
        return 0;
    }
    const std::uint64_t budget = EnvNumber("FAULTSHIM_WRITE_AFTER");
    if (budget != UINT64_MAX && g_written + bytes > budget) {
        const std::uint64_t fits = budget > g_written ? budget - g_written : 0;
        const size_t put = real(buffer, 1, static_cast<size_t>(fits), stream);
        g_written += put;
        SetStreamError(stream);
        errno = ENOSPC;
        return put / size;
    }
    const size_t put = real(buffer, size, count, stream);
    g_written += static_cast<std::uint64_t>(put) * size;
    return put;
}

extern "C" size_t fread(void* buffer, size_t size, size_t count, FILE* stream)
{
    static const FreadFn real = Next<FreadFn>("fread");
    char path[PATH_MAX];
    if (size == 0 || !IsRegularFile(stream, path, sizeof path))
        return real(buffer, size, count, stream);
    SignalAt("FAULTSHIM_SIGNAL_READ_NTH", ++g_reads);
    const char* match = std::getenv("FAULTSHIM_READ_MATCH");
    const std::uint64_t budget = EnvNumber("FAULTSHIM_READ_AFTER");
    const bool armed = budget != UINT64_MAX && match && std::strstr(path, match);
    std::uint64_t wanted = static_cast<std::uint64_t>(size) * count;
    if (armed && g_read + wanted > budget)
        wanted = budget > g_read ? budget - g_read : 0;
    const size_t got = real(buffer, 1, static_cast<size_t>(wanted), stream);
    Log('r', got, path);
    if (armed) {
        g_read += got;
        if (got == wanted && wanted < static_cast<std::uint64_t>(size) * count) {
            SetStreamError(stream);
            errno = EIO;
            return got / size;
        }
    }
    return got / size;
}

extern "C" int rename(const char* from, const char* to)
{
    static const RenameFn real = Next<RenameFn>("rename");
    static std::uint64_t renames = 0;
    Log('n', 0, to);
    const char* fail = std::getenv("FAULTSHIM_RENAME_FAIL");
    if ((fail && *fail == '1') || ++renames == EnvNumber("FAULTSHIM_RENAME_NTH")) {
        errno = EIO;
        return -1;
    }
    return real(from, to);
}
