// Running another program as a subprocess: found on PATH, started with an argument vector
// (never through a shell, so no name is ever parsed as a command), its standard output and
// standard error captured together, and stopped when the job is cancelled.
#pragma once

#include <functional>
#include <string>
#include <vector>

// The full path of an executable file named name in one of the folders of PATH, in order, or
// empty when there is none. A name with a '/' is taken as it is (when it is executable).
std::string FindProgramOnPath(const std::string& name);

// How a program run went.
struct ProgramRun {
    bool started = false; // the program was started
    int startError = 0;   // !started: why (errno), ENOENT for a program not found
    bool exited = false;  // it ended by itself, with exitStatus
    int exitStatus = -1;
    int signal = 0;         // it was ended by this signal (a kill on cancel, a crash)
    bool cancelled = false; // the cancel request (platform/files.h) came and the program was ended
    std::string output;     // what it wrote to standard output and standard error, in order
    bool Succeeded() const { return exited && exitStatus == 0; }
};

// Runs program (a full path, as FindProgramOnPath gives) with args (without the program's own
// name) and waits for it. Standard input is /dev/null; the program gets the environment of
// this process, none of its other descriptors, and the default signal handling and an empty
// signal mask (a worker thread blocks the stop signals; the program must not inherit that),
// in a process group of its own.
// While it runs, the cancel request is looked at several times a second: when it comes, the
// program's group is sent SIGTERM, and SIGKILL if it has not ended a second later. onOutput, when
// given, sees each piece of output as it arrives (to move a progress bar).
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::function<void(const std::string& piece)>& onOutput = {});
