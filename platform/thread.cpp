#include "platform/thread.h"

#include <atomic>
#include <system_error>
#include <thread>

#include "platform/eventloop.h"

namespace {

std::atomic<int> g_running{0};

} // namespace

bool StartWorkerThread(std::function<void()> fn)
{
    g_running.fetch_add(1);
    try {
        std::thread([work = std::move(fn)] {
            work();
            g_running.fetch_sub(1);
            EventLoop::WakeAll();
        }).detach();
    } catch (const std::system_error&) {
        g_running.fetch_sub(1);
        return false;
    }
    return true;
}

int RunningWorkerThreads() { return g_running.load(); }
