#include "platform/thread.h"

#include <atomic>
#include <csignal>
#include <pthread.h>
#include <system_error>
#include <thread>

#include "platform/eventloop.h"
#include "platform/jobscope.h"
#include "platform/process.h"

namespace {

std::atomic<int> g_running{0};

} // namespace

bool StartWorkerThread(std::function<void()> fn)
{
    g_running.fetch_add(1);
    // The signals that ask a job to stop go to the main thread, never to a worker: there they
    // interrupt a question waiting at the terminal, and the worker sees the cancel request at
    // its next read or write. A new thread inherits the mask of the thread that creates it.
    sigset_t stopSignals, previous;
    sigemptyset(&stopSignals);
    for (int stop : StopSignals())
        sigaddset(&stopSignals, stop);
    pthread_sigmask(SIG_BLOCK, &stopSignals, &previous);
    bool started = true;
    // The worker belongs to the job of the thread that starts it.
    JobScope* scope = JobScope::Current();
    if (scope)
        scope->ThreadStarted();
    try {
        std::thread([work = std::move(fn), scope] {
            {
                JobScope::Enter inScope(scope);
                work();
            }
            if (scope)
                scope->ThreadEnded();
            g_running.fetch_sub(1);
            EventLoop::WakeAll();
        }).detach();
    } catch (const std::system_error&) {
        if (scope)
            scope->ThreadEnded();
        g_running.fetch_sub(1);
        started = false;
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return started;
}

int RunningWorkerThreads()
{
    return g_running.load();
}
