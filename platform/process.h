// The process's own environment, set up at the start of each program's main: the standard
// descriptors, and the signals that stop a job or that a failed write would raise.
#pragma once

#include <vector>

// Makes sure descriptors 0, 1 and 2 are open before anything else is opened, so that no file
// the program writes can get one of their numbers and receive its log lines or its report.
// A closed one is opened on /dev/null the other way round from its use (standard input for
// writing, standard output and standard error for reading): a read from it or a write to it
// fails with EBADF, as it did while it was closed. Returns false when /dev/null cannot be
// opened; the program should then end at once.
bool OpenClosedStandardStreams();

// Whether descriptor fd (0, 1 or 2) was closed when OpenClosedStandardStreams ran.
bool StandardStreamWasClosed(int fd);

// Writes to a closed pipe and beyond the file-size limit fail with EPIPE and EFBIG instead of
// ending the process: the job then fails the way it does on a full disk and removes its
// temporary files. A log line that cannot be written is lost without stopping the job.
void IgnoreWriteSignals();

// The signals that ask a running job to stop: they cancel it, it removes its temporary files
// and leaves every older file as it was. Worker threads block them, so they reach the thread
// that waits for the job.
const std::vector<int>& StopSignals();

// The signal's name ("SIGTERM"), or "a signal" for one that is not a stop signal.
const char* StopSignalName(int signal);
