// The cancel request (the desktop program's Cancel, a signal in the console) against the real
// jobs through the test host: the job ends the way a failure ends it, says it was cancelled,
// asks nothing, removes its temporary files and keeps every old file.
#include <atomic>
#include <chrono>
#include <thread>

#include "engine/unpackjob.h"
#include "tests/engine/enginefixture.h"
#include "tests/engine/packhelpers.h"

namespace {

const char* kCancelled = "Cancelled: the job was stopped before it was done.\r\n";

class Cancel : public EngineTest {
protected:
    Cancel() : m_startFolder(CurrentDirectory()) {}
    ~Cancel() override { ChangeDirectory(m_startFolder); }

private:
    std::string m_startFolder;
};

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

TEST_F(Cancel, ACancelledPackOrUnpackEndsLikeAFailureAndSaysSo)
{
    const std::string data = MakeTestData(300000, true);
    WriteFileBytes(dir / "p.kmx", data);
    ASSERT_EQ(PackAndWait(host, dir / "p.kmx"), 1);
    const std::string packed = ReadFileBytes(dir / "p.0KX");
    WriteFileBytes(dir / "p.KMX", "old project file");
    const std::string before = ListFolder(dir.Path());

    // A pack and split into a new set: its next read or write fails, and it says why.
    ::rename((dir / "p.0KX").c_str(), (dir / "elsewhere").c_str());
    host.ClearEvents();
    PackOutcome pack;
    ASSERT_TRUE(StartPackJob(PackOf(dir / "p.kmx", 1, 100000), pack));
    RequestCancel();
    host.RunUntilJobEnds();
    EXPECT_TRUE(Contains(host.LogText(), kCancelled)) << host.LogText();
    EXPECT_FALSE(Contains(host.LogText(), "Disk Error"));
    EXPECT_TRUE(host.BoxTexts().empty());
    EXPECT_FALSE(pack.succeeded);
    EXPECT_EQ(ListFolder(dir.Path()), "elsewhere p.KMX p.kmx");
    ::rename((dir / "elsewhere").c_str(), (dir / "p.0KX").c_str());

    // Unpack over the old project file, with the question answered before the cancel.
    ClearCancelRequest();
    host.ClearEvents();
    host.AnswerNextBoxes({IDOK});
    UnpackRequest unpack;
    unpack.packedPath = dir / "p.0KX";
    UnpackOutcome unpacked;
    DisarmFileFaults();
    CancelAtNthWrite(1); // the worker asks first, then the cancel comes at its first write
    StartUnpackJob(unpack, unpacked);
    host.RunUntilJobEnds();
    EXPECT_TRUE(Contains(host.LogText(), kCancelled)) << host.LogText();
    EXPECT_FALSE(Contains(host.LogText(), "Disk Error"));
    EXPECT_EQ(host.BoxTexts().size(), 1u);
    EXPECT_EQ(unpacked.restored, 0);
    EXPECT_EQ(ListFolder(dir.Path()), before);
    EXPECT_EQ(ReadFileBytes(dir / "p.KMX"), "old project file");

    // After the cancel a question is not asked: it is answered Cancel at once.
    host.ClearEvents();
    EXPECT_EQ(AskBeforeReplacing(dir / "p.KMX").refusal, CheckRefusal::ByProgram);
    EXPECT_TRUE(host.BoxTexts().empty());
}

TEST_F(Cancel, ACancelFromAnotherThreadAtAnyMomentLeavesTheWholeResultOrNothing)
{
    // The request comes from another thread while the worker runs (as a signal or a button
    // does), at several moments: the job either finished whole before it or left nothing.
    const std::string data = MakeTestData(2000000, true);
    WriteFileBytes(dir / "p.kmx", data);
    const std::string stream = ImplodeBytes(data);
    for (int delayMs : {0, 1, 5, 20, 80}) {
        ClearCancelRequest();
        host.ClearEvents();
        ::unlink((dir / "p.0KX").c_str());
        std::thread canceller([delayMs] {
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            RequestCancel();
        });
        // A request that comes before the job starts stops it there (no question, no job).
        PackOutcome pack;
        const int started = PackAndWait(host, pack, dir / "p.kmx");
        canceller.join();
        if (started && pack.succeeded) {
            EXPECT_EQ(ReadFileBytes(dir / "p.0KX"), stream) << delayMs;
        } else {
            if (started) {
                EXPECT_TRUE(Contains(host.LogText(), kCancelled)) << delayMs;
            }
            EXPECT_TRUE(host.BoxTexts().empty()) << delayMs;
            EXPECT_EQ(ListFolder(dir.Path()), "p.kmx") << delayMs;
        }
        EXPECT_EQ(ReadFileBytes(dir / "p.kmx"), data);
    }
}

} // namespace
