// The free functions through which engine code reaches the main window: each request is
// carried to the main thread by the host, sends waiting for the answer and posts not.
#include "platform/mainwindow.h"

#include <atomic>

#include "platform/files.h"
#include "platform/jobscope.h"

namespace {

std::atomic<MainWindowHost*> g_host{nullptr};

} // namespace

void SetMainWindowHost(MainWindowHost* host)
{
    g_host.store(host);
}

MainWindowHost* GetMainWindowHost()
{
    // A job of a batch reports to its own host; every other thread to the process's.
    if (const JobScope* scope = JobScope::Current())
        return scope->Host();
    return g_host.load();
}

void PostJobState(JobState state)
{
    MainWindowHost* host = GetMainWindowHost();
    if (!host)
        return;
    host->RunOnMainLater([host, state] { host->JobStateChanged(state); });
}

void SendJobState(JobState state)
{
    MainWindowHost* host = GetMainWindowHost();
    if (!host)
        return;
    host->RunOnMainAndWait([&] { host->JobStateChanged(state); });
}

void SendJobBusy()
{
    MainWindowHost* host = GetMainWindowHost();
    if (!host)
        return;
    host->RunOnMainAndWait([&] { host->JobBusy(); });
}

void SendJobBusyEnded()
{
    MainWindowHost* host = GetMainWindowHost();
    if (!host)
        return;
    host->RunOnMainAndWait([&] { host->JobBusyEnded(); });
}

void SendJobEnded(JobKind kind, bool succeeded, const std::string& closingLine)
{
    MainWindowHost* host = GetMainWindowHost();
    if (!host)
        return;
    host->RunOnMainAndWait([&] { host->JobEnded(kind, succeeded, closingLine); });
}

int ShowMessageBoxOwnedByMain(const std::string& text, unsigned type)
{
    MainWindowHost* host = GetMainWindowHost();
    // After a cancel request nobody is asked anything, nor kept waiting on a box: the job ends
    // the way a Cancel ends it, and says so in its log.
    if (!host || CancelRequested())
        return (type & 0x0Fu) == MB_OKCANCEL ? IDCANCEL : IDOK;
    int answer = IDCANCEL;
    host->RunOnMainAndWait([&] { answer = host->ShowMessageBox(text, type); });
    return answer;
}

std::optional<std::string> FindVolumeThroughMain(const FindVolumeRequest& request)
{
    MainWindowHost* host = GetMainWindowHost();
    if (!host)
        return std::nullopt;
    std::optional<std::string> answer;
    host->RunOnMainAndWait([&] { answer = host->FindVolume(request); });
    return answer;
}
