#include "platform/subprocess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/files.h"

extern char** environ;

namespace {

bool IsExecutableFile(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           access(path.c_str(), X_OK) == 0;
}

// Closes a descriptor once, whatever path the run takes.
struct Descriptor {
    int fd = -1;
    ~Descriptor() { Close(); }
    void Close()
    {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
};

// posix_spawn's attributes and file actions, released on every path.
struct SpawnSetup {
    posix_spawnattr_t attr{};
    posix_spawn_file_actions_t actions{};
    bool attrReady = false;
    bool actionsReady = false;
    ~SpawnSetup()
    {
        if (attrReady)
            posix_spawnattr_destroy(&attr);
        if (actionsReady)
            posix_spawn_file_actions_destroy(&actions);
    }
};

// Waits for the child without blocking when wait is false; true once it has been reaped.
bool Reap(pid_t pid, ProgramRun& run, bool wait)
{
    int status = 0;
    pid_t got;
    do {
        got = waitpid(pid, &status, wait ? 0 : WNOHANG);
    } while (got < 0 && errno == EINTR);
    if (got != pid)
        return false;
    if (WIFEXITED(status)) {
        run.exited = true;
        run.exitStatus = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        run.signal = WTERMSIG(status);
    }
    return true;
}

} // namespace

std::string FindProgramOnPath(const std::string& name)
{
    if (name.empty())
        return {};
    if (name.find('/') != std::string::npos)
        return IsExecutableFile(name) ? name : std::string();
    const char* path = std::getenv("PATH");
    // POSIX leaves an unset PATH to the implementation; these are where programs are.
    const std::string folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    for (;;) {
        const std::size_t colon = folders.find(':', start);
        std::string folder =
            folders.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        // An empty entry means the current directory, which a program that runs on the
        // user's files must not search: a file there could pass for the program.
        if (!folder.empty() && folder.front() == '/') {
            const std::string candidate = folder + "/" + name;
            if (IsExecutableFile(candidate))
                return candidate;
        }
        if (colon == std::string::npos)
            return {};
        start = colon + 1;
    }
}

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::function<void(const std::string& piece)>& onOutput)
{
    ProgramRun run;
    int pipeFds[2] = {-1, -1};
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        run.startError = errno;
        return run;
    }
    Descriptor readEnd{pipeFds[0]};
    Descriptor writeEnd{pipeFds[1]};

    SpawnSetup setup;
    if (posix_spawnattr_init(&setup.attr) != 0 ||
        posix_spawn_file_actions_init(&setup.actions) != 0) {
        run.startError = ENOMEM;
        return run;
    }
    setup.attrReady = setup.actionsReady = true;
    // The worker blocks the stop signals and the process ignores SIGPIPE and SIGXFSZ; the
    // program starts with neither, as it would from a shell.
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGXFSZ);
    posix_spawnattr_setsigmask(&setup.attr, &none);
    posix_spawnattr_setsigdefault(&setup.attr, &defaults);
    // A group of its own: a cancel ends the program and whatever it started, and nothing
    // keeps the output open after that.
    posix_spawnattr_setpgroup(&setup.attr, 0);
    posix_spawnattr_setflags(&setup.attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                              POSIX_SPAWN_SETPGROUP);
    posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&setup.actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&setup.actions, pipeFds[1], STDERR_FILENO);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Every other descriptor stays with us: a lock file's descriptor in the program would keep
    // its lock after the job has let it go.
    posix_spawn_file_actions_addclosefrom_np(&setup.actions, 3);
#endif

    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(&word[0]);
    argv.push_back(nullptr);

    pid_t pid = 0;
    const int spawned =
        posix_spawn(&pid, program.c_str(), &setup.actions, &setup.attr, argv.data(), environ);
    writeEnd.Close();
    if (spawned != 0) {
        run.startError = spawned;
        return run;
    }
    run.started = true;

    using Clock = std::chrono::steady_clock;
    bool terminated = false;
    Clock::time_point killAt{};
    // On a cancel the program is asked to end, and made to a second later.
    auto stopWhenCancelled = [&] {
        if (CancelRequested() && !terminated) {
            run.cancelled = true;
            terminated = true;
            kill(-pid, SIGTERM);
            killAt = Clock::now() + std::chrono::seconds(1);
        }
        if (terminated && Clock::now() >= killAt) {
            kill(-pid, SIGKILL);
            killAt = Clock::time_point::max();
        }
    };
    bool open = true;
    while (open) {
        stopWhenCancelled();
        pollfd wait{readEnd.fd, POLLIN, 0};
        const int ready = poll(&wait, 1, 100);
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0) {
            // Ended on a cancel: whatever still holds the output open is not waited for.
            if (terminated && Reap(pid, run, false))
                return run;
            continue;
        }
        char buffer[4096];
        const ssize_t got = read(readEnd.fd, buffer, sizeof buffer);
        if (got > 0) {
            const std::string piece(buffer, static_cast<std::size_t>(got));
            run.output += piece;
            if (onOutput)
                onOutput(piece);
        } else if (got == 0 || errno != EINTR) {
            open = false; // the program and everything it started closed the pipe
        }
    }
    // A program that closed its output may still run: it is waited for, and ended on cancel.
    while (!Reap(pid, run, false)) {
        stopWhenCancelled();
        poll(nullptr, 0, 50);
    }
    return run;
}
