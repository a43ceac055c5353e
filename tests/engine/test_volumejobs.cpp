// The split and join jobs through their requests, as both front ends start them: what the
// outcome says, what the log shows, and what the files hold afterwards.
#include <cstdio>
#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/join.h"
#include "engine/manifest.h"
#include "engine/packedformat.h"
#include "engine/split.h"
#include "tests/engine/enginefixture.h"
#include "tests/engine/packhelpers.h"

namespace {

std::string Appending(const std::string& path)
{
    return "Appending file '" + path + "'...Done\r\n";
}
std::string Creating(const std::string& path)
{
    return "Creating split file  " + path + "...Done\r\n";
}
const char* kSplitStart = "\r\n **************     Splitting File     **************\r\n";

// Every file of a folder with its bytes: a job that refuses leaves this as it was.
std::map<std::string, std::string> Snapshot(const TempDir& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder.Path()))
        files[entry.path().filename().string()] = ReadFileBytes(entry.path().string());
    return files;
}

class VolumeJobs : public EngineTest {
protected:
    // Packs a project file p.kmx into the single packed file p.0KX, with a manifest of ours
    // (p.sha256) when asked; returns the packed file's bytes.
    std::string PackSingle(bool manifest = false)
    {
        WriteFileBytes(dir / "p.kmx", MakeTestData(30000, true, 5) + MakeTestData(20000, false, 6));
        PackRequest request = PackOf(dir / "p.kmx");
        request.writeManifest = manifest;
        PackOutcome packed;
        EXPECT_TRUE(StartPackJob(request, packed));
        host.RunUntilJobEnds();
        EXPECT_TRUE(packed.succeeded);
        EXPECT_EQ(std::remove((dir / "p.kmx").c_str()), 0);
        host.ClearEvents();
        return ReadFileBytes(dir / "p.0KX");
    }

    bool Split(int volumeSize, SplitOutcome& outcome)
    {
        SplitRequest request;
        request.packedPath = dir / "p.0KX";
        request.streamPath = request.packedPath;
        request.volumeSize = volumeSize;
        const bool started = StartSplitJob(request, outcome);
        if (started)
            host.RunUntilJobEnds();
        return started;
    }

    bool Join(const std::string& outPath, JoinOutcome& outcome,
              std::vector<std::string> searchDirs = {})
    {
        JoinRequest request;
        request.packedPath = dir / "p.0KX";
        request.outPath = outPath;
        request.volumeSearchDirs = std::move(searchDirs);
        const bool started = StartJoinJob(request, outcome);
        if (started)
            host.RunUntilJobEnds();
        return started;
    }

    std::string Sub(const std::string& name)
    {
        const std::string path = dir / name;
        EXPECT_EQ(mkdir(path.c_str(), 0755), 0);
        return path;
    }

    void ExpectEnded(JobKind kind, bool succeeded)
    {
        ASSERT_EQ(host.Endings().size(), 1u);
        EXPECT_EQ(host.Endings()[0].kind, kind);
        EXPECT_EQ(host.Endings()[0].succeeded, succeeded);
    }
};

} // namespace

TEST_F(VolumeJobs, ASplitCutsThePackedFileIntoVolumesThatJoinBackByteForByte)
{
    const std::string single = PackSingle();
    const std::int64_t stream = static_cast<std::int64_t>(single.size()) - PACKED_HEADER_SIZE;
    struct Row {
        int volumeSize;
        const char* label;
    };
    const Row rows[] = {
        {10000, "several volumes"},
        {static_cast<int>(stream), "the stream in volume 0, an empty volume 1"},
        {1440000, "a set of one volume"},
    };
    for (const Row& row : rows) {
        WriteFileBytes(dir / "p.0KX", single);
        host.ClearEvents();
        SplitOutcome split;
        ASSERT_TRUE(Split(row.volumeSize, split)) << row.label;
        const int count = static_cast<int>(VolumeCountFor(stream, row.volumeSize));
        EXPECT_TRUE(split.complete) << row.label;
        EXPECT_FALSE(split.declined) << row.label;
        EXPECT_EQ(split.volumeCount, count) << row.label;
        EXPECT_TRUE(split.removedOrphans.empty()) << row.label;
        EXPECT_EQ(split.manifestPath, "") << row.label;
        EXPECT_FALSE(split.manifestFailed || split.manifestMismatch) << row.label;
        std::string log = std::string("\r\n") + kSplitStart + "\r\n";
        std::string names = "";
        for (int i = 0; i < count; ++i) {
            log += Creating(VolumePath(dir / "p.0KX", i));
            names += (i ? " p." : "p.") + JoinedVolumeExtension(i);
        }
        EXPECT_EQ(host.LogText(), log) << row.label;
        EXPECT_EQ(ListFolder(dir.Path()), names) << row.label;
        ExpectEnded(JobKind::Split, true);
        EXPECT_EQ(host.UnscriptedBoxes(), 0) << row.label;

        // The join of that set gives back the single packed file, and leaves the set.
        const auto set = Snapshot(dir);
        host.ClearEvents();
        JoinOutcome join;
        ASSERT_TRUE(Join(dir / "joined.0KX", join)) << row.label;
        EXPECT_TRUE(join.started && join.joined) << row.label;
        EXPECT_FALSE(join.intoSet) << row.label;
        EXPECT_EQ(join.join.volumeCount, count) << row.label;
        EXPECT_EQ(join.join.missingVolume, -1) << row.label;
        ASSERT_EQ(join.join.volumes.size(), static_cast<std::size_t>(count)) << row.label;
        std::string appended;
        for (int i = 0; i < count; ++i) {
            EXPECT_EQ(join.join.volumes[static_cast<std::size_t>(i)], VolumePath(dir / "p.0KX", i))
                << row.label;
            appended += Appending(VolumePath(dir / "p.0KX", i));
        }
        EXPECT_NE(host.LogText().find(appended), std::string::npos) << row.label << "\n"
                                                                    << host.LogText();
        EXPECT_EQ(join.manifestPath, "") << row.label;
        EXPECT_EQ(ReadFileBytes(dir / "joined.0KX"), single) << row.label;
        EXPECT_EQ(ListFolder(dir.Path()), "joined.0KX " + names) << row.label; // no temporary file
        ASSERT_EQ(std::remove((dir / "joined.0KX").c_str()), 0);
        EXPECT_EQ(Snapshot(dir), set) << row.label;
        ExpectEnded(JobKind::Join, true);
        for (int i = 0; i < count; ++i)
            ASSERT_EQ(std::remove(VolumePath(dir / "p.0KX", i).c_str()), 0);
    }
}

TEST_F(VolumeJobs, AMissingVolumeIsJoinedFromWhereTheUserFindsIt)
{
    const std::string single = PackSingle();
    SplitOutcome split;
    ASSERT_TRUE(Split(6000, split));
    ASSERT_GE(split.volumeCount, 4);
    const std::string moved = Sub("elsewhere") + "/second";
    ASSERT_EQ(std::rename((dir / "p.1KX").c_str(), moved.c_str()), 0);

    host.ClearEvents();
    host.AnswerNextBoxes({IDOK});
    host.AnswerNextFindFile(moved);
    JoinOutcome join;
    ASSERT_TRUE(Join(dir / "joined.0KX", join));
    EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{"Unable to open file '" + (dir / "p.1KX") +
                                                        "'. Try to find it yourself?"});
    std::vector<std::string> asked;
    for (const HostEvent& e : host.Events())
        if (e.kind == HostEvent::FindFile)
            asked.push_back(e.text);
    EXPECT_EQ(asked, std::vector<std::string>{"p.1KX"});
    EXPECT_TRUE(join.joined);
    EXPECT_EQ(join.join.missingVolume, -1);
    ASSERT_GE(join.join.volumes.size(), 3u);
    EXPECT_EQ(join.join.volumes[1], moved);
    EXPECT_NE(
        host.LogText().find(Appending(dir / "p.0KX") + Appending(moved) + Appending(dir / "p.2KX")),
        std::string::npos)
        << host.LogText();
    EXPECT_EQ(ReadFileBytes(dir / "joined.0KX"), single);
    ExpectEnded(JobKind::Join, true);
    EXPECT_EQ(host.UnscriptedBoxes(), 0);

    // Found in a search folder, nobody is asked.
    ASSERT_EQ(std::rename(moved.c_str(), (dir / "elsewhere/p.1KX").c_str()), 0);
    ASSERT_EQ(std::remove((dir / "joined.0KX").c_str()), 0);
    host.ClearEvents();
    JoinOutcome searched;
    ASSERT_TRUE(Join(dir / "joined.0KX", searched, {dir / "elsewhere"}));
    EXPECT_TRUE(searched.joined);
    EXPECT_TRUE(host.BoxTexts().empty());
    EXPECT_EQ(host.Count(HostEvent::FindFile), 0);
    EXPECT_EQ(ReadFileBytes(dir / "joined.0KX"), single);
}

TEST_F(VolumeJobs, AJoinThatIsRefusedLeavesEveryFileByteForByte)
{
    PackSingle();
    SplitOutcome split;
    ASSERT_TRUE(Split(10000, split));
    ASSERT_GE(split.volumeCount, 3);
    WriteFileBytes(dir / "out.0KX", "the user's file before the join");
    ASSERT_EQ(symlink((dir / "p.2KX").c_str(), (dir / "link.0KX").c_str()), 0);
    const auto before = Snapshot(dir);

    struct Row {
        const char* label;
        std::string outPath;
        int answer;   // to the question about the existing output
        bool started; // the outcome: the worker got past the question
        bool intoSet;
        std::string box;  // the last box, its beginning
        bool userAborted; // the log says the user aborted
    };
    const Row rows[] = {
        {"an existing output, Cancel", dir / "out.0KX", IDCANCEL, false, false,
         "File '" + (dir / "out.0KX") + "' already exists.", true},
        {"the output is volume 1", dir / "p.1KX", IDOK, true, true,
         "'" + (dir / "p.1KX") + "' is volume 1 of the set being joined", false},
        {"the output is volume 0", dir / "p.0KX", IDOK, true, true,
         "'" + (dir / "p.0KX") + "' is volume 0 of the set being joined", false},
        {"the output is volume 2 through a link", dir / "link.0KX", IDOK, true, true,
         "'" + (dir / "link.0KX") + "' is volume 2 of the set being joined", false},
    };
    for (const Row& row : rows) {
        host.ClearEvents();
        host.ForgetAnswers();
        host.AnswerNextBoxes({row.answer});
        if (row.intoSet)
            host.AnswerNextBoxes({IDOK}); // the box that says why not
        JoinOutcome join;
        ASSERT_TRUE(Join(row.outPath, join)) << row.label;
        EXPECT_EQ(join.started, row.started) << row.label;
        EXPECT_FALSE(join.joined) << row.label;
        EXPECT_EQ(join.intoSet, row.intoSet) << row.label;
        EXPECT_EQ(join.manifestPath, "") << row.label;
        const std::vector<std::string> boxes = host.BoxTexts();
        ASSERT_EQ(boxes.size(), row.intoSet ? 2u : 1u) << row.label;
        EXPECT_EQ(boxes.back().rfind(row.box, 0), 0u) << row.label << ": " << boxes.back();
        EXPECT_EQ(host.LogText().find("Operation Aborted by User") != std::string::npos,
                  row.userAborted)
            << row.label << "\n"
            << host.LogText();
        EXPECT_EQ(host.LogText().find("Appending"), std::string::npos) << row.label;
        EXPECT_EQ(Snapshot(dir), before) << row.label; // nothing written, no temporary file
        EXPECT_EQ(host.UnscriptedBoxes(), 0) << row.label;
        ExpectEnded(JobKind::Join, false);
    }
}

TEST_F(VolumeJobs, AManifestOfOursIsRewrittenForTheSetAndFollowsTheJoin)
{
    const std::string single = PackSingle(true);
    std::vector<ManifestEntry> entries;
    ASSERT_TRUE(ReadManifest(dir / "p.sha256", entries));
    const ManifestEntry* project = FindEntry(entries, "p.kmx");
    ASSERT_NE(project, nullptr);
    const ManifestEntry projectLine = *project;

    SplitOutcome split;
    ASSERT_TRUE(Split(10000, split));
    EXPECT_TRUE(split.complete);
    EXPECT_EQ(split.manifestPath, dir / "p.sha256");
    EXPECT_FALSE(split.manifestFailed || split.manifestMismatch);
    // The project file's line stays; every volume has a line of its own, with its digest.
    ASSERT_TRUE(ReadManifest(dir / "p.sha256", entries));
    ASSERT_EQ(entries.size(), static_cast<std::size_t>(split.volumeCount) + 1);
    const ManifestEntry* kept = FindEntry(entries, "p.kmx");
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->strDigest, projectLine.strDigest);
    for (int i = 0; i < split.volumeCount; ++i) {
        const std::string name = "p." + JoinedVolumeExtension(i);
        const ManifestEntry* line = FindEntry(entries, name);
        ASSERT_NE(line, nullptr) << name;
        EXPECT_EQ(line->strDigest, DigestOfFile(dir / name)) << name;
    }

    // The joined file gets a manifest of its own: the project file's line and its own.
    host.ClearEvents();
    JoinOutcome join;
    ASSERT_TRUE(Join(dir / "joined.0KX", join));
    EXPECT_TRUE(join.joined);
    EXPECT_FALSE(join.manifestFailed);
    EXPECT_EQ(join.manifestPath, dir / "joined.sha256");
    ASSERT_TRUE(ReadManifest(dir / "joined.sha256", entries));
    ASSERT_EQ(entries.size(), 2u);
    ASSERT_NE(FindEntry(entries, "p.kmx"), nullptr);
    EXPECT_EQ(FindEntry(entries, "p.kmx")->strDigest, projectLine.strDigest);
    ASSERT_NE(FindEntry(entries, "joined.0KX"), nullptr);
    EXPECT_EQ(FindEntry(entries, "joined.0KX")->strDigest, DigestOfFile(dir / "joined.0KX"));
    EXPECT_EQ(ReadFileBytes(dir / "joined.0KX"), single);
}

TEST_F(VolumeJobs, ASplitOfAPackedFileItsManifestDoesNotVouchForIsRefused)
{
    std::string single = PackSingle(true);
    single.back() = static_cast<char>(single.back() ^ 0x01);
    WriteFileBytes(dir / "p.0KX", single);
    const auto before = Snapshot(dir);

    SplitOutcome split;
    ASSERT_TRUE(Split(10000, split));
    EXPECT_FALSE(split.complete);
    EXPECT_TRUE(split.manifestMismatch);
    EXPECT_EQ(split.manifestPath, "");
    EXPECT_NE(host.LogText().find("'" + (dir / "p.0KX") +
                                  "' was left as it was; no volume of a new set was kept."),
              std::string::npos)
        << host.LogText();
    EXPECT_EQ(host.LogText().find("Creating split file"), std::string::npos);
    EXPECT_EQ(Snapshot(dir), before);
    ExpectEnded(JobKind::Split, false);
}
