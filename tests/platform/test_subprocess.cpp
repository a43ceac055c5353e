// Running a program as a subprocess: found on PATH, its output captured, none of our
// descriptors or blocked signals handed down, and ended by a cancel of the job.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <pthread.h>
#include <thread>
#include <unistd.h>

#include "platform/files.h"
#include "platform/subprocess.h"
#include "tests/support/tempdir.h"

namespace {

const std::string kShell = "/bin/sh";

TEST(Subprocess, FindsProgramsOnPathAndNotInTheCurrentFolder)
{
    EXPECT_EQ(FindProgramOnPath("sh").substr(FindProgramOnPath("sh").rfind('/')), "/sh");
    EXPECT_EQ(FindProgramOnPath("no-such-program-of-ours"), "");

    // A program in the current folder is found only through an empty PATH entry, which is
    // never searched: a file among the user's could otherwise pass for it.
    TempDir dir;
    WriteFileBytes(dir / "fake-par2", "#!/bin/sh\n");
    chmod((dir / "fake-par2").c_str(), 0755);
    const std::string oldPath = std::getenv("PATH");
    const std::string oldDir = CurrentDirectory();
    ASSERT_TRUE(ChangeDirectory(dir.Path()));
    setenv("PATH", (":" + oldPath).c_str(), 1);
    EXPECT_EQ(FindProgramOnPath("fake-par2"), "");
    setenv("PATH", (dir.Path() + ":" + oldPath).c_str(), 1);
    EXPECT_EQ(FindProgramOnPath("fake-par2"), dir / "fake-par2");
    setenv("PATH", oldPath.c_str(), 1);
    ChangeDirectory(oldDir);
}

TEST(Subprocess, CapturesBothStreamsAndTheExitStatus)
{
    std::string seen;
    const ProgramRun run = RunProgram(kShell, {"-c", "echo out; echo err >&2; exit 3"},
                                      [&](const std::string& piece) { seen += piece; });
    EXPECT_TRUE(run.started);
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(run.exitStatus, 3);
    EXPECT_FALSE(run.Succeeded());
    EXPECT_EQ(run.output, "out\nerr\n");
    EXPECT_EQ(seen, run.output);

    // An argument is one word, never read by a shell.
    const ProgramRun words = RunProgram("/bin/echo", {"a b", "$(id)", ";"});
    EXPECT_EQ(words.output, "a b $(id) ;\n");

    const ProgramRun missing = RunProgram("/nonexistent/par2", {});
    EXPECT_FALSE(missing.started);
    EXPECT_EQ(missing.startError, ENOENT);
}

TEST(Subprocess, HandsDownNoDescriptorAndNoBlockedSignal)
{
    TempDir dir;
    const int ours = open((dir / "held").c_str(), O_CREAT | O_RDWR, 0600); // not close-on-exec
    ASSERT_GE(ours, 3);
    // Run from a thread that blocks SIGTERM, as a job's worker does.
    // Each program looks at itself: a shell's pipeline would show the shell's own pipe ends
    // for as long as it takes to close them. ls holds one descriptor of its own, the folder
    // it lists, which takes the lowest free number: 3 when it inherited nothing else.
    ProgramRun fds;
    ProgramRun status;
    std::thread worker([&] {
        sigset_t stop;
        sigemptyset(&stop);
        sigaddset(&stop, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &stop, nullptr);
        fds = RunProgram(FindProgramOnPath("ls"), {"/proc/self/fd"});
        status = RunProgram(FindProgramOnPath("grep"), {"SigBlk", "/proc/self/status"});
    });
    worker.join();
    close(ours);
    EXPECT_EQ(fds.output, "0\n1\n2\n3\n");
    EXPECT_NE(status.output.find("SigBlk:\t0000000000000000"), std::string::npos) << status.output;
}

TEST(Subprocess, ACancelEndsTheProgram)
{
    ClearCancelRequest();
    const auto start = std::chrono::steady_clock::now();
    std::thread canceller([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        RequestCancel();
    });
    // A program that ignores SIGTERM is killed a second later.
    const ProgramRun run = RunProgram(kShell, {"-c", "trap '' TERM; sleep 30"});
    canceller.join();
    ClearCancelRequest();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(run.cancelled);
    EXPECT_FALSE(run.exited);
    EXPECT_EQ(run.signal, SIGKILL);
    EXPECT_LT(took, std::chrono::seconds(10)); // not the program's 30 s: it was ended
}

} // namespace
