// The free functions through which engine code reaches the main window: each request is
// carried to the main thread by the host, sends waiting for the answer and posts not.
#include "platform/mainwindow.h"

#include <atomic>

#include "platform/files.h"

namespace {

std::atomic<MainWindowHost*> g_host{nullptr};

} // namespace

void SetMainWindowHost(MainWindowHost* host) { g_host.store(host); }

MainWindowHost* GetMainWindowHost() { return g_host.load(); }

LRESULT SendMessageToMainWindow(unsigned msg, WPARAM wParam, LPARAM lParam)
{
    MainWindowHost* host = GetMainWindowHost();
    if (!host)
        return 0;
    LRESULT result = 0;
    host->RunOnMainAndWait([&] { result = host->HandleMessage(msg, wParam, lParam); });
    return result;
}

void PostMessageToMainWindow(unsigned msg, WPARAM wParam, LPARAM lParam)
{
    MainWindowHost* host = GetMainWindowHost();
    if (!host)
        return;
    host->RunOnMainLater([host, msg, wParam, lParam] { host->HandleMessage(msg, wParam, lParam); });
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
