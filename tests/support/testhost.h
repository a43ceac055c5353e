// The test host of the main-window channel: plays the main window for engine tests without a
// display. Message boxes and FindVolume are answered from a script; every call is recorded in
// the order the main thread handled it, so a test asserts the exact sequence a user would see.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/eventloop.h"
#include "platform/mainwindow.h"

struct HostEvent {
    enum Kind {
        Log,        // text appended to the Status log
        Progress,   // value: the progress bar's new position
        JobState,   // value: the state of a handled JobStateChanged
        Pane,       // text: the status bar's message pane
        Busy,       // JobBusy: the wait cursor begins or is restored
        Done,       // JobBusyEnded: the wait cursor ends
        FindFile,   // FindVolume; text: "name.ext" that was asked for
        MessageBox, // text: the box's text; value: its type (MB_OK / MB_OKCANCEL and icon)
    };
    Kind kind;
    std::string text;
    long value = 0;
};

class TestHost : public MainWindowHost {
public:
    // Becomes the main window host; the constructing thread is the main thread.
    TestHost();
    ~TestHost() override;

    // The answers of the next message boxes, in order (IDOK or IDCANCEL). A box without a
    // scripted answer is recorded as unscripted and answered IDOK (OK box) or IDCANCEL.
    void AnswerNextBoxes(std::initializer_list<int> answers);
    // The answer of the next FindVolume: a path, or empty for "the user chose none".
    void AnswerNextFindFile(const std::string& path);
    // Drops the scripted answers that no box or volume question has taken yet.
    void ForgetAnswers()
    {
        m_boxAnswers.clear();
        m_findFileAnswers.clear();
    }
    // Called on the main thread at every move of the progress bar, while the worker waits:
    // a test looks at the job's files in the middle of its work.
    void WhenProgressMoves(std::function<void(int percent)> watch)
    {
        m_progressWatch = std::move(watch);
    }
    // Without a log control, AppendToStatusLog reports that there is no log.
    void SetHasStatusLog(bool hasLog) { m_hasLog = hasLog; }

    // Runs the main thread's event loop until no worker thread runs and the job is idle.
    void RunUntilJobEnds();

    const std::vector<HostEvent>& Events() const { return m_events; }
    // The Status log as the user would see it: every appended text, in order.
    std::string LogText() const;
    std::vector<std::string> BoxTexts() const;
    // The states of the handled JobStateChanged calls, in order.
    std::vector<long> States() const;
    int Count(HostEvent::Kind kind) const;
    int UnscriptedBoxes() const { return m_unscriptedBoxes; }
    // How the jobs said they ended, in order.
    struct Ending {
        JobKind kind;
        bool succeeded;
    };
    const std::vector<Ending>& Endings() const { return m_endings; }
    void ClearEvents()
    {
        m_events.clear();
        m_endings.clear();
    }

    // MainWindowHost
    void RunOnMainAndWait(const std::function<void()>& fn) override;
    void RunOnMainLater(std::function<void()> fn) override;
    void JobStateChanged(JobState state) override;
    void JobBusy() override;
    void JobBusyEnded() override;
    // Records the ending, and its closing line as log text (the console prints it so).
    void JobEnded(JobKind kind, bool succeeded, const std::string& closingLine) override;
    bool AppendToStatusLog(const std::string& text) override;
    void SetProgressPosition(int percent) override;
    void SetStatusPaneText(const std::string& text) override;
    int ShowMessageBox(const std::string& text, unsigned type) override;
    std::optional<std::string> FindVolume(const FindVolumeRequest& request) override;

private:
    EventLoop m_loop;
    std::vector<HostEvent> m_events;
    std::vector<Ending> m_endings;
    std::deque<int> m_boxAnswers;
    std::deque<std::string> m_findFileAnswers;
    int m_unscriptedBoxes = 0;
    bool m_hasLog = true;
    std::function<void(int)> m_progressWatch;
};
