// The main window as a job sees it.
//
// A job reaches the user only through "the main window": it reports its state, that it is busy
// and that its busy work is over, and how it ended; it asks for a missing volume, appends to the
// Status log, moves the progress bar and shows message boxes.
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

// State of the running job, shown in the status bar; JOB_IDLE when none runs.
enum JobState : int {
    JOB_IDLE = 0,
    JOB_COMPRESSING = 1,
    JOB_SPLITTING = 2,
    JOB_DECOMPRESSING = 3,
    JOB_JOINING = 4,
};

// What a job does, as it says when it ends.
enum class JobKind {
    Pack,
    Unpack,
    Test,
    Split,
    Join
};

// Message box styles and answers, with the values the program has always used.
// MB_YESTOALL, added to MB_OKCANCEL, offers a third answer, IDYESTOALL, to a question that
// stands for several files: a host that has no such button answers OK or Cancel as before.
enum : unsigned {
    MB_OK = 0x00,
    MB_OKCANCEL = 0x01,
    MB_ICONEXCLAMATION = 0x30,
    MB_YESTOALL = 0x100,
};
enum : int {
    IDOK = 1,
    IDCANCEL = 2,
    IDYESTOALL = 10,
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
    // The running job's state changed (JOB_IDLE: it has stopped working).
    virtual void JobStateChanged(JobState state) = 0;
    // The job is working through its data: the window shows its wait cursor, again should
    // something have replaced it.
    virtual void JobBusy() = 0;
    // The job's work through its data is over: the wait cursor goes.
    virtual void JobBusyEnded() = 0;
    // The job has ended: its kind, whether it did what it was asked, and the line that closes
    // its log (empty: none). Once from every worker, when nothing more goes into its log.
    virtual void JobEnded(JobKind kind, bool succeeded, const std::string& closingLine) = 0;
    // The Status log: append text at its end. Returns false when there is no log.
    virtual bool AppendToStatusLog(const std::string& text) = 0;
    // The progress bar (range 0 to 100).
    virtual void SetProgressPosition(int percent) = 0;
    // The message pane of the status bar, redrawn at once.
    virtual void SetStatusPaneText(const std::string& text) = 0;
    // A modal message box owned by the main window and captioned with the application title.
    // type combines MB_OK or MB_OKCANCEL with an icon (and MB_YESTOALL); returns IDOK or
    // IDCANCEL (or IDYESTOALL).
    virtual int ShowMessageBox(const std::string& text, unsigned type) = 0;
    // Asks the user for the file that holds a missing volume: its path, or nothing when the
    // user chose none.
    virtual std::optional<std::string> FindVolume(const FindVolumeRequest& request) = 0;
};

// The host that plays the main window, or null. Set on the main thread before a job starts.
// On a thread inside a job scope (platform/jobscope.h) Get answers the scope's host instead.
void SetMainWindowHost(MainWindowHost* host);
MainWindowHost* GetMainWindowHost();

// The job's state: posted (the worker goes on at once), or sent (the caller waits until the
// main thread has handled it; from the main thread itself, a direct call).
void PostJobState(JobState state);
void SendJobState(JobState state);
// JobBusy and JobBusyEnded, sent.
void SendJobBusy();
void SendJobBusyEnded();
// JobEnded, sent.
void SendJobEnded(JobKind kind, bool succeeded, const std::string& closingLine);
// Shows a message box owned by the main window, from any thread, and returns the answer.
// Without a host nobody can answer: OK boxes answer IDOK, OK/Cancel boxes IDCANCEL.
int ShowMessageBoxOwnedByMain(const std::string& text, unsigned type);
// Asks the main window for a missing volume, from any thread, and waits for the answer.
// Without a host nobody can answer: nothing.
std::optional<std::string> FindVolumeThroughMain(const FindVolumeRequest& request);
