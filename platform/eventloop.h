// An event loop for hosts without a window system (the console and the tests): a queue of
// work for the main thread. Workers post to it (no wait) or send through it (they wait until
// the main thread has run the work). The main thread never waits for a worker: it runs the
// queue until a condition holds, such as "the job is idle and its thread has ended".
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class EventLoop {
public:
    // The thread that constructs the loop is its main thread.
    EventLoop();
    ~EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    bool IsMainThread() const;

    // Queues fn to the main thread; returns at once. Any thread.
    void Post(std::function<void()> fn);
    // Runs fn on the main thread and returns when it has run: a direct call on the main
    // thread, else queued and waited for.
    void Send(const std::function<void()>& fn);

    // Main thread: runs queued work until done() holds with the queue empty. done() is tested
    // on the main thread after each round of work and after each wake-up.
    void RunUntil(const std::function<bool()>& done);

    // Wakes the loop so that it tests its condition again.
    void Wake();
    // Wakes every loop that exists (used when a worker thread ends).
    static void WakeAll();

private:
    std::thread::id m_mainThread;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<std::function<void()>> m_queue;
    unsigned long m_wakeups = 0;
};
