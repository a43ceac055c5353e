// packtool: the desktop program.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <pthread.h>
#include <thread>

#include <QApplication>
#include <QDialog>
#include <QMetaObject>
#include <QWidget>

#include "platform/files.h"
#include "platform/process.h"
#include "platform/thread.h"
#include "shell/app.h"

namespace {

std::atomic<int> g_stopSignal{0};

// Asks the window's thread to close the question it waits on (answered Cancel), so that a job
// waiting for the answer goes on to its cancelled end.
void CloseModalDialog()
{
    if (QCoreApplication::instance() == nullptr)
        return;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [] {
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                dialog->reject();
        },
        Qt::QueuedConnection);
}

// A stop signal (SIGTERM from a session's end, SIGINT, SIGHUP, ...) cancels the running job
// the way the Cancel button does: it removes its temporary files and keeps every older file.
// Once no job runs the program ends with 128 + the signal. The signals are blocked in every
// thread and taken here by sigwait, so the work is done outside a signal handler; a second
// one ends the program at once, which leaves no final name half written either.
void WatchStopSignals(sigset_t stopSet)
{
    int signal = 0;
    if (sigwait(&stopSet, &signal) != 0)
        return;
    g_stopSignal.store(signal);
    RequestCancel();
    for (int stop : StopSignals())
        std::signal(stop, SIG_DFL);
    pthread_sigmask(SIG_UNBLOCK, &stopSet, nullptr);
    while (RunningWorkerThreads() > 0) {
        CloseModalDialog();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (QCoreApplication::instance() == nullptr)
        std::_Exit(128 + signal); // no window yet: nothing was written
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

} // namespace

int main(int argc, char** argv)
{
    if (!OpenClosedStandardStreams())
        return EXIT_FAILURE;
    IgnoreWriteSignals();

    // Blocked before any thread starts, so every thread inherits the mask; a signal the
    // caller ignores stays ignored.
    sigset_t stopSet;
    sigemptyset(&stopSet);
    for (int stop : StopSignals()) {
        struct sigaction previous {};
        if (sigaction(stop, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
            continue;
        sigaddset(&stopSet, stop);
    }
    pthread_sigmask(SIG_BLOCK, &stopSet, nullptr);
    std::thread(WatchStopSignals, stopSet).detach();

    CZUNPackApp theApp(argc, argv);
    const int status = theApp.Run();
    const int stopSignal = g_stopSignal.load();
    return stopSignal != 0 ? 128 + stopSignal : status;
}
