// The platform layer: paths, the literal file look-up, exclusive temporary files, texts by
// id and the choice of language, the event loop with a worker, and the fault seam.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <set>
#include <unistd.h>

#include "platform/eventloop.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/strings.h"
#include "platform/thread.h"
#include "resources/catalogue.h"
#include "tests/support/tempdir.h"

TEST(Paths, SplitAndJoin)
{
    struct Row {
        const char* path;
        const char* dir;
        const char* name;
        const char* ext;
    };
    const Row rows[] = {
        {"/a/b/report.kmx", "/a/b/", "report", ".kmx"},
        {"report.kmx", "", "report", ".kmx"},
        {"report", "", "report", ""},
        {"a.b/report", "a.b/", "report", ""}, // the dot of a folder is no extension
        {"/x/archive.tar.gz", "/x/", "archive.tar", ".gz"},
        {"/x/.hidden", "/x/", "", ".hidden"},
        {"/x/name.", "/x/", "name", "."},
        {"/", "/", "", ""},
        {"", "", "", ""},
    };
    for (const Row& row : rows) {
        const PathParts parts = SplitPath(row.path);
        EXPECT_EQ(parts.drive, "") << row.path;
        EXPECT_EQ(parts.dir, row.dir) << row.path;
        EXPECT_EQ(parts.name, row.name) << row.path;
        EXPECT_EQ(parts.ext, row.ext) << row.path;
        EXPECT_EQ(MakePath(parts), row.path) << row.path;
    }
    EXPECT_EQ(MakePath("", "/a", "b", "0KX"), "/a/b.0KX");
}

TEST(FileLookUp, IsLiteralAndTellsMissingFromInvalid)
{
    TempDir dir;
    WriteFileBytes(dir / "a1.kmx", "x");
    // "*" and "?" are ordinary characters: a pattern that would match a1.kmx is not found.
    EXPECT_EQ(LookUpFile(dir / "a*.kmx"), FileLookup::Missing);
    EXPECT_EQ(LookUpFile(dir / "a?.kmx"), FileLookup::Missing);
    WriteFileBytes(dir / "a*.kmx", "y");
    EXPECT_EQ(LookUpFile(dir / "a*.kmx"), FileLookup::Exists);
    EXPECT_EQ(LookUpFile(dir / "a1.kmx"), FileLookup::Exists);
    EXPECT_EQ(LookUpFile(dir / "missing"), FileLookup::Missing);
    EXPECT_EQ(LookUpFile(dir / "a1.kmx/below"), FileLookup::InvalidName); // a file as folder
    EXPECT_EQ(LookUpFile(""), FileLookup::InvalidName);
    EXPECT_EQ(LookUpFile(dir / std::string(5000, 'n')), FileLookup::InvalidName);
    ASSERT_EQ(symlink("nowhere", (dir / "dangling").c_str()), 0);
    EXPECT_EQ(LookUpFile(dir / "dangling"), FileLookup::Exists);
}

TEST(FileLookUp, SameFileComparesInodesNotSpellings)
{
    TempDir dir;
    WriteFileBytes(dir / "p.kmx", "x");
    ASSERT_EQ(link((dir / "p.kmx").c_str(), (dir / "hard").c_str()), 0);
    ASSERT_EQ(symlink("p.kmx", (dir / "soft").c_str()), 0);
    WriteFileBytes(dir / "other", "x");
    EXPECT_TRUE(IsSameFile(dir / "p.kmx", dir / "hard"));
    EXPECT_TRUE(IsSameFile(dir / "soft", dir / "./p.kmx"));
    EXPECT_FALSE(IsSameFile(dir / "p.kmx", dir / "other"));
    EXPECT_FALSE(IsSameFile(dir / "p.kmx", dir / "missing"));
}

TEST(TempFiles, AreCreatedExclusivelyInTheGivenFolder)
{
    TempDir dir;
    std::set<std::string> names;
    for (int i = 0; i < 20; ++i) {
        std::string path;
        const int fd = CreateExclusiveFile(dir.Path(), "tmp_", path);
        ASSERT_GE(fd, 0);
        close(fd);
        EXPECT_EQ(path.rfind(dir / "tmp_", 0), 0u) << path;
        EXPECT_EQ(path.size(), (dir / "tmp_").size() + 6);
        names.insert(path);
    }
    EXPECT_EQ(names.size(), 20u);
    std::string path;
    EXPECT_LT(CreateExclusiveFile(dir / "no-such-folder", "tmp_", path), 0);
    EXPECT_EQ(errno, ENOENT);
}

TEST(Texts, BothLanguagesAndEveryIdOnce)
{
    EXPECT_EQ(LoadString(1213, Language::English),
              "File '%s' already exists. Okay to overwrite this file?");
    EXPECT_EQ(LoadString(1213, Language::Japanese),
              " '%s'\nこのﾌｧｲﾙはすでに存在します。\n\n上書きしますか?");
    EXPECT_EQ(LoadString(1206, Language::Japanese),
              "\r\n *********   ﾌｧｲﾙ圧縮の終了    *********\r\n");
    EXPECT_EQ(LoadString(57345, Language::Japanese), "準備完了");
    EXPECT_EQ(LoadString(61203, Language::English), "Activate Task List");
    EXPECT_EQ(LoadString(99999, Language::English), "");
    // The ids the program has always had are all present, in both languages.
    for (unsigned id = 1204; id <= 1237; ++id) {
        EXPECT_FALSE(LoadString(id, Language::English).empty()) << id;
        EXPECT_FALSE(LoadString(id, Language::Japanese).empty()) << id;
    }
    for (unsigned id :
         {9u, 2771u, 2772u, 57344u, 57601u, 57664u, 57665u, 59136u, 59141u, 61184u, 61190u, 61202u})
        EXPECT_FALSE(LoadString(id, Language::Japanese).empty()) << id;
    for (const CatalogueEntry* e = CatalogueBegin(); e + 1 < CatalogueEnd(); ++e)
        EXPECT_LT(e->id, (e + 1)->id) << "duplicate or unsorted id " << e->id;
}

TEST(Texts, LanguageFromTheEnvironment)
{
    struct Row {
        const char* forced;
        const char* language;
        const char* lcAll;
        const char* lang;
        Language expected;
    };
    const Row rows[] = {
        {nullptr, nullptr, nullptr, "ja_JP.UTF-8", Language::Japanese},
        {nullptr, nullptr, nullptr, "de_DE.UTF-8", Language::English},
        {nullptr, nullptr, "C", "ja_JP.UTF-8", Language::English}, // the first one set decides
        {nullptr, "ja", "C", "C", Language::Japanese},
        {"en", "ja", nullptr, "ja_JP.UTF-8", Language::English}, // PACKTOOL_LANG overrides
        {"ja", nullptr, nullptr, "C", Language::Japanese},
        {nullptr, "", nullptr, "ja_JP", Language::Japanese}, // empty counts as not set
        {nullptr, nullptr, nullptr, nullptr, Language::English},
    };
    auto set = [](const char* name, const char* value) {
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    };
    for (const Row& row : rows) {
        set("PACKTOOL_LANG", row.forced);
        set("LANGUAGE", row.language);
        set("LC_ALL", row.lcAll);
        set("LC_MESSAGES", nullptr);
        set("LANG", row.lang);
        EXPECT_EQ(LanguageFromEnvironment(), row.expected)
            << (row.forced ? row.forced : "-") << " " << (row.lang ? row.lang : "-");
    }
}

TEST(EventLoop, SendsWaitPostsDoNotAndTheLoopSeesTheWorkerEnd)
{
    EventLoop loop;
    std::vector<std::string> order;
    ASSERT_TRUE(StartWorkerThread([&] {
        loop.Post([&] { order.push_back("post 1"); });
        loop.Send([&] { order.push_back("send 2"); });
        order.push_back("worker after send"); // safe: the main thread is done with order
        loop.Send([&] { order.push_back("send 3"); });
    }));
    loop.RunUntil([] { return RunningWorkerThreads() == 0; });
    EXPECT_EQ(order, (std::vector<std::string>{"post 1", "send 2", "worker after send", "send 3"}));
    bool direct = false;
    loop.Send([&] { direct = true; }); // on the main thread: a direct call
    EXPECT_TRUE(direct);
}

TEST(FaultSeam, WritesFailAfterTheArmedBytes)
{
    TempDir dir;
    std::FILE* f = std::fopen((dir / "out").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    FailWritesAfterBytes(10);
    EXPECT_EQ(WriteBytes("abcdef", 6, f), 6u);
    EXPECT_FALSE(StreamFailed(f));
    EXPECT_EQ(WriteBytes("ghijkl", 6, f), 4u);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_TRUE(StreamFailed(f));
    DisarmFileFaults();
    CloseStream(f);
    EXPECT_EQ(ReadFileBytes(dir / "out"), "abcdefghij");

    f = std::fopen((dir / "out").c_str(), "wb");
    FailNthWrite(2);
    EXPECT_EQ(WriteBytes("ab", 2, f), 2u);
    EXPECT_EQ(WriteBytes("cd", 2, f), 0u);
    EXPECT_EQ(WriteBytes("ef", 2, f), 2u); // only the n-th write fails
    DisarmFileFaults();
    CloseStream(f);

    f = std::fopen((dir / "out").c_str(), "rb");
    char buf[8];
    FailReadsAfterBytes(1);
    EXPECT_EQ(ReadBytes(buf, 4, f), 1u);
    EXPECT_TRUE(StreamFailed(f));
    EXPECT_FALSE(std::feof(f));
    DisarmFileFaults();
    CloseStream(f);
}
