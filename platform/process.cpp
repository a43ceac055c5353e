#include "platform/process.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

bool g_closedAtStart[3] = {false, false, false};

} // namespace

bool OpenClosedStandardStreams()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free number is taken, and every lower one is open by now: this is fd.
        const int opened = open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
        if (opened < 0)
            return false;
        if (opened != fd) {
            const bool moved = dup2(opened, fd) == fd;
            close(opened);
            if (!moved)
                return false;
        }
        g_closedAtStart[fd] = true;
    }
    return true;
}

bool StandardStreamWasClosed(int fd)
{
    return fd >= 0 && fd <= 2 && g_closedAtStart[fd];
}

void IgnoreWriteSignals()
{
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

const std::vector<int>& StopSignals()
{
    static const std::vector<int> signals = {SIGINT,  SIGTERM, SIGHUP, SIGQUIT,
                                             SIGUSR1, SIGUSR2, SIGALRM};
    return signals;
}

const char* StopSignalName(int signal)
{
    switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    case SIGQUIT: return "SIGQUIT";
    case SIGUSR1: return "SIGUSR1";
    case SIGUSR2: return "SIGUSR2";
    case SIGALRM: return "SIGALRM";
    default: return "a signal";
    }
}
