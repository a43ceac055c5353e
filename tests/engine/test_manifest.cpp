// The manifest of checksums: its lines written and read back, and what a pack does to one
// beside its packed file.
#include "engine/manifest.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/format.h"
#include "engine/unpackjob.h"
#include "platform/strings.h"
#include "resources/textids.h"
#include "tests/engine/enginefixture.h"
#include "tests/engine/packhelpers.h"

using ManifestFile = EngineTest;

TEST_F(ManifestFile, ManifestRoundTripAndDamagedLinesRefused)
{
    const std::string digest(64, 'a');
    const std::vector<ManifestEntry> entries = {
        {digest, "p.kmx"}, {digest, "odd\\name\nwith breaks.0KX"}, {digest, "two  spaces.1KX"}};
    ASSERT_TRUE(WriteManifest(dir / "p.sha256", entries));
    EXPECT_EQ(ListFolder(dir.Path()), "p.sha256"); // no temporary file left
    std::vector<ManifestEntry> read;
    ASSERT_TRUE(ReadManifest(dir / "p.sha256", read));
    ASSERT_EQ(read.size(), entries.size());
    for (std::size_t i = 0; i < read.size(); ++i) {
        EXPECT_EQ(read[i].strDigest, entries[i].strDigest);
        EXPECT_EQ(read[i].strName, entries[i].strName);
    }

    const char* damaged[] = {
        "0123  p.kmx\n", // short digest
        "zz3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855  p.kmx\n",
        "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855 p.kmx\n",
        "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855  \n",
        "\\e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855  bad\\q\n",
    };
    for (const char* text : damaged) {
        WriteFileBytes(dir / "d.sha256", text);
        EXPECT_FALSE(ReadManifest(dir / "d.sha256", read)) << text;
    }
    WriteFileBytes(dir / "b.sha256",
                   "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855 *p.kmx\n");
    ASSERT_TRUE(ReadManifest(dir / "b.sha256", read));
    EXPECT_EQ(read[0].strDigest,
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST_F(ManifestFile, PackWithoutDigestRemovesTheOldManifestOnlyWhenItSucceeds)
{
    WriteFileBytes(dir / "p.kmx", MakeTestData(5000, true, 1));
    // What an earlier pack --manifest of a set of two wrote.
    const std::string digest(64, 'a');
    WriteFileBytes(dir / "p.sha256",
                   digest + "  p.kmx\n" + digest + "  p.0KX\n" + digest + "  p.1KX\n");
    // A pack that fails (a full disk) leaves it.
    FailWritesAfterBytes(0);
    PackOutcome pack;
    ASSERT_EQ(PackAndWait(host, pack, dir / "p.kmx"), 1);
    DisarmFileFaults();
    EXPECT_FALSE(pack.succeeded);
    EXPECT_TRUE(FileExists(dir / "p.sha256"));
    host.ClearEvents();
    ASSERT_EQ(PackAndWait(host, pack, dir / "p.kmx"), 1);
    EXPECT_TRUE(pack.succeeded);
    EXPECT_FALSE(FileExists(dir / "p.sha256"));
    EXPECT_NE(host.LogText().find("Removed '" + dir / "p.sha256" +
                                  "': its checksums described an earlier pack.\r\n"),
              std::string::npos)
        << host.LogText();
}

TEST_F(ManifestFile, APackLeavesAChecksumFileItDidNotWriteAlone)
{
    WriteFileBytes(dir / "p.kmx", MakeTestData(5000, true, 1));
    const std::string digest(64, 'b');
    struct Row {
        const char* label;
        std::string text;
        const char* why;
    };
    const Row rows[] = {
        {"a note", "remember to copy the disks\n",
         "cannot be read or is not in the format of sha256sum"},
        {"sha256sum of the volumes by hand", digest + "  p.0KX\n" + digest + "  p.1KX\n",
         "was not written by this program"},
        {"lines for other files", digest + "  p.kmx\n" + digest + "  other.0KX\n",
         "was not written by this program"},
        {"a set with an extra line",
         digest + "  p.kmx\n" + digest + "  p.0KX\n" + digest + "  notes.txt\n",
         "was not written by this program"},
        {"empty", "", "was not written by this program"},
    };
    for (const Row& row : rows) {
        WriteFileBytes(dir / "p.sha256", row.text);
        std::remove((dir / "p.0KX").c_str());
        host.ClearEvents();
        PackOutcome pack;
        ASSERT_EQ(PackAndWait(host, pack, dir / "p.kmx"), 1) << row.label;
        EXPECT_TRUE(pack.succeeded) << row.label;
        EXPECT_EQ(ReadFileBytes(dir / "p.sha256"), row.text) << row.label;
        const std::string log = host.LogText();
        EXPECT_EQ(log.find("Removed"), std::string::npos) << row.label << log;
        EXPECT_NE(log.find("'" + (dir / "p.sha256") + "'"), std::string::npos) << row.label << log;
        EXPECT_NE(log.find(row.why), std::string::npos) << row.label << log;
        EXPECT_NE(log.find("it was left alone, and its checksums were not checked."),
                  std::string::npos)
            << row.label << log;
    }
}

// A manifest that is no regular file, or larger than any of ours, is left alone unread, with a
// warning that names it and why: a FIFO would hold every command, /dev/zero would never end.
TEST_F(ManifestFile, AnOddFileOfTheManifestsNameIsNeverRead)
{
    WriteFileBytes(dir / "p.0KX", "not looked at");
    struct Row {
        const char* label;
        std::function<void(const std::string&)> make;
        const char* reason;
    };
    const Row rows[] = {
        {"FIFO", [](const std::string& path) { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); },
         "it is a FIFO"},
        {"link to /dev/zero",
         [](const std::string& path) { ASSERT_EQ(symlink("/dev/zero", path.c_str()), 0); },
         "it is a device"},
        {"folder", [](const std::string& path) { ASSERT_EQ(mkdir(path.c_str(), 0700), 0); },
         "it is a folder"},
        {"too large",
         [](const std::string& path) {
             WriteFileBytes(path, "");
             ASSERT_EQ(truncate(path.c_str(), MANIFEST_SIZE_LIMIT + 1), 0);
         },
         "more than the"},
    };
    for (const Row& row : rows) {
        const std::string path = dir / "p.sha256";
        row.make(path);
        const ManifestCheck check = ExamineManifest(dir / "p.0KX");
        EXPECT_EQ(check.kind, ManifestCheck::Unreadable) << row.label;
        EXPECT_NE(check.strWarning.find("'" + path + "'"), std::string::npos) << check.strWarning;
        EXPECT_NE(check.strWarning.find(row.reason), std::string::npos) << check.strWarning;
        std::vector<ManifestEntry> entries;
        EXPECT_FALSE(ReadManifest(path, entries)) << row.label;
        // A manifest written for the set does not take its place.
        EXPECT_FALSE(WriteSetManifest(dir / "p.0KX", "p.kmx", std::string(64, 'a'))) << row.label;
        struct stat info {};
        EXPECT_EQ(lstat(path.c_str(), &info), 0) << row.label;
        if (std::remove(path.c_str()) != 0)
            rmdir(path.c_str());
    }
}

// A pack asked for checksums writes them itself, under the name it holds, and logs the line
// after its closing banner; beside a file of that name that it did not write, it leaves that
// file byte for byte and says the checksums could not be written.
TEST_F(ManifestFile, APackAskedForChecksumsWritesThemOrLeavesAForeignFile)
{
    const std::string data = MakeTestData(5000, true, 1);
    WriteFileBytes(dir / "p.kmx", data);
    const std::string manifest = dir / "p.sha256";
    const std::string foreign = "remember to copy the disks\n";
    struct Row {
        const char* label;
        int split;
        bool foreign;
    };
    const Row rows[] = {
        {"whole", 0, false},
        {"a set of volumes", 1, false},
        {"beside a note", 0, true},
        {"a set beside a note", 1, true},
    };
    for (const Row& row : rows) {
        std::remove(manifest.c_str());
        for (int volume = 0; volume < 10; ++volume) // a fresh pack: nothing to ask about
            std::remove(VolumePath(dir / "p.0KX", volume).c_str());
        if (row.foreign)
            WriteFileBytes(manifest, foreign);
        host.ClearEvents();
        PackRequest request = PackOf(dir / "p.kmx", row.split, 2000);
        request.writeManifest = true;
        PackOutcome pack;
        ASSERT_TRUE(StartPackJob(request, pack)) << row.label;
        host.RunUntilJobEnds();
        EXPECT_TRUE(pack.succeeded) << row.label;
        EXPECT_EQ(pack.manifestWritten, !row.foreign) << row.label;
        const std::string log = host.LogText();
        const std::string line =
            FormatText(LoadString(row.foreign ? IDS_CLI_MANIFEST_FAILED : IDS_CLI_MANIFEST_WRITTEN)
                           .c_str(),
                       manifest.c_str()) +
            "\r\n";
        EXPECT_EQ(log.substr(log.size() - std::min(log.size(), line.size())), line)
            << row.label << log;
        EXPECT_NE(log.find(std::string(kPackEnd) + (row.foreign ? "" : line)), std::string::npos)
            << row.label << log;
        if (row.foreign) {
            EXPECT_EQ(ReadFileBytes(manifest), foreign) << row.label;
            continue;
        }
        const ManifestCheck check = ExamineManifest(dir / "p.0KX");
        ASSERT_EQ(check.kind, ManifestCheck::Ours) << row.label;
        EXPECT_EQ(check.Project()->strDigest, pack.projectDigest) << row.label;
        EXPECT_EQ(check.entries.size(), row.split ? SetFiles(dir / "p.0KX").size() + 1 : 2U)
            << row.label;
        EXPECT_TRUE(ManifestVouchesFor(check, SetFiles(dir / "p.0KX"))) << row.label;
    }
}

// An unpack asked to check a manifest finds it itself: one of ours whose project line no longer
// matches keeps the old project file; a file of that name that is not ours is left alone with
// a warning before the start banner, and the unpack goes on.
TEST_F(ManifestFile, AnUnpackAskedToCheckFindsTheManifestItself)
{
    const std::string data = MakeTestData(5000, true, 2);
    WriteFileBytes(dir / "p.kmx", data);
    PackRequest pack = PackOf(dir / "p.kmx");
    pack.writeManifest = true;
    PackOutcome packed;
    ASSERT_TRUE(StartPackJob(pack, packed));
    host.RunUntilJobEnds();
    ASSERT_TRUE(packed.manifestWritten);
    const std::string ours = ReadFileBytes(dir / "p.sha256");

    struct Row {
        const char* label;
        std::string manifest;
        bool restored;
        bool warned;
    };
    std::string wrong = ours;
    wrong[0] = wrong[0] == '0' ? '1' : '0'; // the project file's line
    const Row rows[] = {
        {"ours, matching", ours, true, false},
        {"ours, another project checksum", wrong, false, false},
        {"not ours", "a note\n", true, true},
    };
    for (const Row& row : rows) {
        WriteFileBytes(dir / "p.KMX", "older");
        WriteFileBytes(dir / "p.sha256", row.manifest);
        host.ClearEvents();
        host.AnswerNextBoxes({IDOK, IDOK});
        UnpackRequest request;
        request.packedPath = dir / "p.0KX";
        request.checkManifest = true;
        UnpackOutcome outcome;
        StartUnpackJob(request, outcome);
        host.RunUntilJobEnds();
        host.ForgetAnswers();
        EXPECT_EQ(outcome.restored != 0, row.restored) << row.label;
        EXPECT_EQ(ReadFileBytes(dir / "p.KMX"), row.restored ? data : "older") << row.label;
        EXPECT_EQ(ReadFileBytes(dir / "p.sha256"), row.manifest) << row.label;
        const std::string log = host.LogText();
        const std::size_t warning =
            log.find("it was left alone, and its checksums were not checked.");
        EXPECT_EQ(warning != std::string::npos, row.warned) << row.label << log;
        if (row.warned) {
            EXPECT_LT(warning, log.find("Starting")) << row.label << log;
        }
    }
}
