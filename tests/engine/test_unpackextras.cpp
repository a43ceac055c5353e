// The unpack job writing into another folder (--into), and refusing restored bytes that do not
// match the manifest's checksum, on sets made by the real pack job.
#include <sys/stat.h>

#include "engine/fileutil.h"
#include "engine/manifest.h"
#include "engine/packedformat.h"
#include "engine/unpackjob.h"
#include "platform/paths.h"
#include "tests/engine/enginefixture.h"
#include "tests/engine/packhelpers.h"

namespace {

std::string DigestOf(const std::string& bytes)
{
    Sha256 digest;
    digest.Update(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    return digest.FinalHex();
}

class UnpackExtras : public EngineTest {
protected:
    // A split set of data made by the pack job in folder src; returns volume 0's path.
    std::string PackSet(const std::string& data)
    {
        mkdir((dir / "src").c_str(), 0755);
        WriteFileBytes(dir / "src/p.kmx", data);
        PackOutcome pack;
        EXPECT_EQ(PackAndWait(host, pack, dir / "src/p.kmx", 1, 5000), 1);
        EXPECT_TRUE(pack.succeeded);
        std::remove((dir / "src/p.kmx").c_str());
        host.ClearEvents();
        return dir / "src/p.0KX";
    }

    // Unpacks packedPath as request asks; outcome tells how it went.
    void Unpack(const std::string& packedPath)
    {
        request.packedPath = packedPath;
        StartUnpackJob(request, outcome);
        host.RunUntilJobEnds();
    }

    UnpackRequest request;
    UnpackOutcome outcome;
};

} // namespace

TEST_F(UnpackExtras, IntoAnotherFolderLeavesThePackedFolderUntouched)
{
    const std::string data = MakeTestData(23000, false, 4);
    const std::string packed = PackSet(data);
    const std::string before = ListFolder(dir / "src");
    ASSERT_NE(before.find("p.4KX"), std::string::npos) << before;
    mkdir((dir / "out").c_str(), 0755);

    request.intoFolder = dir / "out";
    Unpack(packed);

    EXPECT_EQ(outcome.restored, 1) << host.LogText();
    EXPECT_EQ(outcome.projectPath, dir / "out/p.KMX");
    EXPECT_EQ(ReadFileBytes(dir / "out/p.KMX"), data);
    EXPECT_EQ(ListFolder(dir / "out"), "p.KMX"); // the joined stream went there and is gone
    EXPECT_EQ(ListFolder(dir / "src"), before);  // nothing created, nothing removed

    // An existing project file in the folder is asked about by its path there.
    host.AnswerNextBoxes({IDCANCEL});
    Unpack(packed);
    ASSERT_EQ(host.BoxTexts().size(), 1u);
    EXPECT_NE(host.BoxTexts()[0].find("'" + dir / "out/p.KMX" + "' already exists"),
              std::string::npos)
        << host.BoxTexts()[0];
}

TEST_F(UnpackExtras, RestoredBytesAreCheckedAgainstTheManifestBeforeTheRename)
{
    const std::string data = MakeTestData(18000, true, 6);
    const std::string packed = PackSet(data);
    struct Row {
        std::string expected;
        bool restored;
    };
    const Row rows[] = {{DigestOf(data), true}, {DigestOf(data + "x"), false}};
    for (const Row& row : rows) {
        WriteFileBytes(dir / "src/p.KMX", "the old project file");
        host.ClearEvents();
        host.AnswerNextBoxes({IDOK});
        request.expectedDigest = row.expected;
        request.manifestPath = dir / "src/p.sha256";
        Unpack(packed);

        EXPECT_EQ(outcome.restored, row.restored ? 1 : 0);
        EXPECT_EQ(ReadFileBytes(dir / "src/p.KMX"), row.restored ? data : "the old project file");
        const std::string listing = ListFolder(dir / "src");
        EXPECT_EQ(listing.find("tmp_"), std::string::npos) << listing;
        EXPECT_EQ(listing.find(TEMP_FILE_PREFIX), std::string::npos) << listing;
        if (!row.restored) {
            const std::string message =
                "The restored bytes do not match the project file's checksum in '" +
                dir / "src/p.sha256" + "'";
            ASSERT_EQ(host.BoxTexts().size(), 2u);
            EXPECT_EQ(host.BoxTexts()[1].find(message), 0u) << host.BoxTexts()[1];
            // In the log too, so that a saved log keeps the reason (the console, which prints
            // the box, prints the log's copy of it once).
            const std::string log = host.LogText();
            EXPECT_NE(log.find(message), std::string::npos) << log;
            EXPECT_EQ(log.find(message), log.rfind(message)) << log;
        }
    }
}
