// Worker threads that end themselves, as the jobs use them.
#pragma once

#include <functional>

// Starts fn on a new thread that nobody joins: the thread ends itself when fn returns.
// Returns false when the thread cannot be created.
bool StartWorkerThread(std::function<void()> fn);

// How many threads started by StartWorkerThread have not yet ended. When a worker ends, every
// EventLoop is woken so that a loop waiting for the workers sees it at once.
int RunningWorkerThreads();
