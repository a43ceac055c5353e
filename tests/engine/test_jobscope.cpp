// Several jobs in one process, each in its own job scope: each reports to its own host, a
// cancel of one ends that job only, and a thread in no scope reports to the process's host.
#include <chrono>
#include <mutex>
#include <thread>

#include "engine/packjob.h"
#include "platform/jobscope.h"
#include "tests/engine/enginefixture.h"
#include "tests/engine/packhelpers.h"
#include "tests/support/codecstreams.h"

namespace {

// A host that needs no main thread: every request runs where it is made, under a lock.
class DirectHost : public MainWindowHost {
public:
    void RunOnMainAndWait(const std::function<void()>& fn) override
    {
        const std::lock_guard<std::recursive_mutex> lock(m_mutex);
        fn();
    }
    void RunOnMainLater(std::function<void()> fn) override { RunOnMainAndWait(fn); }
    void JobStateChanged(JobState) override {}
    void JobBusy() override {}
    void JobBusyEnded() override {}
    void JobEnded(JobKind, bool ok, const std::string&) override
    {
        ++ended;
        succeeded = ok;
    }
    bool AppendToStatusLog(const std::string& text) override
    {
        log += text;
        return true;
    }
    void SetProgressPosition(int percent) override
    {
        // The first job waits here until told to go on: both jobs are then running at once.
        if (percent > 0 && holdAtProgress)
            while (holdAtProgress->load())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    void SetStatusPaneText(const std::string&) override {}
    int ShowMessageBox(const std::string&, unsigned) override { return IDOK; }
    std::optional<std::string> FindVolume(const FindVolumeRequest&) override
    {
        return std::nullopt;
    }

    std::string log;
    int ended = 0;
    bool succeeded = false;
    std::atomic<bool>* holdAtProgress = nullptr;

private:
    std::recursive_mutex m_mutex;
};

void WaitForScope(const JobScope& scope)
{
    for (int i = 0; i < 60000 && scope.RunningThreads() != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(scope.RunningThreads(), 0);
}

} // namespace

using JobScopes = EngineTest;

TEST_F(JobScopes, TwoPacksAtOnceEachReportToTheirOwnHostAndOneCancelEndsOneJob)
{
    const std::string a = MakeTestData(300000, false, 1);
    const std::string b = MakeTestData(200000, false, 2);
    const std::string c = MakeTestData(200000, false, 3);
    WriteFileBytes(dir / "a.kmx", a);
    WriteFileBytes(dir / "b.kmx", b);
    WriteFileBytes(dir / "c.kmx", c);
    std::atomic<bool> hold{true};
    DirectHost hostA, hostB, hostC;
    hostA.holdAtProgress = &hold;
    hostC.holdAtProgress = &hold;
    JobScope scopeA(&hostA), scopeB(&hostB), scopeC(&hostC);
    PackOutcome outcomeA, outcomeB, outcomeC;
    for (auto job : {std::make_tuple(&scopeA, "a.kmx", &outcomeA),
                     std::make_tuple(&scopeB, "b.kmx", &outcomeB),
                     std::make_tuple(&scopeC, "c.kmx", &outcomeC)}) {
        const JobScope::Enter inScope(std::get<0>(job));
        PackRequest request = PackOf(dir / std::get<1>(job));
        request.threads = 1;
        ASSERT_TRUE(StartPackJob(request, *std::get<2>(job)));
    }
    // a and c wait inside their compression while b runs to its end; then c is cancelled.
    WaitForScope(scopeB);
    scopeC.RequestCancel();
    hold = false;
    WaitForScope(scopeA);
    WaitForScope(scopeC);

    EXPECT_TRUE(outcomeA.succeeded);
    EXPECT_TRUE(outcomeB.succeeded);
    EXPECT_FALSE(outcomeC.succeeded);
    EXPECT_EQ(ReadFileBytes(dir / "a.0KX"), ImplodeBytes(a));
    EXPECT_EQ(ReadFileBytes(dir / "b.0KX"), ImplodeBytes(b));
    EXPECT_FALSE(FileExists(dir / "c.0KX"));
    EXPECT_EQ(ListFolder(dir.Path()), "a.0KX a.kmx b.0KX b.kmx c.kmx"); // no temporary file of c's
    EXPECT_EQ(std::make_tuple(hostA.ended, hostB.ended, hostC.ended), std::make_tuple(1, 1, 1));
    EXPECT_NE(hostA.log.find("Original File size = 300000 bytes."), std::string::npos) << hostA.log;
    EXPECT_EQ(hostA.log.find("200000"), std::string::npos) << hostA.log;
    EXPECT_NE(hostB.log.find("Original File size = 200000 bytes."), std::string::npos) << hostB.log;
    EXPECT_NE(hostC.log.find("Cancelled"), std::string::npos) << hostC.log;
    // Nothing of theirs reached the process's host, and no job was cancelled for it.
    EXPECT_EQ(host.LogText(), "");
    EXPECT_FALSE(CancelRequested());
}
