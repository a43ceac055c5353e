// The main window as a job sees it.
//
// A job reaches the user only through "the main window": it posts its state, sends busy and
// done, asks for a missing volume, appends to the Status log, moves the progress bar and shows message boxes.
// "Send" means the worker waits until the main thread has handled the request; "post" means
// it does not wait. Three hosts implement this: the Qt main frame, the console and the test
// host. Without a host the reporting does nothing and the jobs still run.
//
// Engine code never calls a host directly: it uses the free functions at the end, which carry
// each request to the main thread the way the program always has (sends wait, posts do not).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

// Message box styles and answers, with the values the program has always used.
enum : unsigned {
    MB_OK = 0x00,
    MB_OKCANCEL = 0x01,
    MB_ICONEXCLAMATION = 0x30,
};
enum : int {
    IDOK = 1,
    IDCANCEL = 2,
};

// The state of a command (menu item, toolbar button) that an update handler may change.
class CommandUpdate {
public:
    virtual ~CommandUpdate() = default;
    virtual void Enable(bool enabled) = 0;
};

// A job's question when a volume of a set is missing.
struct FindVolumeRequest {
    std::string strExt;  // the volume's extension without its dot, e.g. "1KX"
    std::string strName; // the base name, without folder or extension
    // Which volume is missing (0 = the first) of how many, for hosts that say so.
    int nVolume = -1;
    int nVolumes = 0;
    // The volumes found so far, volume 0 first: what a chooser hands to CheckChosenVolume
    // (engine/join.h) to refuse a file before it answers. The job checks the answer anyway.
    const std::vector<std::string>* pFound = nullptr;
};

class MainWindowHost {
public:
    virtual ~MainWindowHost() = default;

    // Runs fn on the main thread and returns when it has run; a direct call when the caller
    // already is the main thread. The main thread never waits for a worker.
    virtual void RunOnMainAndWait(const std::function<void()>& fn) = 0;
    // Queues fn to the main thread and returns at once.
    virtual void RunOnMainLater(std::function<void()> fn) = 0;

    // What the main thread does; called only on the main thread.
    // The window messages of the jobs (WM_JOBSTATE, WM_JOBBUSY, WM_JOBDONE).
    virtual LRESULT HandleMessage(unsigned msg, WPARAM wParam, LPARAM lParam) = 0;
    // The Status log: append text at its end. Returns false when there is no log.
    virtual bool AppendToStatusLog(const std::string& text) = 0;
    // The progress bar (range 0 to 100).
    virtual void SetProgressPosition(int percent) = 0;
    // The message pane of the status bar, redrawn at once.
    virtual void SetStatusPaneText(const std::string& text) = 0;
    // A modal message box owned by the main window and captioned with the application title.
    // type combines MB_OK or MB_OKCANCEL with an icon; returns IDOK or IDCANCEL.
    virtual int ShowMessageBox(const std::string& text, unsigned type) = 0;
    // Asks the user for the file that holds a missing volume: its path, or nothing when the
    // user chose none.
    virtual std::optional<std::string> FindVolume(const FindVolumeRequest& request) = 0;
};

// The host that plays the main window, or null. Set on the main thread before a job starts.
void SetMainWindowHost(MainWindowHost* host);
MainWindowHost* GetMainWindowHost();

// Sends a window message and returns the handler's answer (0 without a host).
LRESULT SendMessageToMainWindow(unsigned msg, WPARAM wParam, LPARAM lParam);
// Posts a window message (dropped without a host).
void PostMessageToMainWindow(unsigned msg, WPARAM wParam, LPARAM lParam);
// Shows a message box owned by the main window, from any thread, and returns the answer.
// Without a host nobody can answer: OK boxes answer IDOK, OK/Cancel boxes IDCANCEL.
int ShowMessageBoxOwnedByMain(const std::string& text, unsigned type);
// Asks the main window for a missing volume, from any thread, and waits for the answer.
// Without a host nobody can answer: nothing.
std::optional<std::string> FindVolumeThroughMain(const FindVolumeRequest& request);
