// The desktop program's jobs (pack, pack and split, unpack of a file and of a set) through the
// test host, against every way they can end early: each question answered Cancel, each write
// failing, reads failing at several points, and a cancel request at several writes, as the
// window's Cancel button makes it. After each run the folder is exactly as it was before or
// exactly as the fault-free run left it; nothing else, and no temporary file, is there; and the
// job ran to its end (the last state idle).
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include "engine/packjob.h"
#include "engine/unpackjob.h"
#include "tests/engine/enginefixture.h"
#include "tests/engine/packhelpers.h"

namespace {

using Folder = std::map<std::string, std::string>;

Folder Snapshot(const std::string& path)
{
    Folder folder;
    for (const auto& entry : std::filesystem::directory_iterator(path))
        folder[entry.path().filename().string()] = ReadFileBytes(entry.path().string());
    return folder;
}

void Restore(const std::string& path, const Folder& folder)
{
    for (const auto& entry : std::filesystem::directory_iterator(path))
        std::filesystem::remove_all(entry.path());
    for (const auto& [name, bytes] : folder)
        WriteFileBytes(path + "/" + name, bytes);
}

std::string Describe(const Folder& after, const Folder& before)
{
    std::ostringstream text;
    for (const auto& [name, bytes] : after)
        if (!before.count(name))
            text << " added " << name;
        else if (before.at(name) != bytes)
            text << " changed " << name;
    for (const auto& [name, bytes] : before)
        if (!after.count(name))
            text << " removed " << name;
    return text.str();
}

// Up to `most` numbers from 1 to count, the first and the last among them.
std::set<std::uint64_t> Spread(std::uint64_t count, std::uint64_t most = 16)
{
    std::set<std::uint64_t> picks;
    for (std::uint64_t i = 0; count > 0 && i < most; ++i)
        picks.insert(1 + (count - 1) * i / (most - 1));
    return picks;
}

struct JobCase {
    const char* name;
    std::function<void(const std::string& folder)> prepare; // beside a fresh test host
    std::function<int(const std::string& folder)> start;    // 1 when a worker started
};

class JobMatrix : public EngineTest {
protected:
    // A fresh program's job context, so that every run asks the same questions.
    void FreshRun()
    {
        DisarmFileFaults();
        ClearCancelRequest();
        host.ClearEvents();
        host.ForgetAnswers();
    }

    // Runs the job with every box answered OK except the one numbered cancelAt (1 = the
    // first; 0 = none), and counts the boxes it showed.
    int Run(const JobCase& job, int cancelAt, int& boxes)
    {
        std::vector<int> answers(16, IDOK);
        if (cancelAt > 0)
            answers[static_cast<std::size_t>(cancelAt - 1)] = IDCANCEL;
        host.AnswerNextBoxes({answers[0], answers[1], answers[2], answers[3], answers[4],
                              answers[5], answers[6], answers[7], answers[8], answers[9],
                              answers[10], answers[11], answers[12], answers[13], answers[14],
                              answers[15]});
        const int started = job.start(dir.Path());
        if (started)
            host.RunUntilJobEnds();
        boxes = static_cast<int>(host.BoxTexts().size());
        return started;
    }

    void Judge(const std::string& what, const Folder& before, const Folder& expected)
    {
        const Folder after = Snapshot(dir.Path());
        EXPECT_TRUE(after == before || after == expected)
            << what << ": against before:" << Describe(after, before)
            << "; against the result:" << Describe(after, expected) << "\nlog:\n"
            << host.LogText();
        if (!host.States().empty()) {
            EXPECT_EQ(host.States().back(), JOB_IDLE) << what;
        }
    }

    void RunMatrix(const JobCase& job)
    {
        FreshRun();
        job.prepare(dir.Path());
        FreshRun();
        const Folder before = Snapshot(dir.Path());
        int questions = 0;
        ASSERT_EQ(Run(job, 0, questions), 1) << job.name;
        const std::uint64_t writes = WritesSinceDisarm();
        const Folder expected = Snapshot(dir.Path());
        ASSERT_NE(expected, before) << job.name << ": the fault-free run changed nothing";

        for (int box = 1; box <= questions; ++box) {
            Restore(dir.Path(), before);
            FreshRun();
            int shown = 0;
            Run(job, box, shown);
            Judge(std::string(job.name) + ": box " + std::to_string(box) + " answered Cancel",
                  before, expected);
            const Folder after = Snapshot(dir.Path());
            EXPECT_TRUE(after == before)
                << job.name << ": a Cancel at box " << box << ":" << Describe(after, before);
        }
        for (std::uint64_t n : Spread(writes)) {
            for (bool cancel : {false, true}) {
                Restore(dir.Path(), before);
                FreshRun();
                if (cancel)
                    CancelAtNthWrite(n);
                else
                    FailNthWrite(static_cast<unsigned>(n));
                int shown = 0;
                Run(job, 0, shown);
                Judge(std::string(job.name) + (cancel ? ": cancel at write " : ": write ") +
                          std::to_string(n) + " of " + std::to_string(writes),
                      before, expected);
                if (cancel) {
                    EXPECT_NE(host.LogText().find("Cancelled"), std::string::npos)
                        << job.name << " cancel at write " << n << ":\n"
                        << host.LogText();
                }
            }
        }
        int runs = 1 + questions + 2 * static_cast<int>(Spread(writes).size());
        for (std::uint64_t bytes : {0, 5000, 60000, 200000}) {
            ++runs;
            Restore(dir.Path(), before);
            FreshRun();
            FailReadsAfterBytes(bytes);
            int shown = 0;
            Run(job, 0, shown);
            Judge(std::string(job.name) + ": reads fail after " + std::to_string(bytes), before,
                  expected);
        }
        std::printf("%s: %d runs (%d questions, %llu writes)\n", job.name, runs, questions,
                    static_cast<unsigned long long>(writes));
    }

    // Starts the unpack of packedPath into unpackOutcome.
    int StartUnpack(const std::string& packedPath)
    {
        UnpackRequest request;
        request.packedPath = packedPath;
        return StartUnpackJob(request, unpackOutcome);
    }

    // Where the jobs a case starts answer: they outlive every run.
    PackOutcome packOutcome;
    UnpackOutcome unpackOutcome;
};

const std::string& Project()
{
    static const std::string data = MakeTestData(120000, true, 5);
    return data;
}

const std::string& OldProject()
{
    static const std::string data = MakeTestData(90000, true, 6);
    return data;
}

void PackInto(const std::string& dir, const std::string& data, int split, int volumeSize)
{
    WriteFileBytes(dir + "/p.kmx", data);
    TestHost* host = dynamic_cast<TestHost*>(GetMainWindowHost());
    ASSERT_NE(host, nullptr);
    ASSERT_EQ(PackAndWait(*host, dir + "/p.kmx", split, volumeSize), 1);
}

TEST_F(JobMatrix, PackOverAnOlderPackedFile)
{
    RunMatrix({"pack",
               [](const std::string& folder) {
                   PackInto(folder, OldProject(), 0, 0);
                   WriteFileBytes(folder + "/p.kmx", Project());
               },
               [this](const std::string& folder) {
                   return StartPackJob(PackOf(folder + "/p.kmx", 0, 1440000), packOutcome);
               }});
}

TEST_F(JobMatrix, SplitPackOverAnOlderSetOfMoreVolumes)
{
    RunMatrix({"split pack",
               [](const std::string& folder) {
                   PackInto(folder, OldProject() + Project(), 1, 10000);
                   WriteFileBytes(folder + "/p.kmx", Project());
               },
               [this](const std::string& folder) {
                   return StartPackJob(PackOf(folder + "/p.kmx", 1, 10000), packOutcome);
               }});
}

TEST_F(JobMatrix, UnpackOverAnOlderProjectFile)
{
    RunMatrix({"unpack",
               [](const std::string& folder) {
                   PackInto(folder, Project(), 0, 0);
                   WriteFileBytes(folder + "/p.kmx", OldProject());
                   std::filesystem::rename(folder + "/p.kmx", folder + "/p.KMX");
               },
               [this](const std::string& folder) { return StartUnpack(folder + "/p.0KX"); }});
}

TEST_F(JobMatrix, UnpackOfASetOverAnOlderProjectFile)
{
    RunMatrix({"set unpack",
               [](const std::string& folder) {
                   PackInto(folder, Project(), 1, 10000);
                   WriteFileBytes(folder + "/p.kmx", OldProject());
                   std::filesystem::rename(folder + "/p.kmx", folder + "/p.KMX");
               },
               [this](const std::string& folder) { return StartUnpack(folder + "/p.0KX"); }});
}

} // namespace
