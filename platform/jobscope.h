// What belongs to one job rather than to the process, for a process that runs several jobs at
// once (the console's batches): the host its reports go to, its own cancel request and the
// worker threads it has started.
//
// A scope is entered on a thread (JobScope::Enter); while it is, GetMainWindowHost() answers
// the scope's host and CancelRequested() also sees the scope's own request. A worker thread
// started by StartWorkerThread enters the scope of the thread that started it, so a job's
// worker reports to the job's host. A thread in no scope (the desktop program, a console
// command on one file) uses the process's host and cancel request alone, exactly as before.
#pragma once

#include <atomic>

class MainWindowHost;

class JobScope {
public:
    // host: where the job's log, progress, state and questions go; it outlives the scope.
    explicit JobScope(MainWindowHost* host) : m_host(host) {}
    JobScope(const JobScope&) = delete;
    JobScope& operator=(const JobScope&) = delete;

    MainWindowHost* Host() const { return m_host; }

    // This job's cancel request: only its reads and writes fail. Any thread.
    void RequestCancel() { m_cancel.store(true); }
    bool CancelRequested() const { return m_cancel.load(); }

    // The worker threads started in this scope that have not yet ended: 0 once the job's
    // worker has returned (after its end was reported and its last file closed).
    int RunningThreads() const { return m_threads.load(); }
    void ThreadStarted() { m_threads.fetch_add(1); }
    void ThreadEnded() { m_threads.fetch_sub(1); }

    // The calling thread's scope, or null.
    static JobScope* Current();

    // Makes scope (may be null) the calling thread's scope until the Enter is destroyed.
    class Enter {
    public:
        explicit Enter(JobScope* scope);
        ~Enter();
        Enter(const Enter&) = delete;
        Enter& operator=(const Enter&) = delete;

    private:
        JobScope* m_previous;
    };

private:
    MainWindowHost* m_host;
    std::atomic<bool> m_cancel{false};
    std::atomic<int> m_threads{0};
};
