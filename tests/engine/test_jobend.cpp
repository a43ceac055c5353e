// How each job tells the front end it has ended: once, with its kind and whether it did what
// it was asked, taken from its outcome. The window closes its log on this call alone.
#include "engine/join.h"
#include "engine/split.h"
#include "engine/unpackjob.h"
#include "tests/engine/enginefixture.h"
#include "tests/engine/packhelpers.h"

using JobEnd = EngineTest;

namespace {

std::string ProjectText(std::size_t size)
{
    std::string text;
    for (int line = 0; text.size() < size; ++line)
        text +=
            "beam " + std::to_string(line) + " span " + std::to_string(line * 7919 % 1000) + "\n";
    text.resize(size);
    return text;
}

void ExpectOneEnding(const TestHost& host, JobKind kind, bool succeeded, const char* what)
{
    ASSERT_EQ(host.Endings().size(), 1u) << what;
    EXPECT_EQ(host.Endings()[0].kind, kind) << what;
    EXPECT_EQ(host.Endings()[0].succeeded, succeeded) << what;
}

} // namespace

TEST_F(JobEnd, PackAndUnpackSayHowTheyEndedAndCloseTheLogAsBefore)
{
    const std::string project = dir / "p.kmx";
    const std::string packed = dir / "p.0KX";
    WriteFileBytes(project, ProjectText(50000));

    host.ClearEvents();
    PackOutcome pack;
    ASSERT_EQ(PackAndWait(host, pack, project), 1);
    ASSERT_TRUE(pack.succeeded);
    ExpectOneEnding(host, JobKind::Pack, true, "pack");
    // The closing line still ends the log that the console prints.
    const std::string log = host.LogText();
    EXPECT_EQ(log.substr(log.size() - std::string(kPackEnd).size()), kPackEnd);

    // Cancel at the question about the packed file that is there: the worker asks it once it
    // holds the name, and ends as a job that did not complete.
    host.ClearEvents();
    host.AnswerNextBoxes({IDCANCEL});
    EXPECT_EQ(PackAndWait(host, pack, project), 1);
    EXPECT_FALSE(pack.succeeded);
    ExpectOneEnding(host, JobKind::Pack, false, "pack answered Cancel");

    // The project file is replaced once the user agrees.
    host.ClearEvents();
    host.AnswerNextBoxes({IDOK});
    UnpackOutcome unpack;
    UnpackRequest request;
    request.packedPath = packed;
    ASSERT_TRUE(StartUnpackJob(request, unpack));
    host.RunUntilJobEnds();
    ASSERT_TRUE(unpack.restored);
    ExpectOneEnding(host, JobKind::Unpack, true, "unpack");

    // A stream that is no stream: the worker ran, and restored nothing.
    WriteFileBytes(dir / "bad.0KX", std::string(64, 'x'));
    host.ClearEvents();
    request.packedPath = dir / "bad.0KX";
    ASSERT_TRUE(StartUnpackJob(request, unpack));
    host.RunUntilJobEnds();
    EXPECT_FALSE(unpack.restored);
    ExpectOneEnding(host, JobKind::Unpack, false, "damaged unpack");

    // Cancel at the question about the project file: asked by the worker once it holds the
    // names, which then ends as a job that did not complete.
    host.ClearEvents();
    host.AnswerNextBoxes({IDCANCEL});
    request.packedPath = packed;
    EXPECT_TRUE(StartUnpackJob(request, unpack));
    host.RunUntilJobEnds();
    EXPECT_FALSE(unpack.restored);
    ExpectOneEnding(host, JobKind::Unpack, false, "unpack answered Cancel");
}

TEST_F(JobEnd, SplitAndJoinSayHowTheyEnded)
{
    const std::string project = dir / "p.kmx";
    WriteFileBytes(project, ProjectText(60000));
    ASSERT_EQ(PackAndWait(host, project), 1);

    host.ClearEvents();
    SplitRequest split;
    split.packedPath = dir / "p.0KX";
    split.streamPath = split.packedPath;
    split.volumeSize = 10000;
    SplitOutcome splitOutcome;
    ASSERT_TRUE(StartSplitJob(split, splitOutcome));
    host.RunUntilJobEnds();
    ASSERT_TRUE(splitOutcome.complete);
    ExpectOneEnding(host, JobKind::Split, true, "split");

    host.ClearEvents();
    JoinRequest join;
    join.packedPath = dir / "p.0KX";
    join.outPath = dir / "joined.0KX";
    JoinOutcome joinOutcome;
    ASSERT_TRUE(StartJoinJob(join, joinOutcome));
    host.RunUntilJobEnds();
    ASSERT_TRUE(joinOutcome.joined);
    ExpectOneEnding(host, JobKind::Join, true, "join");
}
