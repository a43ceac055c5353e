// The lock of a name: who excludes whom, the lock file left behind by nobody, and the folders
// where no lock file can be made.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/filelock.h"
#include "platform/files.h"
#include "tests/support/tempdir.h"

TEST(NameLock, WritersExcludeEveryoneReadersOnlyWriters)
{
    TempDir dir;
    const std::string name = dir / "p.0KX";
    struct Row {
        NameLockMode held, wanted;
        NameLockResult expected;
    };
    const Row rows[] = {
        {NameLockMode::Exclusive, NameLockMode::Exclusive, NameLockResult::Busy},
        {NameLockMode::Exclusive, NameLockMode::Shared, NameLockResult::Busy},
        {NameLockMode::Shared, NameLockMode::Exclusive, NameLockResult::Busy},
        {NameLockMode::Shared, NameLockMode::Shared, NameLockResult::Locked},
    };
    for (const Row& row : rows) {
        NameLock first, second;
        ASSERT_EQ(first.TryLock(name, row.held), NameLockResult::Locked);
        EXPECT_EQ(second.TryLock(name, row.wanted), row.expected);
        // Another spelling of the same name (through "..") meets the same lock.
        NameLock third;
        EXPECT_EQ(
            third.TryLock(dir / "../" + dir.Path().substr(dir.Path().rfind('/') + 1) + "/p.0KX",
                          row.wanted),
            row.expected);
    }
    // A lock on another name is no obstacle.
    NameLock held, other;
    ASSERT_EQ(held.TryLock(name, NameLockMode::Exclusive), NameLockResult::Locked);
    EXPECT_EQ(other.TryLock(dir / "q.0KX", NameLockMode::Exclusive), NameLockResult::Locked);
}

TEST(NameLock, TheLastHolderRemovesTheLockFileAndALeftOneIsTakenOver)
{
    TempDir dir;
    const std::string name = dir / "p.0KX";
    const std::string lockFile = NameLock::LockFileFor(name);
    EXPECT_EQ(lockFile, dir / ".p.0KX.lock");
    {
        NameLock a, b;
        ASSERT_EQ(a.TryLock(name, NameLockMode::Shared), NameLockResult::Locked);
        ASSERT_EQ(b.TryLock(name, NameLockMode::Shared), NameLockResult::Locked);
        EXPECT_TRUE(FileExists(lockFile));
        a.Release();
        EXPECT_TRUE(FileExists(lockFile)); // b still holds it
        // A writer must still wait for b, though a has let go.
        NameLock writer;
        EXPECT_EQ(writer.TryLock(name, NameLockMode::Exclusive), NameLockResult::Busy);
    }
    EXPECT_EQ(ListFolder(dir.Path()), "");

    // A holder killed at once leaves the file, unlocked: the next one takes it and removes it.
    WriteFileBytes(lockFile, "");
    {
        NameLock next;
        EXPECT_EQ(next.TryLock(name, NameLockMode::Exclusive), NameLockResult::Locked);
    }
    EXPECT_EQ(ListFolder(dir.Path()), "");
}

TEST(NameLock, WaitingEndsWithTheHolderOrWithACancel)
{
    TempDir dir;
    const std::string name = dir / "p.0KX";
    NameLock holder, waiter;
    ASSERT_EQ(holder.TryLock(name, NameLockMode::Exclusive), NameLockResult::Locked);
    int waits = 0;
    ClearCancelRequest();
    // The holder lets go while the waiter waits (from the notice on).
    EXPECT_EQ(waiter.Lock(name, NameLockMode::Shared,
                          [&] {
                              ++waits;
                              holder.Release();
                          }),
              NameLockResult::Locked);
    EXPECT_EQ(waits, 1);
    waiter.Release();

    ASSERT_EQ(holder.TryLock(name, NameLockMode::Exclusive), NameLockResult::Locked);
    EXPECT_EQ(waiter.Lock(name, NameLockMode::Exclusive, [&] { RequestCancel(); }),
              NameLockResult::Cancelled);
    EXPECT_FALSE(waiter.Held());
    ClearCancelRequest();
}

TEST(NameLock, AFolderWithoutRoomForALockFileGoesWithoutOne)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root may write a read-only folder";
    TempDir dir;
    const std::string folder = dir / "media";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    WriteFileBytes(folder + "/p.0KX", "a set on read-only media");
    ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
    NameLock reader;
    EXPECT_EQ(reader.TryLock(folder + "/p.0KX", NameLockMode::Shared), NameLockResult::Unlocked);
    chmod(folder.c_str(), 0755);
}
