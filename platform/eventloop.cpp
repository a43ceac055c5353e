#include "platform/eventloop.h"

#include <algorithm>
#include <vector>

namespace {

std::mutex g_loopsMutex;
std::vector<EventLoop*> g_loops;

} // namespace

EventLoop::EventLoop() : m_mainThread(std::this_thread::get_id())
{
    std::lock_guard<std::mutex> lock(g_loopsMutex);
    g_loops.push_back(this);
}

EventLoop::~EventLoop()
{
    std::lock_guard<std::mutex> lock(g_loopsMutex);
    g_loops.erase(std::remove(g_loops.begin(), g_loops.end(), this), g_loops.end());
}

bool EventLoop::IsMainThread() const
{
    return std::this_thread::get_id() == m_mainThread;
}

void EventLoop::Post(std::function<void()> fn)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(std::move(fn));
    }
    m_cv.notify_all();
}

void EventLoop::Send(const std::function<void()>& fn)
{
    if (IsMainThread()) {
        fn();
        return;
    }
    std::mutex doneMutex;
    std::condition_variable doneCv;
    bool done = false;
    Post([&] {
        fn();
        std::lock_guard<std::mutex> lock(doneMutex);
        done = true;
        doneCv.notify_all();
    });
    std::unique_lock<std::mutex> lock(doneMutex);
    doneCv.wait(lock, [&] { return done; });
}

void EventLoop::RunUntil(const std::function<bool()>& done)
{
    for (;;) {
        std::deque<std::function<void()>> work;
        unsigned long seen = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            work.swap(m_queue);
            seen = m_wakeups;
        }
        for (auto& fn : work)
            fn();
        if (!work.empty())
            continue;
        if (done())
            return;
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait(lock, [&] { return !m_queue.empty() || m_wakeups != seen; });
    }
}

void EventLoop::Wake()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_wakeups;
    }
    m_cv.notify_all();
}

void EventLoop::WakeAll()
{
    std::lock_guard<std::mutex> lock(g_loopsMutex);
    for (EventLoop* loop : g_loops)
        loop->Wake();
}
