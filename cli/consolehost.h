// The console host of the main-window channel: a job run by packtool-cli reaches the user
// here. The Status log goes to standard error; on a terminal a progress bar and the state line
// are drawn below it; a question (an OK/Cancel box) is asked at the terminal as y/n, answered
// by --yes or --no, or, with neither a terminal nor a flag, answered Cancel with a note that
// says which flag to use. A missing volume (FindVolume) is asked for at the terminal, where
// the user types its path; without a terminal nobody can, and the answer is Cancel.
#pragma once

#include <atomic>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

#include "platform/eventloop.h"
#include "platform/mainwindow.h"

struct FindVolumeRequest;

// What the jobs of a console batch (several files in one command) share: the main thread's
// loop, where questions are asked at the terminal one at a time, the lock of standard error
// for the lines printed while jobs run, and how the main thread takes its batch progress
// bar off the terminal before one of them.
struct ConsoleBatch {
    EventLoop& loop;
    std::mutex output;
    std::function<void()> clearBar;
    // The main thread draws a bar of the batch's progress (standard error is a terminal):
    // only then does a job's progress wake it.
    bool drawsBar = false;
};

class ConsoleHost : public MainWindowHost {
public:
    enum class Answer {
        Ask,
        Yes,
        No
    };

    // Becomes the main window host; the constructing thread is the main thread.
    explicit ConsoleHost(Answer answer);
    // The host of one job of a batch, for its job scope (platform/jobscope.h): it does not
    // become the process's host. The job's log is kept (TakeLog) instead of printed, requests
    // run on the job's own thread, and only questions asked at the terminal go to the main
    // thread, under the file's name label. --progress=plain lines are printed at once, each
    // prefixed with the label.
    ConsoleHost(Answer answer, ConsoleBatch& batch, std::string label);
    ~ConsoleHost() override;

    // A batch job's log so far, its held banner last, ending with a line end; the log is
    // emptied.
    std::string TakeLog();
    // No question about a missing volume goes to the terminal: the answer is none, said in
    // the log.
    void NeverAsk() { m_canAsk = false; }
    // A batch job's progress in percent, -1 before any; any thread.
    int Progress() const { return m_batchProgress.load(); }

    // Runs the main thread's event loop until no worker thread runs and the job is idle.
    void RunUntilJobEnds();

    // Prints a message of the front end itself (not of a job) on its own line.
    void PrintLine(const std::string& text);
    // Prints a line that says why the command failed: before the job's closing banner
    // ("... Complete"), which the console holds back until its own lines are out.
    void PrintFailureLine(const std::string& text);

    // --progress=plain: instead of the bar, one line "STEP PERCENT" on standard error for each
    // change of step (compress, split, join, expand) or of whole percent, for wrappers. A step
    // that has no progress of its own shows 0 when it begins and 100 when the next one begins.
    void SetPlainProgress(bool plain);
    // While set, progress is not shown (work that only prepares a job, such as measuring).
    void SetProgressQuiet(bool quiet);
    // After a job that succeeded: its last step reached 100.
    void FinishPlainProgress();

    void RunOnMainAndWait(const std::function<void()>& fn) override;
    void RunOnMainLater(std::function<void()> fn) override;
    void JobStateChanged(JobState state) override;
    void JobBusy() override {} // there is no wait cursor on a console
    void JobBusyEnded() override {}
    // The closing line goes into the log like any other text.
    void JobEnded(JobKind kind, bool succeeded, const std::string& closingLine) override;
    bool AppendToStatusLog(const std::string& text) override;
    void SetProgressPosition(int percent) override;
    void SetStatusPaneText(const std::string& text) override;
    int ShowMessageBox(const std::string& text, unsigned type) override;

private:
    void ClearStatusLine();
    void DrawStatusLine();
    void WriteText(const std::string& text); // with "\r\n" turned into "\n"
    // y or n; with offerAll also a, "Yes to all".
    int AskAtTerminal(const std::string& text, bool offerAll);
    std::optional<std::string> FindVolume(const FindVolumeRequest& request) override;
    void PlainStepChanged(int state);
    void PrintPlainProgress(int percent);
    // Whether this batch job's question goes to the terminal, through the main thread.
    bool AsksLive(bool question) const;
    // Runs ask on the main thread with the output going to the terminal, under the label.
    void RunLive(const std::function<void()>& ask);
    int ShowMessageBoxHere(const std::string& text, unsigned type);
    std::optional<std::string> FindVolumeHere(const FindVolumeRequest& request);

    EventLoop m_loop;
    Answer m_answer;
    bool m_terminal; // standard error is a terminal: draw the bar and the state
    bool m_canAsk;   // standard input and standard error are terminals
    bool m_statusLineShown = false;
    bool m_atLineStart = true; // the log's last character was a line end
    int m_progress = -1;       // -1 until a job reports progress
    std::string m_state;
    std::string m_startFolder;  // where the command started: typed relative paths start here
    bool m_plain = false;       // --progress=plain
    bool m_quiet = false;       // progress not shown
    bool m_plainActive = false; // a step runs
    std::string m_plainStep;    // the running step, or the last one
    int m_plainPercent = -1;    // the percent last printed for it
    // The text of the notice box printed last, until the log goes on: a job that shows a
    // notice and logs the same text (the desktop program has a box and a log) prints it once.
    std::string m_lastNotice;
    bool m_skippedNotice = false; // the last log text was such a copy
    // The job's closing banner, held back until the console's failure lines are out.
    std::string m_heldBanner;
    void ReleaseBanner();
    // A job of a batch: its batch, label and kept log; m_live while it asks at the terminal.
    ConsoleBatch* m_batch = nullptr;
    std::string m_label;
    std::string m_captured;
    bool m_live = false;
    std::atomic<int> m_batchProgress{-1};
};
